// Readable text of Level-2 messages, read field by field from the wire so
// that the tool shows what is on the tape, not what a decoder makes of it.

#include "tape_text.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "payload_fields.h"
#include "trading_day.h"

namespace sim {
namespace {

// Texts from a tape as they are, but with bytes that are not printable
// ASCII as \xNN, so that every message stays on one line.
std::string Printable(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      out += c;
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned char>(c));
      out += escaped;
    }
  }
  return out;
}

// Up to four decimals, at least two: 10.5 -> "10.50", 10.125 -> "10.125".
std::string PriceText(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.4f", value);
  size_t length = std::strlen(text);
  while (length > 0 && text[length - 1] == '0' && length >= 3 && text[length - 3] != '.') {
    --length;
  }
  return std::string(text, length);
}

std::string VolumeText(double value) {
  char text[64];
  if (value == static_cast<double>(static_cast<int64_t>(value))) {
    std::snprintf(text, sizeof text, "%" PRId64, static_cast<int64_t>(value));
  } else {
    std::snprintf(text, sizeof text, "%.4f", value);
  }
  return text;
}

std::string Levels(const FieldTable& fields, int first) {
  std::string text;
  for (int k = 0; k < kLevels; ++k) {
    double volume = fields.Number(first + 3 * k + 1);
    if (volume == 0) continue;
    text += (text.empty() ? "" : ",") + PriceText(fields.Number(first + 3 * k)) + "x" +
            VolumeText(volume);
  }
  return text.empty() ? "-" : text;
}

std::string_view PhaseOf(const FieldTable& f, const SnapshotLayout& l) {
  auto found = f.byNumber.find(l.phase);
  return found == f.byNumber.end() || !found->second.IsBytes() ? std::string_view()
                                                               : found->second.bytes;
}

// A call auction's snapshot carries its indicative uncross in its first
// levels: both at the price with the matched volume, then what one side
// leaves unmatched there.
std::string DescribeCall(const FieldTable& f, const SnapshotLayout& l) {
  double bid = f.Number(l.firstBid);
  double ask = f.Number(l.firstAsk);
  if (bid == 0 || bid != ask) return " indicative=none";
  std::string text = " indicative=" + PriceText(bid) + "x" + VolumeText(f.Number(l.firstBid + 1));
  for (auto [first, side] : {std::pair{l.firstBid, "buy"}, std::pair{l.firstAsk, "sell"}}) {
    if (f.Number(first + 3) == bid && f.Number(first + 4) > 0) {
      text += std::string(" unmatched=") + side + ":" + VolumeText(f.Number(first + 4));
    }
  }
  return text;
}

std::string DescribeSnapshot(const FieldTable& f, const SnapshotLayout& l) {
  std::string text =
      "last=" + PriceText(f.Number(l.last)) + " open=" + PriceText(f.Number(l.open)) +
      " high=" + PriceText(f.Number(l.high)) + " low=" + PriceText(f.Number(l.low)) +
      " pre=" + PriceText(f.Number(l.preClose)) + " volume=" + VolumeText(f.Number(l.volume)) +
      " amount=" + PriceText(f.Number(l.amount)) + " bids=" + Levels(f, l.firstBid) +
      " asks=" + Levels(f, l.firstAsk);
  std::string_view phase = PhaseOf(f, l);
  if (!phase.empty()) text += " phase=" + Printable(phase);
  if (IsCallTag(phase)) text += DescribeCall(f, l);
  return text;
}

// B: the buyer took the asks; S: the seller took the bids; U: an uncross.
std::string DescribeTrade(const FieldTable& f, const TradeLayout& l) {
  double flag = f.Number(l.flag);
  return std::string(flag == 1   ? "B "
                     : flag == 0 ? "U "
                                 : "S ") +
         VolumeText(f.Number(l.volume)) + "@" + PriceText(f.Number(l.price));
}

std::string DescribeOther(const FieldTable& fields) {
  std::string text;
  for (const WireField& field : fields.inOrder) {
    text += (text.empty() ? "#" : " #") + std::to_string(field.number) + "=";
    if (field.IsBytes()) {
      text += "\"" + Printable(field.bytes) + "\"";
    } else {
      text += field.wireType == 1 ? PriceText(field.real) : std::to_string(field.integer);
    }
  }
  return text.empty() ? "(no fields)" : text;
}

}  // namespace

std::string ClockText(int64_t time) {
  char text[32];
  std::snprintf(text, sizeof text, "%02" PRId64 ":%02" PRId64 ":%02" PRId64 ".%03" PRId64,
                time / 10000000, time / 100000 % 100, time / 1000 % 100, time % 1000);
  return text;
}

