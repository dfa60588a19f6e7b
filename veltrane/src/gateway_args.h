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
