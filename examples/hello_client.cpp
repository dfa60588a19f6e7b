// hello_client: the smallest client of ZR_QuantApi. It creates the API with a
// callback object, starts the outside libraries, and prints the version, the
// error text and which libitg.so / libquote.so it is running against (put
// another library of the same name first on LD_LIBRARY_PATH to change that).

#include <link.h>

#include <cstdio>
#include <cstring>

#include "ZR_QuantApi.h"

namespace {

class PrintingSpi : public Corvane::ZR_QuantSpi {
 public:
  // Called on a library's thread once a login is answered.
  void OnConnect(int nSrvType) override { std::printf("connected to service %d\n", nSrvType); }
  void OnDisconnect(int) override {}
  void OnRtnLoginWarn(int nErrorId) override { std::printf("login refused: %d\n", nErrorId); }
};

// Prints the path of every loaded outside library.
int PrintGateway(dl_phdr_info* info, size_t, void*) {
  const char* slash = std::strrchr(info->dlpi_name, '/');
  const char* name = slash != nullptr ? slash + 1 : info->dlpi_name;
  if (std::strcmp(name, "libitg.so") == 0 || std::strcmp(name, "libquote.so") == 0) {
    std::printf("gateway library: %s\n", info->dlpi_name);
  }
  return 0;
}

}  // namespace

int main() {
  PrintingSpi spi;
  Corvane::ZR_QuantApi* api = Corvane::ZR_QuantApi::createApi(
      &spi, false, Corvane::ZR_QuantTdApp_Default, Corvane::ZR_QuantMdApp_Level2);
  Corvane::ZR_QuantApi::Init();

  std::printf("%s\n", Corvane::ZR_QuantApi::getVersion());
  char error[64];
  Corvane::ZR_QuantApi::GetErrMsg(-1, error, sizeof error);
  std::printf("error text of code -1: %s\n", error);
  dl_iterate_phdr(PrintGateway, nullptr);

  Corvane::ZR_QuantApi::deleteApi(api);
  return 0;
}
