// gateway_args.h: texts as the outside libraries take them. A TextView only
// points into the caller's storage, which must outlive the call it is passed
// to.

#ifndef VELTRANE_GATEWAY_ARGS_H
#define VELTRANE_GATEWAY_ARGS_H

#include <cstddef>
#include <cstring>
#include <string>

#include "gateway_text.h"

namespace veltrane {

// What a request returns when it is refused before any gateway call.
constexpr int kRefused = -1;

// A gateway's result is an int64_t of which the low 32 bits count.
inline int RequestResult(int64_t gatewayResult) { return static_cast<int32_t>(gatewayResult); }

inline TextView ViewOf(const std::string& text) {
  return TextView{text.data(), static_cast<int64_t>(text.size())};
}

// The text of a record's field: its bytes up to the first zero byte, but
// never more than `limit` bytes nor past the field.
template <std::size_t N>
TextView FieldView(const char (&field)[N], std::size_t limit = N) {
  return TextView{field, static_cast<int64_t>(strnlen(field, limit < N ? limit : N))};
}

}  // namespace veltrane

#endif  // VELTRANE_GATEWAY_ARGS_H
