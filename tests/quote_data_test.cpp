// Level-2 market data: payloads encoded with the schema's classes, fired
// through the quote library's market-data callback, and the records (or the
// absence of a call) the client sees.

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "ZR_QuantApi.h"
#include "fake_gateways.h"
#include "gateway_events.h"
#include "quote_messages.h"
#include "recording_spi.h"
#include "veltrane_counters.h"

using namespace Corvane;
using testing_support::AppendKey;
using testing_support::Encode;
using testing_support::FireQuote;
using testing_support::RecordingSpi;
using testing_support::SpiEvent;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr int kWireVarint = 0;
constexpr int kWireFixed64 = 1;
constexpr int kWireLengthDelimited = 2;

class QuoteData : public ::testing::Test {
 protected:
  void SetUp() override {
    api_ = ZR_QuantApi::createApi(&spi_, false, ZR_QuantTdApp_Default, ZR_QuantMdApp_Level2);
  }
  void TearDown() override { ZR_QuantApi::deleteApi(api_); }

  // Fires one market-data event on the gateway thread and returns what the
  // client received.
  std::vector<SpiEvent> Fire(const char* typeName, const std::string& payload, int32_t reqId = 7,
                             int32_t length = -2) {
    const size_t before = spi_.Events().size();
    const int32_t sent = length == -2 ? static_cast<int32_t>(payload.size()) : length;
    FireQuote([&](const QuoteCallbacks& quote) {
      quote.onData(reqId, 0, 0, typeName, payload.data(), sent);
    });
    const std::vector<SpiEvent> all = spi_.Events();
    return std::vector<SpiEvent>(all.begin() + static_cast<long>(before), all.end());
  }

  RecordingSpi spi_;
  ZR_QuantApi* api_ = nullptr;
};

void Text(char (&field)[32], const std::string& text) {
  std::memset(field, 0, sizeof field);
  std::memcpy(field, text.data(), text.size());
}

MD_Market Market(const std::string& code, const char* suffix) {
  MD_Market market;
  std::memset(&market, 0, sizeof market);
  Text(market.szWindCode, code + suffix);
  Text(market.szCode, code);
  return market;
}

// Ten levels into the array at `offset`, by bytes: a packed field is never
// bound to a reference.
void Levels(MD_Market& market, size_t offset, const std::array<int32_t, 10>& values) {
  std::memcpy(reinterpret_cast<char*>(&market) + offset, values.data(), sizeof values);
}

// The record of ShanghaiSnapshot(), written out from its values.
MD_Market ShanghaiMarket() {
  MD_Market m = Market("600000", ".SH");
  m.nTime = 93000120;
  m.nPreClose = 122000;
  m.nOpen = 122500;
  m.nHigh = 125000;
  m.nLow = 121000;
  m.nMatch = 123400;
  Levels(m, offsetof(MD_Market, nAskPrice),
         {123500, 123600, 123700, 123800, 123900, 124000, 124100, 124200, 124300, 124400});
  Levels(m, offsetof(MD_Market, nAskVol),
         {1100, 1200, 1300, 1400, 1500, 1600, 1700, 1800, 1900, 2000});
  Levels(m, offsetof(MD_Market, nBidPrice),
         {123400, 123300, 123200, 123100, 123000, 122900, 122800, 122700, 122600, 122500});
  Levels(m, offsetof(MD_Market, nBidVol),
         {2100, 2200, 2300, 2400, 2500, 2600, 2700, 2800, 2900, 3000});
  m.iVolume = 25000000;
  m.iTurnover = 3085000002500;
  return m;
}

