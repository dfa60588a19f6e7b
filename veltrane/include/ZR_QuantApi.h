// ZR_QuantApi.h: the trading interface that strategy code is written against.
//
// A strategy implements `Corvane::ZR_QuantSpi` (the callbacks), creates the API
// object with `ZR_QuantApi::createApi`, calls `ZR_QuantApi::Init`, logs in and
// then issues requests through the returned `ZR_QuantApi`. Requests return at
// once with the gateway's integer result; their answers, order and match
// notices, and Level-2 market data arrive later as calls on the spi.
//
// Threads: requests run on the caller's thread. Every `ZR_QuantSpi` operation
// is called on a thread of the trade gateway library (trade events) or of the
// quote library (login, subscription and market-data events), never on the
// caller's thread, and with no lock of this library held, so a callback may
// issue new requests.
//
// Ownership: request records belong to the caller and are read only during
// the call. Every record handed to a spi operation lives on the stack of the
// callback that built it and is valid only until the operation returns; copy
// what you keep, and never delete it.
//
// Binary layout: compiled clients reach the virtual operations below by their
// place in the declaration, and both sides copy records by value, so the order
// and widths of every field and virtual operation are part of the interface
// and are pinned by the static_asserts at the end of this file.

#ifndef VELTRANE_ZR_QUANT_API_H
#define VELTRANE_ZR_QUANT_API_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

// Marks what libveltrane.so exports; everything else in the library is hidden.
#define VELTRANE_API __attribute__((visibility("default")))

namespace Corvane {

// ---------------------------------------------------------------------------
// Records
//
// Prices are fixed-point integers in 1/10000 of a currency unit (12.34 is
// stored as 123400) unless a field says otherwise. Text fields are fixed
// arrays holding NUL-terminated 8-bit text; this library never fills one past
// its last byte. Fields named *Reserved* are carried by every copy but never
// read; they stay zero. Every record's default constructor zeroes every field
// (except `ZR_QuantUserBase::nReserved26`, which starts at 2), and every copy
// is memberwise, text arrays copied whole.
// ---------------------------------------------------------------------------

// Base of every trade record. Deleting a derived record through a pointer to
// this base is valid.
struct VELTRANE_API TD_Base_Msg {
  virtual ~TD_Base_Msg() = default;

