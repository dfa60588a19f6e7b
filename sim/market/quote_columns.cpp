// Snapshots and trades to and from text cells, field by field on the wire,
// with the protobuf runtime's wire-format primitives: a column's field and
// type come from the generated classes, so they follow the schema.

#include "quote_columns.h"

#include <google/protobuf/io/coded_stream.h>
#include <google/protobuf/io/zero_copy_stream_impl_lite.h>
#include <google/protobuf/wire_format_lite.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>

#include "payload_fields.h"
#include "quote.pb.h"
#include "tape_text.h"

namespace sim {
namespace {

// A trade's BuySellFlag: 1, 2 or 0, the values the export and the replay know.
constexpr const char* kSideColumn = "side";

using google::protobuf::internal::WireFormatLite;

template <class Value>
constexpr FieldType TypeOf() {
  using T = std::decay_t<Value>;
  if constexpr (std::is_same_v<T, std::string>) return FieldType::kText;
  if constexpr (std::is_same_v<T, double>) return FieldType::kDouble;
  if constexpr (std::is_same_v<T, int32_t>) return FieldType::kInt32;
  if constexpr (std::is_same_v<T, int64_t>) return FieldType::kInt64;
  if constexpr (std::is_same_v<T, uint32_t>) return FieldType::kUInt32;
  return FieldType::kNone;
}
template <class Message, class Value>
constexpr FieldType TypeOfGetter(Value (Message::*)() const) {
  static_assert(TypeOf<Value>() != FieldType::kNone, "a field type the columns do not carry");
  return TypeOf<Value>();
}

#define VELTRANE_COLUMN(Type, name, Field, getter) \
  QuoteColumn { name, Type::k##Field##FieldNumber, TypeOfGetter(&Type::getter) }

// time, code, exchange: the three columns every file starts with.
template <class Type>
std::vector<QuoteColumn> Leading() {
  return {VELTRANE_COLUMN(Type, "time", Time, time), VELTRANE_COLUMN(Type, "code", Symbol, symbol),
          QuoteColumn{"exchange", 0, FieldType::kNone}};
}

// Ten levels a side, bids first, each side's prices before its volumes.
template <class Type>
void AddLevels(std::vector<QuoteColumn>& columns) {
  static_assert(TypeOfGetter(&Type::bidprice01) == TypeOfGetter(&Type::bidprice10) &&
                    TypeOfGetter(&Type::bidvolume01) == TypeOfGetter(&Type::bidvolume10) &&
                    TypeOfGetter(&Type::askprice01) == TypeOfGetter(&Type::askprice10) &&
                    TypeOfGetter(&Type::askvolume01) == TypeOfGetter(&Type::askvolume10),
                "every level of a side typed alike");
  struct Side {
    const char* name;
    int firstPrice;
    FieldType price, volume;
  };
  // Levels are three fields apart, each volume after its price.
  for (Side side : {Side{"bid", Type::kBidPrice01FieldNumber, TypeOfGetter(&Type::bidprice01),
                         TypeOfGetter(&Type::bidvolume01)},
                    Side{"ask", Type::kAskPrice01FieldNumber, TypeOfGetter(&Type::askprice01),
                         TypeOfGetter(&Type::askvolume01)}}) {
    for (int k = 0; k < kLevels; ++k) {
      columns.push_back({std::string(side.name) + "_price" + std::to_string(k + 1),
                         side.firstPrice + 3 * k, side.price});
    }
    for (int k = 0; k < kLevels; ++k) {
      columns.push_back({std::string(side.name) + "_volume" + std::to_string(k + 1),
                         side.firstPrice + 3 * k + 1, side.volume});
    }
  }
}

template <class Type>
std::vector<QuoteColumn> SnapshotColumns() {
  std::vector<QuoteColumn> columns = Leading<Type>();
  for (QuoteColumn column : {VELTRANE_COLUMN(Type, "phase", SecurityPhaseTag, securityphasetag),
                             VELTRANE_COLUMN(Type, "pre_close", PreClosePrice, precloseprice),
                             VELTRANE_COLUMN(Type, "open", OpenPrice, openprice),
                             VELTRANE_COLUMN(Type, "high", HighPrice, highprice),
                             VELTRANE_COLUMN(Type, "low", LowPrice, lowprice),
                             VELTRANE_COLUMN(Type, "last", LastPrice, lastprice),
                             VELTRANE_COLUMN(Type, "volume", TotalVolume, totalvolume),
                             VELTRANE_COLUMN(Type, "amount", TotalAmount, totalamount)}) {
    columns.push_back(column);
  }
  AddLevels<Type>(columns);
  return columns;
}

template <class Type>
std::vector<QuoteColumn> TradeColumns() {
  std::vector<QuoteColumn> columns = Leading<Type>();
  for (QuoteColumn column : {VELTRANE_COLUMN(Type, "price", TradePrice, tradeprice),
                             VELTRANE_COLUMN(Type, "volume", TradeVolume, tradevolume),
                             VELTRANE_COLUMN(Type, kSideColumn, BuySellFlag, buysellflag)}) {
    columns.push_back(column);
  }
  return columns;
}

#undef VELTRANE_COLUMN

QuoteTable MakeTable(const char* typeName, Exchange exchange, FeedKind kind,
                     std::vector<QuoteColumn> columns) {
  return {typeName, exchange, kind, std::move(columns), 0, 1, 2};
}

const std::vector<QuoteTable>& Tables() {
  static const std::vector<QuoteTable> tables = [] {
    std::vector<QuoteTable> made;
    made.push_back(MakeTable("SSEL2_Quotation", Exchange::kShanghai, kSnapshots,
                             SnapshotColumns<lmvproto::SSEL2_Quotation>()));
    made.push_back(MakeTable("SZSEL2_Quotation", Exchange::kShenzhen, kSnapshots,
                             SnapshotColumns<lmvproto::SZSEL2_Quotation>()));
    made.push_back(MakeTable("SSEL2_Transaction", Exchange::kShanghai, kTrades,
                             TradeColumns<lmvproto::SSEL2_Transaction>()));
    made.push_back(MakeTable("SZSEL2_Transaction", Exchange::kShenzhen, kTrades,
                             TradeColumns<lmvproto::SZSEL2_Transaction>()));
    return made;
  }();
  return tables;
}

template <class Number>
void Append(std::string& text, Number value) {
  char digits[64];
  auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  text.append(digits, end);
}

// The cell of a field as it stands on the wire, whatever the schema says,
// so that what is written is what was received.
std::string CellOf(const QuoteColumn& column, const WireField* field) {
  std::string cell;
  if (column.type == FieldType::kText) {
    if (field != nullptr && field->IsBytes()) cell.assign(field->bytes);
    return cell;
  }
  if (field == nullptr) return "0";
  if (field->wireType == WireFormatLite::WIRETYPE_FIXED64) {
    Append(cell, field->real);
  } else if (column.type == FieldType::kInt32) {
    Append(cell, static_cast<int32_t>(field->integer));
  } else if (column.type == FieldType::kUInt32) {
    Append(cell, static_cast<uint32_t>(field->integer));
  } else {
    Append(cell, field->integer);
  }
  return cell;
}

bool ReadWhole(std::string_view text, double& value) {
  auto [end, fault] = std::from_chars(text.data(), text.data() + text.size(), value);
  return fault == std::errc() && end == text.data() + text.size();
}

// A whole number as an integer, or as a decimal whose fraction is zero
// ("1200.0", "1.2e3"): data vendors write volumes either way.
bool ReadInteger(std::string_view text, int64_t& value) {
  auto [end, fault] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (fault == std::errc() && end == text.data() + text.size()) return true;
  double real = 0;
  if (!ReadWhole(text, real) || real != std::trunc(real) || !(std::fabs(real) < 0x1p63)) {
    return false;
  }
  value = static_cast<int64_t>(real);
  return true;
}

struct Cell {
  FieldType type;
  double real = 0;
  int64_t integer = 0;
  std::string_view text;
};

// Reads one number cell; `error` says what is wrong with it.
bool ReadNumber(const QuoteColumn& column, std::string_view text, Cell& cell, std::string& error) {
  const std::string shown = "\"" + std::string(text) + "\"";
  if (text.empty()) {
    error =
        "an empty cell (pandas writes NaN so); fill it, e.g. with fillna(0), or leave the "
        "row out";
    return false;
  }
  if (column.type == FieldType::kDouble) {
    if (!ReadWhole(text, cell.real)) {
      error = shown + " is not a number";
    } else if (!std::isfinite(cell.real) || cell.real < 0) {
      error = shown + " is out of range (a finite number, not negative)";
    }
    return error.empty();
  }
  if (!ReadInteger(text, cell.integer)) {
    double real = 0;
    error =
        shown + (ReadWhole(text, real) ? " is out of range (a whole number)" : " is not a number");
    return false;
  }
  int64_t low = 0;
  int64_t high = std::numeric_limits<int64_t>::max();
  if (column.type == FieldType::kInt32) {
    low = std::numeric_limits<int32_t>::min();  // a flag, not a quantity
    high = std::numeric_limits<int32_t>::max();
  } else if (column.type == FieldType::kUInt32) {
    high = std::numeric_limits<uint32_t>::max();
  }
  if (cell.integer < low || cell.integer > high) {
    error =
        shown + " is out of range (" + std::to_string(low) + " to " + std::to_string(high) + ")";
  }
  return error.empty();
}

// Writes a field as the generated serialiser would: a zero number or an
// empty text is left out (a double only when all its bits are zero).
void WriteField(const QuoteColumn& column, const Cell& cell,
                google::protobuf::io::CodedOutputStream& out) {
  switch (column.type) {
    case FieldType::kText:
      if (!cell.text.empty()) {
        WireFormatLite::WriteString(column.field, std::string(cell.text), &out);
      }
      break;
    case FieldType::kDouble: {
      uint64_t bits = 0;
      std::memcpy(&bits, &cell.real, sizeof bits);
      if (bits != 0) WireFormatLite::WriteDouble(column.field, cell.real, &out);
      break;
    }
    case FieldType::kInt32:
      if (cell.integer != 0) {
        WireFormatLite::WriteInt32(column.field, static_cast<int32_t>(cell.integer), &out);
      }
      break;
    case FieldType::kInt64:
      if (cell.integer != 0) WireFormatLite::WriteInt64(column.field, cell.integer, &out);
      break;
    case FieldType::kUInt32:
      if (cell.integer != 0) {
        WireFormatLite::WriteUInt32(column.field, static_cast<uint32_t>(cell.integer), &out);
      }
      break;
    case FieldType::kNone:
      break;
  }
}

}  // namespace

const QuoteTable* FindQuoteTable(std::string_view typeName) {
  for (const QuoteTable& table : Tables()) {
    if (typeName == table.typeName) return &table;
  }
  return nullptr;
}

const QuoteTable& QuoteTableOf(FeedKind kind, Exchange exchange) {
  for (const QuoteTable& table : Tables()) {
    if (table.kind == kind && table.exchange == exchange) return table;
  }
  return Tables().front();  // every kind and exchange has its table
}

const char* ExchangeText(Exchange exchange) {
  return exchange == Exchange::kShanghai ? "SH" : "SZ";
}

bool ToCells(const QuoteTable& table, int64_t time, std::string_view payload, RowOfMessage& row) {
  FieldTable fields(payload);
  if (!fields.whole) return false;
  row.cells.clear();
  for (const QuoteColumn& column : table.columns) {
    if (column.type == FieldType::kNone) {
      row.cells.emplace_back(ExchangeText(table.exchange));
      continue;
    }
    auto found = fields.byNumber.find(column.field);
    row.cells.push_back(CellOf(column, found == fields.byNumber.end() ? nullptr : &found->second));
  }
  // The record's time is the one tapes are ordered by; the payload's is the same.
  row.cells[table.time] = std::to_string(time);
  row.otherFields = std::any_of(fields.byNumber.begin(), fields.byNumber.end(), [&](auto& field) {
    return std::none_of(table.columns.begin(), table.columns.end(),
                        [&](const QuoteColumn& column) { return column.field == field.first; });
  });
  return true;
}

bool FromCells(const QuoteTable& table, const std::vector<std::string_view>& cells,
               std::string& payload, int64_t& time, std::string& error, size_t& failed) {
  std::vector<Cell> read(table.columns.size());
  for (size_t i = 0; i < table.columns.size(); ++i) {
    const QuoteColumn& column = table.columns[i];
    Cell& cell = read[i];
    cell.type = column.type;
    std::string why;
    if (i == table.time) {
      if (!ReadClock(cells[i], time)) {
        why = "\"" + std::string(cells[i]) + "\" is not a time (HHMMSSmmm or HH:MM:SS.mmm)";
      }
      cell.integer = time;
    } else if (column.type == FieldType::kText) {
      cell.text = cells[i];
      if (i == table.code && cell.text.empty()) why = "no code";
    } else if (column.type != FieldType::kNone) {
      if (ReadNumber(column, cells[i], cell, why) && column.name == kSideColumn &&
          (cell.integer < 0 || cell.integer > 2)) {
        why = "\"" + std::string(cells[i]) +
              "\" is not a side: 1 (the buyer took the asks), 2 (the seller took the bids) or 0 "
              "(an auction's uncross)";
      }
    }
    if (!why.empty()) {
      error = column.name + ": " + why;
      failed = i;
      return false;
    }
  }
  // Fields in number order, as the generated serialiser writes them.
  std::vector<size_t> order(table.columns.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(),
            [&](size_t a, size_t b) { return table.columns[a].field < table.columns[b].field; });
  payload.clear();
  {
    google::protobuf::io::StringOutputStream stream(&payload);
    google::protobuf::io::CodedOutputStream out(&stream);
    for (size_t i : order) WriteField(table.columns[i], read[i], out);
  }
  return true;
}

}  // namespace sim
