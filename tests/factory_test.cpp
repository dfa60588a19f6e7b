// Creating, starting and destroying the API object against the test doubles
// of the outside libraries.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "ZR_QuantApi.h"
#include "fake_gateways.h"
#include "gateway_events.h"
#include "recording_spi.h"

using namespace Corvane;
using testing_support::FireEveryEntry;
using testing_support::FireTrade;
using testing_support::RecordingSpi;

namespace {

class Factory : public ::testing::Test {
 protected:
  void SetUp() override { fake::Reset(); }
  void TearDown() override {
    for (ZR_QuantApi* api : made_) ZR_QuantApi::deleteApi(api);
  }

  TraderApiGo* Keep(ZR_QuantApi* api) {
    made_.push_back(api);
    return dynamic_cast<TraderApiGo*>(api);
  }
  TraderApiGo* Create(ZR_QuantSpi* spi) {
    return Keep(ZR_QuantApi::createApi(spi, false, ZR_QuantTdApp_Default, ZR_QuantMdApp_Level2));
  }
  // Leaves the deletion of `api` to the test.
  void Forget(ZR_QuantApi* api) { made_.erase(std::find(made_.begin(), made_.end(), api)); }
  void Delete(ZR_QuantApi* api) {
    Forget(api);
    ZR_QuantApi::deleteApi(api);
  }
  // The spi that a trade login event reaches, found by firing one.
  static void FireLogin() {
    FireTrade([](const ItgCallbacks& itg) { itg.onLogin(0, 0, "welcome"); });
  }

