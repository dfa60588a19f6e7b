/* gateway_text.h: the text types that both outside libraries take.
 *
 * A text goes to either library as the address of a caller-owned TextView (or
 * TextList) that is valid only during the call; the library copies what it
 * keeps. Texts need no terminator. */

#ifndef VELTRANE_GATEWAY_TEXT_H
#define VELTRANE_GATEWAY_TEXT_H

#include <stdint.h>

/* What the outside libraries export: they are built with hidden visibility
 * too, and only these functions form their interface. */
#define GATEWAY_EXPORT __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

typedef struct TextView {
  const char* data;
  int64_t size;
} TextView;

typedef struct TextList {
  const TextView* items;
  int64_t count;
  int64_t capacity;
} TextList;

#ifdef __cplusplus
}
#endif

#endif /* VELTRANE_GATEWAY_TEXT_H */
