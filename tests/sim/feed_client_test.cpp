// The quote stand-in behind veltrane: a client of ZR_QuantApi logs in,
// subscribes and receives a short generated session as market records. The
// feed is configured by the test's environment (two stocks, two minutes,
// as fast as possible).

#include <gtest/gtest.h>

#include <map>

#include "ZR_QuantApi.h"
#include "libquote.h"
#include "recording_spi.h"
#include "spi_waits.h"

namespace {

using testing_support::CountOf;
using testing_support::RecordingSpi;
using testing_support::SpiEvent;
using testing_support::WaitUntil;

TEST(FeedClientTest, SessionArrivesAsMarketRecords) {
  RecordingSpi spi;
  Corvane::ZR_QuantApi* api = Corvane::ZR_QuantApi::createApi(
      &spi, false, Corvane::ZR_QuantTdApp_Default, Corvane::ZR_QuantMdApp_Level2);
  Corvane::ZR_QuantApi::Init();
  char user[] = "demo";
  api->Login(user, user);
  ASSERT_TRUE(WaitUntil(spi, [](auto& events) { return CountOf(events, "OnRtnUserInfo") > 0; }));

  // Requests the library refuses at once never get an answer.
  TextView code{"600000", 6};
  TextView nullText{nullptr, 3};
  TextList one{&code, 1, 1};
  TextList negative{&code, -1, 1};
  TextList broken{&nullText, 1, 1};
  struct Refusal {
    int64_t kinds;
    const TextList* codes;
  };
  for (const Refusal& r : {Refusal{1, nullptr}, Refusal{0, &one}, Refusal{4, &one},
                           Refusal{1, &negative}, Refusal{3, &broken}}) {
    EXPECT_EQ(LibQuote_ReqSubscribe(99, r.kinds, r.codes), -1);
  }
  EXPECT_EQ(LibQuote_ReqUnsubscribe(99, nullptr), -1);

  const char codes[2][32] = {"600000.SH", "000001.SZ"};
  ASSERT_EQ(api->ReqSubQuote(5, 1 | 4, 0, codes, 2, "", ""), 0);
  // The day ends with the 09:32:00 snapshots.
  auto closed = [](const std::vector<SpiEvent>& events) {
    int closing = 0;
    for (const SpiEvent& e : events) {
      closing += e.op == "OnRtnMarket" && e.As<Corvane::MD_Market>().nTime == 93200000;
    }
    return closing == 2;
  };
  ASSERT_TRUE(WaitUntil(spi, closed));

  std::vector<SpiEvent> events = spi.Events();
  // The two logins' OnConnect and OnRtnUserInfo come first, then the answer.
  ASSERT_GE(events.size(), 5u);
  const SpiEvent& answer = events[4];
  ASSERT_EQ(answer.op, "OnRspSubQuote");
  EXPECT_EQ(answer.values[0], 5);
  EXPECT_EQ(answer.values[5], 0);
  EXPECT_EQ(answer.texts[2], "OK");

  struct Sums {
    int64_t volume = 0, turnover = 0, trades = 0, snapshots = 0;
    int64_t lastVolume = 0, lastTurnover = 0;  // of the latest snapshot
    std::string code;
  };
  std::map<std::string, Sums> sums;
  for (const SpiEvent& e : events) {
    if (e.op == "OnRtnMarket") {
      const auto& m = e.As<Corvane::MD_Market>();
      EXPECT_EQ(e.values[0], 5);
      Sums& s = sums[m.szWindCode];
      ++s.snapshots;
      s.lastVolume = m.iVolume;  // copied: the record is byte-packed
      s.lastTurnover = m.iTurnover;
      s.code = m.szCode;
    } else if (e.op == "OnRtnTransaction") {
      const auto& t = e.As<Corvane::MD_Transaction>();
      EXPECT_EQ(e.values[0], 5);
      EXPECT_TRUE(t.nBSFlag == 'B' || t.nBSFlag == 'S');
      Sums& s = sums[t.szWindCode];
      ++s.trades;
      s.volume += t.nVolume;
      s.turnover += static_cast<int64_t>(t.nPrice) * t.nVolume;
    }
  }
  ASSERT_EQ(sums.size(), 2u);
  for (const char* name : {"600000.SH", "000001.SZ"}) {
    SCOPED_TRACE(name);
    const Sums& s = sums[name];
    EXPECT_EQ(s.snapshots, 41);  // every 3 s from 09:30:00 to 09:32:00
    EXPECT_GT(s.trades, 0);
    EXPECT_EQ(s.lastVolume, s.volume);
    EXPECT_EQ(s.lastTurnover, s.turnover);
    EXPECT_EQ(s.code, std::string(name, 6));
  }

  ASSERT_EQ(api->ReqSubQuote(6, 0, 0, codes, 2, "", ""), 0);
  // Short codes reach the library with NUL padding, which is not part of them.
  const char shortCodes[2][32] = {"1234", "56"};
  ASSERT_EQ(api->ReqSubQuote(7, 1, 0, shortCodes, 2, "", ""), 0);
  ASSERT_TRUE(WaitUntil(spi, [](auto& events) { return CountOf(events, "OnRspSubQuote") == 3; }));
  std::vector<std::string> answers;
  for (const SpiEvent& e : spi.Events()) {
    if (e.op == "OnRspSubQuote") {
      answers.push_back(std::to_string(e.values[0]) + " " + std::to_string(e.values[1]) + " " +
                        std::to_string(e.values[5]) + " " + e.texts[2]);
    }
  }
  EXPECT_EQ(answers,
            (std::vector<std::string>{"5 1 0 OK", "6 0 0 OK", "7 1 2 unknown codes: 1234, 56"}));
  Corvane::ZR_QuantApi::deleteApi(api);
}

}  // namespace
