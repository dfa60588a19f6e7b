// client_call.h: how the simulated exchange calls its clients' callbacks.

#ifndef VELTRANE_SIM_CLIENT_CALL_H
#define VELTRANE_SIM_CLIENT_CALL_H

namespace sim {

// Calls a client's callback if one is registered. A callback that throws
// must not take the exchange's thread down with it; what it threw is lost.
template <class Function, class... Arguments>
void CallClient(Function* function, Arguments... arguments) {
  if (function == nullptr) return;
  try {
    function(arguments...);
  } catch (...) {
  }
}

}  // namespace sim

#endif  // VELTRANE_SIM_CLIENT_CALL_H
