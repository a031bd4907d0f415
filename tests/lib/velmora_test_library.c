/* A shared library for the library-call tests: functions that take one
   NUL-terminated UTF-16 text and change it in place. */
#define _POSIX_C_SOURCE 200809L
#include <time.h>
#include <uchar.h>
#include <unistd.h>

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

/* Blocks for a second: an instruction that keeps the run loop away. */
void velmora_block(char16_t *text) {
  (void)text;
  struct timespec t = {1, 0};
  while (nanosleep(&t, &t) != 0) {
  }
}

/* Never returns: only ending the process stops it. */
void velmora_hang(char16_t *text) {
  (void)text;
  for (;;) pause();
}
