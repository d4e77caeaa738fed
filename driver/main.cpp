#include <cstdio>

int main() {
  std::puts("rplc: under construction");
  return 0;
}