  int32_t nReqID = 0;  // chosen by the client; answers carry it back
  int64_t iReserved1 = 0;
  int32_t nReserved2 = 0;
  double dReserved3 = 0;
  // In answers and notices: the gateway's error text on error, otherwise an
  // informational text. In a cancel request: the gateway's order code of the
  // order to cancel (when empty, `nOrderId` chooses the order).
  char errDesc[128] = {};
  int64_t iReserved4 = 0;
  char szProductCode[128] = {};  // passed to the gateway by insert and cancel
};

// Order insert request.
struct VELTRANE_API TD_ReqOrderInsert : TD_Base_Msg {
  // Six-digit security code in a request (only the first six characters are
  // sent); the code with its ".SH" or ".SZ" suffix in answers.
  char szContractCode[64] = {};
  int32_t nTradeType = 0;   // direction, 1 or 2
  int64_t nOrderPrice = 0;  // limit price, 1/10000 units
  int32_t nOrderVol = 0;    // quantity
  int64_t iReserved5 = 0;
  int32_t nReserved6 = 0;
};

// Order insert answer; also the body of an order status change notice.
struct VELTRANE_API TD_RspOrderInsert : TD_ReqOrderInsert {
  int64_t iReserved7 = 0;
  int64_t nOrderId = 0;  // this system's order number for the order
  int32_t nReserved8 = 0;
  int64_t nDealedPrice = 0;  // traded price, 1/10000 units
  int32_t nDealedVol = 0;    // traded quantity
  int32_t nReserved9 = 0;
  int32_t nReserved10 = 0;
  int32_t nStatus = 0;         // order status: 0, 2, 5, 6, -8 or -9
  char szInsertTime[21] = {};  // order time as the gateway gives it
  double dReserved11 = 0;
};

// One row of an order query; status change notices are built as this type too.
struct VELTRANE_API TD_RspQryOrder : TD_RspOrderInsert {
  int32_t nReserved12 = 0;
};

// Order cancel request, handed back as the cancel answer (with `nOrderId` 0,
// since the gateway's answer does not say which order it concerns).
struct VELTRANE_API TD_ReqOrderDelete : TD_Base_Msg {
  int64_t nOrderId = 0;  // order to cancel when `errDesc` is empty
  char szReserved13[64] = {};
};

// Query requests: only `nReqID` is read.
struct VELTRANE_API TD_ReqQryOrder : TD_Base_Msg {
  char szReqReserved[40] = {};
};

struct VELTRANE_API TD_ReqQryMatch : TD_Base_Msg {
  char szReqReserved[40] = {};
};

struct VELTRANE_API TD_ReqQryPosition : TD_Base_Msg {
  char szReqReserved[32] = {};
};

struct VELTRANE_API TD_ReqQryAccountMaxEntrustCount : TD_Base_Msg {
  char szReqReserved[36] = {};
};

// Match (fill) notice.
struct VELTRANE_API TD_RtnOrderMatchNotice : TD_Base_Msg {
  int64_t nOrderId = 0;          // order number of the matched order
  char szOrderCode[64] = {};     // the gateway's code of that order
  int64_t nMatchStreamId = 0;    // this system's number for the gateway's match id
  double nMatchPrice = 0;        // match price times 10000, not rounded
  int32_t nMatchVol = 0;         // matched quantity
  char szContractCode[64] = {};  // security code with ".SH" or ".SZ"
  char szMatchTime[21] = {};     // match time as the gateway gives it
  int32_t nTradeType = 0;        // direction, as in TD_ReqOrderInsert
  int32_t nReserved14 = 0;
  char szReserved15[64] = {};
};

// One row of a match query; match notices are built as this type too.
struct VELTRANE_API TD_RspQryMatch : TD_RtnOrderMatchNotice {
  int32_t nReserved16 = 0;
};

// One row of a position query.
struct VELTRANE_API TD_RspQryPosition : TD_Base_Msg {
  char szContractCode[32] = {};  // security code with ".SH" or ".SZ"
  int32_t nPosition = 0;
  double dReserved17 = 0;
  int64_t iReserved18 = 0;
  int64_t iReserved19 = 0;
};

// Element type of the reserved array below.
struct VELTRANE_API TD_ReservedItem {
  virtual ~TD_ReservedItem() = default;
};

// Account capital answer, always a single row.
struct VELTRANE_API TD_RspQryAccountMaxEntrustCount : TD_Base_Msg {
  TD_RspQryAccountMaxEntrustCount() = default;
  // Copies every field except `pReservedItems`, which the copy does not
  // share: two records never free one array.
  TD_RspQryAccountMaxEntrustCount(const TD_RspQryAccountMaxEntrustCount& other);
  TD_RspQryAccountMaxEntrustCount& operator=(const TD_RspQryAccountMaxEntrustCount& other);
  ~TD_RspQryAccountMaxEntrustCount() override;

  int32_t nReserved20 = 0;
  char szReserved21[64] = {};
  int32_t nReserved22 = 0;
  TD_ReservedItem* pReservedItems = nullptr;  // owned array; always null here
  bool bReserved23 = false;
  int32_t nAvailableCaptial = 0;  // whole currency units, truncated
  int32_t nTotalCaptial = 0;      // whole currency units, truncated
};

// User information after a successful login.
class VELTRANE_API ZR_QuantUserBase {
 public:
  virtual ~ZR_QuantUserBase() = default;

