// The simulated exchange on exchange time: a client that trades from inside
// its callbacks gets the same session every run, however busy the machine,
// and the three latencies move what an order meets and when the client
// hears of it.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "exchange.h"
#include "quote.pb.h"
#include "quote_messages.h"
#include "sim_days.h"
#include "text_format.h"

namespace {

using testing_support::Format;

// A client of both stand-ins' interfaces that writes every callback as one
// line and runs `react` on the exchange's thread after each market message.
class Client {
 public:
  explicit Client(sim::SimulatedExchange& exchange) : exchange_(exchange) { current_ = this; }
  ~Client() { current_ = nullptr; }

  std::function<void(Client&, const std::string& code, int64_t time, const sim::SnapshotView&)>
      react;
  // After each insert answer, with its request and order code.
  std::function<void(Client&, int32_t reqId, const std::string& orderCode)> answered;

  void Connect(const std::vector<std::string>& codes) {
    exchange_.SetQuoteCallbacks(QuoteTable());
    exchange_.SetTradeCallbacks(ItgTable());
    exchange_.TradeLogin("demo", "demo");
    exchange_.QuoteLogin();
    exchange_.Subscribe(1, sim::kSnapshots | sim::kTrades, codes);
  }

  void Buy(int32_t reqId, const std::string& code, int64_t cents, int64_t quantity) {
    Place(reqId, code, LIBITG_SIDE_BUY, cents, quantity);
  }
  void Place(int32_t reqId, const std::string& code, int64_t side, int64_t cents,
             int64_t quantity) {
    std::string price = Format("%lld.%02lld0000", static_cast<long long>(cents / 100),
                               static_cast<long long>(cents % 100));
    exchange_.Trade([=](sim::Venue& venue) { venue.Insert(reqId, code, side, price, quantity); },
                    true);
  }
  void Cancel(int32_t reqId, const std::string& orderCode) {
    exchange_.Trade([=](sim::Venue& venue) { venue.Cancel(reqId, orderCode); }, false);
  }
  void QueryAccount(int32_t reqId) {
    exchange_.Trade([=](sim::Venue& venue) { venue.QueryPositions(reqId); }, false);
    exchange_.Trade([=](sim::Venue& venue) { venue.QueryBalance(reqId); }, false);
  }

