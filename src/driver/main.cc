#include <cstdio>

#include "driver/driver.h"

int main(int argc, char** argv) {
  const int code = kestrum::RunKestrum(argc, argv, stdout);
  std::fflush(stdout);
  return code;
}