  int64_t pInfo = 0;  // login result code: 0 in every record handed out
  char szReserved24[128] = {};
  char errDesc[128] = {};  // trade gateway's login text; empty for quotes
  int32_t nReserved25 = 0;
  int32_t nReserved26 = 2;
  double dReserved27 = 0;
  int64_t iReserved28 = 0;
  int64_t iReserved29 = 0;
  char szReserved30[32] = {};
};

#pragma pack(push, 1)

// Level-2 snapshot, byte-packed. Codes are the bare security code (`szCode`)
// and the code with its exchange suffix (`szWindCode`, e.g. "600000.SH").
struct MD_Market {
  char szWindCode[32];
  char szCode[32];
  int32_t nReserved31;
  int32_t nTime;  // time of day, HHMMSSmmm
  int32_t nReserved32;
  int32_t nPreClose;  // 1/10000 units
  int32_t nOpen;
  int32_t nHigh;
  int32_t nLow;
  int32_t nMatch;         // last price
  int32_t nAskPrice[10];  // levels 1 to 10, 1/10000 units
  int32_t nAskVol[10];
  int32_t nBidPrice[10];
  int32_t nBidVol[10];
  int32_t nReserved33;
  int64_t iVolume;    // total traded volume
  int64_t iTurnover;  // total turnover, 1/10000 units
  char szReserved34[40];
};

// One trade of the Level-2 trade stream, byte-packed.
struct MD_Transaction {
  char szWindCode[32];
  char szCode[32];
  int32_t nReserved35;
  int32_t nTime;  // time of day, HHMMSSmmm
  int32_t nReserved36;
  int32_t nPrice;  // 1/10000 units
  int32_t nVolume;
  int32_t nTurnover;  // volume times price in whole currency units, rounded
  int32_t nBSFlag;    // 'B' (66) for a buy, 'S' (83) for a sell
  int32_t nReserved37;
  int32_t nReserved38;
  char cReserved39;
};

#pragma pack(pop)

// Appear only as pointer parameters of operations this library does not
// carry out; their contents are never touched.
struct TD_ReqQryMaxEntrustCount {
  int32_t nReqID = 0;
};

struct ZR_BackTestReq {
  int32_t nReqID = 0;
};

// Application types accepted (and ignored) by createApi.
enum ZR_QuantTdAppEType : int32_t {
  ZR_QuantTdApp_Default = 0,
  ZR_QuantTdApp_Alternate = 1,
};

enum ZR_QuantMdAppEType : int32_t {
  ZR_QuantMdApp_Default = 0,
  ZR_QuantMdApp_Level2 = 1,
};

// ---------------------------------------------------------------------------
// Callbacks
// ---------------------------------------------------------------------------

// Implemented by the client and registered through createApi. Every operation
// but the first two has an empty default body, so a client overrides only what
// it needs. See the top of this file for threads and record ownership.
//
// Do not reorder: compiled clients and this library reach these operations by
// their place in the declaration. The `OnReserved...` operations are never
// called; they keep the places of operations this system does not use.
class VELTRANE_API ZR_QuantSpi {
 public:
  virtual ~ZR_QuantSpi();