// The record of ShenzhenSnapshot(): volumes lose their fractions, the total
// rounds.
MD_Market ShenzhenMarket() {
  MD_Market m = Market("000001", ".SZ");
  m.nTime = 145703250;
  m.nPreClose = 100000;
  m.nOpen = 100100;
  m.nHigh = 102000;
  m.nLow = 99500;
  m.nMatch = 101250;
  Levels(m, offsetof(MD_Market, nAskPrice),
         {101300, 101400, 101500, 101600, 101700, 101800, 101900, 102000, 102100, 102200});
  Levels(m, offsetof(MD_Market, nAskVol), {100, 200, 300, 400, 500, 600, 700, 800, 900, 1000});
  Levels(m, offsetof(MD_Market, nBidPrice),
         {101200, 101100, 101000, 100900, 100800, 100700, 100600, 100500, 100400, 100300});
  Levels(m, offsetof(MD_Market, nBidVol),
         {1100, 1200, 1300, 1400, 1500, 1600, 1700, 1800, 1900, 2000});
  m.iVolume = 2500000000;
  m.iTurnover = 253125000005000;
  return m;
}

MD_Transaction Trade(const std::string& code, const char* suffix, int32_t time, int32_t price,
                     int32_t volume, int32_t turnover, int32_t flag) {
  MD_Transaction t;
  std::memset(&t, 0, sizeof t);
  Text(t.szWindCode, code + suffix);
  Text(t.szCode, code);
  t.nTime = time;
  t.nPrice = price;
  t.nVolume = volume;
  t.nTurnover = turnover;
  t.nBSFlag = flag;
  return t;
}

// The records are byte-packed: fields are compared by value (unary +), never
// bound to references.
void ExpectSame(const MD_Market& actual, const MD_Market& expected) {
  EXPECT_STREQ(actual.szWindCode, expected.szWindCode);
  EXPECT_STREQ(actual.szCode, expected.szCode);
  EXPECT_EQ(+actual.nTime, +expected.nTime);
  EXPECT_EQ(+actual.nPreClose, +expected.nPreClose);
  EXPECT_EQ(+actual.nOpen, +expected.nOpen);
  EXPECT_EQ(+actual.nHigh, +expected.nHigh);
  EXPECT_EQ(+actual.nLow, +expected.nLow);
  EXPECT_EQ(+actual.nMatch, +expected.nMatch);
  for (int k = 0; k < 10; ++k) {
    SCOPED_TRACE("level " + std::to_string(k + 1));
    EXPECT_EQ(+actual.nAskPrice[k], +expected.nAskPrice[k]);
    EXPECT_EQ(+actual.nAskVol[k], +expected.nAskVol[k]);
    EXPECT_EQ(+actual.nBidPrice[k], +expected.nBidPrice[k]);
    EXPECT_EQ(+actual.nBidVol[k], +expected.nBidVol[k]);
  }
  EXPECT_EQ(+actual.iVolume, +expected.iVolume);
  EXPECT_EQ(+actual.iTurnover, +expected.iTurnover);
  // Everything else, reserved fields and the codes' padding included.
  EXPECT_EQ(std::memcmp(&actual, &expected, sizeof actual), 0);
}

void ExpectSame(const MD_Transaction& actual, const MD_Transaction& expected) {
  EXPECT_STREQ(actual.szWindCode, expected.szWindCode);
  EXPECT_STREQ(actual.szCode, expected.szCode);
  EXPECT_EQ(+actual.nTime, +expected.nTime);
  EXPECT_EQ(+actual.nPrice, +expected.nPrice);
  EXPECT_EQ(+actual.nVolume, +expected.nVolume);
  EXPECT_EQ(+actual.nTurnover, +expected.nTurnover);
  EXPECT_EQ(+actual.nBSFlag, +expected.nBSFlag);
  EXPECT_EQ(std::memcmp(&actual, &expected, sizeof actual), 0);
}

// A Shanghai snapshot whose repeated fields come one element per tag, as an
// older encoder writes them, rather than packed.
std::string ShanghaiSnapshotUnpacked() {
  lmvproto::SSEL2_Quotation snapshot = testing_support::ShanghaiSnapshot();
  snapshot.clear_extralist78();
  snapshot.clear_extralist111();
  std::string bytes = Encode(snapshot);
  for (int field : {78, 78, 111}) {
    AppendKey(bytes, field, kWireVarint);
    bytes.push_back(9);
  }
  return bytes;
}

