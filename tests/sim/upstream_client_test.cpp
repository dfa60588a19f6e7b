// The quote stand-in in front of a vendor's library (a fake one of ours,
// found through VELTRANE_SIM_UPSTREAM): a client of ZR_QuantApi logs in,
// subscribes and trades, and the test checks that every call reached the
// vendor with its arguments and returned its result, that the vendor's
// callbacks reached the client on the vendor's thread, that the paper venue
// filled against the vendor's book, that the tape recorded what the vendor
// sent, and that an exchange held up never holds up the vendor's thread.
//
// The environment picks the case, as the process has one exchange:
// UpstreamClientTest.* records to VELTRANE_SIM_RECORD; the slow-exchange
// case records nothing.

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ZR_QuantApi.h"
#include "quote_messages.h"
#include "recording_spi.h"
#include "spi_waits.h"
#include "tape.h"

namespace {

using testing_support::CountOf;
using testing_support::Encode;
using testing_support::RecordingSpi;
using testing_support::SpiEvent;
using testing_support::WaitUntil;

constexpr int32_t kBuy = 1;

// The fake vendor's controls, from the library the stand-in loaded.
struct Vendor {
  void (*send)(int32_t, const char*, const char*, int32_t);
  int (*waitSent)(int64_t, int64_t);
  size_t (*calls)(char*, size_t);

  static Vendor Find() {
    void* library = dlopen(std::getenv("VELTRANE_SIM_UPSTREAM"), RTLD_NOW | RTLD_NOLOAD);
    EXPECT_NE(library, nullptr) << "the stand-in has not loaded the vendor's library";
    Vendor vendor{};
    if (library == nullptr) return vendor;
    vendor.send = reinterpret_cast<decltype(send)>(dlsym(library, "FakeVendor_Send"));
    vendor.waitSent = reinterpret_cast<decltype(waitSent)>(dlsym(library, "FakeVendor_WaitSent"));
    vendor.calls = reinterpret_cast<decltype(calls)>(dlsym(library, "FakeVendor_Calls"));
    return vendor;
  }

