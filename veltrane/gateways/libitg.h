/* libitg.h: the C interface of the outside trade gateway library.
 *
 * Requests take 64-bit integers and TextView addresses (see gateway_text.h)
 * and return an int64_t whose low 32 bits the caller uses as its result.
 * Answers come later through the seven callbacks registered with
 * Set_CallbackInterface, on threads of the library. Callback texts are
 * NUL-terminated and valid only during the call. */

#ifndef VELTRANE_LIBITG_H
#define VELTRANE_LIBITG_H

#include "gateway_text.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Sides of requests and reports. */
#define LIBITG_SIDE_SELL 1
#define LIBITG_SIDE_BUY 2

/* Order status characters of onOrder: '1', '2' and 'S' all say the order
 * is working at the exchange. */
#define LIBITG_STATUS_NONE '0'
#define LIBITG_STATUS_PENDING '1'
#define LIBITG_STATUS_ACCEPTED '2'
#define LIBITG_STATUS_SENT 'S'
#define LIBITG_STATUS_PART_FILLED '5'
#define LIBITG_STATUS_CANCELLED '6'
#define LIBITG_STATUS_FILLED '7'
#define LIBITG_STATUS_REJECTED '8'

/* `reportKind` of onOrder and onMatch: an unsolicited notice (a status
 * change, a match). Any other value is a row of a query answer, and a
 * non-zero one marks its last row, as `isLast` of onPosition does. */
#define LIBITG_REPORT_NOTICE 2
#define LIBITG_REPORT_LAST_ROW 1

/* The callback table, in this order. The library copies the table during
 * Set_CallbackInterface; the caller's table may then go away. `session`,
 * `exchange` and `currency` carry nothing the caller reads. */
typedef struct ItgCallbacks {
  void (*onLogin)(int32_t session, int32_t status, const char* message);
  void (*onOrder)(int32_t reqId, int32_t errorId, const char* message, const char* securityCode,
                  const char* orderCode, const char* exchange, int32_t side, double orderPrice,
                  int32_t orderQty, double tradedPrice, int32_t tradedQty, char status,
                  const char* orderTime, int32_t reportKind);
  void (*onMatch)(int32_t reqId, int32_t errorId, const char* message, const char* securityCode,
                  const char* orderCode, const char* exchange, const char* matchId, int32_t side,
                  double matchPrice, int32_t matchQty, const char* matchTime, int32_t reportKind);
  void (*onPosition)(int32_t reqId, int32_t errorId, const char* message, const char* securityCode,
                     int32_t position, int32_t isLast);
  void (*onInsert)(int32_t reqId, int32_t errorId, const char* message, const char* securityCode,
                   const char* orderCode, const char* exchange, int32_t side, double price,
                   int32_t quantity);
  void (*onCancel)(int32_t reqId, int32_t errorId, const char* message);
  void (*onBalance)(int32_t reqId, int32_t errorId, const char* message, const char* currency,
                    const char* available, const char* total);
} ItgCallbacks;

GATEWAY_EXPORT int64_t LibITG_Init(void);
GATEWAY_EXPORT void Set_CallbackInterface(const ItgCallbacks* table);
GATEWAY_EXPORT int64_t LibITG_ReqUserLogin(int64_t mode, const TextView* param,
                                           const TextView* user, const TextView* password,
                                           const TextView* extra1, const TextView* extra2,
                                           const TextView* extra3);
GATEWAY_EXPORT int64_t LibITG_ReqPlaceOrder(int64_t reqId, const TextView* account,
                                            const TextView* productCode,
                                            const TextView* securityCode, int64_t side,
                                            const TextView* price, int64_t quantity);
GATEWAY_EXPORT int64_t LibITG_ReqCancelOrder(int64_t reqId, const TextView* productCode,
                                             const TextView* orderCode);
GATEWAY_EXPORT int64_t LibITG_ReqQueryOrders(int64_t reqId);
GATEWAY_EXPORT int64_t LibITG_ReqQueryTrades(int64_t reqId);
GATEWAY_EXPORT int64_t LibITG_ReqQueryPosition(int64_t reqId);
GATEWAY_EXPORT int64_t LibITG_ReqGetAccountBalance(int64_t reqId);

#ifdef __cplusplus
}
#endif

#endif /* VELTRANE_LIBITG_H */
