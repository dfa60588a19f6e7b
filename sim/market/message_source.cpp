// The feed's two sources: a tape read as it is replayed, and the generator
// run one snapshot interval ahead of the replay.

#include "message_source.h"

#include <vector>

#include "market_generator.h"
#include "tape.h"

namespace sim {
namespace {

class GeneratedSource : public MessageSource {
 public:
  explicit GeneratedSource(const MarketSettings& settings) : generator_(settings) {}

  const QuoteMessage* Next() override {
    while (next_ == batch_.size()) {
      batch_.clear();
      next_ = 0;
      if (!generator_.NextInterval(batch_)) return nullptr;
    }
    return &batch_[next_++];
  }

 private:
  MarketGenerator generator_;
  std::vector<QuoteMessage> batch_;
  size_t next_ = 0;
};

class TapeSource : public MessageSource {
 public:
  bool Open(const std::string& path, std::string& error) {
    path_ = path;
    return reader_.Open(path, error);
  }

  const QuoteMessage* Next() override {
    TapeStatus status = reader_.Next(message_);
    if (status == TapeStatus::kRecord) return &message_;
    if (status != TapeStatus::kEnd) {
      problem_ = path_ + ": " + reader_.Damage(status) + "; the replay ends before it";
    }
    return nullptr;
  }

  std::string Problem() const override { return problem_; }

 private:
  std::string path_;
  TapeReader reader_;
  QuoteMessage message_;
  std::string problem_;
};

// A tape's trades of an instrument suspended by the settings are left out:
// a suspended instrument does not trade.
class SuspendedTrades : public MessageSource {
 public:
  SuspendedTrades(std::unique_ptr<MessageSource> inner, std::vector<Suspension> suspensions)
      : inner_(std::move(inner)), suspensions_(std::move(suspensions)) {}

  const QuoteMessage* Next() override {
    const QuoteMessage* message = inner_->Next();
    while (message != nullptr && message->kind == kTrades &&
           IsSuspended(suspensions_, message->code, MillisecondsOfDay(message->time))) {
      message = inner_->Next();
    }
    return message;
  }

  std::string Problem() const override { return inner_->Problem(); }

 private:
  std::unique_ptr<MessageSource> inner_;
  std::vector<Suspension> suspensions_;
};

}  // namespace

std::unique_ptr<MessageSource> OpenSource(const SourceSettings& settings, std::string& error) {
  if (settings.tapePath.empty()) return std::make_unique<GeneratedSource>(settings.market);
  auto tape = std::make_unique<TapeSource>();
  if (!tape->Open(settings.tapePath, error)) return nullptr;
  if (settings.market.suspensions.empty()) return tape;
  return std::make_unique<SuspendedTrades>(std::move(tape), settings.market.suspensions);
}

}  // namespace sim
