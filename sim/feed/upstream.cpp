// Loading the vendor's library and passing its market data through.

#include "upstream.h"

#include <dlfcn.h>

namespace sim {
namespace {

std::atomic<Upstream*> g_loaded{nullptr};

// The sanitizers' runtimes refuse RTLD_DEEPBIND (it would bypass their
// interceptors), so a sanitized build loads the vendor without it.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int kDeepBind = 0;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr int kDeepBind = 0;
#else
constexpr int kDeepBind = RTLD_DEEPBIND;
#endif
#else
constexpr int kDeepBind = RTLD_DEEPBIND;
#endif

template <class Function>
bool Find(void* library, const char* name, Function& function, std::string& error) {
  function = reinterpret_cast<Function>(dlsym(library, name));
  if (function == nullptr) error += std::string(error.empty() ? "" : ", ") + name;
  return function != nullptr;
}

}  // namespace

bool Upstream::Load(const std::string& path, Handover handover, void* context, std::string& error) {
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | kDeepBind);
  if (library == nullptr) {
    const char* why = dlerror();
    error = "cannot load the upstream quote library: " + std::string(why ? why : path);
    return false;
  }
  std::string missing;
  bool found = Find(library, "LibQuote_Init", init_, missing);
  found = Find(library, "Set_QCallbackInterface", setCallbacks_, missing) && found;
  found = Find(library, "LibQuote_ReqUserLogin", login_, missing) && found;
  found = Find(library, "LibQuote_ReqSubscribe", subscribe_, missing) && found;
  found = Find(library, "LibQuote_ReqUnsubscribe", unsubscribe_, missing) && found;
  if (!found) {
    error = path + ": not a quote library: it lacks " + missing;
    dlclose(library);
    return false;
  }
  handover_ = handover;
  context_ = context;
  g_loaded.store(this, std::memory_order_release);
  return true;
}

Upstream::~Upstream() {
  Upstream* self = this;
  g_loaded.compare_exchange_strong(self, nullptr);
}

void Upstream::SetCallbacks(const QuoteCallbacks* table) {
  if (table == nullptr) return setCallbacks_(nullptr);
  clientData_.store(table->onData, std::memory_order_release);
  QuoteCallbacks passed = *table;
  passed.onData = &Upstream::PassData;
  setCallbacks_(&passed);
}

void Upstream::PassData(int32_t reqId, int64_t sequence, int64_t timestamp, const char* typeName,
                        const char* payload, int32_t length) {
  Upstream* self = g_loaded.load(std::memory_order_acquire);
  if (self == nullptr) return;
  if (auto client = self->clientData_.load(std::memory_order_acquire)) {
    client(reqId, sequence, timestamp, typeName, payload, length);
  }
  if (length >= 0) self->handover_(self->context_, typeName, payload, length);
}

}  // namespace sim
