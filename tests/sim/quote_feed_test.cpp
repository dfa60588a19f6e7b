// The simulated feed: its answers, which messages reach a subscriber and in
// what order, and the thread they come on.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "exchange.h"
#include "quote.pb.h"
#include "sim_days.h"
#include "tape.h"

namespace {

using sim::QuoteMessage;

struct Event {
  enum Type { kLogin, kSubscribe, kUnsubscribe, kData } type;
  int32_t reqId;  // the login's status for kLogin
  int32_t result;
  std::string text;  // answer text, or the data's type name
  int64_t time;
  std::string payload;
  bool onTestThread;
};

// Records what the feed's callbacks bring; `react` runs on the feed's thread
// after each event is recorded.
class Recorder {
 public:
  Recorder() { current_ = this; }
  ~Recorder() { current_ = nullptr; }

  static QuoteCallbacks Table() {
    return {[](int32_t, int32_t status) {
              current_->Add({Event::kLogin, status, 0, "", 0, "", {}});
            },
            [](int32_t reqId, int32_t result, const char* text) {
              current_->Add({Event::kSubscribe, reqId, result, text, 0, "", {}});
            },
            [](int32_t reqId, int32_t result, const char* text) {
              current_->Add({Event::kUnsubscribe, reqId, result, text, 0, "", {}});
            },
            [](int32_t reqId, int64_t, int64_t time, const char* type, const char* payload,
               int32_t length) {
              current_->Add({Event::kData, reqId, 0, type, time, std::string(payload, length), {}});
            }};
  }

  std::function<void(const Event&, size_t index)> react;

  // Waits (with a deadline) until `count` events have come.
  bool WaitFor(size_t count) {
    return WaitUntil([&](const std::vector<Event>& events) { return events.size() >= count; });
  }

  // Waits (with a deadline) until `count` answers (events other than data) have come.
  bool WaitForAnswers(size_t count) {
    return WaitUntil([&](const std::vector<Event>& events) {
      return static_cast<size_t>(std::count_if(events.begin(), events.end(), [](const Event& e) {
               return e.type != Event::kData;
             })) >= count;
    });
  }

  // The latest answer.
  Event LastAnswer() {
    std::lock_guard<std::mutex> hold(mutex_);
    return *std::find_if(events_.rbegin(), events_.rend(),
                         [](const Event& e) { return e.type != Event::kData; });
  }

  std::vector<Event> Events() {
    std::lock_guard<std::mutex> hold(mutex_);
    return events_;
  }

 private:
  bool WaitUntil(const std::function<bool(const std::vector<Event>&)>& done) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(30), [&] { return done(events_); });
  }

  void Add(Event event) {
    event.onTestThread = std::this_thread::get_id() == testThread_;
    size_t index;
    {
      std::lock_guard<std::mutex> hold(mutex_);
      events_.push_back(event);
      index = events_.size() - 1;
    }
    changed_.notify_all();
    if (react) react(event, index);
  }

  static Recorder* current_;
  const std::thread::id testThread_ = std::this_thread::get_id();
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Event> events_;
};

Recorder* Recorder::current_ = nullptr;

// A short generated morning of three stocks, with records the feed must sort
// out around it: an index record (a snapshot of code 000001), a record
// without fields and one of a type nobody knows.
std::vector<QuoteMessage> TapeMessages() {
  sim::MarketSettings settings;
  settings.instruments = {{"600000", sim::Exchange::kShanghai, 1052},
                          {"000001", sim::Exchange::kShenzhen, 1123},
                          {"600036", sim::Exchange::kShanghai, 3310}};
  settings.sessions = {{34200000, 34230000}};
  settings.auctions = false;
  std::vector<QuoteMessage> messages = testing_support::GenerateDay(settings);
  lmvproto::SSEL2_Index index;
  index.set_symbol("000001");
  index.set_extra7(3100.25);
  QuoteMessage extra{"SSEL2_Index", 92959000, "000001", sim::kSnapshots, {}};
  index.SerializeToString(&extra.payload);
  messages.insert(messages.begin() + 1, extra);
  messages.insert(messages.begin() + 2, QuoteMessage{"Empty", 93000000, "", sim::kSnapshots, ""});
  messages.insert(messages.begin() + 5, QuoteMessage{"SSEL2_Future", 93000000, "", sim::kSnapshots,
                                                     "\x2a\x06"
                                                     "600000"});
  return messages;
}

