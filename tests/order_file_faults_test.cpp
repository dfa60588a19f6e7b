// The order-number file when the disk refuses it (a read-only directory or
// file, an immutable file, a directory in its place, a full disk), when two
// objects share it, and when earlier processes left copies behind: codes are
// still numbered, the failures are counted, the file is never replaced, and
// once it can be written it holds everything, so no number names two codes
// across a restart.

#include <fcntl.h>
#include <linux/capability.h>
#include <linux/fs.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "ZR_QuantApi.h"
#include "order_files.h"
#include "veltrane_counters.h"

using testing_support::ReadFile;
using testing_support::RemoveOrderFiles;
using testing_support::TodaysOrderFile;
using testing_support::WriteFile;

namespace {

namespace fs = std::filesystem;

// Root passes every permission check; with its effective capabilities
// cleared the calling thread meets the permission bits like any user.
// They stay permitted, so Restore takes them back.
class ThreadPrivileges {
 public:
  void Drop() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    if (syscall(SYS_capget, &header, saved_) != 0) return;
    __user_cap_data_struct none[2] = {saved_[0], saved_[1]};
    none[0].effective = none[1].effective = 0;
    dropped_ = syscall(SYS_capset, &header, none) == 0;
  }
  void Restore() {
    if (!dropped_) return;
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    EXPECT_EQ(syscall(SYS_capset, &header, saved_), 0);
    dropped_ = false;
  }
  ~ThreadPrivileges() { Restore(); }

 private:
  __user_cap_data_struct saved_[2] = {};
  bool dropped_ = false;
};

bool SetImmutable(const std::string& path, bool on) {
  const int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return false;
  int flags = 0;
  bool done = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
  done = done && ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  close(fd);
  return done;
}

