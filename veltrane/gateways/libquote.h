/* libquote.h: the C interface of the outside Level-2 quote library.
 *
 * Requests take 64-bit integers and TextView / TextList addresses (see
 * gateway_text.h). Answers and market data come through the four callbacks
 * registered with Set_QCallbackInterface, on any thread of the library.
 * Market data arrive as a message type name and a protobuf payload. */

#ifndef VELTRANE_LIBQUOTE_H
#define VELTRANE_LIBQUOTE_H

#include "gateway_text.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The callback table, in this order; copied by Set_QCallbackInterface. */
typedef struct QuoteCallbacks {
  void (*onLogin)(int32_t session, int32_t status);
  void (*onSubscribe)(int32_t reqId, int32_t result, const char* text);
  void (*onUnsubscribe)(int32_t reqId, int32_t result, const char* text);
  void (*onData)(int32_t reqId, int64_t sequence, int64_t timestamp, const char* typeName,
                 const char* payload, int32_t length);
} QuoteCallbacks;

/* Bits of the `kinds` mask of LibQuote_ReqSubscribe. */
#define LIBQUOTE_KIND_SNAPSHOTS 1
#define LIBQUOTE_KIND_TRADES 2

GATEWAY_EXPORT int64_t LibQuote_Init(void);
GATEWAY_EXPORT void Set_QCallbackInterface(const QuoteCallbacks* table);
GATEWAY_EXPORT int64_t LibQuote_ReqUserLogin(int64_t mode, const TextView* param);
GATEWAY_EXPORT int64_t LibQuote_ReqSubscribe(int64_t reqId, int64_t kinds, const TextList* codes);
GATEWAY_EXPORT int64_t LibQuote_ReqUnsubscribe(int64_t reqId, const TextList* codes);

#ifdef __cplusplus
}
#endif

#endif /* VELTRANE_LIBQUOTE_H */
