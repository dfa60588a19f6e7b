// Each entry of the registered callback tables, fired by the test doubles on
// their gateway thread, reaches the spi operation that belongs to its place
// in the table, with the record filled from the event.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "ZR_QuantApi.h"
#include "fake_gateways.h"
#include "gateway_events.h"
#include "recording_spi.h"

using namespace Corvane;
using testing_support::FireQuote;
using testing_support::FireTrade;
using testing_support::RecordingSpi;
using testing_support::SpiEvent;

namespace {

class Callbacks : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::Reset();
    api_ = ZR_QuantApi::createApi(&spi_, false, ZR_QuantTdApp_Default, ZR_QuantMdApp_Level2);
  }
  void TearDown() override { ZR_QuantApi::deleteApi(api_); }

  RecordingSpi spi_;
  ZR_QuantApi* api_ = nullptr;
};

const std::string kLong(200, 'x');

struct LoginCase {
  const char* name;
  std::function<void()> fire;
  int service;
  int status;            // 0: user information follows, else the warning
  std::string userText;  // errDesc of the user information
};

TEST_F(Callbacks, LoginAnswersGiveOnConnectThenUserInfoOrWarning) {
  const LoginCase cases[] = {
      {"trade ok", [] { FireTrade([](const ItgCallbacks& t) { t.onLogin(3, 0, "welcome"); }); }, 10,
       0, "welcome"},
      {"trade refused",
       [] { FireTrade([](const ItgCallbacks& t) { t.onLogin(3, 7, "bad password"); }); }, 10, 7,
       ""},
      {"trade long text",
       [] { FireTrade([](const ItgCallbacks& t) { t.onLogin(0, 0, kLong.c_str()); }); }, 10, 0,
       std::string(127, 'x')},
      {"trade null text",
       [] { FireTrade([](const ItgCallbacks& t) { t.onLogin(0, 0, nullptr); }); }, 10, 0, ""},
      {"quote ok", [] { FireQuote([](const QuoteCallbacks& q) { q.onLogin(9, 0); }); }, 0, 0, ""},
      {"quote refused", [] { FireQuote([](const QuoteCallbacks& q) { q.onLogin(9, 5); }); }, 0, 5,
       ""},
  };
  for (const LoginCase& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingSpi spi;
    dynamic_cast<TraderApiGo*>(api_)->RegisterSpi(&spi);
    c.fire();
    const std::vector<SpiEvent> events = spi.Events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].op, "OnConnect");
    EXPECT_EQ(events[0].values, std::vector<int64_t>{c.service});
    if (c.status != 0) {
      EXPECT_EQ(events[1].op, "OnRtnLoginWarn");
      EXPECT_EQ(events[1].values, std::vector<int64_t>{c.status});
      continue;
    }
    ASSERT_EQ(events[1].op, "OnRtnUserInfo");
    const ZR_QuantUserBase& user = events[1].As<ZR_QuantUserBase>();
    EXPECT_EQ(user.pInfo, 0);
    EXPECT_EQ(user.nReserved26, 2);
    EXPECT_EQ(std::string(user.errDesc), c.userText);
    EXPECT_EQ(user.errDesc[sizeof user.errDesc - 1], '\0');
  }
}

struct PositionCase {
  const char* code;
  const char* message;
  int errorId;
  int isLast;
  std::string contractCode;
  std::string errDesc;
  bool last;
};

TEST_F(Callbacks, PositionRowsCarryTheSuffixedCodeAndTheLastRowFlag) {
  const std::string longCode(40, '6');
  const PositionCase cases[] = {
      {"600000", "ok", 0, 0, "600000.SH", "ok", false},
      {"000001", "", 0, 1, "000001.SZ", "", true},
      {"300750", "no such account", 12, 5, "300750.SZ", "no such account", true},
      {"", "", 0, 1, "", "", true},
      // The suffixed code is cut to the field, terminator kept.
      {longCode.c_str(), kLong.c_str(), 0, 0, std::string(31, '6'), std::string(127, 'x'), false},
  };
  for (const PositionCase& c : cases) {
    SCOPED_TRACE(c.code);
    const size_t before = spi_.Events().size();
    FireTrade([&c](const ItgCallbacks& t) {
      t.onPosition(42, c.errorId, c.message, c.code, 1500, c.isLast);
    });
    const std::vector<SpiEvent> events = spi_.Events();
    ASSERT_EQ(events.size(), before + 1);
    const SpiEvent& event = events.back();
    EXPECT_EQ(event.op, "OnRspQryPosition");
    EXPECT_EQ(event.values, (std::vector<int64_t>{c.errorId, c.last}));
    const TD_RspQryPosition& row = event.As<TD_RspQryPosition>();
    EXPECT_EQ(row.nReqID, 42);
    EXPECT_EQ(row.nPosition, 1500);
    EXPECT_EQ(std::string(row.szContractCode), c.contractCode);
    EXPECT_EQ(std::string(row.errDesc), c.errDesc);
  }
}

TEST_F(Callbacks, CancelAnswerCarriesRequestIdTextAndNoOrderNumber) {
  FireTrade([](const ItgCallbacks& t) {
    t.onCancel(8, 0, "cancel accepted");
    t.onCancel(9, 31, kLong.c_str());
  });
  const std::vector<SpiEvent> events = spi_.Events();
  ASSERT_EQ(events.size(), 2u);
  const struct {
    int reqId;
    int errorId;
    std::string text;
  } expected[] = {{8, 0, "cancel accepted"}, {9, 31, std::string(127, 'x')}};
  for (size_t i = 0; i < events.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(events[i].op, "OnRspOrderDelete");
    EXPECT_EQ(events[i].values, std::vector<int64_t>{expected[i].errorId});
    const TD_ReqOrderDelete& answer = events[i].As<TD_ReqOrderDelete>();
    EXPECT_EQ(answer.nReqID, expected[i].reqId);
    EXPECT_EQ(answer.nOrderId, 0);
    EXPECT_EQ(std::string(answer.errDesc), expected[i].text);
  }
}

TEST_F(Callbacks, SubscriptionAnswersSayWhichKindTheyAnswer) {
  FireQuote([](const QuoteCallbacks& q) {
    q.onSubscribe(5, 0, "subscribed");
    q.onUnsubscribe(6, 0, "unsubscribed");
    q.onSubscribe(7, -3, "unknown code");
    q.onUnsubscribe(8, 2, nullptr);
  });
  const std::vector<SpiEvent> events = spi_.Events();
  const struct {
    std::vector<int64_t> values;  // nReqID, 1 or 0, 0, codes present, count, nErrorId
    std::string errDesc;
  } expected[] = {
      {{5, 1, 0, 0, 0, 0}, "subscribed"},
      {{6, 0, 0, 0, 0, 0}, "unsubscribed"},
      {{7, 1, 0, 0, 0, -3}, "unknown code"},
      {{8, 0, 0, 0, 0, 2}, ""},
  };
  ASSERT_EQ(events.size(), 4u);
  for (size_t i = 0; i < events.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(events[i].op, "OnRspSubQuote");
    EXPECT_EQ(events[i].values, expected[i].values);
    EXPECT_EQ(events[i].texts, (std::vector<std::string>{"", "", expected[i].errDesc}));
  }
}

}  // namespace
