#include "quote_events.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <type_traits>
#include <utility>

#include "saturate.h"

namespace veltrane {
namespace {

using lmvproto::SSEL2_Quotation;
using lmvproto::SZSEL2_Quotation;

constexpr char kShanghai[] = ".SH";
constexpr char kShenzhen[] = ".SZ";
constexpr int32_t kBuy = 'B';
constexpr int32_t kSell = 'S';

// One price level of a snapshot: the accessors of its price and volume.
template <class Snapshot, class Volume>
struct BookLevel {
  double (Snapshot::*price)() const;
  Volume (Snapshot::*volume)() const;
};

template <class Snapshot, class Volume>
struct Book {
  BookLevel<Snapshot, Volume> asks[10];
  BookLevel<Snapshot, Volume> bids[10];
};

constexpr Book<SSEL2_Quotation, int64_t> kShanghaiBook{
    {{&SSEL2_Quotation::askprice01, &SSEL2_Quotation::askvolume01},
     {&SSEL2_Quotation::askprice02, &SSEL2_Quotation::askvolume02},
     {&SSEL2_Quotation::askprice03, &SSEL2_Quotation::askvolume03},
     {&SSEL2_Quotation::askprice04, &SSEL2_Quotation::askvolume04},
     {&SSEL2_Quotation::askprice05, &SSEL2_Quotation::askvolume05},
     {&SSEL2_Quotation::askprice06, &SSEL2_Quotation::askvolume06},
     {&SSEL2_Quotation::askprice07, &SSEL2_Quotation::askvolume07},
     {&SSEL2_Quotation::askprice08, &SSEL2_Quotation::askvolume08},
     {&SSEL2_Quotation::askprice09, &SSEL2_Quotation::askvolume09},
     {&SSEL2_Quotation::askprice10, &SSEL2_Quotation::askvolume10}},
    {{&SSEL2_Quotation::bidprice01, &SSEL2_Quotation::bidvolume01},
     {&SSEL2_Quotation::bidprice02, &SSEL2_Quotation::bidvolume02},
     {&SSEL2_Quotation::bidprice03, &SSEL2_Quotation::bidvolume03},
     {&SSEL2_Quotation::bidprice04, &SSEL2_Quotation::bidvolume04},
     {&SSEL2_Quotation::bidprice05, &SSEL2_Quotation::bidvolume05},
     {&SSEL2_Quotation::bidprice06, &SSEL2_Quotation::bidvolume06},
     {&SSEL2_Quotation::bidprice07, &SSEL2_Quotation::bidvolume07},
     {&SSEL2_Quotation::bidprice08, &SSEL2_Quotation::bidvolume08},
     {&SSEL2_Quotation::bidprice09, &SSEL2_Quotation::bidvolume09},
     {&SSEL2_Quotation::bidprice10, &SSEL2_Quotation::bidvolume10}}};

constexpr Book<SZSEL2_Quotation, double> kShenzhenBook{
    {{&SZSEL2_Quotation::askprice01, &SZSEL2_Quotation::askvolume01},
     {&SZSEL2_Quotation::askprice02, &SZSEL2_Quotation::askvolume02},
     {&SZSEL2_Quotation::askprice03, &SZSEL2_Quotation::askvolume03},
     {&SZSEL2_Quotation::askprice04, &SZSEL2_Quotation::askvolume04},
     {&SZSEL2_Quotation::askprice05, &SZSEL2_Quotation::askvolume05},
     {&SZSEL2_Quotation::askprice06, &SZSEL2_Quotation::askvolume06},
     {&SZSEL2_Quotation::askprice07, &SZSEL2_Quotation::askvolume07},
     {&SZSEL2_Quotation::askprice08, &SZSEL2_Quotation::askvolume08},
     {&SZSEL2_Quotation::askprice09, &SZSEL2_Quotation::askvolume09},
     {&SZSEL2_Quotation::askprice10, &SZSEL2_Quotation::askvolume10}},
    {{&SZSEL2_Quotation::bidprice01, &SZSEL2_Quotation::bidvolume01},
     {&SZSEL2_Quotation::bidprice02, &SZSEL2_Quotation::bidvolume02},
     {&SZSEL2_Quotation::bidprice03, &SZSEL2_Quotation::bidvolume03},
     {&SZSEL2_Quotation::bidprice04, &SZSEL2_Quotation::bidvolume04},
     {&SZSEL2_Quotation::bidprice05, &SZSEL2_Quotation::bidvolume05},
     {&SZSEL2_Quotation::bidprice06, &SZSEL2_Quotation::bidvolume06},
     {&SZSEL2_Quotation::bidprice07, &SZSEL2_Quotation::bidvolume07},
     {&SZSEL2_Quotation::bidprice08, &SZSEL2_Quotation::bidvolume08},
     {&SZSEL2_Quotation::bidprice09, &SZSEL2_Quotation::bidvolume09},
     {&SZSEL2_Quotation::bidprice10, &SZSEL2_Quotation::bidvolume10}}};

// The ten levels of both sides. The book is a template argument and the
// levels are unrolled, so every accessor call is direct and inlined.
template <const auto& kBook, class Snapshot, class ToVolume, size_t... K>
void FillBook(Corvane::MD_Market& market, const Snapshot& snapshot, ToVolume toVolume,
              std::index_sequence<K...>) {
  ((market.nAskPrice[K] = Price32((snapshot.*kBook.asks[K].price)()),
    market.nAskVol[K] = toVolume((snapshot.*kBook.asks[K].volume)()),
    market.nBidPrice[K] = Price32((snapshot.*kBook.bids[K].price)()),
    market.nBidVol[K] = toVolume((snapshot.*kBook.bids[K].volume)())),
   ...);
}

// In the order the library's names are matched against.
constexpr std::pair<std::string_view, QuoteType> kDecodedTypes[] = {
    {"SSEL2_Quotation", QuoteType::kShanghaiSnapshot},
    {"SZSEL2_Quotation", QuoteType::kShenzhenSnapshot},
    {"SSEL2_Transaction", QuoteType::kShanghaiTrade},
    {"SZSEL2_Transaction", QuoteType::kShenzhenTrade}};

// szWindCode and szCode from a Symbol: the bare code, cut where needed so
// that both fields stay terminated. The suffix is always kept whole, so a cut
// szWindCode still names its exchange. Up to the Symbol's first NUL: it may
// hold one, the fields cannot. Codes are a few bytes long, so a plain loop
// beats calls to strnlen and memcpy.
template <size_t kSuffixSize>
void FillCodes(char (&windCode)[32], char (&code)[32], const std::string& symbol,
               const char (&suffix)[kSuffixSize]) {
  constexpr size_t kWindLimit = sizeof windCode - kSuffixSize;
  const char* text = symbol.data();
  const size_t size = std::min(symbol.size(), sizeof code - 1);
  size_t length = 0;
  for (; length < size && text[length] != '\0'; ++length) {
    code[length] = text[length];
    if (length < kWindLimit) windCode[length] = text[length];
  }
  code[length] = '\0';
  std::memcpy(windCode + std::min(length, kWindLimit), suffix, kSuffixSize);
}

// A record with every byte zero, cleared in pieces of 64 bytes: the compiler
// turns each piece into a few vector stores, while one memset of a whole
// record becomes a `rep stos` whose start-up alone costs about as much as
// the rest of a trade's translation.
template <class Record, size_t... Piece>
Record ZeroedRecord(std::index_sequence<Piece...>) {
  static_assert(std::is_trivial_v<Record>, "records are plain bytes");
  constexpr size_t kPiece = 64;
  Record record;
  auto* bytes = reinterpret_cast<unsigned char*>(&record);
  (std::memset(bytes + Piece * kPiece, 0, std::min(kPiece, sizeof record - Piece * kPiece)), ...);
  return record;
}

template <class Record>
Record ZeroedRecord() {
  return ZeroedRecord<Record>(std::make_index_sequence<(sizeof(Record) + 63) / 64>());
}

int32_t BuySell(int32_t flag) { return flag == 1 ? kBuy : kSell; }

// A trade's value in whole currency units, rounded: from the volume as sent,
// a Shenzhen volume's fraction included.
int32_t Turnover32(double volume, double price) {
  return SaturatingTruncation<int32_t>(volume * price + 0.5);
}

}  // namespace

QuoteType QuoteTypeOf(const char* typeName) {
  if (typeName == nullptr) return QuoteType::kNotDecoded;
  const std::string_view name(typeName);
  for (const auto& [decoded, type] : kDecodedTypes) {
    if (name == decoded) return type;
  }
  return QuoteType::kNotDecoded;
}

int32_t Price32(double price) { return SaturatingTruncation<int32_t>(price * 10000 + 0.5); }
int64_t Amount64(double amount) { return SaturatingTruncation<int64_t>(amount * 10000 + 0.5); }
int32_t Truncate32(double value) { return SaturatingTruncation<int32_t>(value); }
int32_t Narrow32(int64_t value) { return SaturatingNarrowing<int32_t>(value); }
int64_t Round64(double value) { return SaturatingTruncation<int64_t>(value + 0.5); }

Corvane::MD_Market MarketFromShanghai(const SSEL2_Quotation& snapshot) {
  auto market = ZeroedRecord<Corvane::MD_Market>();
  FillCodes(market.szWindCode, market.szCode, snapshot.symbol(), kShanghai);
  market.nTime = snapshot.time();
  market.nPreClose = Price32(snapshot.precloseprice());
  market.nOpen = Price32(snapshot.openprice());
  market.nHigh = Price32(snapshot.highprice());
  market.nLow = Price32(snapshot.lowprice());
  market.nMatch = Price32(snapshot.lastprice());
  FillBook<kShanghaiBook>(market, snapshot, Narrow32, std::make_index_sequence<10>());
  market.iVolume = snapshot.totalvolume();
  market.iTurnover = Amount64(snapshot.totalamount());
  return market;
}

Corvane::MD_Market MarketFromShenzhen(const SZSEL2_Quotation& snapshot) {
  auto market = ZeroedRecord<Corvane::MD_Market>();
  FillCodes(market.szWindCode, market.szCode, snapshot.symbol(), kShenzhen);
  market.nTime = Narrow32(snapshot.time());
  market.nPreClose = Price32(snapshot.precloseprice());
  market.nOpen = Price32(snapshot.openprice());
  market.nHigh = Price32(snapshot.highprice());
  market.nLow = Price32(snapshot.lowprice());
  market.nMatch = Price32(snapshot.lastprice());
  // Volumes come as doubles: a fraction of a share is dropped from a level,
  // but rounded in the day's total.
  FillBook<kShenzhenBook>(market, snapshot, Truncate32, std::make_index_sequence<10>());
  market.iVolume = Round64(snapshot.totalvolume());
  market.iTurnover = Amount64(snapshot.totalamount());
  return market;
}

Corvane::MD_Transaction TradeFromShanghai(const lmvproto::SSEL2_Transaction& trade) {
  auto record = ZeroedRecord<Corvane::MD_Transaction>();
  FillCodes(record.szWindCode, record.szCode, trade.symbol(), kShanghai);
  record.nTime = trade.time();
  record.nPrice = Price32(trade.tradeprice());
  record.nVolume = Narrow32(trade.tradevolume());
  record.nTurnover = Turnover32(trade.tradevolume(), trade.tradeprice());
  record.nBSFlag = BuySell(trade.buysellflag());
  return record;
}

Corvane::MD_Transaction TradeFromShenzhen(const lmvproto::SZSEL2_Transaction& trade) {
  auto record = ZeroedRecord<Corvane::MD_Transaction>();
  FillCodes(record.szWindCode, record.szCode, trade.symbol(), kShenzhen);
  record.nTime = Narrow32(trade.time());
  record.nPrice = Price32(trade.tradeprice());
  record.nVolume = Truncate32(trade.tradevolume());
  record.nTurnover = Turnover32(trade.tradevolume(), trade.tradeprice());
  record.nBSFlag = BuySell(trade.buysellflag());
  return record;
}

}  // namespace veltrane
