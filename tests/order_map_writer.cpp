// Helper of order_map_crash_test: numbers the codes code0, code1, ... in the
// current directory's order-number file without end, reloading the file (which
// rewrites it whole) every <reload-every> codes, and writes the count of
// finished saves to standard output after each one, until it is killed.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "ZR_QuantApi.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: order_map_writer <reload-every>\n");
    return 2;
  }
  const long reloadEvery = std::atol(argv[1]);
  TraderApiGo api;
  api.LoadOrderMap();
  for (long i = 0;; ++i) {
    if (reloadEvery > 0 && i % reloadEvery == 0) api.LoadOrderMap();
    api.GenSaveOrderId("code" + std::to_string(i));
    const std::string done = std::to_string(i + 1) + "\n";
    if (::write(STDOUT_FILENO, done.data(), done.size()) != static_cast<ssize_t>(done.size())) {
      return 1;
    }
  }
}