std::string ShenzhenSnapshotUnpacked() {
  lmvproto::SZSEL2_Quotation snapshot = testing_support::ShenzhenSnapshot();
  snapshot.clear_extralist59();
  std::string bytes = Encode(snapshot);
  const double element = 1.5;
  AppendKey(bytes, 59, kWireFixed64);
  bytes.append(reinterpret_cast<const char*>(&element), sizeof element);
  return bytes;
}

// LastPrice (field 10, a double) sent as a varint: kept as an unknown field,
// the price stays unset.
std::string ShanghaiLastPriceAsVarint() {
  lmvproto::SSEL2_Quotation snapshot = testing_support::ShanghaiSnapshot();
  snapshot.clear_lastprice();
  std::string bytes = Encode(snapshot);
  AppendKey(bytes, 10, kWireVarint);
  bytes.push_back(42);
  return bytes;
}

std::string ShanghaiOutOfRange() {
  lmvproto::SSEL2_Quotation m;
  m.set_symbol("600000");
  m.set_lastprice(1e10);
  m.set_precloseprice(-1e10);
  m.set_highprice(std::nan(""));
  m.set_lowprice(kInf);
  m.set_openprice(214748.3647);  // the largest that fits
  m.set_askprice01(214748.3648);
  m.set_askvolume01(5000000000);
  m.set_bidvolume01(-5000000000);
  m.set_totalvolume(std::numeric_limits<int64_t>::max());
  m.set_totalamount(kInf);
  return Encode(m);
}

MD_Market ShanghaiOutOfRangeMarket() {
  MD_Market m = Market("600000", ".SH");
  m.nMatch = INT32_MAX;
  m.nPreClose = INT32_MIN;
  m.nHigh = 0;
  m.nLow = INT32_MAX;
  m.nOpen = 2147483647;
  m.nAskPrice[0] = INT32_MAX;
  m.nAskVol[0] = INT32_MAX;
  m.nBidVol[0] = INT32_MIN;
  m.iVolume = INT64_MAX;
  m.iTurnover = INT64_MAX;
  return m;
}

std::string ShenzhenOutOfRange() {
  lmvproto::SZSEL2_Quotation m;
  m.set_symbol("000001");
  m.set_time(int64_t{1} << 40);
  m.set_askvolume01(1e12);
  m.set_bidvolume01(-kInf);
  m.set_askvolume02(std::nan(""));
  m.set_totalvolume(1e30);
  m.set_totalamount(-1e30);
  return Encode(m);
}

MD_Market ShenzhenOutOfRangeMarket() {
  MD_Market m = Market("000001", ".SZ");
  m.nTime = INT32_MAX;
  m.nAskVol[0] = INT32_MAX;
  m.nBidVol[0] = INT32_MIN;
  m.iVolume = INT64_MAX;
  m.iTurnover = INT64_MIN;
  return m;
}

std::string ShanghaiWithSymbol(const std::string& symbol) {
  lmvproto::SSEL2_Quotation m;
  m.set_symbol(symbol);
  m.set_lastprice(12.34);
  return Encode(m);
}

MD_Market MarketWithCodes(const std::string& windCode, const std::string& code) {
  MD_Market m = Market("", "");
  Text(m.szWindCode, windCode);
  Text(m.szCode, code);
  m.nMatch = 123400;
  return m;
}

