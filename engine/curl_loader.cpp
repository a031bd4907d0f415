// libcurl, loaded when a program first starts a transfer rather than linked
// into every run: linking it (and the thirty libraries it needs) cost every
// start about 12 million instructions. These definitions stand for the
// libcurl functions the engine calls and forward to the library once it is
// loaded; they stay inside the executable (hidden). When libcurl cannot be
// loaded every transfer fails with CURLE_FAILED_INIT and the reason. The
// browser build has transfers of its own and no libcurl.
#ifndef __EMSCRIPTEN__
#define CURL_DISABLE_TYPECHECK
#include <curl/curl.h>
#include <dlfcn.h>

#include <cstdarg>
#include <string>

namespace {

struct Curl {
  void *module = nullptr;
  std::string failure;
  decltype(&::curl_global_init) global_init = nullptr;
  decltype(&::curl_easy_init) easy_init = nullptr;
  decltype(&::curl_easy_cleanup) easy_cleanup = nullptr;
  decltype(&::curl_easy_perform) easy_perform = nullptr;
  decltype(&::curl_easy_setopt) easy_setopt = nullptr;
  decltype(&::curl_easy_getinfo) easy_getinfo = nullptr;
  decltype(&::curl_easy_strerror) easy_strerror = nullptr;
  decltype(&::curl_easy_escape) easy_escape = nullptr;
  decltype(&::curl_free) free = nullptr;
  decltype(&::curl_slist_append) slist_append = nullptr;
  decltype(&::curl_slist_free_all) slist_free_all = nullptr;

  Curl() {
    module = dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
    if (!module) {
      const char *why = dlerror();
      failure = std::string("libcurl cannot be loaded: ") + (why ? why : "libcurl.so.4");
      return;
    }
    bool all = true;
    auto get = [&](auto &fn, const char *name) {
      fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(dlsym(module, name));
      all = all && fn;
    };
    get(global_init, "curl_global_init");
    get(easy_init, "curl_easy_init");
    get(easy_cleanup, "curl_easy_cleanup");
    get(easy_perform, "curl_easy_perform");
    get(easy_setopt, "curl_easy_setopt");
    get(easy_getinfo, "curl_easy_getinfo");
    get(easy_strerror, "curl_easy_strerror");
    get(easy_escape, "curl_easy_escape");
    get(free, "curl_free");
    get(slist_append, "curl_slist_append");
    get(slist_free_all, "curl_slist_free_all");
    if (!all) {
      failure = "libcurl.so.4 lacks a function the transfers need";
      module = nullptr;
    }
  }
  bool ok() const { return module != nullptr; }
};

// Loaded on the first call from any thread (a function-local static is made
// once, thread-safely).
const Curl &curl() {
  static const Curl loaded;
  return loaded;
}

}  // namespace

extern "C" {

CURLcode curl_global_init(long flags) { return curl().ok() ? curl().global_init(flags) : CURLE_FAILED_INIT; }

CURL *curl_easy_init(void) { return curl().ok() ? curl().easy_init() : nullptr; }

void curl_easy_cleanup(CURL *handle) {
  if (handle && curl().ok()) curl().easy_cleanup(handle);
}

CURLcode curl_easy_perform(CURL *handle) {
  return handle && curl().ok() ? curl().easy_perform(handle) : CURLE_FAILED_INIT;
}

// The one argument after the option is a long, a pointer, a function
// pointer or a curl_off_t, as the option's number range says; it is read as
// that type and passed on as that type.
CURLcode curl_easy_setopt(CURL *handle, CURLoption option, ...) {
  if (!handle || !curl().ok()) return CURLE_FAILED_INIT;
  va_list args;
  va_start(args, option);
  CURLcode rc;
  if (option < CURLOPTTYPE_OBJECTPOINT) {
    rc = curl().easy_setopt(handle, option, va_arg(args, long));
  } else if (option < CURLOPTTYPE_FUNCTIONPOINT) {
    rc = curl().easy_setopt(handle, option, va_arg(args, void *));
  } else if (option < CURLOPTTYPE_OFF_T) {
    rc = curl().easy_setopt(handle, option, va_arg(args, void (*)()));
  } else if (option < CURLOPTTYPE_BLOB) {
    rc = curl().easy_setopt(handle, option, va_arg(args, curl_off_t));
  } else {
    rc = curl().easy_setopt(handle, option, va_arg(args, void *));
  }
  va_end(args);
  return rc;
}

// Every information item is written through one pointer.
CURLcode curl_easy_getinfo(CURL *handle, CURLINFO info, ...) {
  if (!handle || !curl().ok()) return CURLE_FAILED_INIT;
  va_list args;
  va_start(args, info);
  void *out = va_arg(args, void *);
  va_end(args);
  return curl().easy_getinfo(handle, info, out);
}

const char *curl_easy_strerror(CURLcode code) {
  return curl().ok() ? curl().easy_strerror(code) : curl().failure.c_str();
}

char *curl_easy_escape(CURL *handle, const char *text, int length) {
  return handle && curl().ok() ? curl().easy_escape(handle, text, length) : nullptr;
}

void curl_free(void *p) {
  if (p && curl().ok()) curl().free(p);
}

struct curl_slist *curl_slist_append(struct curl_slist *list, const char *text) {
  return curl().ok() ? curl().slist_append(list, text) : list;
}

void curl_slist_free_all(struct curl_slist *list) {
  if (list && curl().ok()) curl().slist_free_all(list);
}

}  // extern "C"

#endif  // __EMSCRIPTEN__
