// The simulated feed: answers, subscriptions and delivery.

#include "quote_feed.h"

#include <cstring>

#include "client_call.h"

namespace sim {
namespace {

constexpr int32_t kAnswerOk = 0;
constexpr int32_t kNotLoggedIn = 1;
constexpr int32_t kUnknownCodes = 2;
constexpr int32_t kLoginRefused = 1;

}  // namespace

std::vector<std::string> CopyCodes(const TextList& list) {
  std::vector<std::string> codes;
  for (int64_t i = 0; i < list.count; ++i) {
    const TextView& text = list.items[i];
    // A code shorter than six characters comes padded with NULs.
    size_t length = text.data == nullptr ? 0 : strnlen(text.data, static_cast<size_t>(text.size));
    codes.emplace_back(text.data == nullptr ? "" : std::string(text.data, length));
  }
  return codes;
}

QuoteFeed::QuoteFeed(const std::vector<std::string>& listed, bool anyCode, int64_t latencyMs,
                     ClientLine& line)
    : listed_(listed.begin(), listed.end()),
      anyCode_(anyCode),
      latencyMs_(latencyMs),
      line_(line) {}

void QuoteFeed::AnswerLogin(bool sourceOpen) {
  loggedIn_ = sourceOpen;
  line_.Calling();
  CallClient(callbacks_.onLogin, 0, loggedIn_ ? kAnswerOk : kLoginRefused);
}

bool QuoteFeed::AnswerSubscribe(int32_t reqId, int64_t kinds,
                                const std::vector<std::string>& codes) {
  line_.Calling();
  if (!loggedIn_) {
    CallClient(callbacks_.onSubscribe, reqId, kNotLoggedIn, "not logged in");
    return false;
  }
  std::string unknown;
  for (const std::string& code : codes) {
    if (!anyCode_ && listed_.count(code) == 0) {
      unknown += (unknown.empty() ? "" : ", ") + code;
      continue;
    }
    Subscription& subscription = subscriptions_[code];
    subscription.kinds |= kinds;
    if (kinds & kSnapshots) subscription.reqId[0] = reqId;
    if (kinds & kTrades) subscription.reqId[1] = reqId;
  }
  if (unknown.empty()) {
    CallClient(callbacks_.onSubscribe, reqId, kAnswerOk, "OK");
  } else {
    std::string text = "unknown codes: " + unknown;
    CallClient(callbacks_.onSubscribe, reqId, kUnknownCodes, text.c_str());
  }
  return true;
}

void QuoteFeed::AnswerUnsubscribe(int32_t reqId, const std::vector<std::string>& codes) {
  line_.Calling();
  if (!loggedIn_) return CallClient(callbacks_.onUnsubscribe, reqId, kNotLoggedIn, "not logged in");
  for (const std::string& code : codes) subscriptions_.erase(code);
  CallClient(callbacks_.onUnsubscribe, reqId, kAnswerOk, "OK");
}

// A message goes to the client if its code and kind are subscribed when it
// is stamped; one on its way is not recalled by a later unsubscription.
void QuoteFeed::OnMarket(const QuoteMessage& message) {
  if (message.code.empty()) return;
  auto found = subscriptions_.find(message.code);
  if (found == subscriptions_.end() || (found->second.kinds & message.kind) == 0) return;
  int32_t reqId = found->second.reqId[message.kind == kTrades ? 1 : 0];
  int64_t sequence = ++sequence_;
  if (latencyMs_ <= 0) {
    line_.Calling();
    return Send(reqId, sequence, message);
  }
  line_.Later(latencyMs_, [this, reqId, sequence, copy = message] { Send(reqId, sequence, copy); });
}

void QuoteFeed::Send(int32_t reqId, int64_t sequence, const QuoteMessage& message) {
  CallClient(callbacks_.onData, reqId, sequence, message.time, message.typeName,
             message.payload.data(), static_cast<int32_t>(message.payload.size()));
}

}  // namespace sim