TEST_F(QuoteData, SnapshotsBecomeMarketRecordsFieldByField) {
  const std::string longSymbol(40, '7');
  const struct {
    const char* name;
    const char* typeName;
    std::string payload;
    MD_Market expected;
  } cases[] = {
      {"Shanghai", "SSEL2_Quotation", Encode(testing_support::ShanghaiSnapshot()),
       ShanghaiMarket()},
      {"Shenzhen", "SZSEL2_Quotation", Encode(testing_support::ShenzhenSnapshot()),
       ShenzhenMarket()},
      {"Shanghai, repeated fields unpacked", "SSEL2_Quotation", ShanghaiSnapshotUnpacked(),
       ShanghaiMarket()},
      {"Shenzhen, repeated field unpacked", "SZSEL2_Quotation", ShenzhenSnapshotUnpacked(),
       ShenzhenMarket()},
      {"a field with the wrong wire type is not read", "SSEL2_Quotation",
       ShanghaiLastPriceAsVarint(),
       [] {
         MD_Market m = ShanghaiMarket();
         m.nMatch = 0;
         return m;
       }()},
      {"empty payload, Shanghai", "SSEL2_Quotation", "", Market("", ".SH")},
      {"empty payload, Shenzhen", "SZSEL2_Quotation", "", Market("", ".SZ")},
      {"prices of 0 are not on the wire", "SSEL2_Quotation", ShanghaiWithSymbol("600000"),
       MarketWithCodes("600000.SH", "600000")},
      {"out of range, Shanghai", "SSEL2_Quotation", ShanghaiOutOfRange(),
       ShanghaiOutOfRangeMarket()},
      {"out of range, Shenzhen", "SZSEL2_Quotation", ShenzhenOutOfRange(),
       ShenzhenOutOfRangeMarket()},
      {"long Symbol: cut, suffix kept", "SSEL2_Quotation", ShanghaiWithSymbol(longSymbol),
       MarketWithCodes(std::string(28, '7') + ".SH", std::string(31, '7'))},
      {"Symbol of 28 fits whole", "SSEL2_Quotation", ShanghaiWithSymbol(std::string(28, '1')),
       MarketWithCodes(std::string(28, '1') + ".SH", std::string(28, '1'))},
      {"Symbol holding a NUL ends there", "SSEL2_Quotation",
       ShanghaiWithSymbol(std::string("600\0001", 5)), MarketWithCodes("600.SH", "600")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<SpiEvent> events = Fire(c.typeName, c.payload);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].op, "OnRtnMarket");
    EXPECT_EQ(events[0].values, std::vector<int64_t>{7});
    EXPECT_EQ(events[0].thread, fake::GatewayThreadId());
    ExpectSame(events[0].As<MD_Market>(), c.expected);
  }
}

lmvproto::SSEL2_Transaction ShanghaiTradeWith(int32_t flag, uint32_t volume) {
  lmvproto::SSEL2_Transaction trade = testing_support::ShanghaiTrade();
  trade.set_buysellflag(flag);
  trade.set_tradevolume(volume);
  return trade;
}

TEST_F(QuoteData, TradesBecomeTransactionRecordsFieldByField) {
  const int32_t kBuy = 'B', kSell = 'S';
  lmvproto::SZSEL2_Transaction hugeShenzhen = testing_support::ShenzhenTrade();
  hugeShenzhen.set_tradevolume(3e9);
  hugeShenzhen.set_tradeprice(-kInf);
  const struct {
    const char* name;
    const char* typeName;
    std::string payload;
    MD_Transaction expected;
  } cases[] = {
      {"Shanghai buy of 300 at 12.34", "SSEL2_Transaction",
       Encode(testing_support::ShanghaiTrade()),
       Trade("600000", ".SH", 93001500, 123400, 300, 3702, kBuy)},
      {"Shenzhen sell of 1500.5 at 10.125", "SZSEL2_Transaction",
       Encode(testing_support::ShenzhenTrade()),
       Trade("000001", ".SZ", 100000010, 101250, 1500, 15193, kSell)},
      {"flag 0 is a sell", "SSEL2_Transaction", Encode(ShanghaiTradeWith(0, 300)),
       Trade("600000", ".SH", 93001500, 123400, 300, 3702, kSell)},
      {"flag 2 is a sell", "SSEL2_Transaction", Encode(ShanghaiTradeWith(2, 300)),
       Trade("600000", ".SH", 93001500, 123400, 300, 3702, kSell)},
      {"flag -1 is a sell", "SSEL2_Transaction", Encode(ShanghaiTradeWith(-1, 300)),
       Trade("600000", ".SH", 93001500, 123400, 300, 3702, kSell)},
      {"a volume above 32 bits saturates", "SSEL2_Transaction",
       Encode(ShanghaiTradeWith(1, 4000000000u)),
       Trade("600000", ".SH", 93001500, 123400, INT32_MAX, INT32_MAX, kBuy)},
      {"Shenzhen out of range", "SZSEL2_Transaction", Encode(hugeShenzhen),
       Trade("000001", ".SZ", 100000010, INT32_MIN, INT32_MAX, INT32_MIN, kSell)},
      {"empty payload", "SZSEL2_Transaction", "", Trade("", ".SZ", 0, 0, 0, 0, kSell)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<SpiEvent> events = Fire(c.typeName, c.payload, -3);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].op, "OnRtnTransaction");
    EXPECT_EQ(events[0].values, std::vector<int64_t>{-3});
    ExpectSame(events[0].As<MD_Transaction>(), c.expected);
  }
}

