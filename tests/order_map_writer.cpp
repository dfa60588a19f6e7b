// Helper of order_map_crash_test: numbers the codes <name>0, <name>1, ... in
// the current directory's order-number file without end, loading the file
// anew every <reload-every> codes (0: never), and writes the number of each
// code to standard output once its save has finished, until it is killed.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "ZR_QuantApi.h"
#include "veltrane_counters.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: order_map_writer <reload-every> <name>\n");
    return 2;
  }
  const long reloadEvery = std::atol(argv[1]);
  const std::string name = argv[2];
  TraderApiGo api;
  api.LoadOrderMap();
  uint64_t errors = 0;
  for (long i = 0;; ++i) {
    const std::string code = name + std::to_string(i);
    if (reloadEvery > 0 && i % reloadEvery == 0) api.LoadOrderMap();
    const std::string done = std::to_string(api.GenSaveOrderId(code)) + "\n";
    // A code numbered in memory only is not in the file: say why, so that a
    // failing run of the test names the cause.
    if (veltrane::OrderFileErrors() != errors) {
      errors = veltrane::OrderFileErrors();
      std::fprintf(stderr, "%s: %s\n", code.c_str(), veltrane::LastOrderFileError().c_str());
    }
    if (::write(STDOUT_FILENO, done.data(), done.size()) != static_cast<ssize_t>(done.size())) {
      return 1;
    }
  }
}