  // 1. A login answer arrived: `nSrvType` is 10 for the trade gateway, 0 for
  // the quote library. Exactly one of OnRtnUserInfo and OnRtnLoginWarn follows.
  virtual void OnConnect(int nSrvType) = 0;
  // 2. Never called.
  virtual void OnDisconnect(int nSrvType) = 0;
  // 3. The login succeeded.
  virtual void OnRtnUserInfo(ZR_QuantUserBase* pUser);
  // 4. The login failed with the library's status code.
  virtual void OnRtnLoginWarn(int nErrorId);
  virtual void OnReserved5();
  virtual void OnReserved6();
  virtual void OnReserved7();
  virtual void OnReserved8();
  virtual void OnReserved9();
  virtual void OnReserved10();
  virtual void OnReserved11();
  // 12. Answer to reqOrderInsert; `nOrderId` is the new order's number.
  virtual void OnRspOrderInsert(TD_RspOrderInsert* pRsp, int nErrorId);
  // 13. Answer to reqOrderDelete.
  virtual void OnRspOrderDelete(TD_ReqOrderDelete* pRsp, int nErrorId);
  // 14-16. Query rows; `bIsLast` marks the last row of an answer.
  virtual void OnRspQryOrder(TD_RspQryOrder* pRsp, int nErrorId, bool bIsLast);
  virtual void OnRspQryMatch(TD_RspQryMatch* pRsp, int nErrorId, bool bIsLast);
  virtual void OnRspQryPosition(TD_RspQryPosition* pRsp, int nErrorId, bool bIsLast);
  virtual void OnReserved17();
  virtual void OnReserved18();
  // 19. Capital answer: always one row with `bIsLast` true.
  virtual void OnRspQryAccountMaxEntrustCount(TD_RspQryAccountMaxEntrustCount* pRsp, int nErrorId,
                                              bool bIsLast);
  // 20. An order changed status (the record is a TD_RspQryOrder).
  virtual void OnRtnOrderStatusChangeNotice(TD_RspOrderInsert* pNotice);
  // 21. An order was matched (the record is a TD_RspQryMatch).
  virtual void OnRtnOrderMatchNotice(TD_RtnOrderMatchNotice* pNotice);
  virtual void OnReserved22();
  virtual void OnReserved23();
  virtual void OnReserved24();
  virtual void OnReserved25();
  virtual void OnReserved26();
  virtual void OnReserved27();
  virtual void OnReserved28();
  // 29. Answer to ReqSubQuote: the second argument is 1 for a subscription
  // and 0 for an unsubscription; no codes are handed back (null, count 0).
  virtual void OnRspSubQuote(int nReqID, int nSubscribe, int nReserved, const char (*pCodes)[32],
                             int nCount, const char* pszReserved1, const char* pszReserved2,
                             int nErrorId, const char* errDesc);
  virtual void OnReserved30();
  virtual void OnReserved31();
  virtual void OnReserved32();
  // 33. A Level-2 snapshot of a subscribed code.
  virtual void OnRtnMarket(int nReqID, MD_Market* pMarket);
  virtual void OnReserved34();
  virtual void OnReserved35();
  // 36. A Level-2 trade of a subscribed code.
  virtual void OnRtnTransaction(int nReqID, MD_Transaction* pTrans);
  virtual void OnReserved37();
  virtual void OnReserved38();
  virtual void OnReserved39();
  virtual void OnReserved40();
  virtual void OnReserved41();
  virtual void OnReserved42();
  virtual void OnReserved43();
};

// ---------------------------------------------------------------------------
// The API
// ---------------------------------------------------------------------------

// The operations a client calls. Every request returns -1 when it is refused
// before reaching a gateway, or for an operation this library does not carry
// out; otherwise it returns the gateway's result, cut to 32 bits. Answers
// arrive on the spi carrying the request's `nReqID`.
//
// Do not reorder the virtual operations (see ZR_QuantSpi).
class VELTRANE_API ZR_QuantApi {
 public:
  ZR_QuantApi();
  ZR_QuantApi(const ZR_QuantApi&);
  ZR_QuantApi& operator=(const ZR_QuantApi&);
  virtual ~ZR_QuantApi();

  // 1. Not carried out: returns -1.
  virtual int SetNewBackTest(ZR_BackTestReq* pReq) = 0;
  // 2. Logs in to the libraries in use; the outcome arrives as OnConnect
  // followed by OnRtnUserInfo or OnRtnLoginWarn, once per library.
  virtual int Login(char* pszUserId, char* pszPassword) = 0;
  // 3. Not carried out: returns -1.
  virtual int GetCode() = 0;
  // 4-5. Return at once.
  virtual void Run() = 0;
  virtual void BreakExec() = 0;
  // 6. Places an order; its number comes with OnRspOrderInsert.
  virtual int reqOrderInsert(TD_ReqOrderInsert* pReq) = 0;
  // 7. Cancels the order named by `errDesc` (a gateway order code) or, when
  // that is empty, by `nOrderId`.
  virtual int reqOrderDelete(TD_ReqOrderDelete* pReq) = 0;
  // 8-10. Queries; rows arrive on OnRspQryOrder, OnRspQryMatch, OnRspQryPosition.
  virtual int reqQryOrder(TD_ReqQryOrder* pReq) = 0;
  virtual int reqQryMatch(TD_ReqQryMatch* pReq) = 0;
  virtual int reqQryPosition(TD_ReqQryPosition* pReq) = 0;
  // 11-12. Not carried out: return -1.
  virtual int reqQryMaxEntrustCount(TD_ReqQryMaxEntrustCount* pReq) = 0;
  virtual int reqQryAccountInitMaxEntrustCount(TD_ReqQryAccountMaxEntrustCount* pReq) = 0;
  // 13. Capital query; the answer arrives on OnRspQryAccountMaxEntrustCount.
  virtual int reqQryAccountMaxEntrustCount(TD_ReqQryAccountMaxEntrustCount* pReq) = 0;
  // 14-16. Not carried out: return -1. The count is 32 bits wide.
  virtual int reqSubscribeMaxEntrustCount() = 0;
  virtual int ReqTradingDay(int nReqID, const char (*pCodes)[32], int nCount,
                            const char* const pszBegin, const char* const pszEnd) = 0;
  virtual int ReqHaltingDay(int nReqID, const char (*pCodes)[32], int nCount,
                            const char* const pszBegin, const char* const pszEnd) = 0;
  // 17. Subscribes `nCount` codes of the form "600000.SH" to snapshots (bit
  // value 1 of `nKinds`) and trades (bit value 4); with neither bit set the
  // codes are unsubscribed. Only the first six characters of each entry reach
  // the quote library, whatever follows them. A negative count sends no code;
  // a positive count with null `pCodes` is refused (-1). Otherwise returns the
  // quote library's result; the answer arrives on OnRspSubQuote. Market data
  // then arrive on OnRtnMarket and OnRtnTransaction; a message whose payload
  // does not parse is dropped and counted (veltrane_counters.h).
  virtual int ReqSubQuote(int nReqID, int nKinds, int nReserved, const char (*pCodes)[32],
                          int nCount, const char* const pszReserved1,
                          const char* const pszReserved2) = 0;