std::string Truncated(std::string bytes) {
  bytes.pop_back();
  return bytes;
}

// A Shanghai trade whose Symbol is not UTF-8, after its price.
std::string TradeWithSymbolBytes(const std::string& symbol) {
  lmvproto::SSEL2_Transaction trade;
  trade.set_tradeprice(12.34);
  std::string bytes = Encode(trade);
  AppendKey(bytes, 7, kWireLengthDelimited);
  bytes.push_back(static_cast<char>(symbol.size()));
  bytes += symbol;
  return bytes;
}

TEST_F(QuoteData, OtherTypesAndBrokenPayloadsReachNoClient) {
  const std::string snapshot = Encode(testing_support::ShanghaiSnapshot());
  const struct {
    const char* name;
    const char* typeName;
    std::string payload;
    int32_t length;  // -2: the payload's own
    bool counted;    // as an undecoded message
  } cases[] = {
      {"index", "SSEL2_Index", "", -2, false},
      {"static data", "SZSEL2_Static", "", -2, false},
      {"lower case", "ssel2_quotation", snapshot, -2, false},
      {"another case", "SSEL2_QUOTATION", snapshot, -2, false},
      {"trailing space", "SSEL2_Quotation ", snapshot, -2, false},
      {"prefix only", "SSEL2_Quot", snapshot, -2, false},
      {"empty name", "", snapshot, -2, false},
      {"no name", nullptr, snapshot, -2, false},
      {"truncated snapshot", "SSEL2_Quotation", Truncated(snapshot), -2, true},
      {"truncated trade", "SZSEL2_Transaction", Truncated(Encode(testing_support::ShenzhenTrade())),
       -2, true},
      {"Symbol not UTF-8", "SSEL2_Transaction", TradeWithSymbolBytes("60\xff\xfe"), -2, true},
      {"Symbol with a cut UTF-8 sequence", "SZSEL2_Quotation", "\x22\x02\xe4\xb8", -2, true},
      {"not protobuf", "SZSEL2_Quotation", "\xff\xff\xff\xff", -2, true},
      {"negative length", "SSEL2_Quotation", snapshot, -1, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const uint64_t before = veltrane::UndecodedQuoteMessages();
    EXPECT_TRUE(Fire(c.typeName, c.payload, 7, c.length).empty());
    EXPECT_EQ(veltrane::UndecodedQuoteMessages() - before, c.counted ? 1u : 0u);
  }
  // The same Symbol as valid UTF-8 does reach the client.
  EXPECT_EQ(Fire("SSEL2_Transaction", TradeWithSymbolBytes("60\xe4\xb8\xad")).size(), 1u);
}

TEST_F(QuoteData, WithoutASpiNothingIsDecodedOrCounted) {
  ZR_QuantApi* quiet =
      ZR_QuantApi::createApi(nullptr, false, ZR_QuantTdApp_Default, ZR_QuantMdApp_Level2);
  const uint64_t before = veltrane::UndecodedQuoteMessages();
  FireQuote([](const QuoteCallbacks& quote) {
    const std::string broken = "\xff\xff";
    quote.onData(1, 0, 0, "SSEL2_Quotation", broken.data(), 2);
  });
  EXPECT_EQ(veltrane::UndecodedQuoteMessages(), before);
  EXPECT_TRUE(spi_.Events().empty());
  ZR_QuantApi::deleteApi(quiet);
}

}  // namespace
