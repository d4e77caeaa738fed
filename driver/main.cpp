// rplc: console find and replace.
#include "driver/run_driver.h"

int main(int argc, char** argv) { return Velk::RunDriver(argc, argv); }
