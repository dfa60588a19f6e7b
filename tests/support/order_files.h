// order_files.h: reading and writing order-number files in tests, which run
// in a working directory of their own.

#ifndef VELTRANE_TESTS_ORDER_FILES_H
#define VELTRANE_TESTS_ORDER_FILES_H

#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace testing_support {

// The name the library gives today's file, built independently of it.
inline std::string TodaysOrderFile() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char name[32];
  std::strftime(name, sizeof name, "./orders.temp.%Y%m%d", &local);
  return name;
}

// The file's bytes, or "(missing)" (also for a directory).
inline std::string ReadFile(const std::string& name) {
  if (!std::filesystem::is_regular_file(name)) return "(missing)";
  std::ifstream in(name, std::ios::binary);
  if (!in) return "(missing)";
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& name, const std::string& bytes) {
  std::ofstream(name, std::ios::binary | std::ios::trunc) << bytes;
}

// Removes every order-number file (and unfinished copy) of the directory.
inline void RemoveOrderFiles() {
  for (const auto& entry : std::filesystem::directory_iterator(".")) {
    if (entry.path().filename().string().rfind("orders.temp.", 0) == 0) {
      std::filesystem::remove(entry.path());
    }
  }
}

}  // namespace testing_support

#endif  // VELTRANE_TESTS_ORDER_FILES_H