  std::string Calls() const {
    std::vector<char> text(calls(nullptr, 0) + 1);
    calls(text.data(), text.size());
    return text.data();
  }
};

struct Sent {
  std::string type;
  std::string payload;
  int64_t time;  // as the tape should hold it
};

// The vendor's canned day: both exchanges, a type that names no time (it
// takes the time before it), one veltrane does not know, a code nobody
// subscribed to.
std::vector<Sent> CannedMessages() {
  auto shanghai = testing_support::ShanghaiSnapshot();
  shanghai.set_time(100000000);
  auto trade = testing_support::ShanghaiTrade();
  trade.set_time(100000500);
  auto shenzhen = testing_support::ShenzhenSnapshot();
  shenzhen.set_time(100001000);
  lmvproto::SSEL2_Index index;
  index.set_symbol("000001");
  index.set_extra7(3210.5);
  auto other = testing_support::ShanghaiSnapshot();
  other.set_symbol("600519");
  other.set_time(100002000);
  return {{"SSEL2_Quotation", Encode(shanghai), 100000000},
          {"SSEL2_Transaction", Encode(trade), 100000500},
          {"SZSEL2_Quotation", Encode(shenzhen), 100001000},
          {"SSEL2_Index", Encode(index), 100001000},
          {"XSHG_Unknown", std::string("\x01\x02\x03\x00", 4), 100001000},
          {"SSEL2_Quotation", Encode(other), 100002000}};
}

void SendAll(const Vendor& vendor, const std::vector<Sent>& messages) {
  for (const Sent& m : messages) {
    vendor.send(5, m.type.c_str(), m.payload.data(), static_cast<int32_t>(m.payload.size()));
  }
}

Corvane::TD_ReqOrderInsert Buy(int reqId, const char* code, int64_t price, int32_t volume) {
  Corvane::TD_ReqOrderInsert order;
  order.nReqID = reqId;
  std::strncpy(order.szContractCode, code, sizeof order.szContractCode - 1);
  order.nTradeType = kBuy;
  order.nOrderPrice = price;
  order.nOrderVol = volume;
  return order;
}

// The venue's answers and notices, for a failure's message.
std::string Answers(const RecordingSpi& spi) {
  std::string text;
  for (const SpiEvent& e : spi.Events()) {
    if (e.op == "OnRspOrderInsert") {
      text += e.op + " " + std::to_string(e.values[0]) + " " +
              e.As<Corvane::TD_RspOrderInsert>().errDesc + "\n";
    } else if (e.op.rfind("OnRtnOrder", 0) == 0) {
      text += e.op + "\n";
    }
  }
  return text;
}

Corvane::ZR_QuantApi* LogIn(RecordingSpi& spi) {
  Corvane::ZR_QuantApi* api = Corvane::ZR_QuantApi::createApi(
      &spi, false, Corvane::ZR_QuantTdApp_Default, Corvane::ZR_QuantMdApp_Level2);
  Corvane::ZR_QuantApi::Init();
  char user[] = "demo";
  api->Login(user, user);
  // The venue's user information and the vendor's login answer.
  EXPECT_TRUE(WaitUntil(spi, [](auto& events) {
    return CountOf(events, "OnRtnUserInfo") > 0 && CountOf(events, "OnConnect") >= 2;
  }));
  return api;
}

// Reads the tape until it holds `count` records or ten seconds pass: the
// recorder writes from its own thread.
std::vector<Sent> ReadTape(const std::string& path, size_t count) {
  std::vector<Sent> records;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    records.clear();
    sim::TapeReader reader;
    std::string error;
    if (reader.Open(path, error)) {
      sim::QuoteMessage message;
      while (reader.Next(message) == sim::TapeStatus::kRecord) {
        records.push_back({message.typeName, message.payload, message.time});
      }
    }
    if (records.size() >= count) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return records;
}

TEST(UpstreamClientTest, EverythingPassesThroughAndTheVenueTradesTheVendorsBook) {
  const std::string tape = std::getenv("VELTRANE_SIM_RECORD");
  // A tape left by an earlier run would be carried on; the exchange opens
  // it with the first call.
  ::unlink(tape.c_str());
  // The exchange's thread may still call the client after the test: the
  // client lives until the exchange has stopped at exit.
  static RecordingSpi spi;
  Corvane::ZR_QuantApi* api = LogIn(spi);
  Vendor vendor = Vendor::Find();
  ASSERT_NE(vendor.send, nullptr);

  const char codes[2][32] = {"600000.SH", "000001.SZ"};
  EXPECT_EQ(api->ReqSubQuote(5, 1 | 4, 0, codes, 2, "", ""), 1005);
  EXPECT_EQ(api->ReqSubQuote(6, 0, 0, codes, 1, "", ""), 2006);
  ASSERT_TRUE(WaitUntil(spi, [](auto& events) { return CountOf(events, "OnRspSubQuote") == 2; }));
  const std::string calls = vendor.Calls();
  size_t at = 0;
  for (const char* expected :
       {"Set_QCallbackInterface\n", "LibQuote_Init\n", "LibQuote_ReqUserLogin 1 ",
        "LibQuote_ReqSubscribe 5 3 600000,000001\n", "LibQuote_ReqUnsubscribe 6 600000\n"}) {
    at = calls.find(expected, at);
    ASSERT_NE(at, std::string::npos) << "no " << expected << " in order in:\n" << calls;
  }
  for (const SpiEvent& e : spi.Events()) {
    if (e.op == "OnRspSubQuote") {
      EXPECT_EQ(e.texts[2], e.values[1] ? "vendor: subscribed" : "vendor: unsubscribed");
    }
  }

  const std::vector<Sent> canned = CannedMessages();
  SendAll(vendor, canned);
  ASSERT_TRUE(vendor.waitSent(static_cast<int64_t>(canned.size()), 10000));
  std::vector<SpiEvent> events = spi.Events();
  EXPECT_EQ(CountOf(events, "OnRtnMarket"), 3u);
  EXPECT_EQ(CountOf(events, "OnRtnTransaction"), 1u);
  for (const SpiEvent& e : events) {
    if (e.op == "OnRtnMarket" || e.op == "OnRtnTransaction") {
      EXPECT_EQ(e.values[0], 5);
      EXPECT_NE(e.thread, std::this_thread::get_id());
    }
  }

  // The book the vendor showed: 1100 at 12.35 first on the asks.
  Corvane::TD_ReqOrderInsert order = Buy(21, "600000", 123500, 300);
  ASSERT_EQ(api->reqOrderInsert(&order), 0);
  // The filled order's status notice is its last event: after it nothing
  // more reaches the client, which may then go.
  ASSERT_TRUE(WaitUntil(spi, [](auto& events) {
    for (const SpiEvent& e : events) {
      if (e.op == "OnRtnOrderStatusChangeNotice" &&
          e.As<Corvane::TD_RspOrderInsert>().nStatus == 6) {
        return true;
      }
    }
    return false;
  })) << Answers(spi);
  EXPECT_GT(CountOf(spi.Events(), "OnRtnOrderMatchNotice"), 0u);
  for (const SpiEvent& e : spi.Events()) {
    if (e.op != "OnRtnOrderMatchNotice") continue;
    const auto& match = e.As<Corvane::TD_RtnOrderMatchNotice>();
    EXPECT_EQ(match.nMatchPrice, 123500);
    EXPECT_EQ(match.nMatchVol, 300);
  }

  std::vector<Sent> recorded = ReadTape(tape, canned.size());
  ASSERT_EQ(recorded.size(), canned.size());
  for (size_t i = 0; i < canned.size(); ++i) {
    EXPECT_EQ(recorded[i].type, canned[i].type) << i;
    EXPECT_EQ(recorded[i].time, canned[i].time) << i;
    EXPECT_EQ(recorded[i].payload, canned[i].payload) << i;
  }
}

// A client that holds the exchange's thread in its insert answer until
// released.
class HoldingSpi : public RecordingSpi {
 public:
  void OnRspOrderInsert(Corvane::TD_RspOrderInsert* rsp, int error) override {
    RecordingSpi::OnRspOrderInsert(rsp, error);
    std::unique_lock<std::mutex> lock(mutex_);
    held_ = true;
    changed_.notify_all();
    changed_.wait(lock, [&] { return released_; });
    held_ = false;
  }

