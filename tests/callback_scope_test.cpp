// The guard that keeps gateway callbacks from reaching a destroyed API object,
// on its own: scopes on several threads against publications and retirements.
// Built twice, once as the system runs it and once with the locked entry that
// is used where the kernel refuses membarrier.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "active_instance.h"

namespace {

using veltrane::CallbackScope;

// Stands in for an API object: only its address is published, and it says
// whether it has been retired.
struct Instance {
  std::atomic<bool> retired{false};
};

TraderApiGo* Address(Instance* instance) { return reinterpret_cast<TraderApiGo*>(instance); }
Instance* FromAddress(TraderApiGo* api) { return reinterpret_cast<Instance*>(api); }

TEST(CallbackScope, NoScopeUsesAnInstanceAfterItsRetirementReturned) {
  constexpr int kRounds = 3000;
  std::vector<std::unique_ptr<Instance>> instances;
  for (int i = 0; i < kRounds; ++i) instances.push_back(std::make_unique<Instance>());

  std::atomic<bool> stop{false};
  std::atomic<long> seen{0};
  std::atomic<long> usedAfterRetirement{0};
  auto callbacks = [&] {
    while (!stop.load()) {
      CallbackScope scope;
      if (Instance* instance = FromAddress(scope.api())) {
        ++seen;
        // Twice, with work between: the second look is where a retirement
        // that did not wait would show.
        if (instance->retired.load()) ++usedAfterRetirement;
        for (int spin = 0; spin < 50; ++spin) std::atomic_signal_fence(std::memory_order_seq_cst);
        if (instance->retired.load()) ++usedAfterRetirement;
      }
    }
  };
  std::thread first(callbacks), second(callbacks);
  for (auto& instance : instances) {
    veltrane::PublishInstance(Address(instance.get()));
    std::this_thread::yield();
    veltrane::RetireInstance(Address(instance.get()));
    instance->retired.store(true);
  }
  stop.store(true);
  first.join();
  second.join();
  EXPECT_EQ(usedAfterRetirement.load(), 0);
  EXPECT_GT(seen.load(), 0);
}

TEST(CallbackScope, ARetirementInsideScopesOfItsOwnThreadDoesNotWaitForThem) {
  Instance instance;
  veltrane::PublishInstance(Address(&instance));
  {
    CallbackScope outer;
    CallbackScope inner;
    EXPECT_EQ(inner.api(), Address(&instance));
    veltrane::RetireInstance(Address(&instance));  // would never return if it waited here
    CallbackScope after;
    EXPECT_EQ(after.api(), nullptr);
  }
}

// True when `flag` becomes true within `deadline`.
bool BecomesTrue(const std::atomic<bool>& flag, std::chrono::milliseconds deadline) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (!flag.load()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::yield();
  }
  return true;
}

TEST(CallbackScope, ALeftInnerScopeStillCountsTheOuterOne) {
  Instance instance;
  veltrane::PublishInstance(Address(&instance));
  std::atomic<bool> innerLeft{false};
  std::atomic<bool> leave{false};
  std::thread callback([&] {
    CallbackScope outer;
    { CallbackScope inner; }
    innerLeft.store(true);
    while (!leave.load()) std::this_thread::yield();
  });
  ASSERT_TRUE(BecomesTrue(innerLeft, std::chrono::seconds(10)));
  std::thread retirement([&] {
    veltrane::RetireInstance(Address(&instance));
    instance.retired.store(true);
  });
  EXPECT_FALSE(BecomesTrue(instance.retired, std::chrono::milliseconds(200)));
  leave.store(true);
  callback.join();
  retirement.join();
  EXPECT_TRUE(instance.retired.load());
}

TEST(CallbackScope, ThreadsThatEndHandTheirRecordsOn) {
  Instance instance;
  veltrane::PublishInstance(Address(&instance));
  // Many short-lived callback threads, one after another; each must still
  // find the instance and leave nothing that a retirement waits for.
  for (int i = 0; i < 200; ++i) {
    std::thread([&] {
      CallbackScope scope;
      EXPECT_EQ(scope.api(), Address(&instance));
    }).join();
  }
  veltrane::RetireInstance(Address(&instance));
  CallbackScope after;
  EXPECT_EQ(after.api(), nullptr);
}

}  // namespace
