// Writes a starting corpus for quote_data_fuzzer into the given directory:
// each decoded message type with a full payload, in the fuzzer's input form.

#include <cstdio>
#include <fstream>
#include <string>

#include "quote_messages.h"

namespace {

void Write(const std::string& directory, const char* name, char selector,
           const std::string& payload) {
  std::ofstream out(directory + "/" + name, std::ios::binary);
  out << selector << payload;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: write_quote_seeds DIRECTORY\n");
    return 2;
  }
  using namespace testing_support;
  const std::string directory = argv[1];
  Write(directory, "sh_snapshot", 0, Encode(ShanghaiSnapshot()));
  Write(directory, "sz_snapshot", 1, Encode(ShenzhenSnapshot()));
  Write(directory, "sh_trade", 2, Encode(ShanghaiTrade()));
  Write(directory, "sz_trade", 3, Encode(ShenzhenTrade()));
  return 0;
}