  bool WaitHeld() {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return held_; });
  }
  bool Held() {
    std::lock_guard<std::mutex> hold(mutex_);
    return held_;
  }
  void Release() {
    std::lock_guard<std::mutex> hold(mutex_);
    released_ = true;
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool held_ = false;
  bool released_ = false;
};

TEST(UpstreamSlowExchangeTest, AHeldExchangeNeverHoldsTheVendorsThread) {
  static HoldingSpi spi;  // outlives the exchange's thread, as above
  Corvane::ZR_QuantApi* api = LogIn(spi);
  Vendor vendor = Vendor::Find();
  ASSERT_NE(vendor.send, nullptr);
  const char codes[1][32] = {"600000.SH"};
  EXPECT_EQ(api->ReqSubQuote(5, 1, 0, codes, 1, "", ""), 1005);
  const std::vector<Sent> canned = CannedMessages();
  SendAll(vendor, {canned[0]});
  ASSERT_TRUE(vendor.waitSent(1, 10000));

  Corvane::TD_ReqOrderInsert order = Buy(31, "600000", 120000, 100);
  ASSERT_EQ(api->reqOrderInsert(&order), 0);
  ASSERT_TRUE(spi.WaitHeld());
  testing::internal::CaptureStderr();
  // Far more than the exchange's ring holds, all while its thread is held.
  constexpr int64_t kFlood = 50000;
  for (int64_t i = 0; i < kFlood; ++i) SendAll(vendor, {canned[0]});
  EXPECT_TRUE(vendor.waitSent(1 + kFlood, 30000));
  EXPECT_TRUE(spi.Held());
  spi.Release();
  // The exchange catches up and answers the next order, then tells of the drops.
  Corvane::TD_ReqOrderInsert next = Buy(32, "600000", 120000, 100);
  ASSERT_EQ(api->reqOrderInsert(&next), 0);
  EXPECT_TRUE(
      WaitUntil(spi, [](auto& events) { return CountOf(events, "OnRspOrderInsert") == 2; }));
  SendAll(vendor, {canned[0]});
  EXPECT_TRUE(vendor.waitSent(2 + kFlood, 10000));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const std::string warned = testing::internal::GetCapturedStderr();
  EXPECT_NE(warned.find("live market messages dropped so far"), std::string::npos) << warned;
}

}  // namespace
