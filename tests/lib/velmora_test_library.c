/* A shared library for the library-call tests: functions that take one
   NUL-terminated UTF-16 text and change it in place. */
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
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

/* Never returns: only ending the process stops it. Says on stderr that
   it has been entered, so that a test knows the run is inside the call. */
void velmora_hang(char16_t *text) {
  (void)text;
  static const char entered[] = "velmora_hang: entered\n";
  (void)!write(2, entered, sizeof entered - 1);
  for (;;) pause();
}

/* A Unix address, by path or (abstract) by name: its length. */
static socklen_t unix_address(struct sockaddr_un *a, const char *name, int abstract) {
  memset(a, 0, sizeof *a);
  a->sun_family = AF_UNIX;
  size_t length = strlen(name);
  if (length + 2 > sizeof a->sun_path) length = sizeof a->sun_path - 2;
  memcpy(a->sun_path + abstract, name, length);
  return (socklen_t)(offsetof(struct sockaddr_un, sun_path) + abstract + length + !abstract);
}

/* Sends a malformed launch request (a negative count of environment
   entries) on every sequenced-packet Unix socket the process holds, as
   the runner's command helper takes them, and reads each answer. 1 when
   every such socket answered. */
static int poke_helper(void) {
  static const char request[] = "L/\0-1\0true\0";
  int answered = 0, asked = 0;
  for (int fd = 3; fd < 1024; ++fd) {
    int type = 0;
    socklen_t size = sizeof type;
    struct sockaddr_storage a;
    socklen_t asize = sizeof a;
    if (getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &size) != 0 || type != SOCK_SEQPACKET) continue;
    if (getsockname(fd, (struct sockaddr *)&a, &asize) != 0 || a.ss_family != AF_UNIX) continue;
    ++asked;
    struct timeval five = {5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &five, sizeof five);
    char answer[64];
    if (send(fd, request, sizeof request - 1, 0) == (ssize_t)(sizeof request - 1) && recv(fd, answer, sizeof answer, 0) > 0)
      ++answered;
  }
  return asked > 0 && answered == asked;
}

/* What a library could reach beyond the run: one request in the text,
   "udp HOST PORT", "unix PATH", "abstract NAME", "dgram PATH",
   "dgramabstract NAME" (a datagram from one of a socket pair), "listen",
   "signal PID", "limit PID" (another process's file size limit),
   "helper" (a malformed request to the runner's command helper),
   answered in place with "ok" (reached) or "no" (refused). */
static int reach(const char *request) {
  char what[16] = "", arg1[200] = "", arg2[16] = "";
  if (sscanf(request, "%15s %199s %15s", what, arg1, arg2) < 1) return 0;
  if (strcmp(what, "signal") == 0) return kill((pid_t)atoi(arg1), SIGTERM) == 0;
  if (strcmp(what, "limit") == 0) {
    struct rlimit one = {1, 1};
    return prlimit((pid_t)atoi(arg1), RLIMIT_FSIZE, &one, NULL) == 0;
  }
  if (strcmp(what, "dgram") == 0 || strcmp(what, "dgramabstract") == 0) {
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_DGRAM, 0, pair) != 0) return 0;
    struct sockaddr_un a;
    socklen_t size = unix_address(&a, arg1, strcmp(what, "dgramabstract") == 0);
    int ok = sendto(pair[0], "velmora-library", 15, 0, (struct sockaddr *)&a, size) == 15;
    close(pair[0]);
    close(pair[1]);
    return ok;
  }
  if (strcmp(what, "udp") == 0 || strcmp(what, "listen") == 0) {
    int s = socket(AF_INET, strcmp(what, "udp") == 0 ? SOCK_DGRAM : SOCK_STREAM, 0);
    if (s < 0) return 0;
    struct sockaddr_in a;
    memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int ok;
    if (strcmp(what, "udp") == 0) {
      a.sin_port = htons((unsigned short)atoi(arg2));
      ok = sendto(s, "velmora-library", 15, 0, (struct sockaddr *)&a, sizeof a) == 15;
    } else {
      ok = bind(s, (struct sockaddr *)&a, sizeof a) == 0 && listen(s, 1) == 0;
    }
    close(s);
    return ok;
  }
  if (strcmp(what, "helper") == 0) return poke_helper();
  if (strcmp(what, "unix") == 0 || strcmp(what, "abstract") == 0) {
    int s = socket(AF_UNIX, SOCK_STREAM, 0);
    if (s < 0) return 0;
    struct sockaddr_un a;
    socklen_t size = unix_address(&a, arg1, strcmp(what, "abstract") == 0);
    int ok = connect(s, (struct sockaddr *)&a, size) == 0 && write(s, "velmora-library", 15) == 15;
    close(s);
    return ok;
  }
  return 0;
}

void velmora_reach(char16_t *text) {
  char request[256];
  size_t n = 0;
  for (; text[n] && n + 1 < sizeof request; ++n) request[n] = (char)text[n];
  request[n] = '\0';
  const char *answer = reach(request) ? "ok" : "no";
  if (n >= 2) {
    text[0] = (char16_t)answer[0];
    text[1] = (char16_t)answer[1];
    text[2] = 0;
  }
}