  // Waits (with a deadline) for a line that starts with `prefix`.
  bool WaitFor(const std::string& prefix) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(60), [&] {
      for (const std::string& line : lines_) {
        if (line.compare(0, prefix.size(), prefix) == 0) return true;
      }
      return false;
    });
  }

  // The lines so far, with the codes' run-dependent stem taken out.
  std::vector<std::string> Lines() {
    std::lock_guard<std::mutex> hold(mutex_);
    std::vector<std::string> lines;
    for (std::string line : lines_) {
      // "S<digits>-" and "M<digits>-" become "S-" and "M-".
      for (size_t at = 0; (at = line.find_first_of("SM", at)) != std::string::npos; ++at) {
        size_t end = line.find_first_not_of("0123456789", at + 1);
        if (end != std::string::npos && end > at + 1 && line[end] == '-') {
          line.erase(at + 1, end - at - 1);
        }
      }
      lines.push_back(std::move(line));
    }
    return lines;
  }

  int64_t holding(const std::string& code) const {
    auto found = holdings_.find(code);
    return found == holdings_.end() ? 0 : found->second;
  }

 private:
  void Add(std::string line) {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      lines_.push_back(std::move(line));
    }
    changed_.notify_all();
  }

  static QuoteCallbacks QuoteTable() {
    return {[](int32_t, int32_t status) { current_->Add(Format("quote login %d", status)); },
            [](int32_t reqId, int32_t result, const char* text) {
              current_->Add(Format("subscribe %d %d %s", reqId, result, text));
            },
            [](int32_t reqId, int32_t result, const char* text) {
              current_->Add(Format("unsubscribe %d %d %s", reqId, result, text));
            },
            [](int32_t reqId, int64_t sequence, int64_t time, const char* type, const char* payload,
               int32_t length) {
              current_->OnData(reqId, sequence, time, type, std::string_view(payload, length));
            }};
  }

  void OnData(int32_t reqId, int64_t sequence, int64_t time, const char* type,
              std::string_view payload) {
    sim::SnapshotView book;
    bool snapshot = sim::ReadSnapshot(type, payload, book);
    lmvproto::SSEL2_Quotation shanghai;
    lmvproto::SZSEL2_Quotation shenzhen;
    std::string code;
    const int size = static_cast<int>(payload.size());
    if (snapshot && std::string_view(type) == "SZSEL2_Quotation") {
      if (shenzhen.ParseFromArray(payload.data(), size)) code = shenzhen.symbol();
    } else if (snapshot && shanghai.ParseFromArray(payload.data(), size)) {
      code = shanghai.symbol();
    }
    Add(Format("data %d %lld %lld %s %s", reqId, static_cast<long long>(sequence),
               static_cast<long long>(time), type, code.c_str()));
    if (snapshot && react) react(*this, code, time, book);
  }

  static ItgCallbacks ItgTable() {
    return {[](int32_t, int32_t status, const char* message) {
              current_->Add(Format("login %d %s", status, message));
            },
            [](int32_t reqId, int32_t error, const char* message, const char* code,
               const char* orderCode, const char*, int32_t side, double price, int32_t quantity,
               double tradedPrice, int32_t traded, char status, const char* time, int32_t kind) {
              current_->Add(Format("order %d %d [%s] %s %s side%d %.2fx%d traded %.4fx%d %c %s k%d",
                                   reqId, error, message, code, orderCode, side, price, quantity,
                                   tradedPrice, traded, status, time, kind));
            },
            [](int32_t reqId, int32_t error, const char*, const char* code, const char* orderCode,
               const char*, const char* matchId, int32_t side, double price, int32_t quantity,
               const char* time, int32_t kind) {
              current_->Add(Format("match %d %d %s %s %s side%d %.2fx%d %s k%d", reqId, error, code,
                                   orderCode, matchId, side, price, quantity, time, kind));
              if (kind == LIBITG_REPORT_NOTICE) {
                current_->holdings_[code] += side == LIBITG_SIDE_BUY ? quantity : -quantity;
              }
            },
            [](int32_t reqId, int32_t error, const char* message, const char* code,
               int32_t position, int32_t last) {
              current_->Add(Format("position %d %d [%s] %s %d last%d", reqId, error, message, code,
                                   position, last));
            },
            [](int32_t reqId, int32_t error, const char* message, const char* code,
               const char* orderCode, const char*, int32_t side, double price, int32_t quantity) {
              current_->Add(Format("insert %d %d [%s] %s %s side%d %.2fx%d", reqId, error, message,
                                   code, orderCode, side, price, quantity));
              if (current_->answered) current_->answered(*current_, reqId, orderCode);
            },
            [](int32_t reqId, int32_t error, const char* message) {
              current_->Add(Format("cancel %d %d [%s]", reqId, error, message));
            },
            [](int32_t reqId, int32_t error, const char* message, const char* currency,
               const char* available, const char* total) {
              current_->Add(Format("balance %d %d [%s] %s %s %s", reqId, error, message, currency,
                                   available, total));
            }};
  }

  static Client* current_;
  sim::SimulatedExchange& exchange_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> lines_;
  std::map<std::string, int64_t> holdings_;  // on the exchange's thread only
};

Client* Client::current_ = nullptr;

// A few minutes of three generated stocks, traded from inside the callbacks:
// a marketable buy, a sell of part of what is held, a buy that rests below
// the bids and is cancelled at the next snapshot; the account is queried at
// the closing snapshot.
std::vector<std::string> TradeGeneratedSession(const sim::LatencySettings& latency) {
  sim::ExchangeSettings settings;
  settings.source.market.instruments = {{"600000", sim::Exchange::kShanghai, 1052},
                                        {"000001", sim::Exchange::kShenzhen, 1123},
                                        {"600036", sim::Exchange::kShanghai, 3310}};
  settings.source.market.sessions = {{34200000, 34380000}};  // 09:30-09:33
  settings.source.market.snapshotIntervalMs = 1000;
  settings.speed = 0;
  settings.latency = latency;
  sim::SimulatedExchange exchange(settings, "");
  Client client(exchange);
  std::map<std::string, int> snapshots;
  std::map<std::string, std::string> resting;
  int32_t next = 100;
  bool queried = false;
  client.answered = [&](Client&, int32_t reqId, const std::string& orderCode) {
    if (reqId % 10 == 3) resting[std::to_string(reqId)] = orderCode;
  };
  client.react = [&](Client& c, const std::string& code, int64_t time,
                     const sim::SnapshotView& book) {
    if (time >= 93300000) {
      if (!queried) c.QueryAccount(90);
      queried = true;
      return;
    }
    if (book.asks.empty() || book.bids.empty()) return;
    int n = ++snapshots[code];
    for (auto& [reqId, orderCode] : resting) c.Cancel(std::stoi(reqId) + 1, orderCode);
    resting.clear();
    next += 10;
    if (n % 4 == 1) c.Buy(next + 1, code, book.asks.front().price + 1, 300);
    if (n % 4 == 2 && c.holding(code) >= 100) {
      c.Place(next + 2, code, LIBITG_SIDE_SELL, book.bids.front().price, 100);
    }
    if (n % 4 == 3) c.Buy(next + 3, code, book.bids.front().price - 3, 100);
  };
  client.Connect({"600000", "000001", "600036"});
  EXPECT_TRUE(client.WaitFor("balance 90"));
  exchange.Stop();
  // What follows the answer depends on when the test stopped the exchange.
  std::vector<std::string> lines = client.Lines();
  auto balance = std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
    return line.rfind("balance 90", 0) == 0;
  });
  if (balance != lines.end()) lines.erase(balance + 1, lines.end());
  return lines;
}

