// text_copy.h: the one way text enters a record's fixed text array.

#ifndef VELTRANE_TEXT_COPY_H
#define VELTRANE_TEXT_COPY_H

#include <cstddef>
#include <cstring>
#include <initializer_list>

namespace veltrane {

// Copies the NUL-terminated `src` into `dst`: at most `limit` bytes and never
// more than fits before the array's last byte, then a terminator. A null
// `src` counts as empty. Bytes after the terminator are left as they were
// (records start zeroed).
template <std::size_t N>
void CopyText(char (&dst)[N], const char* src, std::size_t limit = N - 1) {
  static_assert(N > 0, "a text field holds at least its terminator");
  const std::size_t max = limit < N - 1 ? limit : N - 1;
  std::size_t length = 0;
  if (src != nullptr) {
    while (length < max && src[length] != '\0') ++length;
    std::memcpy(dst, src, length);
  }
  dst[length] = '\0';
}

// Copies the texts one after another into `dst`, as CopyText copies one:
// at most `limit` bytes in all, then a terminator.
template <std::size_t N>
void CopyTexts(char (&dst)[N], std::size_t limit, std::initializer_list<const char*> parts) {
  static_assert(N > 0, "a text field holds at least its terminator");
  const std::size_t max = limit < N - 1 ? limit : N - 1;
  std::size_t length = 0;
  for (const char* part : parts) {
    for (; part != nullptr && length < max && *part != '\0'; ++part) dst[length++] = *part;
  }
  dst[length] = '\0';
}

// The gateways promise NUL-terminated texts; a null pointer is read as empty
// rather than trusted.
inline const char* TextOrEmpty(const char* text) { return text != nullptr ? text : ""; }

}  // namespace veltrane

#endif  // VELTRANE_TEXT_COPY_H
