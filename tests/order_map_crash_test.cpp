// A process killed at any instant, while it numbers codes and rewrites its
// order-number file, leaves a file that loads to exactly the codes of its
// last finished save.

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <random>
#include <string>

#include "ZR_QuantApi.h"
#include "order_files.h"

extern char** environ;

namespace {

// Runs the writer until it has reported `target` saves, kills it with
// SIGKILL, and returns the last count it reported.
long KillWriterAfter(long target, const char* reloadEvery) {
  int out[2];
  if (pipe(out) != 0) ADD_FAILURE() << "pipe";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  char* const argv[] = {const_cast<char*>(ORDER_MAP_WRITER), const_cast<char*>(reloadEvery),
                        nullptr};
  pid_t child = 0;
  const int spawned = posix_spawn(&child, ORDER_MAP_WRITER, &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  EXPECT_EQ(spawned, 0);

  long reported = 0;
  long current = 0;
  bool killed = false;
  char buffer[4096];
  for (ssize_t got; (got = read(out[0], buffer, sizeof buffer)) > 0;) {
    for (ssize_t i = 0; i < got; ++i) {
      if (buffer[i] != '\n') {
        current = current * 10 + (buffer[i] - '0');
        continue;
      }
      reported = current;
      current = 0;
    }
    if (!killed && reported >= target) {
      kill(child, SIGKILL);
      killed = true;
    }
  }
  close(out[0]);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "status " << status;
  return reported;
}

TEST(OrderMapCrash, AKilledWriterLeavesTheCodesOfItsLastFinishedSave) {
  std::mt19937 random(20201009);
  std::uniform_int_distribution<long> target(1, 3000);
  const char* reloads[] = {"0", "1", "37", "400"};
  for (int trial = 0; trial < 24; ++trial) {
    const char* reloadEvery = reloads[trial % 4];
    SCOPED_TRACE("trial " + std::to_string(trial) + ", reload every " + reloadEvery);
    testing_support::RemoveOrderFiles();
    const long reported = KillWriterAfter(target(random), reloadEvery);

    TraderApiGo loaded;
    loaded.LoadOrderMap();
    // The save after the last one reported may have finished too.
    const long saved = loaded.iNextOrderId;
    ASSERT_TRUE(saved == reported || saved == reported + 1)
        << "reported " << reported << ", file holds " << saved;
    std::map<std::string, long long> expected;
    for (long i = 0; i < saved; ++i) expected["code" + std::to_string(i)] = i;
    EXPECT_EQ(loaded.mapOrderId, expected);
    EXPECT_EQ(loaded.mapOrderCode.size(), expected.size());
  }
  testing_support::RemoveOrderFiles();
}

}  // namespace
