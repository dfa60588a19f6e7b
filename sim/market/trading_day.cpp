// The day's phases from its sessions and whether it has auctions.

#include "trading_day.h"

#include <algorithm>
#include <string_view>

namespace sim {
namespace {

struct PhaseRow {
  const char* text;
  const char* tag;
  Entry entry;
  bool cancels;
};

constexpr PhaseRow kPhases[] = {
#define SIM_PHASE_ROW(name, text, tag, entry, cancels) {text, tag, entry, cancels},
    SIM_PHASE_MAP(SIM_PHASE_ROW)
#undef SIM_PHASE_ROW
};

const PhaseRow& RowOf(Phase phase) { return kPhases[static_cast<size_t>(phase)]; }

}  // namespace

const char* PhaseText(Phase phase) { return RowOf(phase).text; }
const char* PhaseTag(Phase phase) { return RowOf(phase).tag; }
Entry EntryIn(Phase phase) { return RowOf(phase).entry; }
bool TakesCancels(Phase phase) { return RowOf(phase).cancels; }

bool IsCallTag(std::string_view tag) {
  return tag == PhaseTag(Phase::kOpeningCall) || tag == PhaseTag(Phase::kClosingCall);
}

int64_t TradingDay::Opens() const {
  return auctions ? std::max<int64_t>(0, OpeningCallStart()) : sessions.front().start;
}

// A last session shorter than the closing call is a call throughout.
int64_t TradingDay::ClosingCallStart() const {
  return std::max(sessions.back().start, sessions.back().end - kClosingCallMs);
}

Phase TradingDay::PhaseAt(int64_t ms) const {
  if (ms >= Closes()) return Phase::kClosed;
  if (ms < Opens()) return Phase::kBeforeOpen;
  if (auctions) {
    if (ms < OpeningUncross()) {
      return ms < OpeningCallStart() + kOpeningCancelsMs ? Phase::kOpeningCall
                                                         : Phase::kOpeningCallFirm;
    }
    if (ms < sessions.front().start) return Phase::kOpeningWait;
    if (ms >= ClosingCallStart()) return Phase::kClosingCall;
  }
  for (const Session& session : sessions) {
    if (ms >= session.start && ms < session.end) return Phase::kContinuous;
  }
  return Phase::kBreak;
}

int64_t TradingDay::NextContinuous(int64_t ms) const {
  for (const Session& session : sessions) {
    if (session.start >= ms) return session.start;
  }
  return Closes();
}

}  // namespace sim