  // Creates the API object, makes it the instance that every callback
  // reaches, and registers this library's callback tables with both outside
  // libraries. `pSpi` is not owned and must outlive the object. The caller
  // owns the result and frees it with deleteApi. Both libraries are in use.
  static ZR_QuantApi* createApi(ZR_QuantSpi* pSpi, bool bReserved, ZR_QuantTdAppEType eTdType,
                                ZR_QuantMdAppEType eMdType);
  // As above; `bUseTrade` and `bUseQuote` choose the libraries that Init and
  // Login start.
  static ZR_QuantApi* createApi(ZR_QuantSpi* pSpi, bool bReserved, ZR_QuantTdAppEType eTdType,
                                bool bUseTrade, ZR_QuantMdAppEType eMdType, bool bUseQuote,
                                bool bReserved2);
  // Destroys an object made by createApi (null does nothing). Callbacks that
  // are already running are allowed to return first, and later ones are
  // dropped; so do not call it from a thread that a running callback waits
  // for. Like createApi, call it from one thread at a time.
  static void deleteApi(ZR_QuantApi* pApi);
  // Initialises the outside libraries that the latest createApi chose, trade
  // gateway first. Does nothing before the first createApi.
  static void Init();
  // Writes "Unknown" into `pBuf` as a bounded string copy of `nBufLen` bytes
  // (zero-padded; no terminator when `nBufLen` is below 8). The code is unused.
  static void GetErrMsg(int nErrCode, char* pBuf, int nBufLen);
  // The version text; constant, owned by the library, same address every call.
  static char* getVersion();
};

}  // namespace Corvane

namespace veltrane {
class OrderFile;
}

// The API object that createApi makes. Its members are public so that a
// binding can construct and inspect it; the object is never copied.
//
// Order numbers: the trade gateway names orders and matches by codes of its
// own; this object gives every code it meets a number (0, 1, 2, ... in the
// order codes are first seen, one sequence for order codes and match ids) and
// keeps the pairs in the file "./orders.temp.YYYYMMDD" of the current
// directory, so that a process restarted on the same day hands out the same
// numbers for the same codes. When the gateway login answered non-zero, order
// codes are the decimal order numbers themselves and only match ids are
// numbered here.
class VELTRANE_API TraderApiGo : public Corvane::ZR_QuantApi {
 public:
  TraderApiGo();
  TraderApiGo(const TraderApiGo&) = delete;
  TraderApiGo& operator=(const TraderApiGo&) = delete;
  // Stops callbacks from reaching this object: when it is the instance that
  // callbacks reach, it stops being one, and callbacks already running are
  // waited for. Sends no logout and writes no file: every new order number
  // reached the order-number file when it was handed out, or was counted as
  // one that could not (veltrane_counters.h).
  ~TraderApiGo() override;

