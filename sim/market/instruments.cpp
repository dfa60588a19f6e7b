// Instrument lists: the default market and the parser of configured ones.

#include "instruments.h"

#include <algorithm>
#include <cctype>

#include "random.h"

namespace sim {
namespace {

// A price at which the ten levels and the limits both fit: at least 1.00, and
// small enough that limits and turnover stay far from overflow.
constexpr int64_t kLowestPrice = 100;
constexpr int64_t kHighestPrice = 9999999;

bool IsSixDigits(std::string_view code) {
  return code.size() == 6 &&
         std::all_of(code.begin(), code.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
    text.remove_prefix(1);
  }
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
    text.remove_suffix(1);
  }
  return text;
}

bool ParseEntry(std::string_view entry, uint64_t seed, Instrument& out, std::string& error) {
  const std::string whole(entry);
  std::string_view price;
  std::string_view rest;
  if (size_t colon = entry.find(':'); colon != std::string_view::npos) {
    rest = entry.substr(colon + 1);
    entry = Trim(entry.substr(0, colon));
  }
  while (!rest.empty()) {
    size_t colon = rest.find(':');
    std::string_view field = Trim(rest.substr(0, colon));
    rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
    if (field == "ST" || field == "st") {
      out.st = true;
    } else if (field == "NEW" || field == "new") {
      out.newListing = true;
    } else if (price.empty() && !field.empty() &&
               std::isdigit(static_cast<unsigned char>(field[0]))) {
      price = field;
    } else {
      error = "'" + whole + "' has '" + std::string(field) +
              "' where a previous close, ST or NEW belongs";
      return false;
    }
  }
  std::string_view code = entry;
  std::string_view suffix;
  if (size_t dot = entry.find('.'); dot != std::string_view::npos) {
    code = entry.substr(0, dot);
    suffix = entry.substr(dot);
  }
  if (!IsSixDigits(code)) {
    error = "'" + std::string(entry) + "' is not a six-digit code";
    return false;
  }
  out.code = std::string(code);
  if (suffix.empty()) {
    out.exchange = ExchangeOfCode(code);
  } else if (suffix == ".SH" || suffix == ".SZ") {
    out.exchange = suffix == ".SH" ? Exchange::kShanghai : Exchange::kShenzhen;
  } else {
    error = "'" + std::string(entry) + "' has a suffix other than .SH or .SZ";
    return false;
  }
  if (price.empty()) {
    // 5.00 to 80.00, the same for the same seed and code.
    out.previousClose = Random(SeedFor(seed, out.code)).Between(500, 8000);
    return true;
  }
  if (!ParseCents(price, out.previousClose) || out.previousClose < kLowestPrice ||
      out.previousClose > kHighestPrice) {
    error = "price '" + std::string(price) + "' of " + out.code +
            " is not between 1.00 and 99999.99 on the 0.01 tick";
    return false;
  }
  return true;
}

}  // namespace

Exchange ExchangeOfCode(std::string_view code) {
  char first = code.empty() ? '0' : code.front();
  return first == '5' || first == '6' || first == '9' ? Exchange::kShanghai : Exchange::kShenzhen;
}

std::vector<Instrument> DefaultInstruments() {
  return {{"600000", Exchange::kShanghai, 1052},  {"600519", Exchange::kShanghai, 168800},
          {"601318", Exchange::kShanghai, 4536},  {"000001", Exchange::kShenzhen, 1123},
          {"000858", Exchange::kShenzhen, 13850}, {"300750", Exchange::kShenzhen, 19520}};
}

bool ParseInstruments(std::string_view text, uint64_t seed, std::vector<Instrument>& out,
                      std::string& error) {
  std::vector<Instrument> parsed;
  while (true) {
    size_t comma = text.find(',');
    std::string_view entry = Trim(text.substr(0, comma));
    if (entry.empty()) {
      error = "empty entry in the instrument list";
      return false;
    }
    Instrument instrument;
    if (!ParseEntry(entry, seed, instrument, error)) return false;
    for (const Instrument& earlier : parsed) {
      if (earlier.code == instrument.code) {
        error = instrument.code + " is listed twice";
        return false;
      }
    }
    parsed.push_back(std::move(instrument));
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  out = std::move(parsed);
  return true;
}

bool ParseCents(std::string_view text, int64_t& cents) {
  int64_t whole = 0;
  size_t i = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    if (whole > 100000000000LL) return false;
    whole = whole * 10 + (text[i] - '0');
  }
  if (i == 0) return false;
  int64_t fraction = 0;
  int digits = 0;
  if (i < text.size() && text[i] == '.') {
    for (++i; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
      if (++digits > 2) return false;
      fraction = fraction * 10 + (text[i] - '0');
    }
  }
  if (i != text.size()) return false;
  if (digits == 1) fraction *= 10;
  cents = whole * 100 + fraction;
  return true;
}

std::string CentsText(int64_t cents) {
  std::string text = std::to_string(cents / 100) + ".";
  int64_t fraction = cents % 100;
  if (fraction < 10) text += '0';
  return text + std::to_string(fraction);
}

}  // namespace sim
