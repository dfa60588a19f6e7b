// trading_day.h: the phases of the day, which the generated market follows
// and by which the venue takes orders and cancels.
//
// Both exchanges open with a call auction from 09:15 to 09:25 (cancels are
// refused from 09:20), uncross at 09:25 and hold the orders entered from
// then on until continuous trading starts at 09:30; they close with a call
// auction from 14:57 to 15:00, which takes no cancels either. The auctions
// are placed around the configured sessions: the opening call ends five
// minutes before the first session, the closing call is the last three
// minutes of the last one. With auctions off the day is its sessions alone.

#ifndef VELTRANE_SIM_TRADING_DAY_H
#define VELTRANE_SIM_TRADING_DAY_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

// A continuous-trading session, in milliseconds after midnight.
struct Session {
  int64_t start;
  int64_t end;
};

// What the venue does with an order that arrives in a phase.
enum class Entry {
  kRefused,  // the market is not open
  kCall,     // it joins the call auction
  kWaits,    // it waits for continuous trading
  kBook,     // it meets the book
};

// XX(enumerator, text, SecurityPhaseTag of its snapshots, entry, cancels taken)
#define SIM_PHASE_MAP(XX)                                                                        \
  XX(kBeforeOpen, "before the open", "S", Entry::kRefused, true)                                 \
  XX(kOpeningCall, "the opening call auction", "C", Entry::kCall, true)                          \
  XX(kOpeningCallFirm, "the opening call auction's last five minutes", "C", Entry::kCall, false) \
  XX(kOpeningWait, "the wait for continuous trading", "W", Entry::kWaits, true)                  \
  XX(kContinuous, "continuous trading", "T", Entry::kBook, true)                                 \
  XX(kBreak, "the break between sessions", "B", Entry::kWaits, true)                             \
  XX(kClosingCall, "the closing call auction", "U", Entry::kCall, false)                         \
  XX(kClosed, "the close", "E", Entry::kRefused, true)

enum class Phase {
#define SIM_PHASE_ENUM(name, text, tag, entry, cancels) name,
  SIM_PHASE_MAP(SIM_PHASE_ENUM)
#undef SIM_PHASE_ENUM
};

const char* PhaseText(Phase phase);
const char* PhaseTag(Phase phase);
Entry EntryIn(Phase phase);
bool TakesCancels(Phase phase);
// True for the tags of call-auction snapshots.
bool IsCallTag(std::string_view tag);

// Milliseconds the auctions keep from the sessions.
constexpr int64_t kOpeningCallMs = 10 * 60000;    // 09:15 to 09:25
constexpr int64_t kOpeningCancelsMs = 5 * 60000;  // cancels until 09:20
constexpr int64_t kOpeningWaitMs = 5 * 60000;     // 09:25 to 09:30
constexpr int64_t kClosingCallMs = 3 * 60000;     // 14:57 to 15:00

struct TradingDay {
  std::vector<Session> sessions = {{34200000, 41400000}, {46800000, 54000000}};
  bool auctions = true;

  Phase PhaseAt(int64_t ms) const;
  // When orders are first taken: the opening call, else the first session.
  int64_t Opens() const;
  int64_t Closes() const { return sessions.back().end; }
  // The opening call, its uncross, and the closing call's start; meaningful
  // with auctions only.
  int64_t OpeningCallStart() const {
    return sessions.front().start - kOpeningWaitMs - kOpeningCallMs;
  }
  int64_t OpeningUncross() const { return sessions.front().start - kOpeningWaitMs; }
  int64_t ClosingCallStart() const;
  // The next time continuous trading begins at or after `ms`; Closes() if
  // it does not again.
  int64_t NextContinuous(int64_t ms) const;
};

}  // namespace sim

#endif  // VELTRANE_SIM_TRADING_DAY_H
