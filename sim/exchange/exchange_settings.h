// exchange_settings.h: how the simulated exchange (its market, pacing,
// latencies and venue) is configured. Everything comes from environment variables, or from a file
// that one of them names; with none set the feed generates the default market
// in real time and the venue keeps the demo account.
//
//   VELTRANE_SIM_CONFIG       a file of NAME=value lines with the names below
//                             ('#' starts a comment); the environment wins;
//                             a regular file of at most 1 MiB
//   VELTRANE_SIM_TAPE         a tape to replay instead of generating a market
//   VELTRANE_SIM_UPSTREAM     the vendor's libquote.so: the quote stand-in
//                             passes everything to it and the venue trades
//                             its live market (upstream.h)
//   VELTRANE_SIM_RECORD       a tape to keep every market message on, from the
//                             vendor or the simulated market (tape_recorder.h)
//   VELTRANE_SIM_DAY_END_FD   an open file descriptor that gets one byte when
//                             the day is over and every answer and report
//                             has reached the client (a backtest's harness
//                             waits on a pipe for it)
//   VELTRANE_SIM_SEED         the generator's seed (default 1)
//   VELTRANE_SIM_INSTRUMENTS  CODE[.SH|.SZ][:PREVIOUS_CLOSE][:ST][:NEW],...
//                             (default: six stocks)
//   VELTRANE_SIM_BOARD_RULES  BOARD.FIELD=N,... figures of the boards' rules
//                             (boards.h), for example star.max_quantity=50000
//   VELTRANE_SIM_SUSPENDED    CODE[@HHMM],... suspended all day or from then
//   VELTRANE_SIM_SESSIONS     HHMM[SS]-HHMM[SS],... continuous trading
//                             (default 0930-1130,1300-1500)
//   VELTRANE_SIM_AUCTIONS     "on": an opening call auction before the first
//                             session and a closing one ending the last;
//                             "off": none, as tapes recorded without them
//                             (default on)
//   VELTRANE_SIM_SNAPSHOT_MS  snapshot interval in ms, 100..60000 (default 3000)
//   VELTRANE_SIM_TRADE_RATE   mean trades per instrument and interval (default 4)
//   VELTRANE_SIM_SPEED        "max", or a factor of real time (default 1)
//   VELTRANE_SIM_FEED_LATENCY_MS    exchange ms from a message's stamp to the
//                                   client (default 30)
//   VELTRANE_SIM_ORDER_LATENCY_MS   exchange ms from a request to the venue
//                                   (default 20)
//   VELTRANE_SIM_REPORT_LATENCY_MS  exchange ms from the venue's answer or
//                                   report to the client (default 20)
//   VELTRANE_SIM_USER         the venue's account (default demo)
//   VELTRANE_SIM_PASSWORD     its password (default demo)
//   VELTRANE_SIM_CAPITAL      its cash at the start, in yuan (default 1000000)
//   VELTRANE_SIM_POSITIONS    CODE:QUANTITY[:COST],... shares held at the start,
//                             COST in yuan a share (default none)
//   VELTRANE_SIM_ACCOUNT_START  an account report to take cash and positions
//                             from, instead of the two above
//   VELTRANE_SIM_ACCOUNT_REPORT where the account's state goes at the close
//   VELTRANE_SIM_ORDER_CODES  "text" (login result 0) or "decimal" (1); default text
//   VELTRANE_SIM_QUEUE_MODEL  "risk-averse" or "proportional" (queue_models.h);
//                             default risk-averse
//   VELTRANE_SIM_COMMISSION_BP  commission on both sides, basis points (default 2.5)
//   VELTRANE_SIM_MIN_COMMISSION the least commission of an order, yuan (default 5)
//   VELTRANE_SIM_STAMP_DUTY_BP  stamp duty on sells, basis points (default 5)
//   VELTRANE_SIM_TRANSFER_FEE_BP  transfer fee on both sides, basis points
//                               (default 0.1)

#ifndef VELTRANE_SIM_EXCHANGE_SETTINGS_H
#define VELTRANE_SIM_EXCHANGE_SETTINGS_H

#include <functional>
#include <string>

#include "exchange_loop.h"
#include "message_source.h"
#include "venue.h"

namespace sim {

struct ExchangeSettings {
  SourceSettings source;
  double speed = 1.0;  // 0: as fast as possible
  LatencySettings latency;
  VenueSettings venue;
  std::string recordPath;  // empty: no recording
  int dayEndFd = -1;       // -1: the day's end is told to nobody
};

// Looks a variable up by name; null when it is not set.
using SettingLookup = std::function<const char*(const char*)>;

// Reads the settings through `lookup`. On failure returns false and sets
// `error` to one line per problem; `settings` is then unspecified.
bool LoadExchangeSettings(const SettingLookup& lookup, ExchangeSettings& settings,
                          std::string& error);

// The process environment as a lookup.
const char* FromEnvironment(const char* name);

}  // namespace sim

#endif  // VELTRANE_SIM_EXCHANGE_SETTINGS_H