  std::vector<ZR_QuantApi*> made_;
};

// The table entries recorded by the double: present and all different.
void ExpectDistinctEntries(const fake::Call& call, size_t entries) {
  SCOPED_TRACE(call.function);
  ASSERT_EQ(call.args.size(), entries);
  for (size_t i = 0; i < entries; ++i) {
    EXPECT_NE(std::get<int64_t>(call.args[i]), 0);
    for (size_t j = 0; j < i; ++j) EXPECT_NE(call.args[i], call.args[j]);
  }
}

TEST_F(Factory, FourArgumentFormUsesBothLibrariesWhateverItsArguments) {
  struct Arguments {
    bool flag;
    ZR_QuantTdAppEType trade;
    ZR_QuantMdAppEType quote;
  };
  const Arguments cases[] = {
      {false, ZR_QuantTdApp_Default, ZR_QuantMdApp_Level2},
      {true, ZR_QuantTdApp_Alternate, ZR_QuantMdApp_Default},
      {true, static_cast<ZR_QuantTdAppEType>(-4), static_cast<ZR_QuantMdAppEType>(99)}};
  for (const Arguments& arguments : cases) {
    SCOPED_TRACE(arguments.flag);
    fake::Reset();
    RecordingSpi spi;
    TraderApiGo* api =
        Keep(ZR_QuantApi::createApi(&spi, arguments.flag, arguments.trade, arguments.quote));
    ASSERT_NE(api, nullptr);
    EXPECT_EQ(api->nApiType, 3);
    EXPECT_EQ(api->pSpi, &spi);

    const std::vector<fake::Call> calls = fake::Calls();
    ASSERT_EQ(fake::CalledFunctions(),
              (std::vector<std::string>{"Set_CallbackInterface", "Set_QCallbackInterface"}));
    ExpectDistinctEntries(calls[0], 7);
    ExpectDistinctEntries(calls[1], 4);

    ZR_QuantApi::Init();
    EXPECT_EQ(fake::CalledFunctions(),
              (std::vector<std::string>{"Set_CallbackInterface", "Set_QCallbackInterface",
                                        "LibITG_Init", "LibQuote_Init"}));
  }
}

TEST_F(Factory, SevenArgumentFormChoosesTheLibrariesInitStarts) {
  struct Choice {
    bool useTrade;
    bool useQuote;
    bool second;
    bool seventh;
    int apiType;
    std::vector<std::string> initCalls;
  };
  const Choice choices[] = {
      {true, true, false, false, 3, {"LibITG_Init", "LibQuote_Init"}},
      {true, false, true, false, 1, {"LibITG_Init"}},
      {false, true, false, true, 2, {"LibQuote_Init"}},
      {false, false, true, true, 0, {}},
  };
  for (const Choice& choice : choices) {
    SCOPED_TRACE(testing::Message() << choice.useTrade << choice.useQuote);
    RecordingSpi spi;
    TraderApiGo* api =
        Keep(ZR_QuantApi::createApi(&spi, choice.second, ZR_QuantTdApp_Default, choice.useTrade,
                                    ZR_QuantMdApp_Level2, choice.useQuote, choice.seventh));
    EXPECT_EQ(api->nApiType, choice.apiType);
    // Both tables are registered whatever the choice.
    EXPECT_EQ(fake::CalledFunctions(),
              (std::vector<std::string>{"Set_CallbackInterface", "Set_QCallbackInterface"}));
    fake::Reset();
    ZR_QuantApi::Init();
    EXPECT_EQ(fake::CalledFunctions(), choice.initCalls);
    fake::Reset();
  }
}

TEST_F(Factory, InitWithoutAnInstanceCallsNothing) {
  ZR_QuantApi::Init();
  RecordingSpi spi;
  Delete(Create(&spi));
  fake::Reset();
  ZR_QuantApi::Init();
  EXPECT_TRUE(fake::Calls().empty());
}

TEST_F(Factory, EventsReachTheSpiOfTheLatestInstanceOnTheGatewayThread) {
  RecordingSpi first;
  RecordingSpi second;
  TraderApiGo* older = Create(&first);
  Create(&second);
  FireLogin();
  EXPECT_TRUE(first.Events().empty());
  ASSERT_EQ(second.Ops(), (std::vector<std::string>{"OnConnect", "OnRtnUserInfo"}));
  for (const auto& event : second.Events()) EXPECT_EQ(event.thread, fake::GatewayThreadId());

  // Destroying the older object, which is no longer the instance, changes nothing.
  Delete(older);
  FireLogin();
  EXPECT_EQ(second.Events().size(), 4u);
  EXPECT_TRUE(first.Events().empty());
}

TEST_F(Factory, EventsAfterDeleteApiAreDroppedAndANewInstanceGetsThemAgain) {
  RecordingSpi gone;
  Delete(Create(&gone));
  FireEveryEntry();
  EXPECT_TRUE(gone.Events().empty());

  ZR_QuantApi::deleteApi(nullptr);
  RecordingSpi next;
  Create(&next);
  FireLogin();
  EXPECT_EQ(next.Ops(), (std::vector<std::string>{"OnConnect", "OnRtnUserInfo"}));
  EXPECT_TRUE(gone.Events().empty());
}

TEST_F(Factory, EventsBeforeASpiIsRegisteredAreDroppedNotKept) {
  TraderApiGo* api = Create(nullptr);
  FireEveryEntry();
  RecordingSpi spi;
  api->RegisterSpi(&spi);
  FireLogin();
  EXPECT_EQ(spi.Ops(), (std::vector<std::string>{"OnConnect", "OnRtnUserInfo"}));
}

// Holds the first OnConnect until released, and remembers whether the API
// object had already been destroyed when it was released.
class BlockingSpi : public RecordingSpi {
 public:
  void OnConnect(int nSrvType) override {
    std::unique_lock<std::mutex> hold(lock_);
    entered_ = true;
    changed_.notify_all();
    changed_.wait(hold, [this] { return released_; });
    deletedWhileRunning_ = deleted_;
    hold.unlock();
    RecordingSpi::OnConnect(nSrvType);
  }

