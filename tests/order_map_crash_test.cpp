// Writer processes killed at any instant, while they number codes in one
// order-number file, leave a file that loads to exactly the codes of their
// finished saves, with the numbers they were given, and no number twice.

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "ZR_QuantApi.h"
#include "order_files.h"

extern char** environ;

namespace {

struct Writer {
  std::string name;
  long target;  // finished saves before it is killed
  pid_t pid = 0;
  int out = -1;
  std::string pending;
  std::vector<long long> numbers;  // of name0, name1, ... as reported
  bool killed = false;
};

void Start(Writer& writer, const char* reloadEvery) {
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  char* const argv[] = {const_cast<char*>(ORDER_MAP_WRITER), const_cast<char*>(reloadEvery),
                        const_cast<char*>(writer.name.c_str()), nullptr};
  ASSERT_EQ(posix_spawn(&writer.pid, ORDER_MAP_WRITER, &actions, nullptr, argv, environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  writer.out = out[0];
}

// Reads what the writer reported; kills it with SIGKILL once it has reported
// its target. False once its output has ended.
bool Follow(Writer& writer) {
  char buffer[4096];
  const ssize_t got = read(writer.out, buffer, sizeof buffer);
  if (got <= 0) return false;
  for (ssize_t i = 0; i < got; ++i) {
    if (buffer[i] != '\n') {
      writer.pending += buffer[i];
      continue;
    }
    writer.numbers.push_back(std::stoll(writer.pending));
    writer.pending.clear();
  }
  if (!writer.killed && static_cast<long>(writer.numbers.size()) >= writer.target) {
    kill(writer.pid, SIGKILL);
    writer.killed = true;
  }
  return true;
}

void RunUntilKilled(std::vector<Writer>& writers, const char* reloadEvery) {
  for (Writer& writer : writers) Start(writer, reloadEvery);
  size_t open = writers.size();
  while (open > 0) {
    std::vector<pollfd> watched;
    for (const Writer& writer : writers) {
      if (writer.out >= 0) watched.push_back({writer.out, POLLIN, 0});
    }
    ASSERT_GT(poll(watched.data(), watched.size(), -1), 0);
    for (Writer& writer : writers) {
      bool ready = false;
      for (const pollfd& p : watched) ready = ready || (p.fd == writer.out && p.revents != 0);
      if (ready && !Follow(writer)) {
        close(writer.out);
        writer.out = -1;
        --open;
      }
    }
  }
  for (Writer& writer : writers) {
    int status = 0;
    waitpid(writer.pid, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "status " << status;
  }
}

TEST(OrderMapCrash, KilledWritersLeaveTheCodesOfTheirFinishedSaves) {
  std::mt19937 random(20201009);
  std::uniform_int_distribution<long> target(1, 3000);
  const char* reloads[] = {"0", "1", "37", "400"};
  for (int trial = 0; trial < 32; ++trial) {
    const char* reloadEvery = reloads[trial % 4];
    const int count = trial % 8 < 4 ? 1 : 2;
    SCOPED_TRACE("trial " + std::to_string(trial) + ", " + std::to_string(count) +
                 " writers, reload every " + reloadEvery);
    testing_support::RemoveOrderFiles();
    std::vector<Writer> writers;
    for (int w = 0; w < count; ++w) {
      Writer writer;
      writer.name = std::string(1, static_cast<char>('a' + w)) + "-";
      writer.target = target(random);
      writers.push_back(writer);
    }
    RunUntilKilled(writers, reloadEvery);

    TraderApiGo loaded;
    loaded.LoadOrderMap();
    size_t reported = 0;
    for (const Writer& writer : writers) {
      for (size_t i = 0; i < writer.numbers.size(); ++i) {
        const std::string code = writer.name + std::to_string(i);
        const auto found = loaded.mapOrderId.find(code);
        ASSERT_NE(found, loaded.mapOrderId.end()) << code << " is not in the file";
        EXPECT_EQ(found->second, writer.numbers[i]) << code;
      }
      reported += writer.numbers.size();
    }
    // Beyond those, at most the save each writer was in when it was killed.
    EXPECT_GE(loaded.mapOrderId.size(), reported);
    EXPECT_LE(loaded.mapOrderId.size(), reported + writers.size());
    // One sequence with no gaps, each number one code's (or none: a line
    // torn by a kill keeps its number without a code).
    long long expected = 0;
    for (const auto& [number, code] : loaded.mapOrderCode) {
      EXPECT_EQ(number, expected++);
      if (!code.empty()) {
        EXPECT_EQ(loaded.mapOrderId.at(code), number) << code;
      }
    }
  }
  testing_support::RemoveOrderFiles();
}

}  // namespace
