// The C++ half of the Python tests: a module "ombrel_driver" that drives the
// test doubles of the outside libraries from Python. Events are fired on the
// doubles' gateway thread (or on threads of their own), never on the calling
// Python thread, which gives up the interpreter lock while it waits.
//
// Texts are passed as bytes (or str, sent as UTF-8), so that a test can send
// bytes that are not UTF-8.

#include <atomic>
#include <boost/python.hpp>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "ZR_QuantApi.h"
#include "event_kinds.h"
#include "fake_gateways.h"
#include "python_threads.h"
#include "quote_messages.h"
#include "risk_checks.h"

namespace {

namespace py = boost::python;
using testing_support::SpiOf;
using testing_support::WithoutGil;

std::string Bytes(const py::object& text) {
  if (PyBytes_Check(text.ptr())) {
    return std::string(PyBytes_AS_STRING(text.ptr()), PyBytes_GET_SIZE(text.ptr()));
  }
  return py::extract<std::string>(text);
}

void RunOnGatewayThread(std::function<void()> event) {
  WithoutGil released;
  fake::RunOnGatewayThread(std::move(event));
}

void FireTrade(std::function<void(const ItgCallbacks&)> fire) {
  RunOnGatewayThread([fire] { fire(fake::RegisteredItgCallbacks()); });
}

void FireQuote(std::function<void(const QuoteCallbacks&)> fire) {
  RunOnGatewayThread([fire] { fire(fake::RegisteredQuoteCallbacks()); });
}

template <size_t N>
void Fill(char (&field)[N], const std::string& bytes) {
  std::memcpy(field, bytes.data(), bytes.size() < N ? bytes.size() : N);
}

// --- The call log ----------------------------------------------------------

py::object TextObject(const fake::Text& text) {
  if (!text.present) return py::object();
  return py::object(py::handle<>(
      PyBytes_FromStringAndSize(text.bytes.data(), static_cast<Py_ssize_t>(text.bytes.size()))));
}

// [(function, [argument, ...]), ...]: an int, bytes for a text (None for a
// null one), a list of bytes for a text list.
py::list Calls() {
  py::list calls;
  for (const fake::Call& call : fake::Calls()) {
    py::list args;
    for (const fake::Arg& arg : call.args) {
      if (const int64_t* number = std::get_if<int64_t>(&arg)) {
        args.append(*number);
      } else if (const fake::Text* text = std::get_if<fake::Text>(&arg)) {
        args.append(TextObject(*text));
      } else {
        py::list items;
        for (const fake::Text& item : std::get<fake::List>(arg).items)
          items.append(TextObject(item));
        args.append(items);
      }
    }
    calls.append(py::make_tuple(call.function, args));
  }
  return calls;
}

void SetResult(const std::string& function, int64_t result) { fake::SetResult(function, result); }

// --- Trade gateway events ----------------------------------------------------

void ItgLogin(int status, py::object message) {
  const std::string text = Bytes(message);
  FireTrade([=](const ItgCallbacks& itg) { itg.onLogin(1, status, text.c_str()); });
}

void ItgInsert(int reqId, int errorId, py::object message, py::object code, py::object orderCode,
               int side, double price, int quantity) {
  const std::string texts[] = {Bytes(message), Bytes(code), Bytes(orderCode)};
  FireTrade([=](const ItgCallbacks& itg) {
    itg.onInsert(reqId, errorId, texts[0].c_str(), texts[1].c_str(), texts[2].c_str(), "SH", side,
                 price, quantity);
  });
}

void ItgOrder(int reqId, int errorId, py::object message, py::object code, py::object orderCode,
              int side, double orderPrice, int orderQty, double tradedPrice, int tradedQty,
              const std::string& status, py::object orderTime, int reportKind) {
  const std::string texts[] = {Bytes(message), Bytes(code), Bytes(orderCode), Bytes(orderTime)};
  const char statusCode = status.empty() ? '\0' : status[0];
  FireTrade([=](const ItgCallbacks& itg) {
    itg.onOrder(reqId, errorId, texts[0].c_str(), texts[1].c_str(), texts[2].c_str(), "SH", side,
                orderPrice, orderQty, tradedPrice, tradedQty, statusCode, texts[3].c_str(),
                reportKind);
  });
}

void ItgMatch(int reqId, int errorId, py::object message, py::object code, py::object orderCode,
              py::object matchId, int side, double price, int quantity, py::object matchTime,
              int reportKind) {
  const std::string texts[] = {Bytes(message), Bytes(code), Bytes(orderCode), Bytes(matchId),
                               Bytes(matchTime)};
  FireTrade([=](const ItgCallbacks& itg) {
    itg.onMatch(reqId, errorId, texts[0].c_str(), texts[1].c_str(), texts[2].c_str(), "SH",
                texts[3].c_str(), side, price, quantity, texts[4].c_str(), reportKind);
  });
}

void ItgPosition(int reqId, int errorId, py::object message, py::object code, int position,
                 int isLast) {
  const std::string texts[] = {Bytes(message), Bytes(code)};
  FireTrade([=](const ItgCallbacks& itg) {
    itg.onPosition(reqId, errorId, texts[0].c_str(), texts[1].c_str(), position, isLast);
  });
}

void ItgCancel(int reqId, int errorId, py::object message) {
  const std::string text = Bytes(message);
  FireTrade([=](const ItgCallbacks& itg) { itg.onCancel(reqId, errorId, text.c_str()); });
}

void ItgBalance(int reqId, int errorId, py::object message, py::object available,
                py::object total) {
  const std::string texts[] = {Bytes(message), Bytes(available), Bytes(total)};
  FireTrade([=](const ItgCallbacks& itg) {
    itg.onBalance(reqId, errorId, texts[0].c_str(), "CNY", texts[1].c_str(), texts[2].c_str());
  });
}

// Answers of `threads` threads at once, each its own run of `perThread`
// refused insert answers (refused, so no order number is made) with request
// ids thread * 1000000 + i, in order per thread.
void InsertBurst(int threads, int perThread) {
  const ItgCallbacks itg = fake::RegisteredItgCallbacks();
  WithoutGil released;
  std::vector<std::thread> producers;
  for (int t = 0; t < threads; ++t) {
    producers.emplace_back([=] {
      for (int i = 0; i < perThread; ++i) {
        itg.onInsert(t * 1000000 + i, 1, "burst", "600000", "", "SH", 1, 10.0, 100);
      }
    });
  }
  for (std::thread& producer : producers) producer.join();
}

// How many events the script's handlers have finished; they count
// themselves through note_handled.
std::atomic<int64_t> g_handled{0};

void NoteHandled() { g_handled.fetch_add(1); }

// Fires `count` insert answers from a thread of their own and returns, for
// each, how many handlers had finished when its call returned.
py::list WatchedInserts(int count) {
  const ItgCallbacks itg = fake::RegisteredItgCallbacks();
  std::vector<int64_t> seen;
  {
    WithoutGil released;
    g_handled.store(0);
    std::thread([&] {
      for (int i = 0; i < count; ++i) {
        itg.onInsert(i, 1, "watched", "600000", "", "SH", 1, 10.0, 100);
        seen.push_back(g_handled.load());
      }
    }).join();
  }
  py::list result;
  for (int64_t handled : seen) result.append(handled);
  return result;
}

// Refused insert answers from a thread of their own, without end, as a
// library thread that is still busy while the process exits.
void StartEndlessStream() {
  const ItgCallbacks itg = fake::RegisteredItgCallbacks();
  std::thread([itg] {
    for (int i = 0;; ++i) {
      itg.onInsert(i, 1, "stream", "600000", "", "SH", 1, 10.0, 100);
      if (i % 64 == 0) std::this_thread::yield();
    }
  }).detach();
}

// --- Quote library events ----------------------------------------------------

void QuoteLogin(int status) {
  FireQuote([=](const QuoteCallbacks& quote) { quote.onLogin(1, status); });
}

void QuoteSubscribe(int reqId, int status, py::object message) {
  const std::string text = Bytes(message);
  FireQuote([=](const QuoteCallbacks& quote) { quote.onSubscribe(reqId, status, text.c_str()); });
}

void QuoteData(int reqId, const std::string& typeName, const std::string& payload) {
  FireQuote([=](const QuoteCallbacks& quote) {
    quote.onData(reqId, 1, 1, typeName.c_str(), payload.data(),
                 static_cast<int32_t>(payload.size()));
  });
}

// A Shanghai snapshot of 600000 (ten levels of 12.35.. and 12.34..) with the
// given time, previous close, total volume and total amount.
void QuoteSnapshot(int reqId, int time, double preClose, double volume, double amount) {
  lmvproto::SSEL2_Quotation snapshot = testing_support::ShanghaiSnapshot();
  snapshot.set_time(time);
  snapshot.set_precloseprice(preClose);
  snapshot.set_totalvolume(volume);
  snapshot.set_totalamount(amount);
  QuoteData(reqId, "SSEL2_Quotation", testing_support::Encode(snapshot));
}

// A Shanghai trade of 600000; flag 1 is a buy, 2 a sell.
void QuoteTrade(int reqId, int time, double price, double volume, int flag) {
  lmvproto::SSEL2_Transaction trade = testing_support::ShanghaiTrade();
  trade.set_time(time);
  trade.set_tradeprice(price);
  trade.set_tradevolume(volume);
  trade.set_buysellflag(flag);
  QuoteData(reqId, "SSEL2_Transaction", testing_support::Encode(trade));
}

// --- Records veltrane never makes, straight to the spi of `api` -----------

void SpiUserInfo(py::object api, long long pInfo, py::object errDesc) {
  Corvane::ZR_QuantSpi& spi = SpiOf(api);
  Corvane::ZR_QuantUserBase user;
  user.pInfo = pInfo;
  Fill(user.errDesc, Bytes(errDesc));
  RunOnGatewayThread([&] { spi.OnRtnUserInfo(&user); });
}

void SpiCapital(py::object api, int reqId, int available, int total, int errorId, bool isLast) {
  Corvane::ZR_QuantSpi& spi = SpiOf(api);
  Corvane::TD_RspQryAccountMaxEntrustCount answer;
  answer.nReqID = reqId;
  answer.nAvailableCaptial = available;
  answer.nTotalCaptial = total;
  RunOnGatewayThread([&] { spi.OnRspQryAccountMaxEntrustCount(&answer, errorId, isLast); });
}

void SpiSubQuote(py::object api, int reqId, py::list codes, int errorId, py::object errDesc) {
  Corvane::ZR_QuantSpi& spi = SpiOf(api);
  std::vector<std::array<char, 32>> table(static_cast<size_t>(py::len(codes)));
  for (size_t i = 0; i < table.size(); ++i) {
    table[i] = {};
    const std::string code = Bytes(codes[i]);
    std::memcpy(table[i].data(), code.data(), code.size() < 32 ? code.size() : 32);
  }
  const std::string text = Bytes(errDesc);
  const auto* entries = reinterpret_cast<const char(*)[32]>(table.data());
  RunOnGatewayThread([&] {
    spi.OnRspSubQuote(reqId, 1, 0, entries, static_cast<int>(table.size()), "", "", errorId,
                      text.c_str());
  });
}

void SpiDisconnect(py::object api) {
  Corvane::ZR_QuantSpi& spi = SpiOf(api);
  RunOnGatewayThread([&] { spi.OnDisconnect(10); });
}

// An insert answer whose code and text fill their whole fields, without a
// terminator.
void SpiFullTexts(py::object api) {
  Corvane::ZR_QuantSpi& spi = SpiOf(api);
  Corvane::TD_RspOrderInsert answer;
  std::memset(answer.szContractCode, 'C', sizeof answer.szContractCode);
  std::memset(answer.errDesc, 'E', sizeof answer.errDesc);
  RunOnGatewayThread([&] { spi.OnRspOrderInsert(&answer, 0); });
}

// The module's event table: each callback method's name, in the order of
// QuantCallBack's operations, and whether QuantCallBack registers it.
py::list EventMethods() {
  py::list methods;
#define OMBREL_METHOD_ROW(Name, Record, SpiOperation, Status, Registering) \
  methods.append(py::make_tuple(                                           \
      "Rtn" #Name, ombrel::Registration::Registering == ombrel::Registration::kPureVirtual));
  OMBREL_EVENT_MAP(OMBREL_METHOD_ROW)
#undef OMBREL_METHOD_ROW
  return methods;
}

}  // namespace

BOOST_PYTHON_MODULE(ombrel_driver) {
  py::def("event_methods", &EventMethods);
  py::def("calls", &Calls);
  py::def("reset", &fake::Reset);
  // Limits off, trading on, and the risk checks' orders, positions and
  // counters forgotten.
  py::def("reset_risk", +[] { veltrane::ResetRiskForTesting(nullptr); });
  py::def("set_result", &SetResult);
  py::def("itg_login", &ItgLogin);
  py::def("itg_insert", &ItgInsert);
  py::def("itg_order", &ItgOrder);
  py::def("itg_match", &ItgMatch);
  py::def("itg_position", &ItgPosition);
  py::def("itg_cancel", &ItgCancel);
  py::def("itg_balance", &ItgBalance);
  py::def("insert_burst", &InsertBurst);
  py::def("start_endless_stream", &StartEndlessStream);
  py::def("note_handled", &NoteHandled);
  py::def("watched_inserts", &WatchedInserts);
  py::def("quote_login", &QuoteLogin);
  py::def("quote_subscribe", &QuoteSubscribe);
  py::def("quote_snapshot", &QuoteSnapshot);
  py::def("quote_trade", &QuoteTrade);
  py::def("spi_user_info", &SpiUserInfo);
  py::def("spi_capital", &SpiCapital);
  py::def("spi_sub_quote", &SpiSubQuote);
  py::def("spi_disconnect", &SpiDisconnect);
  py::def("spi_full_texts", &SpiFullTexts);
}
