// payload_fields.h: what the feed needs to know of a message without decoding
// it whole: its security code and whether it is a snapshot or a trade.

#ifndef VELTRANE_SIM_PAYLOAD_FIELDS_H
#define VELTRANE_SIM_PAYLOAD_FIELDS_H

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "quote_message.h"

namespace sim {

// Trades (the *_Transaction messages) go to trade subscriptions; snapshots,
// index and static data to snapshot subscriptions.
FeedKind KindOfType(std::string_view typeName);

// Reads the Symbol field of a message of a known type (the last one, as a
// parser would). Returns false for a type without a Symbol, a payload that
// is not wire format, or one without the field.
bool SymbolOf(std::string_view typeName, std::string_view payload, std::string& code);

// One field as it stands on the wire. Varints are given as integers, 64-bit
// fixed fields as doubles (the only such fields of the schema), 32-bit ones
// as integers, length-delimited ones as bytes.
struct WireField {
  int number;
  int wireType;
  int64_t integer;
  double real;
  std::string_view bytes;

  bool IsBytes() const { return wireType == 2; }
  // A number whichever way it is encoded (Shanghai volumes are varints,
  // Shenzhen's doubles).
  double Number() const { return wireType == 1 ? real : static_cast<double>(integer); }
};

// Calls `visit` for each field in order; false if the payload is malformed
// (the fields before the fault have been visited).
bool VisitFields(std::string_view payload, const std::function<void(const WireField&)>& visit);

// The fields of a payload in wire order, and the last value of each, as a
// parser keeps it.
struct FieldTable {
  std::vector<WireField> inOrder;
  std::unordered_map<int, WireField> byNumber;
  bool whole = false;  // false if the payload is malformed

  explicit FieldTable(std::string_view payload);

  // The field's WireField::Number; 0 when absent, as proto3 defaults.
  double Number(int number) const;
};

// Where the snapshot and trade layouts keep the fields the simulator reads.
// A snapshot's levels are three fields apart, each volume after its price.
constexpr int kLevels = 10;
struct SnapshotLayout {
  const char* type;
  int symbol, preClose, open, high, low, last, volume, amount, firstAsk, firstBid, phase, time;
};
struct TradeLayout {
  const char* type;
  int symbol, price, volume, flag, time;  // flag 1: the buyer took the asks
};

// The exchange time (HHMMSSmmm) of a snapshot or a trade; false for other
// types, which carry none, and for a payload without one.
bool TimeOf(std::string_view typeName, std::string_view payload, int64_t& time);

// Null for a type of another kind.
const SnapshotLayout* FindSnapshotLayout(std::string_view typeName);
const TradeLayout* FindTradeLayout(std::string_view typeName);

}  // namespace sim

#endif  // VELTRANE_SIM_PAYLOAD_FIELDS_H