TEST(ExchangeLoopTest, TheSameSessionEveryRunEvenOnBusyCores) {
  const sim::LatencySettings cases[] = {{}, {0, 0, 0}};
  for (const sim::LatencySettings& latency : cases) {
    SCOPED_TRACE(latency.orderMs);
    std::vector<std::string> first = TradeGeneratedSession(latency);
    ASSERT_GT(std::count_if(first.begin(), first.end(),
                            [](const std::string& line) { return line.rfind("match ", 0) == 0; }),
              5);
    std::vector<std::string> again = TradeGeneratedSession(latency);
    ASSERT_EQ(again.size(), first.size());
    for (size_t i = 0; i < first.size(); ++i) ASSERT_EQ(again[i], first[i]) << i;
    // A CPU-bound process beside the exchange's thread and the client's.
    pid_t busy = fork();
    ASSERT_GE(busy, 0);
    if (busy == 0) {
      for (volatile uint64_t spin = 0;; ++spin) {
      }
    }
    std::vector<std::string> loaded = TradeGeneratedSession(latency);
    kill(busy, SIGKILL);
    waitpid(busy, nullptr, 0);
    ASSERT_EQ(loaded.size(), first.size());
    for (size_t i = 0; i < first.size(); ++i) ASSERT_EQ(loaded[i], first[i]) << i;
  }
}

// Ten snapshots of 600000 ten milliseconds apart from 09:30:00.000, the best
// ask a cent higher in each: 12.35, 12.36, ...
std::vector<sim::QuoteMessage> RisingAsks() {
  std::vector<sim::QuoteMessage> messages;
  for (int k = 0; k < 10; ++k) {
    lmvproto::SSEL2_Quotation book = testing_support::ShanghaiSnapshot();
    book.set_askprice01(12.35 + 0.01 * k);
    book.set_askprice02(12.45 + 0.01 * k);
    messages.push_back({"SSEL2_Quotation", 93000000 + 10 * k, "600000", sim::kSnapshots,
                        testing_support::Encode(book)});
  }
  return messages;
}

TEST(ExchangeLoopTest, LatenciesMoveWhatAnOrderMeetsAndWhenItIsAnswered) {
  struct Case {
    sim::LatencySettings latency;  // feed, order, report
    const char* price;             // of the fill
    const char* orderTime;         // the venue's time at the order's arrival
    int64_t seenBeforeAnswer;      // the stamp of the last message before the insert answer
  };
  const Case cases[] = {
      // The book the client was shown.
      {{0, 0, 0}, "12.35", "09:30:00.000", 93000000},
      // It arrives at .020, after the message of .010 and ahead of the one of .020.
      {{0, 20, 0}, "12.36", "09:30:00.020", 93000010},
      // The first message reaches the client at .015; the market is then at .010.
      {{15, 0, 0}, "12.36", "09:30:00.015", 93000000},
      // The answer comes at .035.
      {{0, 0, 35}, "12.35", "09:30:00.000", 93000030},
      // Seen at .015, arrives at .035, answered at .070 (when .050 has just been seen).
      {{15, 20, 35}, "12.38", "09:30:00.035", 93000050},
  };
  const std::string tape = ::testing::TempDir() + "rising" + std::to_string(getpid()) + ".tape";
  testing_support::WriteTape(tape, RisingAsks());
  for (const Case& c : cases) {
    SCOPED_TRACE(Format("latencies %lld/%lld/%lld", static_cast<long long>(c.latency.feedMs),
                        static_cast<long long>(c.latency.orderMs),
                        static_cast<long long>(c.latency.reportMs)));
    sim::ExchangeSettings settings;
    settings.source.tapePath = tape;
    settings.speed = 0;
    settings.latency = c.latency;
    sim::SimulatedExchange exchange(settings, "");
    Client client(exchange);
    bool placed = false;
    client.react = [&](Client& cl, const std::string&, int64_t, const sim::SnapshotView&) {
      if (!placed) cl.Buy(7, "600000", 1245, 100);
      placed = true;
    };
    client.Connect({"600000"});
    ASSERT_TRUE(client.WaitFor("match 7"));
    exchange.Stop();
    std::vector<std::string> lines = client.Lines();
    int64_t lastSeen = 0;
    for (const std::string& line : lines) {
      long long time = 0;
      if (std::sscanf(line.c_str(), "data %*d %*d %lld", &time) == 1) lastSeen = time;
      if (line.rfind("insert 7 0", 0) == 0) break;
    }
    EXPECT_EQ(lastSeen, c.seenBeforeAnswer);
    auto match = std::find_if(lines.begin(), lines.end(),
                              [](const std::string& l) { return l.rfind("match 7", 0) == 0; });
    ASSERT_NE(match, lines.end());
    EXPECT_NE(match->find(std::string(" ") + c.price + "x100 "), std::string::npos) << *match;
    auto accepted = std::find_if(lines.begin(), lines.end(), [](const std::string& l) {
      return l.rfind("order 7 0 [accepted]", 0) == 0;
    });
    ASSERT_NE(accepted, lines.end());
    EXPECT_NE(accepted->find(c.orderTime), std::string::npos) << *accepted;
  }
  std::remove(tape.c_str());
}

