/* A shared library for the library-call tests: functions that take one
   NUL-terminated UTF-16 text and change it in place. */
#include <uchar.h>

void velmora_upper(char16_t *text) {
  for (; *text; ++text)
    if (*text >= u'a' && *text <= u'z') *text = (char16_t)(*text - 32);
}

void velmora_reverse(char16_t *text) {
  char16_t *end = text;
  while (*end) ++end;
  while (text < end) {
    char16_t c = *text;
    *text++ = *--end;
    *end = c;
  }
}
