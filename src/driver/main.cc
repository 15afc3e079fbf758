#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>

#include "driver/driver.h"
#include "io/cleanup_on_signal.h"
#include "io/standard_streams.h"

namespace {

void RemoveNow(const char* path) { (void)std::remove(path); }

// The last resort, when an exception cannot be thrown at all (memory so short
// that not even the exception object can be had) or ends up where nothing
// catches it: no destructors run, so the partial pakfile is removed here.
[[noreturn]] void OnTerminate() {
  kestrum::RemoveRegisteredFiles(&RemoveNow);
  std::fputs("Fatal error!\n", stdout);
  std::fflush(stdout);
  std::_Exit(1);
}

// Runs the command. Whatever escapes it (memory running out, a failure deep
// in the standard library) ends the run with one line and exit code 1; the
// objects it passes through are destroyed first, which removes a partial
// pakfile.
int RunCaught(int argc, char** argv) {
  try {
    return kestrum::RunKestrum(argc, argv, stdout);
  } catch (const std::bad_alloc&) {
    std::fputs("Out of memory!\n", stdout);
  } catch (const std::exception& error) {
    std::fprintf(stdout, "Fatal error: %s\n", error.what());
  } catch (...) {
    std::fputs("Fatal error!\n", stdout);
  }
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::set_terminate(&OnTerminate);
  const bool output_open = kestrum::OpenStandardStreams();
  int code = RunCaught(argc, argv);
  // Messages that could not be written make the run a failure, whatever the
  // command did. Standard output itself being what failed, this one line
  // goes to standard error.
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0 || !output_open) {
    std::fputs("Kestrum: error while writing standard output\n", stderr);
    code = 1;
  }
  return code;
}
