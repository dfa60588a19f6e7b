// libFuzzer target: arbitrary type names and payloads through the quote
// library's market-data callback, with a client that checks every record it
// receives. Built and run by scripts/fuzz.
//
// Input: the first byte picks a type name from kNames; a first byte beyond
// the table starts a name of its own, which runs up to the first NUL. The
// rest is the payload.

#include <google/protobuf/stubs/logging.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ZR_QuantApi.h"
#include "fake_gateways.h"

namespace {

const char* const kNames[] = {
    "SSEL2_Quotation", "SZSEL2_Quotation", "SSEL2_Transaction", "SZSEL2_Transaction",
    "SSEL2_Index",     "SZSEL2_Static",    "ssel2_quotation",   "Empty"};
constexpr size_t kNameCount = sizeof kNames / sizeof kNames[0];

// A code field must be terminated inside its 32 bytes; szWindCode must end in
// an exchange suffix.
void CheckCodes(const char (&windCode)[32], const char (&code)[32]) {
  const size_t windLength = strnlen(windCode, sizeof windCode);
  if (windLength == sizeof windCode || strnlen(code, sizeof code) == sizeof code) std::abort();
  if (windLength < 3) std::abort();
  const char* suffix = windCode + windLength - 3;
  if (std::strcmp(suffix, ".SH") != 0 && std::strcmp(suffix, ".SZ") != 0) std::abort();
  // The padding after the text is all NUL.
  for (size_t i = windLength; i < sizeof windCode; ++i) {
    if (windCode[i] != '\0') std::abort();
  }
}

class CheckingSpi : public Corvane::ZR_QuantSpi {
 public:
  void OnConnect(int) override {}
  void OnDisconnect(int) override {}
  void OnRtnMarket(int, Corvane::MD_Market* market) override {
    CheckCodes(market->szWindCode, market->szCode);
    if (market->nReserved31 != 0 || market->nReserved32 != 0 || market->nReserved33 != 0) {
      std::abort();
    }
  }
  void OnRtnTransaction(int, Corvane::MD_Transaction* trade) override {
    CheckCodes(trade->szWindCode, trade->szCode);
    if (trade->nBSFlag != 'B' && trade->nBSFlag != 'S') std::abort();
  }
};

CheckingSpi g_spi;
QuoteCallbacks g_quote;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The runtime reports every string that is not UTF-8; here that is noise.
  google::protobuf::SetLogHandler(nullptr);
  Corvane::ZR_QuantApi::createApi(&g_spi, false, Corvane::ZR_QuantTdApp_Default,
                                  Corvane::ZR_QuantMdApp_Level2);
  g_quote = fake::RegisteredQuoteCallbacks();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const char* bytes = reinterpret_cast<const char*>(data);
  std::string name;
  size_t payloadStart = 1;
  if (data[0] < kNameCount) {
    name = kNames[data[0]];
  } else {
    const char* end = static_cast<const char*>(std::memchr(bytes, '\0', size));
    payloadStart = end != nullptr ? static_cast<size_t>(end - bytes) + 1 : size;
    name.assign(bytes, payloadStart - (end != nullptr ? 1 : 0));
  }
  // A copy of exactly the payload's size, so that reading past it is caught.
  const size_t length = size - payloadStart;
  char* payload = static_cast<char*>(std::malloc(length > 0 ? length : 1));
  std::memcpy(payload, bytes + payloadStart, length);
  g_quote.onData(1, 0, 0, name.c_str(), payload, static_cast<int32_t>(length));
  std::free(payload);
  return 0;
}
