// Default bodies of the callback interface: a client overrides only the
// events it wants, the rest arrive here and do nothing.

#include "ZR_QuantApi.h"

namespace Corvane {

ZR_QuantSpi::~ZR_QuantSpi() = default;

void ZR_QuantSpi::OnRtnUserInfo(ZR_QuantUserBase*) {}
void ZR_QuantSpi::OnRtnLoginWarn(int) {}
void ZR_QuantSpi::OnReserved5() {}
void ZR_QuantSpi::OnReserved6() {}
void ZR_QuantSpi::OnReserved7() {}
void ZR_QuantSpi::OnReserved8() {}
void ZR_QuantSpi::OnReserved9() {}
void ZR_QuantSpi::OnReserved10() {}
void ZR_QuantSpi::OnReserved11() {}
void ZR_QuantSpi::OnRspOrderInsert(TD_RspOrderInsert*, int) {}
void ZR_QuantSpi::OnRspOrderDelete(TD_ReqOrderDelete*, int) {}
void ZR_QuantSpi::OnRspQryOrder(TD_RspQryOrder*, int, bool) {}
void ZR_QuantSpi::OnRspQryMatch(TD_RspQryMatch*, int, bool) {}
void ZR_QuantSpi::OnRspQryPosition(TD_RspQryPosition*, int, bool) {}
void ZR_QuantSpi::OnReserved17() {}
void ZR_QuantSpi::OnReserved18() {}
void ZR_QuantSpi::OnRspQryAccountMaxEntrustCount(TD_RspQryAccountMaxEntrustCount*, int, bool) {}
void ZR_QuantSpi::OnRtnOrderStatusChangeNotice(TD_RspOrderInsert*) {}
void ZR_QuantSpi::OnRtnOrderMatchNotice(TD_RtnOrderMatchNotice*) {}
void ZR_QuantSpi::OnReserved22() {}
void ZR_QuantSpi::OnReserved23() {}
void ZR_QuantSpi::OnReserved24() {}
void ZR_QuantSpi::OnReserved25() {}
void ZR_QuantSpi::OnReserved26() {}
void ZR_QuantSpi::OnReserved27() {}
void ZR_QuantSpi::OnReserved28() {}
void ZR_QuantSpi::OnRspSubQuote(int, int, int, const char (*)[32], int, const char*, const char*,
                                int, const char*) {}
void ZR_QuantSpi::OnReserved30() {}
void ZR_QuantSpi::OnReserved31() {}
void ZR_QuantSpi::OnReserved32() {}
void ZR_QuantSpi::OnRtnMarket(int, MD_Market*) {}
void ZR_QuantSpi::OnReserved34() {}
void ZR_QuantSpi::OnReserved35() {}
void ZR_QuantSpi::OnRtnTransaction(int, MD_Transaction*) {}
void ZR_QuantSpi::OnReserved37() {}
void ZR_QuantSpi::OnReserved38() {}
void ZR_QuantSpi::OnReserved39() {}
void ZR_QuantSpi::OnReserved40() {}
void ZR_QuantSpi::OnReserved41() {}
void ZR_QuantSpi::OnReserved42() {}
void ZR_QuantSpi::OnReserved43() {}

}  // namespace Corvane
