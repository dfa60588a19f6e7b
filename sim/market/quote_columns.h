// quote_columns.h: snapshots and trades as rows of text cells, the columns
// of the tape tool's CSV files, and back.
//
// One table per message type lists its columns in the file's order, each
// with the field it stands for in that type's layout and the field's type,
// taken from the generated classes; the two exchanges' tables of a kind
// share their column names. The export, the import and the files' headers
// all read these tables.
//
//   snapshots  time, code, exchange, phase, pre_close, open, high, low, last,
//              volume, amount, bid_price1..10, bid_volume1..10,
//              ask_price1..10, ask_volume1..10
//   trades     time, code, exchange, price, volume, side
//
// Cells are exact: a double is written with the fewest digits that read
// back to the same double, an integer field as its integer (Shanghai's
// volumes are integers, Shenzhen's doubles). time is the exchange time
// HHMMSSmmm; exchange is "SH" or "SZ"; side is the BuySellFlag (1 the buyer
// took the asks, 2 the seller took the bids, 0 an auction's).

#ifndef VELTRANE_SIM_QUOTE_COLUMNS_H
#define VELTRANE_SIM_QUOTE_COLUMNS_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "instruments.h"
#include "quote_message.h"

namespace sim {

// How a column's field is typed in the schema; kNone for the exchange
// column, which the type name carries instead of a field.
enum class FieldType { kNone, kText, kDouble, kInt32, kInt64, kUInt32 };

struct QuoteColumn {
  std::string name;
  int field;  // field number; 0 for the exchange column
  FieldType type;
};

struct QuoteTable {
  const char* typeName;
  Exchange exchange;
  FeedKind kind;
  std::vector<QuoteColumn> columns;   // in the file's order
  size_t time, code, exchangeColumn;  // where those columns stand
};

// Null for a type that is neither a snapshot nor a trade.
const QuoteTable* FindQuoteTable(std::string_view typeName);
const QuoteTable& QuoteTableOf(FeedKind kind, Exchange exchange);

// "SH" / "SZ".
const char* ExchangeText(Exchange exchange);

struct RowOfMessage {
  std::vector<std::string> cells;  // one per column
  bool otherFields = false;        // the payload has fields without a column
};

// The cells of a message of the table's type at exchange time `time`;
// false if its payload is not wire format.
bool ToCells(const QuoteTable& table, int64_t time, std::string_view payload, RowOfMessage& row);

// The payload and exchange time of the message whose cells are `cells` (one
// per column; the exchange's cell is not read, the table names it). False,
// with the column's index in `column` and its name and what is wrong with
// its cell in `error`, for a time that is not a clock time, a number that is
// not one or is out of its field's range (prices, volumes and amounts are
// finite and not negative), an empty number (what pandas writes for NaN:
// read as 0 it would be a trade at no price), or an empty code.
bool FromCells(const QuoteTable& table, const std::vector<std::string_view>& cells,
               std::string& payload, int64_t& time, std::string& error, size_t& column);

}  // namespace sim

#endif  // VELTRANE_SIM_QUOTE_COLUMNS_H