  int SetNewBackTest(Corvane::ZR_BackTestReq* pReq) override;
  // Stores the texts (null counts as empty), loads today's order-number file,
  // then logs in to the trade gateway and the quote library as the latest
  // createApi chose, and writes "conf_merge_position <n>" to standard output.
  // Always 0; the outcome arrives through the login callbacks.
  int Login(char* pszUserId, char* pszPassword) override;
  int GetCode() override;
  void Run() override;
  void BreakExec() override;
  int reqOrderInsert(Corvane::TD_ReqOrderInsert* pReq) override;
  int reqOrderDelete(Corvane::TD_ReqOrderDelete* pReq) override;
  int reqQryOrder(Corvane::TD_ReqQryOrder* pReq) override;
  int reqQryMatch(Corvane::TD_ReqQryMatch* pReq) override;
  int reqQryPosition(Corvane::TD_ReqQryPosition* pReq) override;
  int reqQryMaxEntrustCount(Corvane::TD_ReqQryMaxEntrustCount* pReq) override;
  int reqQryAccountInitMaxEntrustCount(Corvane::TD_ReqQryAccountMaxEntrustCount* pReq) override;
  int reqQryAccountMaxEntrustCount(Corvane::TD_ReqQryAccountMaxEntrustCount* pReq) override;
  int reqSubscribeMaxEntrustCount() override;
  int ReqTradingDay(int nReqID, const char (*pCodes)[32], int nCount, const char* const pszBegin,
                    const char* const pszEnd) override;
  int ReqHaltingDay(int nReqID, const char (*pCodes)[32], int nCount, const char* const pszBegin,
                    const char* const pszEnd) override;
  int ReqSubQuote(int nReqID, int nKinds, int nReserved, const char (*pCodes)[32], int nCount,
                  const char* const pszReserved1, const char* const pszReserved2) override;

  // Stores `pSpi` (not owned) and registers this library's callback tables
  // with both outside libraries, whatever `nApiType` says. createApi already
  // calls it; calling it again switches later events to the new spi.
  void RegisterSpi(Corvane::ZR_QuantSpi* pSpi);

  // The order-number map. Each operation takes `pOrderLock` for its whole
  // run, so any thread may call it; none calls the client. Every API object
  // and process working in the same directory shares the day's file and one
  // sequence of numbers through it: a new code's number is the next after
  // everything in the file, whoever wrote it. Numbers stop one below the
  // largest 64-bit value; after that a new code gets that value, which names
  // no code. What the file refuses is counted (veltrane_counters.h).
  //
  // Adds the entries of today's file to the maps (a line replaces an entry
  // of the same number; the code that held it gets a new number when next
  // seen) and makes sure the next new code gets a number above every number
  // the file or this object has handed out. Then appends the entries held
  // that the file lacks. A missing file changes nothing. Also removes the
  // copies "orders.temp.YYYYMMDD.partial-*" that earlier versions' processes
  // left behind.
  void LoadOrderMap();
  // Makes today's file hold every entry of `mapOrderCode`, appending those it
  // lacks; lines other writers put there stay.
  void SaveOrderMap();
  // The number of `strCode`; a code not seen before gets the next number and
  // its line is added to today's file before the number is returned.
  long long GenSaveOrderId(std::string strCode);
  // The same as GenSaveOrderId.
  long long GetOrderId(std::string strCode);
  // The code that holds `iOrderId`, or the empty text when none does.
  std::string GetAppointOrderCode(long long iOrderId);

  std::string strGatewayParam;                    // first login text of both libraries
  Corvane::ZR_QuantSpi* pSpi = nullptr;           // not owned; set it through RegisterSpi
  std::map<long long, std::string> mapOrderCode;  // order number -> gateway code
  std::map<std::string, long long> mapOrderId;    // gateway code -> order number
  std::mutex* pOrderLock = nullptr;  // owned; guards both maps, iNextOrderId and the file
  int nApiType = 3;                  // libraries in use: bit value 1 trade gateway, 2 quote library
  long long iNextOrderId = 0;        // number the next new gateway code receives
  std::string strUserId;
  std::string strPassword;

 private:
  veltrane::OrderFile* pOrderFile = nullptr;  // owned; today's file as this object last saw it
};

