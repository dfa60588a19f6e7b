// Loading the vendor's library and passing its market data through.

#include "upstream.h"

#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

// Found through a handle of any library that needs the simulated exchange:
// a copy of the quote stand-in has it, the vendor's library never does.
extern "C" __attribute__((visibility("default"))) const char veltrane_simulated_exchange[] =
    "the simulated exchange";

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

// The file a bare name ("libquote.so") stands for, as the loader finds it:
// an object of that name already loaded (the stand-in itself, most likely),
// else the first folder of LD_LIBRARY_PATH and then the system's that holds
// it. Empty when none does; the loader's cache may still know it.
std::string Resolve(const std::string& name) {
  if (name.find('/') != std::string::npos) return name;
  if (void* loaded = dlopen(name.c_str(), RTLD_LAZY | RTLD_NOLOAD)) {
    link_map* map = nullptr;
    std::string file;
    if (dlinfo(loaded, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr && map->l_name != nullptr) {
      file = map->l_name;
    }
    dlclose(loaded);
    if (!file.empty()) return file;
  }
  std::string folders;
  if (const char* given = std::getenv("LD_LIBRARY_PATH")) folders = std::string(given) + ":";
  folders += "/lib/x86_64-linux-gnu:/usr/lib/x86_64-linux-gnu:/lib64:/usr/lib64:/lib:/usr/lib";
  for (size_t start = 0; start < folders.size();) {
    size_t end = folders.find(':', start);
    if (end == std::string::npos) end = folders.size();
    const std::string folder = folders.substr(start, end - start);
    start = end + 1;
    struct stat status {};
    const std::string file = (folder.empty() ? "." : folder) + "/" + name;
    if (lstat(file.c_str(), &status) == 0) return file;
  }
  return {};
}

struct Identity {
  dev_t device;
  ino_t inode;
  bool standIn = false;
};

// Whether a loaded object is the file `identity` names and is the quote
// stand-in: a quote library that needs the simulated exchange.
int MarkStandIn(dl_phdr_info* info, size_t, void* data) {
  auto* identity = static_cast<Identity*>(data);
  struct stat status {};
  if (info->dlpi_name == nullptr || *info->dlpi_name == '\0' ||
      stat(info->dlpi_name, &status) != 0 || status.st_dev != identity->device ||
      status.st_ino != identity->inode) {
    return 0;
  }
  if (void* loaded = dlopen(info->dlpi_name, RTLD_LAZY | RTLD_NOLOAD)) {
    identity->standIn = dlsym(loaded, "LibQuote_Init") != nullptr &&
                        dlsym(loaded, "veltrane_simulated_exchange") != nullptr;
    dlclose(loaded);
  }
  return identity->standIn ? 1 : 0;
}

// Opening a FIFO would wait for a writer for ever, and opening the quote
// stand-in would make each of its calls call itself: both are refused
// before the loader sees them.
bool CheckLibraryFile(const std::string& path, std::string& error) {
  const std::string file = Resolve(path);
  if (file.empty()) return true;  // the loader's own search says what it finds
  struct stat status {};
  if (stat(file.c_str(), &status) != 0) {
    error = file + ": " + std::strerror(errno);
    return false;
  }
  if (!S_ISREG(status.st_mode)) {
    error = file + ": not a regular file; name the vendor's libquote.so";
    return false;
  }
  Identity identity{status.st_dev, status.st_ino};
  dl_iterate_phdr(&MarkStandIn, &identity);
  if (identity.standIn) {
    error = file + (file != path ? " (" + path + ")" : std::string()) +
            " is the quote stand-in itself; name the vendor's libquote.so by its path";
    return false;
  }
  return true;
}

}  // namespace

bool Upstream::Load(const std::string& path, Handover handover, void* context, std::string& error) {
  if (!CheckLibraryFile(path, error)) return false;
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | kDeepBind);
  if (library == nullptr) {
    const char* why = dlerror();
    error = "cannot load the upstream quote library: " + std::string(why ? why : path);
    return false;
  }
  if (dlsym(library, "veltrane_simulated_exchange") != nullptr) {
    error = path + ": a copy of the quote stand-in, not the vendor's libquote.so";
    dlclose(library);
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