class QuoteFeedTest : public ::testing::Test {
 protected:
  void SetUp() override {
    messages_ = TapeMessages();
    tapePath_ = ::testing::TempDir() + "feed" + std::to_string(getpid()) + ".tape";
    testing_support::WriteTape(tapePath_, messages_);
  }
  void TearDown() override { std::remove(tapePath_.c_str()); }

  sim::ExchangeSettings TapeSettings(double speed) {
    sim::ExchangeSettings settings;
    settings.source.tapePath = tapePath_;
    settings.speed = speed;
    settings.latency = {0, 0, 0};
    return settings;
  }

  // The data events a subscriber of `wanted` gets from `from` on.
  std::vector<Event> Expected(size_t from, size_t to,
                              const std::function<int32_t(const QuoteMessage&)>& reqIdOf) {
    std::vector<Event> expected;
    for (size_t i = from; i < to && i < messages_.size(); ++i) {
      const QuoteMessage& m = messages_[i];
      if (int32_t reqId = reqIdOf(m)) {
        expected.push_back({Event::kData, reqId, 0, m.typeName, m.time, m.payload, false});
      }
    }
    return expected;
  }

  std::vector<QuoteMessage> messages_;
  std::string tapePath_;
};

void ExpectSameData(const std::vector<Event>& got, size_t from,
                    const std::vector<Event>& expected) {
  ASSERT_GE(got.size(), from + expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(i);
    const Event& g = got[from + i];
    ASSERT_EQ(g.type, Event::kData);
    EXPECT_EQ(g.reqId, expected[i].reqId);
    EXPECT_EQ(g.text, expected[i].text);
    EXPECT_EQ(g.time, expected[i].time);
    EXPECT_EQ(g.payload, expected[i].payload);
  }
}

// Exactly the subscribed codes and kinds, in tape order, with the request
// number of the subscription that asked for each kind, all on the feed's own
// thread.
TEST_F(QuoteFeedTest, OnlySubscribedCodesAndKindsArriveInTapeOrder) {
  Recorder recorder;
  std::mutex gate;
  gate.lock();  // holds the feed in the login answer until both requests are queued
  recorder.react = [&](const Event& e, size_t) {
    if (e.type == Event::kLogin) std::lock_guard<std::mutex> wait(gate);
  };
  sim::SimulatedExchange feed(TapeSettings(0), "");
  feed.SetQuoteCallbacks(Recorder::Table());
  feed.QuoteLogin();
  ASSERT_TRUE(recorder.WaitFor(1));
  feed.Subscribe(7, sim::kSnapshots, {"600000", "000001"});
  feed.Subscribe(8, sim::kTrades, {"000001"});
  gate.unlock();

  std::vector<Event> expected = Expected(0, messages_.size(), [](const QuoteMessage& m) {
    if (m.code == "600000" && m.kind == sim::kSnapshots) return 7;
    if (m.code == "000001") return m.kind == sim::kSnapshots ? 7 : 8;
    return 0;
  });
  ASSERT_GT(expected.size(), 20u);
  ASSERT_TRUE(recorder.WaitFor(3 + expected.size()));
  std::vector<Event> got = recorder.Events();
  EXPECT_EQ(got[0].type, Event::kLogin);
  EXPECT_EQ(got[0].reqId, 0);
  EXPECT_EQ(got[1].type, Event::kSubscribe);
  EXPECT_EQ(got[1].reqId, 7);
  EXPECT_EQ(got[1].text, "OK");
  EXPECT_EQ(got[2].reqId, 8);
  ExpectSameData(got, 3, expected);
  for (const Event& e : got) EXPECT_FALSE(e.onTestThread);
  EXPECT_EQ(got[4].text, "SSEL2_Index");  // right after the first snapshot
  feed.Stop();
  EXPECT_EQ(recorder.Events().size(), 3 + expected.size());
}