// Fills the file system of the current directory until it refuses a byte.
void FillDisk() {
  const int fd = open("filler", O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  const std::string block(4096, 'x');
  while (write(fd, block.data(), block.size()) > 0) {
  }
  while (write(fd, "x", 1) > 0) {
  }
  close(fd);
}

// Each case in a directory of its own, made the current one.
class CaseDirectory {
 public:
  explicit CaseDirectory(const std::string& name) : home_(fs::current_path()), path_(home_ / name) {
    fs::remove_all(path_);
    fs::create_directory(path_);
    fs::current_path(path_);
  }
  ~CaseDirectory() {
    fs::current_path(home_);
    umount2(path_.c_str(), MNT_DETACH);
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path home_;
  fs::path path_;
};

// Mounts a 64 KiB file system on `path` and enters it, in a mount namespace
// of this process alone, so that nothing outlives the test. False where this
// machine cannot.
bool MountSmallDisk(const fs::path& path) {
  static const bool canMount = unshare(CLONE_NEWNS) == 0 &&
                               mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
  if (!canMount || mount("tmpfs", path.c_str(), "tmpfs", 0, "size=64k") != 0) return false;
  fs::current_path(path);  // into the new file system
  return true;
}

struct Fault {
  const char* name;
  const char* before;  // today's file before the fault, null for none
  // Puts the fault in place in the current directory; false where this
  // machine cannot.
  std::function<bool(const fs::path&)> make;
  std::function<void()> mend;
  bool keepsFile;  // the file must stay byte for byte, with its owner and mode
};

using Codes = std::map<std::string, long long>;

// Every line of the file names the code the object holds under its number.
void ExpectFileAgreesWith(const TraderApiGo& api) {
  if (!fs::is_regular_file(TodaysOrderFile())) return;
  TraderApiGo reader;
  reader.LoadOrderMap();
  for (const auto& [number, code] : reader.mapOrderCode) {
    const auto held = api.mapOrderCode.find(number);
    ASSERT_NE(held, api.mapOrderCode.end()) << "the file has " << number;
    EXPECT_EQ(held->second, code) << "number " << number;
  }
}

TEST(OrderFileFaults, WhatTheDiskRefusesIsCountedAndWrittenOnceItCanBe) {
  const std::string today = TodaysOrderFile();
  const Fault faults[] = {
      {"read-only directory", nullptr,
       [](const fs::path&) { return chmod(".", 0555) == 0; }, [] { chmod(".", 0755); }, false},
      {"read-only file", "0 A\n",
       [&](const fs::path&) { return chmod(today.c_str(), 0444) == 0; },
       [&] { chmod(today.c_str(), 0644); }, true},
      {"immutable file", "0 A\n", [&](const fs::path&) { return SetImmutable(today, true); },
       [&] { SetImmutable(today, false); }, true},
      {"directory in its place", nullptr,
       [&](const fs::path&) { return mkdir(today.c_str(), 0755) == 0; },
       [&] { rmdir(today.c_str()); }, false},
      {"full disk", "0 A\n",
       [&](const fs::path& path) {
         if (!MountSmallDisk(path)) return false;
         WriteFile(today, "0 A\n");
         FillDisk();
         return true;
       },
       [] { unlink("filler"); }, false},
  };
  constexpr int kCodes = 2000;
  for (const Fault& fault : faults) {
    SCOPED_TRACE(fault.name);
    CaseDirectory directory(std::string("fault-") + fault.name);
    if (fault.before != nullptr) WriteFile(today, fault.before);
    if (!fault.make(directory.path())) {
      std::printf("skipped \"%s\": this machine cannot make the fault\n", fault.name);
      continue;
    }
    struct stat fileBefore {};
    const bool hadFile = stat(today.c_str(), &fileBefore) == 0;
    const std::string contentBefore = ReadFile(today);

    ThreadPrivileges privileges;
    privileges.Drop();
    TraderApiGo api;
    api.LoadOrderMap();
    const long long first = api.iNextOrderId;
    const uint64_t errorsBefore = veltrane::OrderFileErrors();
    for (int i = 0; i < kCodes; ++i) {
      EXPECT_EQ(api.GenSaveOrderId("N" + std::to_string(i)), first + i);
    }
    EXPECT_GT(veltrane::OrderFileErrors(), errorsBefore);
    EXPECT_NE(veltrane::LastOrderFileError().find("orders.temp."), std::string::npos)
        << veltrane::LastOrderFileError();
    ExpectFileAgreesWith(api);
    if (fault.keepsFile) {
      struct stat fileAfter {};
      ASSERT_TRUE(hadFile);
      ASSERT_EQ(stat(today.c_str(), &fileAfter), 0);
      EXPECT_EQ(fileAfter.st_ino, fileBefore.st_ino);
      EXPECT_EQ(fileAfter.st_mode, fileBefore.st_mode);
      EXPECT_EQ(fileAfter.st_uid, fileBefore.st_uid);
      EXPECT_EQ(ReadFile(today), contentBefore);
    }

    privileges.Restore();
    fault.mend();
    const uint64_t errorsMended = veltrane::OrderFileErrors();
    EXPECT_EQ(api.GenSaveOrderId("late"), first + kCodes);
    EXPECT_EQ(veltrane::OrderFileErrors(), errorsMended) << veltrane::LastOrderFileError();
    TraderApiGo after;
    after.LoadOrderMap();
    EXPECT_EQ(after.mapOrderId, api.mapOrderId);
    EXPECT_EQ(after.mapOrderCode, api.mapOrderCode);
  }
}

TEST(OrderFileFaults, AFullDiskLeavesOnlyWholeLinesAndTheNextProcessGoesOnAfterThem) {
  CaseDirectory directory("full-disk");
  if (!MountSmallDisk(directory.path())) {
    GTEST_SKIP() << "this machine cannot mount a small file system";
  }
  FillDisk();
  unlink("filler");
  // Room for a few thousand lines, then none.
  TraderApiGo api;
  api.LoadOrderMap();
  const uint64_t errorsBefore = veltrane::OrderFileErrors();
  for (int i = 0; i < 8000; ++i) api.GenSaveOrderId("C" + std::to_string(i));
  EXPECT_GT(veltrane::OrderFileErrors(), errorsBefore);
  EXPECT_NE(veltrane::LastOrderFileError().find("No space left"), std::string::npos)
      << veltrane::LastOrderFileError();

  const std::string content = ReadFile(TodaysOrderFile());
  ASSERT_FALSE(content.empty());
  EXPECT_EQ(content.back(), '\n');
  TraderApiGo next;
  next.LoadOrderMap();
  ASSERT_GT(next.iNextOrderId, 0);
  ASSERT_LT(next.iNextOrderId, 8000);
  // The saved lines are the first codes, whole.
  for (long long i = 0; i < next.iNextOrderId; ++i) {
    EXPECT_EQ(next.GetAppointOrderCode(i), "C" + std::to_string(i));
  }
}

TEST(OrderFileFaults, TwoObjectsOnOneFileShareOneSequence) {
  CaseDirectory directory("two-objects");
  WriteFile(TodaysOrderFile(), "0 OLD\n");
  TraderApiGo a;
  TraderApiGo b;
  a.LoadOrderMap();
  b.LoadOrderMap();
  for (int i = 0; i < 100; ++i) {
    EXPECT_EQ(a.GenSaveOrderId("A" + std::to_string(i)), 1 + 2 * i);
    EXPECT_EQ(b.GenSaveOrderId("B" + std::to_string(i)), 2 + 2 * i);
  }
  // Each learns the other's codes from the file when it next enters one: a
  // code both meet (a match of a shared account) gets one number.
  EXPECT_EQ(a.GenSaveOrderId("both"), 201);
  EXPECT_EQ(b.GenSaveOrderId("both"), 201);
  EXPECT_EQ(b.GetAppointOrderCode(199), "A99");
  EXPECT_EQ(a.GetAppointOrderCode(200), "B99");

  TraderApiGo after;
  after.LoadOrderMap();
  EXPECT_EQ(after.mapOrderCode.size(), 202u);
  for (int i = 0; i < 100; ++i) {
    EXPECT_EQ(after.mapOrderId.at("A" + std::to_string(i)), 1 + 2 * i);
    EXPECT_EQ(after.mapOrderId.at("B" + std::to_string(i)), 2 + 2 * i);
  }
  EXPECT_EQ(after.mapOrderId.at("both"), 201);
}

TEST(OrderFileFaults, AConflictingLineFromAnotherWriterIsCountedAndLeavesHeldNumbers) {
  CaseDirectory directory("conflict");
  TraderApiGo api;
  api.GenSaveOrderId("A");
  // A writer that ignored the lock (or could not write while this one could)
  // gave number 0 to another code in a file of its own.
  RemoveOrderFiles();
  WriteFile(TodaysOrderFile(), "0 X\n1 Y\n");
  const uint64_t errorsBefore = veltrane::OrderFileErrors();
  EXPECT_EQ(api.GenSaveOrderId("B"), 2);
  EXPECT_EQ(veltrane::OrderFileErrors() - errorsBefore, 1u);
  EXPECT_NE(veltrane::LastOrderFileError().find("order number 0"), std::string::npos);
  EXPECT_EQ(api.GetAppointOrderCode(0), "A");
  EXPECT_EQ(api.GetOrderId("Y"), 1);
  EXPECT_EQ(ReadFile(TodaysOrderFile()), "0 X\n1 Y\n2 B\n");
}

TEST(OrderFileFaults, LoginRemovesCopiesOnlyOfProcessesThatAreGone) {
  CaseDirectory directory("copies");
  const pid_t child = fork();
  if (child == 0) _exit(0);
  ASSERT_GT(child, 0);
  waitpid(child, nullptr, 0);
  const std::string gone = "orders.temp.20201009.partial-" + std::to_string(child) + "-3";
  const std::string running = "orders.temp.20201009.partial-1-0";  // init runs while we do
  const char* others[] = {"orders.temp.20201009.partial-", "orders.temp.2020100.partial-5-1",
                          "orders.temp.20201009.partial-5-", "notes.partial-5-1"};
  WriteFile(gone, "0 A\n");
  WriteFile(running, "0 A\n");
  for (const char* other : others) WriteFile(other, "0 A\n");
  TraderApiGo api;
  api.LoadOrderMap();
  EXPECT_EQ(ReadFile(gone), "(missing)");
  EXPECT_EQ(ReadFile(running), "0 A\n");
  for (const char* other : others) EXPECT_EQ(ReadFile(other), "0 A\n") << other;
}

}  // namespace
