// recording_spi.h: a client of the API for tests. It records every operation
// veltrane calls on it, with its scalar arguments, a copy of the record it
// was handed, and the thread it came on.

#ifndef VELTRANE_TESTS_RECORDING_SPI_H
#define VELTRANE_TESTS_RECORDING_SPI_H

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ZR_QuantApi.h"

namespace testing_support {

struct SpiEvent {
  std::string op;
  std::vector<int64_t> values;         // scalar arguments in order; bools as 0 or 1
  std::vector<std::string> texts;      // text arguments in order
  std::shared_ptr<const void> record;  // copy of the record handed over
  std::thread::id thread;

  template <class Record>
  const Record& As() const {
    return *static_cast<const Record*>(record.get());
  }
};

class RecordingSpi : public Corvane::ZR_QuantSpi {
 public:
  std::vector<SpiEvent> Events() const {
    std::lock_guard<std::mutex> hold(lock_);
    return events_;
  }

  std::vector<std::string> Ops() const {
    std::vector<std::string> ops;
    for (const SpiEvent& event : Events()) ops.push_back(event.op);
    return ops;
  }

  void OnConnect(int nSrvType) override { Add("OnConnect", {nSrvType}); }
  void OnDisconnect(int nSrvType) override { Add("OnDisconnect", {nSrvType}); }
  void OnRtnUserInfo(Corvane::ZR_QuantUserBase* pUser) override {
    Add("OnRtnUserInfo", {}, {}, Copy(pUser));
  }
  void OnRtnLoginWarn(int nErrorId) override { Add("OnRtnLoginWarn", {nErrorId}); }
  void OnRspOrderInsert(Corvane::TD_RspOrderInsert* pRsp, int nErrorId) override {
    Add("OnRspOrderInsert", {nErrorId}, {}, Copy(pRsp));
  }
  void OnRspOrderDelete(Corvane::TD_ReqOrderDelete* pRsp, int nErrorId) override {
    Add("OnRspOrderDelete", {nErrorId}, {}, Copy(pRsp));
  }
  void OnRspQryOrder(Corvane::TD_RspQryOrder* pRsp, int nErrorId, bool bIsLast) override {
    Add("OnRspQryOrder", {nErrorId, bIsLast}, {}, Copy(pRsp));
  }
  void OnRspQryMatch(Corvane::TD_RspQryMatch* pRsp, int nErrorId, bool bIsLast) override {
    Add("OnRspQryMatch", {nErrorId, bIsLast}, {}, Copy(pRsp));
  }
  void OnRspQryPosition(Corvane::TD_RspQryPosition* pRsp, int nErrorId, bool bIsLast) override {
    Add("OnRspQryPosition", {nErrorId, bIsLast}, {}, Copy(pRsp));
  }
  void OnRspQryAccountMaxEntrustCount(Corvane::TD_RspQryAccountMaxEntrustCount* pRsp, int nErrorId,
                                      bool bIsLast) override {
    Add("OnRspQryAccountMaxEntrustCount", {nErrorId, bIsLast}, {}, Copy(pRsp));
  }
  void OnRtnOrderStatusChangeNotice(Corvane::TD_RspOrderInsert* pNotice) override {
    Add("OnRtnOrderStatusChangeNotice", {}, {}, Copy(pNotice));
  }
  void OnRtnOrderMatchNotice(Corvane::TD_RtnOrderMatchNotice* pNotice) override {
    Add("OnRtnOrderMatchNotice", {}, {}, Copy(pNotice));
  }
  void OnRspSubQuote(int nReqID, int nSubscribe, int nReserved, const char (*pCodes)[32],
                     int nCount, const char* pszReserved1, const char* pszReserved2, int nErrorId,
                     const char* errDesc) override {
    Add("OnRspSubQuote", {nReqID, nSubscribe, nReserved, pCodes != nullptr, nCount, nErrorId},
        {pszReserved1, pszReserved2, errDesc});
  }
  void OnRtnMarket(int nReqID, Corvane::MD_Market* pMarket) override {
    Add("OnRtnMarket", {nReqID}, {}, Copy(pMarket));
  }
  void OnRtnTransaction(int nReqID, Corvane::MD_Transaction* pTrans) override {
    Add("OnRtnTransaction", {nReqID}, {}, Copy(pTrans));
  }

 private:
  template <class Record>
  static std::shared_ptr<const void> Copy(const Record* record) {
    return std::make_shared<const Record>(*record);
  }

  void Add(std::string op, std::vector<int64_t> values, std::vector<std::string> texts = {},
           std::shared_ptr<const void> record = nullptr) {
    SpiEvent event{std::move(op), std::move(values), std::move(texts), std::move(record),
                   std::this_thread::get_id()};
    std::lock_guard<std::mutex> hold(lock_);
    events_.push_back(std::move(event));
  }

  mutable std::mutex lock_;
  std::vector<SpiEvent> events_;
};

}  // namespace testing_support

#endif  // VELTRANE_TESTS_RECORDING_SPI_H