// The day's end goes to a pipe once the last thing owed to the client (the
// expiry of an order resting at the close, a report latency after it) has
// reached it; a reader that has gone costs a warning, not the process.
TEST(ExchangeLoopTest, TheDayEndIsToldOnceWhenEverythingOwedHasReachedTheClient) {
  struct Case {
    sim::LatencySettings latency;
    bool readerGone;
  };
  const Case cases[] = {{{}, false}, {{0, 0, 0}, false}, {{}, true}};
  const std::string tape = ::testing::TempDir() + "end" + std::to_string(getpid()) + ".tape";
  testing_support::WriteTape(tape, RisingAsks());
  for (const Case& c : cases) {
    SCOPED_TRACE(Format("report latency %lld, reader gone %d",
                        static_cast<long long>(c.latency.reportMs), c.readerGone));
    int ends[2];
    ASSERT_EQ(pipe2(ends, O_NONBLOCK), 0);
    if (c.readerGone) ::close(ends[0]);
    sim::ExchangeSettings settings;
    settings.source.tapePath = tape;
    settings.speed = 0;
    settings.latency = c.latency;
    settings.dayEndFd = ends[1];
    // Standard error through a pipe of our own, to wait for the warning.
    int errors[2];
    ASSERT_EQ(pipe(errors), 0);
    const int standardError = dup(2);
    dup2(errors[1], 2);
    std::string warned;
    {
      sim::SimulatedExchange exchange(settings, "");
      Client client(exchange);
      bool placed = false;
      client.react = [&](Client& cl, const std::string&, int64_t, const sim::SnapshotView&) {
        if (!placed) cl.Buy(7, "600000", 1200, 100);  // rests below the asks all day
        placed = true;
      };
      client.Connect({"600000"});
      pollfd readable{c.readerGone ? errors[0] : ends[0], POLLIN, 0};
      while (warned.find("the day's end could not be told") == std::string::npos &&
             poll(&readable, 1, 60000) == 1 && c.readerGone) {
        char text[512];
        ssize_t got = ::read(errors[0], text, sizeof text);
        if (got <= 0) break;
        warned.append(text, static_cast<size_t>(got));
      }
      const std::vector<std::string> told = client.Lines();
      exchange.Stop();
      // Nothing came after the end was told, and it came after the last of both.
      EXPECT_EQ(client.Lines().size(), told.size());
      EXPECT_NE(std::find(told.begin(), told.end(), "data 1 10 93000090 SSEL2_Quotation 600000"),
                told.end());
      EXPECT_NE(std::find_if(told.begin(), told.end(),
                             [](const std::string& line) {
                               return line.rfind("order 7 0 [expired at the close]", 0) == 0;
                             }),
                told.end());
    }
    dup2(standardError, 2);
    ::close(standardError);
    ::close(errors[0]);
    ::close(errors[1]);
    if (c.readerGone) {
      EXPECT_NE(warned.find("the day's end could not be told"), std::string::npos) << warned;
    } else {
      char bytes[4];
      EXPECT_EQ(::read(ends[0], bytes, sizeof bytes), 1);  // once only
      ::close(ends[0]);
    }
    ::close(ends[1]);
  }
  std::remove(tape.c_str());
}

}  // namespace
