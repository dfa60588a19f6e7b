// client_line.h: how the exchange's listeners reach the client: through the
// exchange loop, which keeps the client's clock and holds each call back by
// its latency.

#ifndef VELTRANE_SIM_CLIENT_LINE_H
#define VELTRANE_SIM_CLIENT_LINE_H

#include <cstdint>
#include <functional>

namespace sim {

class ClientLine {
 public:
  virtual ~ClientLine() = default;
  // The client is about to be called at the exchange's present time.
  virtual void Calling() = 0;
  // Makes `call`, a call of the client's callbacks, `delayMs` of exchange
  // time from now; with 0, before returning.
  virtual void Later(int64_t delayMs, std::function<void()> call) = 0;
};

// For a listener used on its own: every call goes at once.
class DirectLine : public ClientLine {
 public:
  void Calling() override {}
  void Later(int64_t, std::function<void()> call) override { call(); }
};

}  // namespace sim

#endif  // VELTRANE_SIM_CLIENT_LINE_H
