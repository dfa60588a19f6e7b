// The account report: the account's state at the close, as JSON, for the
// user and for the next day's run to start from.

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>

#include "venue.h"

namespace sim {
namespace {

using Json = nlohmann::ordered_json;

// Yuan with two decimals: written as the shortest number that reads back
// to the same double, so 10.52 is written "10.52".
double Yuan(int64_t cents) { return static_cast<double>(cents) / 100.0; }

const char* SideText(bool buy) { return buy ? "buy" : "sell"; }

Json FeesJson(const Fees& fees) {
  return {{"commission", Yuan(fees.commission)},
          {"stamp_duty", Yuan(fees.stampDuty)},
          {"transfer_fee", Yuan(fees.transfer)},
          {"total", Yuan(fees.Total())}};
}

}  // namespace

std::string Venue::AccountReport() const {
  Json start = {{"cash", Yuan(settings_.capital)}, {"positions", Json::array()}};
  for (const StartPosition& position : settings_.positions) {
    start["positions"].push_back(
        {{"code", position.code}, {"quantity", position.quantity}, {"cost", Yuan(position.cost)}});
  }
  Json positions = Json::array();
  int64_t value = 0;
  for (const Account::Position& position : account_.Positions()) {
    int64_t mark = MarkOf(position.code);
    value += mark * position.quantity;
    // Yuan a share, to four decimals.
    double average = std::round(static_cast<double>(position.cost) * 100.0 /
                                static_cast<double>(position.quantity)) /
                     10000.0;
    positions.push_back({{"code", position.code},
                         {"quantity", position.quantity},
                         {"cost", Yuan(position.cost)},
                         {"average_cost", average},
                         {"price", Yuan(mark)},
                         {"value", Yuan(mark * position.quantity)}});
  }
  Json orders = Json::array();
  for (const Order& order : orders_) {
    orders.push_back({{"order_code", order.code},
                      {"code", order.security},
                      {"side", SideText(order.buy)},
                      {"price", Yuan(order.price)},
                      {"quantity", order.quantity},
                      {"traded", order.traded},
                      {"traded_amount", Yuan(order.tradedAmount)},
                      {"fees", FeesJson(order.fees)},
                      {"status", std::string(1, order.status)},
                      {"error_id", order.errorId},
                      {"message", order.message},
                      {"time", order.time}});
  }
  Json fills = Json::array();
  for (const Match& match : matches_) {
    const Order& order = orders_[match.order];
    fills.push_back({{"match_id", match.id},
                     {"order_code", order.code},
                     {"code", order.security},
                     {"side", SideText(order.buy)},
                     {"price", Yuan(match.price)},
                     {"quantity", match.quantity},
                     {"amount", Yuan(match.price * match.quantity)},
                     {"fees", Yuan(match.fee)},
                     {"time", match.time}});
  }
  Json report = {{"schema", "veltrane-sim-account"},
                 {"version", 1},
                 {"time", Clock()},
                 {"start", std::move(start)},
                 {"cash", Yuan(account_.Cash())},
                 {"value", Yuan(value)},
                 {"total", Yuan(account_.Cash() + value)},
                 {"fees", FeesJson(feesPaid_)},
                 {"positions", std::move(positions)},
                 {"orders", std::move(orders)},
                 {"fills", std::move(fills)}};
  // Texts from a tape or a client may hold bytes that are not UTF-8.
  return report.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

void Venue::WriteAccountReport(const std::string& path) const {
  std::string temporary = path + ".partial";
  std::string text = AccountReport();
  std::FILE* file = std::fopen(temporary.c_str(), "w");
  bool written = file != nullptr && std::fwrite(text.data(), 1, text.size(), file) == text.size();
  int error = errno;
  if (file != nullptr) {
    written = std::fflush(file) == 0 && fsync(fileno(file)) == 0 && written;
    if (!written) error = errno;
    written = std::fclose(file) == 0 && written;
  }
  if (written && std::rename(temporary.c_str(), path.c_str()) == 0) return;
  if (written) error = errno;
  std::remove(temporary.c_str());
  std::fprintf(stderr, "simulated venue: the account report %s was not written: %s\n", path.c_str(),
               std::strerror(error));
}

}  // namespace sim
