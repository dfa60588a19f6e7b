// What VELTRANE_SIM_UPSTREAM may name: the vendor's library, a regular file.
// A FIFO would hang the loader for ever, and the quote stand-in (by its
// path, a link to it, its bare name or a copy) would call itself until the
// stack ran out: each is refused at once with the reason, and the vendor's
// library still loads.

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "libquote.h"
#include "upstream.h"

namespace {

void Drop(void*, const char*, const char*, int32_t) {}

std::string StandInPath() {
  Dl_info info{};
  EXPECT_NE(dladdr(reinterpret_cast<void*>(&LibQuote_Init), &info), 0);
  return info.dli_fname;
}

TEST(UpstreamChecksTest, OnlyTheVendorsLibraryIsLoaded) {
  namespace fs = std::filesystem;
  const fs::path work = fs::path(::testing::TempDir()) / ("upstream" + std::to_string(getpid()));
  fs::create_directories(work);
  const std::string standIn = StandInPath();
  ASSERT_EQ(mkfifo((work / "fifo.so").c_str(), 0600), 0);
  fs::create_symlink(standIn, work / "link.so");
  fs::copy_file(standIn, work / "copy.so");
  const struct {
    std::string path;
    const char* reason;
  } cases[] = {
      {(work / "fifo.so").string(), "not a regular file"},
      {work.string(), "not a regular file"},
      {(work / "missing.so").string(), "No such file or directory"},
      {standIn, "is the quote stand-in itself"},
      {(work / "link.so").string(), "is the quote stand-in itself"},
      {"libquote.so", "is the quote stand-in itself"},
      {(work / "copy.so").string(), "a copy of the quote stand-in"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    sim::Upstream upstream;
    std::string error;
    EXPECT_FALSE(upstream.Load(c.path, &Drop, nullptr, error));
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
  }
  sim::Upstream vendor;
  std::string error;
  EXPECT_TRUE(vendor.Load(VENDOR_QUOTE, &Drop, nullptr, error)) << error;
  fs::remove_all(work);
}

}  // namespace
