// Tapes cut to a time range and a set of codes, and tapes joined in exchange
// time: records are copied as they stand, whatever their type.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "progress_bar.h"
#include "quote_columns.h"
#include "tape_commands.h"
#include "tool_files.h"

namespace sim {
namespace {

// The exchange a type's name says ("SSEL2_..." Shanghai, "SZSEL2_..."
// Shenzhen); false for a type of neither.
bool ExchangeOfType(std::string_view typeName, Exchange& exchange) {
  if (typeName.substr(0, 6) == "SSEL2_") {
    exchange = Exchange::kShanghai;
  } else if (typeName.substr(0, 7) == "SZSEL2_") {
    exchange = Exchange::kShenzhen;
  } else {
    return false;
  }
  return true;
}

// Whether `wanted` names the message's code: "600000" any exchange's,
// "600000.SH" Shanghai's only (000001 is both an index in Shanghai and a
// stock in Shenzhen).
bool Names(const std::string& wanted, const QuoteMessage& message) {
  size_t dot = wanted.rfind('.');
  if (dot == std::string::npos) return message.code == wanted;
  Exchange exchange;
  return std::string_view(wanted).substr(0, dot) == message.code &&
         ExchangeOfType(message.typeName, exchange) &&
         std::string_view(wanted).substr(dot + 1) == ExchangeText(exchange);
}

}  // namespace

int SliceTape(const std::string& in, const std::string& out, const SliceOptions& options) {
  std::string error;
  TapeInput input;
  if (!input.Open(in, error)) return Fail(error);
  PendingFile pending(out);
  TapeWriter writer;
  if (!writer.Open(pending.Temporary(), error)) return Fail(error);
  QuoteMessage message;
  InputStatus status;
  int64_t read = 0;
  int64_t kept = 0;
  std::vector<bool> seen(options.codes.size(), false);
  {
    ProgressBar progress;
    while ((status = input.Next(message, error)) == InputStatus::kRecord) {
      progress.Show(input.Share(), ++read);
      bool wanted = options.codes.empty();
      for (size_t i = 0; i < options.codes.size(); ++i) {
        if (Names(options.codes[i], message)) wanted = seen[i] = true;
      }
      if (!wanted || message.time < options.from || message.time > options.to) continue;
      if (!writer.Write(message)) break;
      ++kept;
    }
  }
  if (status == InputStatus::kFailed) return Fail(error);
  std::string lacking;
  for (size_t i = 0; i < seen.size(); ++i) {
    if (!seen[i]) lacking += (lacking.empty() ? "" : ", ") + options.codes[i];
  }
  // A typo in a code would otherwise be an empty tape.
  if (!lacking.empty()) return Fail(in + ": no message of " + lacking + "; nothing written");
  if (!writer.Close(error) || !pending.Commit(error)) return Fail(error);
  std::printf("kept %lld of %lld messages in %s\n", static_cast<long long>(kept),
              static_cast<long long>(read), out.c_str());
  return 0;
}

int MergeTapes(const std::string& out, const std::vector<std::string>& ins) {
  struct Head {
    TapeInput input;
    QuoteMessage message;
    bool pending = false;
  };
  std::string error;
  std::vector<std::unique_ptr<Head>> heads;
  uint64_t totalBytes = 0;
  for (const std::string& path : ins) {
    auto head = std::make_unique<Head>();
    if (!head->input.Open(path, error)) return Fail(error);
    totalBytes += head->input.Bytes();
    heads.push_back(std::move(head));
  }
  PendingFile pending(out);
  TapeWriter writer;
  if (!writer.Open(pending.Temporary(), error)) return Fail(error);
  for (auto& head : heads) {
    InputStatus status = head->input.Next(head->message, error);
    if (status == InputStatus::kFailed) return Fail(error);
    head->pending = status == InputStatus::kRecord;
  }
  int64_t merged = 0;
  {
    ProgressBar progress;
    for (;;) {
      // Among equal times the earliest input's message goes first.
      Head* first = nullptr;
      for (auto& head : heads) {
        if (head->pending && (first == nullptr || head->message.time < first->message.time)) {
          first = head.get();
        }
      }
      if (first == nullptr) break;
      if (!writer.Write(first->message)) break;
      ++merged;
      InputStatus status = first->input.Next(first->message, error);
      if (status == InputStatus::kFailed) return Fail(error);
      first->pending = status == InputStatus::kRecord;
      if (merged % 4096 == 0) {
        double done = 0;
        for (auto& head : heads)
          done += head->input.Share() * static_cast<double>(head->input.Bytes());
        progress.Show(totalBytes == 0 ? 1.0 : done / static_cast<double>(totalBytes), merged);
      }
    }
  }
  if (!writer.Close(error) || !pending.Commit(error)) return Fail(error);
  std::printf("merged %lld messages of %zu tapes into %s\n", static_cast<long long>(merged),
              ins.size(), out.c_str());
  return 0;
}

}  // namespace sim