// An unsubscription made from inside a data callback, at a paced speed,
// takes effect before the next message: its answer comes right after the
// message that prompted it, and no later message of its code follows.
TEST_F(QuoteFeedTest, NothingArrivesAfterAnUnsubscription) {
  constexpr size_t kBefore = 25;
  Recorder recorder;
  sim::SimulatedExchange feed(TapeSettings(1000), "");
  recorder.react = [&](const Event& e, size_t index) {
    if (e.type == Event::kData && index == 2 + kBefore - 1) feed.Unsubscribe(9, {"600000"});
  };
  feed.SetQuoteCallbacks(Recorder::Table());
  feed.QuoteLogin();
  feed.Subscribe(3, sim::kSnapshots | sim::kTrades, {"600000", "600036"});

  auto both = [](const QuoteMessage& m) {
    return m.code == "600000" || m.code == "600036" ? 3 : 0;
  };
  std::vector<Event> before = Expected(0, messages_.size(), both);
  before.resize(kBefore);
  // The tape position of the message that prompted the unsubscription.
  size_t position = 0;
  for (size_t seen = 0; seen < kBefore; ++position) seen += both(messages_[position]) != 0;
  std::vector<Event> after = Expected(
      position, messages_.size(), [](const QuoteMessage& m) { return m.code == "600036" ? 3 : 0; });
  ASSERT_TRUE(recorder.WaitFor(2 + kBefore + 1 + after.size()));
  std::vector<Event> got = recorder.Events();
  ExpectSameData(got, 2, before);
  EXPECT_EQ(got[2 + kBefore].type, Event::kUnsubscribe);
  EXPECT_EQ(got[2 + kBefore].reqId, 9);
  EXPECT_EQ(got[2 + kBefore].result, 0);
  ExpectSameData(got, 2 + kBefore + 1, after);
}

// A recording keeps every message of the market in its order, whatever was
// subscribed, with its own time: the replayed tape again.
TEST_F(QuoteFeedTest, ARecordingHoldsEveryMessageOfTheMarket) {
  Recorder recorder;
  sim::ExchangeSettings settings = TapeSettings(0);
  settings.recordPath = tapePath_ + ".recorded";
  std::remove(settings.recordPath.c_str());
  sim::SimulatedExchange feed(settings, "");
  feed.SetQuoteCallbacks(Recorder::Table());
  feed.QuoteLogin();
  // The day's last message is a snapshot of 600036: once it has come, the
  // recorder has been offered everything.
  ASSERT_EQ(messages_.back().code, "600036");
  feed.Subscribe(3, sim::kSnapshots, {"600036"});
  std::vector<Event> expected = Expected(0, messages_.size(), [](const QuoteMessage& m) {
    return m.code == "600036" && m.kind == sim::kSnapshots ? 3 : 0;
  });
  ASSERT_TRUE(recorder.WaitFor(2 + expected.size()));
  feed.Stop();

  sim::TapeReader reader;
  std::string error;
  ASSERT_TRUE(reader.Open(settings.recordPath, error)) << error;
  QuoteMessage recorded;
  for (const QuoteMessage& sent : messages_) {
    SCOPED_TRACE(sent.time);
    ASSERT_EQ(reader.Next(recorded), sim::TapeStatus::kRecord);
    EXPECT_STREQ(recorded.typeName, sent.typeName);
    EXPECT_EQ(recorded.time, sent.time);
    EXPECT_EQ(recorded.payload, sent.payload);
  }
  EXPECT_EQ(reader.Next(recorded), sim::TapeStatus::kEnd);
  std::remove(settings.recordPath.c_str());
}

