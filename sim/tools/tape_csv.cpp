// Tapes to and from CSV files: one file of snapshots and one of trades, a
// row a message, in the columns of quote_columns.h. Both directions stream,
// so a day of any size takes the memory of a few rows.

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "progress_bar.h"
#include "quote_columns.h"
#include "tape_commands.h"
#include "tool_files.h"

namespace sim {
namespace {

constexpr const char* kFileNames[] = {"snapshots.csv", "trades.csv"};
constexpr FeedKind kFileKinds[] = {kSnapshots, kTrades};

// Exchange names as data vendors write them, in an exchange column or as a
// code's suffix.
struct ExchangeName {
  const char* name;
  Exchange exchange;
};
constexpr ExchangeName kExchangeNames[] = {
    {"SH", Exchange::kShanghai}, {"SSE", Exchange::kShanghai},  {"XSHG", Exchange::kShanghai},
    {"SZ", Exchange::kShenzhen}, {"SZSE", Exchange::kShenzhen}, {"XSHE", Exchange::kShenzhen}};

bool ReadExchange(std::string_view text, Exchange& exchange) {
  for (const ExchangeName& known : kExchangeNames) {
    if (text.size() != std::strlen(known.name)) continue;
    bool same = true;
    for (size_t i = 0; i < text.size(); ++i) {
      same = same && std::toupper(static_cast<unsigned char>(text[i])) == known.name[i];
    }
    if (same) {
      exchange = known.exchange;
      return true;
    }
  }
  return false;
}

std::string JoinPath(const std::string& dir, const char* name) {
  return dir.empty() || dir.back() == '/' ? dir + name : dir + "/" + name;
}

bool IsFile(const std::string& path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

// Writes rows, quoting a cell only where it needs it.
class CsvWriter {
 public:
  ~CsvWriter() {
    if (file_ != nullptr) std::fclose(file_);
  }

  bool Open(const std::string& path, std::string& error) {
    file_ = std::fopen(path.c_str(), "wb");
    if (file_ == nullptr) {
      error = path + ": " + std::strerror(errno);
      return false;
    }
    return true;
  }

  template <class Cells>
  void Write(const Cells& cells) {
    line_.clear();
    bool first = true;
    for (const auto& cell : cells) {
      if (!first) line_ += ',';
      first = false;
      AppendCell(std::string_view(cell));
    }
    line_ += '\n';
    if (std::fwrite(line_.data(), 1, line_.size(), file_) != line_.size()) failed_ = true;
  }

  bool Close(const std::string& path, std::string& error) {
    bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (failed_ || !closed) {
      error = path + ": the file could not be written whole";
      return false;
    }
    return true;
  }

 private:
  void AppendCell(std::string_view cell) {
    bool quoted = cell.find_first_of(",\"\r\n") != std::string_view::npos ||
                  (!cell.empty() && (cell.front() == ' ' || cell.back() == ' '));
    if (!quoted) {
      line_ += cell;
      return;
    }
    line_ += '"';
    for (char c : cell) line_ += c == '"' ? std::string("\"\"") : std::string(1, c);
    line_ += '"';
  }

  std::FILE* file_ = nullptr;
  std::string line_;
  bool failed_ = false;
};

// Reads rows of cells: quoted cells ("" inside for a quote) and unquoted
// ones, with the spaces around an unquoted cell taken off; blank lines are
// skipped. A quoted cell may not run past its line.
class CsvReader {
 public:
  ~CsvReader() {
    if (file_ != nullptr) std::fclose(file_);
    std::free(line_);
  }

  bool Open(const std::string& path, std::string& error) {
    file_ = std::fopen(path.c_str(), "rb");
    if (file_ == nullptr) {
      error = path + ": " + std::strerror(errno);
      return false;
    }
    return true;
  }

  // False at the end of the file, or with `error` set for a row it cannot read.
  bool Next(std::vector<std::string_view>& cells, std::string& error) {
    for (;;) {
      ssize_t length = getline(&line_, &capacity_, file_);
      if (length < 0) return false;
      bytesRead_ += static_cast<uint64_t>(length);
      ++lineNumber_;
      std::string_view line(line_, static_cast<size_t>(length));
      if (lineNumber_ == 1 && line.substr(0, 3) == "\xEF\xBB\xBF") line.remove_prefix(3);
      while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
      if (line.find_first_not_of(" \t") == std::string_view::npos) continue;
      return Split(line, cells, error);
    }
  }

  int64_t Line() const { return lineNumber_; }
  uint64_t BytesRead() const { return bytesRead_; }

 private:
  bool Split(std::string_view line, std::vector<std::string_view>& cells, std::string& error) {
    text_.clear();
    std::vector<std::pair<size_t, size_t>> spans;  // into text_, which grows meanwhile
    size_t i = 0;
    for (;;) {
      while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
      size_t start = text_.size();
      if (i < line.size() && line[i] == '"') {
        for (++i;; ++i) {
          if (i >= line.size()) {
            error = "a quoted cell runs past the end of its line";
            return false;
          }
          if (line[i] == '"') {
            if (i + 1 < line.size() && line[i + 1] == '"') {
              ++i;
            } else {
              break;
            }
          }
          text_ += line[i];
        }
        ++i;
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        if (i < line.size() && line[i] != ',') {
          error = "text after a quoted cell";
          return false;
        }
      } else {
        size_t end = line.find(',', i);
        if (end == std::string_view::npos) end = line.size();
        std::string_view cell = line.substr(i, end - i);
        while (!cell.empty() && (cell.back() == ' ' || cell.back() == '\t')) cell.remove_suffix(1);
        text_ += cell;
        i = end;
      }
      spans.emplace_back(start, text_.size() - start);
      if (i >= line.size()) break;
      ++i;  // the comma
    }
    cells.clear();
    for (auto [start, size] : spans) cells.emplace_back(text_.data() + start, size);
    return true;
  }

  std::FILE* file_ = nullptr;
  char* line_ = nullptr;
  size_t capacity_ = 0;
  std::string text_;
  int64_t lineNumber_ = 0;
  uint64_t bytesRead_ = 0;
};

// One of the directory's two files being imported, a row ahead.
struct CsvInput {
  FeedKind kind;
  std::string path;
  uint64_t size = 0;
  CsvReader reader;
  std::vector<int> cellOf;  // for each column of the kind: its cell in a row, or -1
  size_t cellCount = 0;
  std::vector<std::string_view> cells;
  std::vector<std::string_view> ours;
  bool pending = false;
  bool ended = false;
  QuoteMessage next;
  int64_t previousTime = -1;
};

// "day/trades.csv:3: ", or with the file's column (counted from 1) of a
// table's column: "day/trades.csv:3:4: ".
std::string Where(const CsvInput& input, int column = -1) {
  std::string where = input.path + ":" + std::to_string(input.reader.Line()) + ":";
  if (column >= 0 && input.cellOf[static_cast<size_t>(column)] >= 0) {
    where += std::to_string(input.cellOf[static_cast<size_t>(column)] + 1) + ":";
  }
  return where + " ";
}

bool IsSixDigits(std::string_view code) {
  return code.size() == 6 &&
         std::all_of(code.begin(), code.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool ReadHeader(CsvInput& input, const std::map<std::string, std::string>& renames,
                std::string& error) {
  if (!input.reader.Next(input.cells, error)) {
    error = input.path + ":1: " + (error.empty() ? "no header row" : error);
    return false;
  }
  const std::vector<QuoteColumn>& columns = QuoteTableOf(input.kind, Exchange::kShanghai).columns;
  input.cellCount = input.cells.size();
  input.cellOf.assign(columns.size(), -1);
  for (size_t cell = 0; cell < input.cells.size(); ++cell) {
    std::string name(input.cells[cell]);
    auto renamed = renames.find(name);
    if (renamed != renames.end()) name = renamed->second;
    for (size_t column = 0; column < columns.size(); ++column) {
      if (columns[column].name != name) continue;
      if (input.cellOf[column] >= 0) {
        error = Where(input) + "two columns are \"" + name + "\"";
        return false;
      }
      input.cellOf[column] = static_cast<int>(cell);
    }
  }
  for (size_t column = 0; column < columns.size(); ++column) {
    // Without an exchange column, each code carries its own ("600000.SH").
    if (input.cellOf[column] < 0 && columns[column].type != FieldType::kNone) {
      error = Where(input) + "no column \"" + columns[column].name +
              "\" (--columns maps other names to ours)";
      return false;
    }
  }
  return true;
}

// The code and exchange of a row: "600000" with an exchange column, or
// "600000.SH" with or without one.
// `column` says which column the error is about.
bool ReadCode(const CsvInput& input, std::string_view code, Exchange& exchange, std::string& bare,
              std::string& error, size_t& column) {
  const QuoteTable& table = QuoteTableOf(input.kind, Exchange::kShanghai);
  column = table.code;
  bool named = false;
  size_t dot = code.rfind('.');
  if (dot != std::string_view::npos) {
    if (!ReadExchange(code.substr(dot + 1), exchange)) {
      error = "code: \"" + std::string(code) + "\" has a suffix other than .SH or .SZ";
      return false;
    }
    code = code.substr(0, dot);
    named = true;
  }
  if (!IsSixDigits(code)) {
    // What pandas writes for 000001 read as a number.
    error = "code: \"" + std::string(code) +
            "\" is not a six-digit code (read the CSV with dtype={\"code\": str} to keep "
            "leading zeros)";
    return false;
  }
  int at = input.cellOf[table.exchangeColumn];
  if (at >= 0) {
    column = table.exchangeColumn;
    Exchange given;
    std::string_view text = input.cells[static_cast<size_t>(at)];
    if (!ReadExchange(text, given)) {
      error = "exchange: \"" + std::string(text) + "\" is neither SH nor SZ";
      return false;
    }
    if (named && given != exchange) {
      error = "exchange: " + std::string(text) + " but the code says otherwise";
      return false;
    }
    exchange = given;
    named = true;
  }
  if (!named) {
    error = "code: \"" + std::string(code) +
            "\" names no exchange (give an exchange column, or codes like 600000.SH)";
    return false;
  }
  bare.assign(code);
  return true;
}

// Reads the input's next row into `next`; false at its end or, with
// `error` set, on a bad row.
bool ReadRow(CsvInput& input, std::string& error) {
  std::string why;
  if (!input.reader.Next(input.cells, why)) {
    if (why.empty()) return false;
    error = Where(input) + why;
    return false;
  }
  if (input.cells.size() != input.cellCount) {
    error = Where(input) + std::to_string(input.cells.size()) + " cells where the header has " +
            std::to_string(input.cellCount);
    return false;
  }
  const QuoteTable& shanghai = QuoteTableOf(input.kind, Exchange::kShanghai);
  Exchange exchange = Exchange::kShanghai;
  std::string& code = input.next.code;
  size_t column = 0;
  if (!ReadCode(input, input.cells[static_cast<size_t>(input.cellOf[shanghai.code])], exchange,
                code, why, column)) {
    error = Where(input, static_cast<int>(column)) + why;
    return false;
  }
  const QuoteTable& table = QuoteTableOf(input.kind, exchange);
  input.ours.assign(table.columns.size(), std::string_view());
  for (size_t column = 0; column < table.columns.size(); ++column) {
    if (input.cellOf[column] >= 0) {
      input.ours[column] = input.cells[static_cast<size_t>(input.cellOf[column])];
    }
  }
  input.ours[table.code] = code;
  QuoteMessage& next = input.next;
  if (!FromCells(table, input.ours, next.payload, next.time, why, column)) {
    error = Where(input, static_cast<int>(column)) + why;
    return false;
  }
  if (next.time < input.previousTime) {
    error = Where(input, static_cast<int>(table.time)) + "time " +
            std::string(input.ours[table.time]) +
            " is earlier than the row before's (rows go in time order)";
    return false;
  }
  input.previousTime = next.time;
  next.typeName = table.typeName;
  next.kind = table.kind;
  return true;
}

}  // namespace

bool ReadRenames(const std::string& text, std::map<std::string, std::string>& renames,
                 std::string& error) {
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(',', start);
    if (end == std::string::npos) end = text.size();
    std::string pair = text.substr(start, end - start);
    size_t equals = pair.find('=');
    if (equals == 0 || equals == std::string::npos || equals + 1 == pair.size()) {
      error = "--columns wants THEIRS=OURS pairs, e.g. TradeTime=time,Price=price; not \"" + pair +
              "\"";
      return false;
    }
    renames[pair.substr(0, equals)] = pair.substr(equals + 1);
    start = end + 1;
  }
  return true;
}

int ExportCsv(const std::string& tape, const std::string& dir) {
  std::string error;
  TapeInput input;
  if (!input.Open(tape, error)) return Fail(error);
  if (mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST)
    return Fail(dir + ": " + std::strerror(errno));
  std::unique_ptr<PendingFile> pending[2];
  CsvWriter writers[2];
  int64_t rows[2] = {0, 0};
  for (int i = 0; i < 2; ++i) {
    pending[i] = std::make_unique<PendingFile>(JoinPath(dir, kFileNames[i]));
    if (!writers[i].Open(pending[i]->Temporary(), error)) return Fail(error);
    std::vector<std::string> header;
    for (const QuoteColumn& column : QuoteTableOf(kFileKinds[i], Exchange::kShanghai).columns) {
      header.push_back(column.name);
    }
    writers[i].Write(header);
  }
  std::map<std::string, int64_t> otherTypes;
  int64_t unreadable = 0;
  int64_t withOtherFields = 0;
  int64_t messages = 0;
  QuoteMessage message;
  RowOfMessage row;
  InputStatus status;
  {
    ProgressBar progress;
    while ((status = input.Next(message, error)) == InputStatus::kRecord) {
      progress.Show(input.Share(), ++messages);
      const QuoteTable* table = FindQuoteTable(message.typeName);
      if (table == nullptr) {
        ++otherTypes[message.typeName];
        continue;
      }
      if (!ToCells(*table, message.time, message.payload, row)) {
        ++unreadable;
        continue;
      }
      int file = table->kind == kSnapshots ? 0 : 1;
      writers[file].Write(row.cells);
      ++rows[file];
      if (row.otherFields) ++withOtherFields;
    }
  }
  if (status == InputStatus::kFailed) return Fail(error);
  for (int i = 0; i < 2; ++i) {
    const std::string path = JoinPath(dir, kFileNames[i]);
    if (!writers[i].Close(path, error) || !pending[i]->Commit(error)) return Fail(error);
  }
  std::printf("exported %lld snapshots to %s and %lld trades to %s\n",
              static_cast<long long>(rows[0]), JoinPath(dir, kFileNames[0]).c_str(),
              static_cast<long long>(rows[1]), JoinPath(dir, kFileNames[1]).c_str());
  for (const auto& [type, count] : otherTypes) {
    std::printf("left out %lld %s messages: no CSV file holds their type\n",
                static_cast<long long>(count), type.c_str());
  }
  if (unreadable > 0) {
    std::printf("left out %lld messages whose payload is not wire format\n",
                static_cast<long long>(unreadable));
  }
  if (withOtherFields > 0) {
    std::printf("%lld messages carry fields that no column holds; those fields are left out\n",
                static_cast<long long>(withOtherFields));
  }
  return 0;
}

int ImportCsv(const std::string& dir, const std::string& tape,
              const std::map<std::string, std::string>& renames, bool snapshotsOnly) {
  std::string error;
  std::vector<std::unique_ptr<CsvInput>> inputs;
  std::string missing;
  uint64_t totalBytes = 0;
  for (int i = 0; i < 2; ++i) {
    auto input = std::make_unique<CsvInput>();
    input->kind = kFileKinds[i];
    input->path = JoinPath(dir, kFileNames[i]);
    if (input->kind == kTrades && snapshotsOnly) continue;
    if (!IsFile(input->path)) {
      // A day without its trades replays books that never trade.
      if (input->kind == kTrades) {
        return Fail(input->path +
                    ": no such file (--snapshots-only imports the snapshots "
                    "alone)");
      }
      missing = kFileNames[i];
      continue;
    }
    struct stat status {};
    if (stat(input->path.c_str(), &status) == 0)
      input->size = static_cast<uint64_t>(status.st_size);
    totalBytes += input->size;
    if (!input->reader.Open(input->path, error) || !ReadHeader(*input, renames, error)) {
      return Fail(error);
    }
    inputs.push_back(std::move(input));
  }
  if (inputs.empty()) return Fail(JoinPath(dir, kFileNames[0]) + ": no such file");

  PendingFile pending(tape);
  TapeWriter writer;
  if (!writer.Open(pending.Temporary(), error)) return Fail(error);
  int64_t counts[2] = {0, 0};
  {
    ProgressBar progress;
    for (;;) {
      CsvInput* first = nullptr;
      for (auto& input : inputs) {
        if (!input->pending && !input->ended) {
          input->pending = ReadRow(*input, error);
          if (!error.empty()) return Fail(error);
          input->ended = !input->pending;
        }
        // A snapshot shows the day with the trades of its own time, so
        // those go first.
        if (input->pending && (first == nullptr || input->next.time < first->next.time ||
                               (input->next.time == first->next.time && input->kind == kTrades))) {
          first = input.get();
        }
      }
      if (first == nullptr) break;
      if (!writer.Write(first->next)) break;
      first->pending = false;
      ++counts[first->kind == kSnapshots ? 0 : 1];
      uint64_t read = 0;
      for (auto& input : inputs) read += input->reader.BytesRead();
      progress.Show(totalBytes == 0 ? 1.0 : static_cast<double>(read) / totalBytes,
                    counts[0] + counts[1]);
    }
  }
  if (!writer.Close(error) || !pending.Commit(error)) return Fail(error);
  std::printf("imported %lld snapshots and %lld trades from %s to %s\n",
              static_cast<long long>(counts[0]), static_cast<long long>(counts[1]), dir.c_str(),
              tape.c_str());
  if (!missing.empty()) std::printf("%s has no %s\n", dir.c_str(), missing.c_str());
  return 0;
}

}  // namespace sim