// Layout pins: a change here breaks every compiled client.
static_assert(sizeof(Corvane::MD_Market) == 316, "MD_Market is byte-packed, 316 bytes");
static_assert(offsetof(Corvane::MD_Market, nReserved31) == 64, "MD_Market layout");
static_assert(offsetof(Corvane::MD_Market, nTime) == 68, "MD_Market layout");
static_assert(offsetof(Corvane::MD_Market, nPreClose) == 76, "MD_Market layout");
static_assert(offsetof(Corvane::MD_Market, nMatch) == 92, "MD_Market layout");
static_assert(offsetof(Corvane::MD_Market, nAskPrice) == 96, "MD_Market layout");
static_assert(offsetof(Corvane::MD_Market, nAskVol) == 136, "MD_Market layout");
static_assert(offsetof(Corvane::MD_Market, nBidPrice) == 176, "MD_Market layout");
static_assert(offsetof(Corvane::MD_Market, nBidVol) == 216, "MD_Market layout");
static_assert(offsetof(Corvane::MD_Market, nReserved33) == 256, "MD_Market layout");
static_assert(offsetof(Corvane::MD_Market, iVolume) == 260, "MD_Market layout");
static_assert(offsetof(Corvane::MD_Market, iTurnover) == 268, "MD_Market layout");
static_assert(offsetof(Corvane::MD_Market, szReserved34) == 276, "MD_Market layout");
static_assert(sizeof(Corvane::MD_Transaction) == 101, "MD_Transaction is byte-packed, 101 bytes");
static_assert(offsetof(Corvane::MD_Transaction, nTime) == 68, "MD_Transaction layout");
static_assert(offsetof(Corvane::MD_Transaction, nPrice) == 76, "MD_Transaction layout");
static_assert(offsetof(Corvane::MD_Transaction, nTurnover) == 84, "MD_Transaction layout");
static_assert(offsetof(Corvane::MD_Transaction, nBSFlag) == 88, "MD_Transaction layout");
static_assert(offsetof(Corvane::MD_Transaction, cReserved39) == 100, "MD_Transaction layout");
static_assert(sizeof(Corvane::ZR_QuantTdAppEType) == 4 && sizeof(Corvane::ZR_QuantMdAppEType) == 4,
              "application types are 32 bits wide");

#if defined(__LP64__)
// Trade records use natural alignment; these sizes hold for LP64 targets of
// the Itanium C++ ABI (Linux on x86-64 and AArch64).
static_assert(sizeof(Corvane::TD_Base_Msg) == 304, "TD_Base_Msg layout");
static_assert(sizeof(Corvane::TD_ReqOrderInsert) == 408, "TD_ReqOrderInsert layout");
static_assert(sizeof(Corvane::TD_RspOrderInsert) == 488, "TD_RspOrderInsert layout");
static_assert(sizeof(Corvane::TD_RspQryOrder) == 496, "TD_RspQryOrder layout");
static_assert(sizeof(Corvane::TD_ReqOrderDelete) == 376, "TD_ReqOrderDelete layout");
static_assert(sizeof(Corvane::TD_ReqQryOrder) == 344, "TD_ReqQryOrder layout");
static_assert(sizeof(Corvane::TD_ReqQryMatch) == 344, "TD_ReqQryMatch layout");
static_assert(sizeof(Corvane::TD_ReqQryPosition) == 336, "TD_ReqQryPosition layout");
static_assert(sizeof(Corvane::TD_ReqQryAccountMaxEntrustCount) == 344,
              "TD_ReqQryAccountMaxEntrustCount layout");
static_assert(sizeof(Corvane::TD_RtnOrderMatchNotice) == 560, "TD_RtnOrderMatchNotice layout");
// nReserved16 fills the tail padding of its base, as the Itanium C++ ABI lays
// out derived classes.
static_assert(sizeof(Corvane::TD_RspQryMatch) == 560, "TD_RspQryMatch layout");
static_assert(sizeof(Corvane::TD_RspQryPosition) == 368, "TD_RspQryPosition layout");
static_assert(sizeof(Corvane::TD_RspQryAccountMaxEntrustCount) == 400,
              "TD_RspQryAccountMaxEntrustCount layout");
static_assert(sizeof(Corvane::ZR_QuantUserBase) == 336, "ZR_QuantUserBase layout");
#endif

#endif  // VELTRANE_ZR_QUANT_API_H
