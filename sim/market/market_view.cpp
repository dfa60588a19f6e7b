// Reading books and trades off the wire for the simulated venue.

#include "market_view.h"

#include <array>
#include <cmath>

#include "payload_fields.h"

namespace sim {
namespace {

int64_t Cents(double price) { return std::llround(price * 100.0); }

// The numeric fields of a payload by number, the last of each as a parser
// keeps it; 0 when absent. Every field the venue reads is numbered below 128,
// and a flat array keeps this cheap enough to run on every message.
class Numbers {
 public:
  explicit Numbers(std::string_view payload) {
    whole_ = VisitFields(payload, [this](const WireField& field) {
      if (field.number < static_cast<int>(values_.size()) && !field.IsBytes()) {
        values_[field.number] = field.Number();
      }
    });
  }
  bool whole() const { return whole_; }
  double operator[](int number) const { return values_[number]; }

 private:
  std::array<double, 128> values_{};
  bool whole_ = false;
};

void ReadLevels(const Numbers& fields, int first, std::vector<PriceLevel>& levels) {
  levels.clear();
  for (int k = 0; k < kLevels; ++k) {
    auto volume = static_cast<int64_t>(fields[first + 3 * k + 1]);
    int64_t price = Cents(fields[first + 3 * k]);
    if (volume > 0 && price > 0) levels.push_back({price, volume});
  }
}

}  // namespace

bool ReadSnapshot(std::string_view typeName, std::string_view payload, SnapshotView& view) {
  const SnapshotLayout* layout = FindSnapshotLayout(typeName);
  if (layout == nullptr) return false;
  Numbers fields(payload);
  if (!fields.whole()) return false;
  view.previousClose = Cents(fields[layout->preClose]);
  view.last = Cents(fields[layout->last]);
  ReadLevels(fields, layout->firstBid, view.bids);
  ReadLevels(fields, layout->firstAsk, view.asks);
  return true;
}

bool ReadTrade(std::string_view typeName, std::string_view payload, TradeView& view) {
  const TradeLayout* layout = FindTradeLayout(typeName);
  if (layout == nullptr) return false;
  Numbers fields(payload);
  if (!fields.whole()) return false;
  view.price = Cents(fields[layout->price]);
  view.volume = static_cast<int64_t>(fields[layout->volume]);
  view.buy = fields[layout->flag] == 1;
  return view.price > 0 && view.volume > 0;
}

}  // namespace sim
