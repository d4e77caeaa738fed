// rplc: console find and replace.
//
// Including error_handlers.h gives the program its last-resort handlers,
// installed during static initialisation, before main runs.
#include "driver/run_driver.h"
#include "support/core/error_handlers.h"

int main(int argc, char** argv) { return Velk::RunDriver(argc, argv); }
