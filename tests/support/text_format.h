// text_format.h: printf into a std::string, for tests that write each
// callback they receive as one line of text.

#ifndef VELTRANE_TESTS_TEXT_FORMAT_H
#define VELTRANE_TESTS_TEXT_FORMAT_H

#include <cstdarg>
#include <cstdio>
#include <string>

namespace testing_support {

inline std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
inline std::string Format(const char* format, ...) {
  char text[512];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  return text;
}

}  // namespace testing_support

#endif  // VELTRANE_TESTS_TEXT_FORMAT_H