// A callback that stops the feed is the last one.
TEST_F(QuoteFeedTest, StopFromInsideACallbackEndsTheFeed) {
  Recorder recorder;
  auto feed = std::make_unique<sim::SimulatedExchange>(TapeSettings(0), "");
  sim::SimulatedExchange* running = feed.get();  // still there while the destructor waits
  recorder.react = [running](const Event& e, size_t) {
    if (e.type == Event::kData) running->Stop();
  };
  feed->SetQuoteCallbacks(Recorder::Table());
  feed->QuoteLogin();
  feed->Subscribe(1, sim::kSnapshots | sim::kTrades, {"600000"});
  ASSERT_TRUE(recorder.WaitFor(3));
  feed.reset();
  EXPECT_EQ(recorder.Events().size(), 3u);
}

TEST_F(QuoteFeedTest, AnswersOfEachRequest) {
  struct Step {
    Event::Type request;
    std::vector<std::string> codes;
    int32_t result;
    const char* text;
  };
  struct Case {
    const char* name;
    std::string tape;  // empty: generate
    std::string settingsError;
    std::vector<Step> steps;
  };
  // Neither may hang the login or replay as an empty day.
  const std::string fifo = tapePath_ + ".fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const Case cases[] = {
      {"generated market",
       "",
       "",
       {{Event::kSubscribe, {"600000"}, 1, "not logged in"},
        {Event::kUnsubscribe, {"600000"}, 1, "not logged in"},
        {Event::kLogin, {}, 0, ""},
        {Event::kSubscribe,
         {"600000", "999999", "000001", "000002"},
         2,
         "unknown codes: 999999, 000002"},
        {Event::kUnsubscribe, {"600000", "123456"}, 0, "OK"},
        {Event::kLogin, {}, 0, ""}}},
      {"tape: any code",
       tapePath_,
       "",
       {{Event::kLogin, {}, 0, ""}, {Event::kSubscribe, {"999999"}, 0, "OK"}}},
      {"missing tape",
       tapePath_ + ".missing",
       "",
       {{Event::kLogin, {}, 1, ""}, {Event::kSubscribe, {"600000"}, 1, "not logged in"}}},
      {"tape is a FIFO", fifo, "", {{Event::kLogin, {}, 1, ""}}},
      {"tape is a directory", ::testing::TempDir(), "", {{Event::kLogin, {}, 1, ""}}},
      {"bad settings", "", "VELTRANE_SIM_SPEED='x'", {{Event::kLogin, {}, 1, ""}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Recorder recorder;
    sim::ExchangeSettings settings;
    settings.source.tapePath = c.tape;
    settings.latency = {0, 0, 0};
    settings.source.market.sessions = {{34200000, 34203000}};
    settings.source.market.auctions = false;
    sim::SimulatedExchange feed(settings, c.settingsError);
    feed.SetQuoteCallbacks(Recorder::Table());
    for (size_t i = 0; i < c.steps.size(); ++i) {
      const Step& step = c.steps[i];
      SCOPED_TRACE(i);
      if (step.request == Event::kLogin) feed.QuoteLogin();
      if (step.request == Event::kSubscribe)
        feed.Subscribe(static_cast<int32_t>(i), sim::kTrades, step.codes);
      if (step.request == Event::kUnsubscribe)
        feed.Unsubscribe(static_cast<int32_t>(i), step.codes);
      // Each request has one answer; data may come between them.
      ASSERT_TRUE(recorder.WaitForAnswers(i + 1));
      Event answer = recorder.LastAnswer();
      EXPECT_EQ(answer.type, step.request);
      if (step.request != Event::kLogin) {
        EXPECT_EQ(answer.reqId, static_cast<int32_t>(i));
      }
      if (step.request == Event::kLogin) {
        EXPECT_EQ(answer.reqId, step.result);  // the status
      } else {
        EXPECT_EQ(answer.result, step.result);
        EXPECT_EQ(answer.text, step.text);
      }
    }
  }
  std::remove(fifo.c_str());
}

}  // namespace
