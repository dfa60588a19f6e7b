// upstream.h: the vendor's own quote library behind the stand-in, for paper
// trading on the live market.
//
// The stand-in loads the vendor's libquote.so by its path with its symbols
// kept apart from the process's (RTLD_LOCAL, and RTLD_DEEPBIND so that the
// vendor's library calls its own functions, not the stand-in's of the same
// names). Every request is passed on unchanged and its result returned. The
// vendor's login and subscription answers go to the client's own callbacks
// directly; its market data come through one function that calls the
// client's callback first, with the vendor's arguments untouched, and only
// then hands the message over (to the exchange's ring and the recorder's),
// so the client sees each message one indirect call later than it would
// without the stand-in.

#ifndef VELTRANE_SIM_UPSTREAM_H
#define VELTRANE_SIM_UPSTREAM_H

#include <atomic>
#include <cstdint>
#include <string>

#include "libquote.h"

namespace sim {

class Upstream {
 public:
  // Where each market message goes after the client has had it; called on
  // the vendor's thread, must not throw or wait.
  using Handover = void (*)(void* context, const char* typeName, const char* payload,
                            int32_t length);

  Upstream() = default;
  // Market data the vendor sends afterwards reach no one.
  ~Upstream();
  Upstream(const Upstream&) = delete;
  Upstream& operator=(const Upstream&) = delete;

  // Loads the vendor's library and finds its five functions; false, with
  // the reason, if it cannot. One Upstream per process (the vendor's data
  // callback has no context); the library stays loaded for the process's life.
  bool Load(const std::string& path, Handover handover, void* context, std::string& error);

  // The vendor's functions, called with the caller's arguments.
  int64_t Init() { return init_(); }
  // Registers the client's login and subscription callbacks with the vendor
  // as they are, and the pass-through for its market data.
  void SetCallbacks(const QuoteCallbacks* table);
  int64_t Login(int64_t mode, const TextView* param) { return login_(mode, param); }
  int64_t Subscribe(int64_t reqId, int64_t kinds, const TextList* codes) {
    return subscribe_(reqId, kinds, codes);
  }
  int64_t Unsubscribe(int64_t reqId, const TextList* codes) { return unsubscribe_(reqId, codes); }

 private:
  static void PassData(int32_t reqId, int64_t sequence, int64_t timestamp, const char* typeName,
                       const char* payload, int32_t length);

  int64_t (*init_)(void) = nullptr;
  void (*setCallbacks_)(const QuoteCallbacks*) = nullptr;
  int64_t (*login_)(int64_t, const TextView*) = nullptr;
  int64_t (*subscribe_)(int64_t, int64_t, const TextList*) = nullptr;
  int64_t (*unsubscribe_)(int64_t, const TextList*) = nullptr;
  Handover handover_ = nullptr;
  void* context_ = nullptr;
  std::atomic<decltype(QuoteCallbacks::onData)> clientData_{nullptr};
};

}  // namespace sim

#endif  // VELTRANE_SIM_UPSTREAM_H