bool ReadClock(std::string_view text, int64_t& time) {
  auto digits = [&](size_t from, size_t count, int64_t& value) {
    if (from + count > text.size()) return false;
    value = 0;
    for (size_t i = from; i < from + count; ++i) {
      if (text[i] < '0' || text[i] > '9') return false;
      value = value * 10 + (text[i] - '0');
    }
    return true;
  };
  int64_t hours = 0, minutes = 0, seconds = 0, milliseconds = 0;
  if (text.find(':') == std::string_view::npos) {
    if (text.empty() || text.size() > 9 || !digits(0, text.size(), time)) return false;
    hours = time / 10000000;
    minutes = time / 100000 % 100;
    seconds = time / 1000 % 100;
  } else {
    bool clock = digits(0, 2, hours) && text.size() >= 5 && text[2] == ':' && digits(3, 2, minutes);
    if (clock && text.size() > 5) {
      clock = text[5] == ':' && digits(6, 2, seconds);
      if (clock && text.size() > 8) {
        size_t fraction = text.size() - 9;
        clock =
            text[8] == '.' && fraction >= 1 && fraction <= 3 && digits(9, fraction, milliseconds);
        for (size_t i = fraction; i < 3; ++i) milliseconds *= 10;
      }
    }
    if (!clock) return false;
    time = hours * 10000000 + minutes * 100000 + seconds * 1000 + milliseconds;
  }
  return hours < 24 && minutes < 60 && seconds < 60;
}

std::string DescribeMessage(const QuoteMessage& message) {
  FieldTable fields(message.payload);
  std::string line = ClockText(message.time) + " " + Printable(message.typeName) + " " +
                     (message.code.empty() ? "-" : Printable(message.code)) + " ";
  if (const SnapshotLayout* layout = FindSnapshotLayout(message.typeName)) {
    line += DescribeSnapshot(fields, *layout);
  } else if (const TradeLayout* layout = FindTradeLayout(message.typeName)) {
    line += DescribeTrade(fields, *layout);
  } else {
    line += DescribeOther(fields);
  }
  if (!fields.whole) line += " (malformed payload)";
  return line;
}

void TapeStats::Add(const QuoteMessage& message) {
  if (messages_ == 0) firstTime_ = message.time;
  if (messages_ > 0 && message.time < lastTime_) ++backwards_;
  ++messages_;
  payloadBytes_ += static_cast<int64_t>(message.payload.size());
  lastTime_ = message.time;
  ++types_[message.typeName];
  FieldTable fields(message.payload);
  if (!fields.whole) ++unreadable_;
  if (message.code.empty()) return;
  PerCode& code = codes_[message.code];
  if (const SnapshotLayout* layout = FindSnapshotLayout(message.typeName)) {
    ++code.snapshots;
    if (IsCallTag(PhaseOf(fields, *layout))) ++callSnapshots_;
    code.snapshotVolume = fields.Number(layout->volume);
    if (double last = fields.Number(layout->last); last != 0) code.last = last;
  } else if (const TradeLayout* layout = FindTradeLayout(message.typeName)) {
    ++code.trades;
    code.tradedVolume += fields.Number(layout->volume);
    if (fields.Number(layout->flag) == 0) {
      ++uncrossTrades_;
      Uncrossed& uncross = code.uncrosses[message.time];
      uncross.price = fields.Number(layout->price);
      uncross.volume += fields.Number(layout->volume);
    }
    code.last = fields.Number(layout->price);
  }
}

std::string TapeStats::Report() const {
  char line[256];
  std::string report;
  std::snprintf(line, sizeof line, "messages       %" PRId64 " (%" PRId64 " payload bytes)\n",
                messages_, payloadBytes_);
  report += line;
  if (messages_ > 0) {
    report += "exchange time  " + ClockText(firstTime_) + " to " + ClockText(lastTime_) + "\n";
  }
  std::snprintf(line, sizeof line,
                "out of order   %" PRId64
                " (earlier than the message before)\n"
                "malformed      %" PRId64 "\n",
                backwards_, unreadable_);
  report += line;
  report += "by type\n";
  for (const auto& [type, count] : types_) {
    std::snprintf(line, sizeof line, "  %-20s %12" PRId64 "\n", Printable(type).c_str(), count);
    report += line;
  }
  report +=
      "by code          snapshots       trades  traded volume  snapshot volume         last\n";
  for (const auto& [name, code] : codes_) {
    std::snprintf(line, sizeof line, "  %-12s %12" PRId64 " %12" PRId64 " %14s %16s %12s\n",
                  Printable(name).c_str(), code.snapshots, code.trades,
                  VolumeText(code.tradedVolume).c_str(), VolumeText(code.snapshotVolume).c_str(),
                  PriceText(code.last).c_str());
    report += line;
  }
  std::snprintf(line, sizeof line,
                "call auctions  %" PRId64 " snapshots in a call, %" PRId64
                " uncross trades (BuySellFlag 0)\n",
                callSnapshots_, uncrossTrades_);
  report += line;
  for (const auto& [name, code] : codes_) {
    for (const auto& [time, uncross] : code.uncrosses) {
      report += "  " + Printable(name) + " uncross " + ClockText(time) + " " +
                VolumeText(uncross.volume) + "@" + PriceText(uncross.price) + "\n";
    }
  }
  return report;
}

}  // namespace sim
