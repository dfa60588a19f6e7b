// Snapshots and trades of the simulated market as Level-2 messages.

#include "quote_payloads.h"

#include <algorithm>

#include "quote.pb.h"

namespace sim {
namespace {

double Price(int64_t cents) { return static_cast<double>(cents) / 100.0; }

using Sh = lmvproto::SSEL2_Quotation;
using Sz = lmvproto::SZSEL2_Quotation;

// The setters of one side of a snapshot, level 1 first.
template <class Message, class Volume>
struct SideSetters {
  void (Message::*price[OrderBook::kDepth])(double);
  void (Message::*volume[OrderBook::kDepth])(Volume);
};

constexpr SideSetters<Sh, int64_t> kShAsks{
    {&Sh::set_askprice01, &Sh::set_askprice02, &Sh::set_askprice03, &Sh::set_askprice04,
     &Sh::set_askprice05, &Sh::set_askprice06, &Sh::set_askprice07, &Sh::set_askprice08,
     &Sh::set_askprice09, &Sh::set_askprice10},
    {&Sh::set_askvolume01, &Sh::set_askvolume02, &Sh::set_askvolume03, &Sh::set_askvolume04,
     &Sh::set_askvolume05, &Sh::set_askvolume06, &Sh::set_askvolume07, &Sh::set_askvolume08,
     &Sh::set_askvolume09, &Sh::set_askvolume10}};
constexpr SideSetters<Sh, int64_t> kShBids{
    {&Sh::set_bidprice01, &Sh::set_bidprice02, &Sh::set_bidprice03, &Sh::set_bidprice04,
     &Sh::set_bidprice05, &Sh::set_bidprice06, &Sh::set_bidprice07, &Sh::set_bidprice08,
     &Sh::set_bidprice09, &Sh::set_bidprice10},
    {&Sh::set_bidvolume01, &Sh::set_bidvolume02, &Sh::set_bidvolume03, &Sh::set_bidvolume04,
     &Sh::set_bidvolume05, &Sh::set_bidvolume06, &Sh::set_bidvolume07, &Sh::set_bidvolume08,
     &Sh::set_bidvolume09, &Sh::set_bidvolume10}};
constexpr SideSetters<Sz, double> kSzAsks{
    {&Sz::set_askprice01, &Sz::set_askprice02, &Sz::set_askprice03, &Sz::set_askprice04,
     &Sz::set_askprice05, &Sz::set_askprice06, &Sz::set_askprice07, &Sz::set_askprice08,
     &Sz::set_askprice09, &Sz::set_askprice10},
    {&Sz::set_askvolume01, &Sz::set_askvolume02, &Sz::set_askvolume03, &Sz::set_askvolume04,
     &Sz::set_askvolume05, &Sz::set_askvolume06, &Sz::set_askvolume07, &Sz::set_askvolume08,
     &Sz::set_askvolume09, &Sz::set_askvolume10}};
constexpr SideSetters<Sz, double> kSzBids{
    {&Sz::set_bidprice01, &Sz::set_bidprice02, &Sz::set_bidprice03, &Sz::set_bidprice04,
     &Sz::set_bidprice05, &Sz::set_bidprice06, &Sz::set_bidprice07, &Sz::set_bidprice08,
     &Sz::set_bidprice09, &Sz::set_bidprice10},
    {&Sz::set_bidvolume01, &Sz::set_bidvolume02, &Sz::set_bidvolume03, &Sz::set_bidvolume04,
     &Sz::set_bidvolume05, &Sz::set_bidvolume06, &Sz::set_bidvolume07, &Sz::set_bidvolume08,
     &Sz::set_bidvolume09, &Sz::set_bidvolume10}};

template <class Message, class Volume>
void SetSide(Message& message, const SideSetters<Message, Volume>& setters,
             const std::vector<PriceLevel>& levels) {
  const size_t depth = std::min<size_t>(levels.size(), OrderBook::kDepth);
  for (size_t k = 0; k < depth; ++k) {
    const PriceLevel& level = levels[k];
    auto setPrice = setters.price[k];
    auto setVolume = setters.volume[k];
    (message.*setPrice)(Price(level.price));
    (message.*setVolume)(static_cast<Volume>(level.volume));
  }
}

// The fields both snapshot layouts share by name.
template <class Message>
void SetTotals(Message& message, const std::string& code, const DayTotals& totals,
               const char* phaseTag) {
  message.set_symbol(code);
  message.set_securityphasetag(phaseTag);
  message.set_precloseprice(Price(totals.previousClose));
  message.set_openprice(Price(totals.open));
  message.set_highprice(Price(totals.high));
  message.set_lowprice(Price(totals.low));
  message.set_lastprice(Price(totals.last));
  message.set_totalamount(static_cast<double>(totals.amount) / 100.0);
}

}  // namespace

void DayTotals::Add(const PriceLevel& fill) {
  if (open == 0) open = high = low = fill.price;
  if (fill.price > high) high = fill.price;
  if (fill.price < low) low = fill.price;
  last = fill.price;
  volume += fill.volume;
  amount += fill.price * fill.volume;
}

const char* SnapshotTypeName(Exchange exchange) {
  return exchange == Exchange::kShanghai ? "SSEL2_Quotation" : "SZSEL2_Quotation";
}

const char* TradeTypeName(Exchange exchange) {
  return exchange == Exchange::kShanghai ? "SSEL2_Transaction" : "SZSEL2_Transaction";
}

void EncodeSnapshot(const Instrument& instrument, int64_t time, const DayTotals& totals,
                    const std::vector<PriceLevel>& bids, const std::vector<PriceLevel>& asks,
                    const char* phaseTag, std::string& payload) {
  if (instrument.exchange == Exchange::kShanghai) {
    Sh message;
    message.set_time(static_cast<int32_t>(time));
    SetTotals(message, instrument.code, totals, phaseTag);
    message.set_totalvolume(totals.volume);
    SetSide(message, kShAsks, asks);
    SetSide(message, kShBids, bids);
    message.SerializeToString(&payload);
  } else {
    Sz message;
    message.set_time(time);
    SetTotals(message, instrument.code, totals, phaseTag);
    message.set_totalvolume(static_cast<double>(totals.volume));
    SetSide(message, kSzAsks, asks);
    SetSide(message, kSzBids, bids);
    message.SerializeToString(&payload);
  }
}

void EncodeTrade(const Instrument& instrument, int64_t time, const PriceLevel& fill, int32_t flag,
                 std::string& payload) {
  if (instrument.exchange == Exchange::kShanghai) {
    lmvproto::SSEL2_Transaction message;
    message.set_time(static_cast<int32_t>(time));
    message.set_symbol(instrument.code);
    message.set_tradeprice(Price(fill.price));
    message.set_tradevolume(static_cast<uint32_t>(fill.volume));
    message.set_buysellflag(flag);
    message.SerializeToString(&payload);
  } else {
    lmvproto::SZSEL2_Transaction message;
    message.set_time(time);
    message.set_symbol(instrument.code);
    message.set_tradeprice(Price(fill.price));
    message.set_tradevolume(static_cast<double>(fill.volume));
    message.set_buysellflag(flag);
    message.SerializeToString(&payload);
  }
}

}  // namespace sim