  bool WaitEntered() {
    std::unique_lock<std::mutex> hold(lock_);
    return changed_.wait_for(hold, std::chrono::seconds(10), [this] { return entered_; });
  }
  // True when deleteApi returns within `deadline`.
  bool WaitDeleted(std::chrono::milliseconds deadline) {
    std::unique_lock<std::mutex> hold(lock_);
    return changed_.wait_for(hold, deadline, [this] { return deleted_; });
  }
  void MarkDeleted() {
    std::lock_guard<std::mutex> hold(lock_);
    deleted_ = true;
    changed_.notify_all();
  }
  void Release() {
    std::lock_guard<std::mutex> hold(lock_);
    released_ = true;
    changed_.notify_all();
  }
  bool DeletedWhileRunning() {
    std::lock_guard<std::mutex> hold(lock_);
    return deletedWhileRunning_;
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  bool entered_ = false;
  bool released_ = false;
  bool deleted_ = false;
  bool deletedWhileRunning_ = false;
};

TEST_F(Factory, DeleteApiWaitsForACallbackThatIsRunning) {
  BlockingSpi spi;
  TraderApiGo* api = Create(&spi);
  std::future<void> event =
      fake::PostToGatewayThread([] { fake::RegisteredItgCallbacks().onLogin(0, 0, "welcome"); });
  ASSERT_TRUE(spi.WaitEntered());

  Forget(api);
  std::thread deleter([&] {
    ZR_QuantApi::deleteApi(api);
    spi.MarkDeleted();
  });
  // While the callback runs, the object it delivers through must stay alive.
  EXPECT_FALSE(spi.WaitDeleted(std::chrono::milliseconds(200)));
  spi.Release();
  event.get();
  deleter.join();

  EXPECT_FALSE(spi.DeletedWhileRunning());
  // The callback finished with the object intact.
  EXPECT_EQ(spi.Ops(), (std::vector<std::string>{"OnConnect", "OnRtnUserInfo"}));
}

// Counts position rows, and those that arrive after its API object is gone.
class ClosingSpi : public ZR_QuantSpi {
 public:
  void OnConnect(int) override {}
  void OnDisconnect(int) override {}
  void OnRspQryPosition(TD_RspQryPosition*, int, bool) override {
    ++delivered;
    if (closed) ++late;
  }
  std::atomic<bool> closed{false};
  std::atomic<int> delivered{0};
  std::atomic<int> late{0};
};

TEST_F(Factory, NoEventReachesAnObjectOnceDeleteApiHasReturned) {
  RecordingSpi first;
  Create(&first);  // registers the tables the stream below fires through
  std::atomic<bool> stop{false};
  std::future<void> stream = fake::PostToGatewayThread([&stop] {
    const ItgCallbacks itg = fake::RegisteredItgCallbacks();
    while (!stop) itg.onPosition(1, 0, "", "600000", 100, 1);
  });

  std::vector<std::unique_ptr<ClosingSpi>> spis;  // outlive the stream
  for (int i = 0; i < 200; ++i) {
    spis.push_back(std::make_unique<ClosingSpi>());
    ClosingSpi& spi = *spis.back();
    ZR_QuantApi* api =
        ZR_QuantApi::createApi(&spi, false, ZR_QuantTdApp_Default, ZR_QuantMdApp_Level2);
    // Delete while events are flowing to this very object.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (spi.delivered == 0 && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::yield();
    }
    ASSERT_GT(spi.delivered, 0);
    ZR_QuantApi::deleteApi(api);
    spi.closed = true;
  }
  stop = true;
  stream.get();
  for (const auto& spi : spis) EXPECT_EQ(spi->late, 0);
}

// Destroys the API object from inside its own callback.
class SelfDeletingSpi : public RecordingSpi {
 public:
  ZR_QuantApi* api = nullptr;
  void OnConnect(int nSrvType) override {
    RecordingSpi::OnConnect(nSrvType);
    ZR_QuantApi::deleteApi(api);
  }
};

TEST_F(Factory, ACallbackMayDeleteTheApiWithoutWaitingForItself) {
  SelfDeletingSpi spi;
  spi.api = ZR_QuantApi::createApi(&spi, false, ZR_QuantTdApp_Default, ZR_QuantMdApp_Level2);
  FireLogin();  // would never return if the deletion waited for this callback
  FireLogin();  // no instance any more: dropped
  // The first login still finished on the spi it had started with.
  EXPECT_EQ(spi.Ops(), (std::vector<std::string>{"OnConnect", "OnRtnUserInfo"}));
}

class ThrowingSpi : public RecordingSpi {
 public:
  void OnConnect(int) override { throw std::runtime_error("strategy bug"); }
};

TEST_F(Factory, AnExceptionFromTheClientNeverReachesTheGatewayThread) {
  ThrowingSpi spi;
  Create(&spi);
  // RunOnGatewayThread rethrows here whatever escaped on the gateway thread.
  EXPECT_NO_THROW(FireEveryEntry());
  // Each throwing login lost its second half; every other event still arrived.
  EXPECT_EQ(spi.Ops(),
            (std::vector<std::string>{"OnRtnOrderStatusChangeNotice", "OnRtnOrderMatchNotice",
                                      "OnRspQryPosition", "OnRspOrderInsert", "OnRspOrderDelete",
                                      "OnRspQryAccountMaxEntrustCount", "OnRspSubQuote",
                                      "OnRspSubQuote", "OnRtnMarket"}));
}

}  // namespace
