// Readable text of Level-2 messages, read field by field from the wire so
// that the tool shows what is on the tape, not what a decoder makes of it.

#include "tape_text.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "payload_fields.h"

namespace sim {
namespace {

// Where a snapshot layout keeps its fields. Each level is three fields
// apart; its volume follows its price.
struct SnapshotLayout {
  const char* type;
  int symbol, preClose, open, high, low, last, volume, amount, firstAsk, firstBid;
};
constexpr SnapshotLayout kSnapshotLayouts[] = {
    {"SSEL2_Quotation", 5, 6, 7, 8, 9, 10, 15, 16, 47, 80},
    {"SZSEL2_Quotation", 4, 6, 7, 9, 10, 8, 16, 17, 28, 63},
};

struct TradeLayout {
  const char* type;
  int symbol, price, volume, flag;
};
constexpr TradeLayout kTradeLayouts[] = {
    {"SSEL2_Transaction", 7, 8, 9, 13},
    {"SZSEL2_Transaction", 7, 10, 11, 12},
};

template <class Layout, size_t N>
const Layout* Find(const Layout (&layouts)[N], const char* type) {
  for (const Layout& layout : layouts) {
    if (std::strcmp(layout.type, type) == 0) return &layout;
  }
  return nullptr;
}

// The fields in wire order, and the last value of each, as a parser keeps it.
struct Fields {
  std::vector<WireField> inOrder;
  std::unordered_map<int, WireField> byNumber;
  bool whole = false;

  explicit Fields(const std::string& payload) {
    whole = VisitFields(payload, [&](const WireField& field) {
      inOrder.push_back(field);
      byNumber[field.number] = field;
    });
  }
  // A number whichever way it is encoded (Shanghai volumes are varints,
  // Shenzhen's doubles); 0 when absent, as proto3 defaults.
  double Number(int number) const {
    auto found = byNumber.find(number);
    if (found == byNumber.end()) return 0;
    return found->second.wireType == 1 ? found->second.real
                                       : static_cast<double>(found->second.integer);
  }
};

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

std::string Levels(const Fields& fields, int first) {
  std::string text;
  for (int k = 0; k < 10; ++k) {
    double volume = fields.Number(first + 3 * k + 1);
    if (volume == 0) continue;
    text += (text.empty() ? "" : ",") + PriceText(fields.Number(first + 3 * k)) + "x" +
            VolumeText(volume);
  }
  return text.empty() ? "-" : text;
}

std::string DescribeSnapshot(const Fields& f, const SnapshotLayout& l) {
  return "last=" + PriceText(f.Number(l.last)) + " open=" + PriceText(f.Number(l.open)) +
         " high=" + PriceText(f.Number(l.high)) + " low=" + PriceText(f.Number(l.low)) +
         " pre=" + PriceText(f.Number(l.preClose)) + " volume=" + VolumeText(f.Number(l.volume)) +
         " amount=" + PriceText(f.Number(l.amount)) + " bids=" + Levels(f, l.firstBid) +
         " asks=" + Levels(f, l.firstAsk);
}

std::string DescribeTrade(const Fields& f, const TradeLayout& l) {
  return std::string(f.Number(l.flag) == 1 ? "B " : "S ") + VolumeText(f.Number(l.volume)) + "@" +
         PriceText(f.Number(l.price));
}

std::string DescribeOther(const Fields& fields) {
  std::string text;
  for (const WireField& field : fields.inOrder) {
    text += (text.empty() ? "#" : " #") + std::to_string(field.number) + "=";
    if (field.wireType == 2) {
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

std::string DescribeMessage(const QuoteMessage& message) {
  Fields fields(message.payload);
  std::string line = ClockText(message.time) + " " + Printable(message.typeName) + " " +
                     (message.code.empty() ? "-" : Printable(message.code)) + " ";
  if (const SnapshotLayout* layout = Find(kSnapshotLayouts, message.typeName)) {
    line += DescribeSnapshot(fields, *layout);
  } else if (const TradeLayout* layout = Find(kTradeLayouts, message.typeName)) {
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
  Fields fields(message.payload);
  if (!fields.whole) ++unreadable_;
  if (message.code.empty()) return;
  PerCode& code = codes_[message.code];
  if (const SnapshotLayout* layout = Find(kSnapshotLayouts, message.typeName)) {
    ++code.snapshots;
    code.snapshotVolume = fields.Number(layout->volume);
    if (double last = fields.Number(layout->last); last != 0) code.last = last;
  } else if (const TradeLayout* layout = Find(kTradeLayouts, message.typeName)) {
    ++code.trades;
    code.tradedVolume += fields.Number(layout->volume);
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
  return report;
}

}  // namespace sim
