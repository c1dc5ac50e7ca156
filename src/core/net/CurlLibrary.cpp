// libcurl, loaded by the first transfer rather than with the program.
//
// libcurl brings some twenty libraries with it (two TLS stacks, Kerberos,
// LDAP, SSH, IDN...). Loading them with the program took longer than all
// the window builds before its first frame, for transfers that begin only
// when the user reads a page. So the program defines the few libcurl
// functions it calls, each forwarding to the library, which the first call
// loads. Where the library cannot be loaded, every transfer fails, saying
// so, and the program goes on.

// The definitions below are the functions themselves, not calls to check.
#define CURL_DISABLE_TYPECHECK
#include <curl/curl.h>
#include <dlfcn.h>

#include <cstdarg>
#include <cstdio>
#include <type_traits>

namespace {

constexpr char kLibcurl[] = "libcurl.so.4";

class Libcurl {
 public:
  // Bound lazily, as the libraries would be had the program linked them:
  // some of libcurl's (Kerberos, RTMP, nghttp2) are not built to be bound at
  // load, and binding them all at once took 0.7 ms of each command.
  Libcurl() : handle_(dlopen(kLibcurl, RTLD_LAZY | RTLD_LOCAL | RTLD_NODELETE)) {
    if (handle_ == nullptr) {
      const char* why = dlerror();
      std::snprintf(failure_, sizeof failure_, "cannot load %s: %s", kLibcurl,
                    why != nullptr ? why : "?");
    }
  }
  Libcurl(const Libcurl&) = delete;
  Libcurl& operator=(const Libcurl&) = delete;

  // Null when the library, or the function in it, is missing.
  template <typename Function>
  Function* Find(const char* name) const {
    return handle_ == nullptr ? nullptr : reinterpret_cast<Function*>(dlsym(handle_, name));
  }
  const char* Failure() const { return failure_[0] == '\0' ? nullptr : failure_; }

 private:
  // Nothing to destroy: a thread still transferring at exit may call in.
  void* const handle_;
  char failure_[512] = {};
};

static_assert(std::is_trivially_destructible_v<Libcurl>);

const Libcurl& TheLibrary() {
  static const Libcurl library;
  return library;
}

// What a missing library leaves: nothing can have been made by it.
template <typename Function, typename Result, typename... Args>
Result Forward(Function* found, Result failed, Args... args) {
  return found != nullptr ? found(args...) : failed;
}

// A text for a code; with the library missing, why it is.
template <typename Function, typename Code>
const char* ErrorText(Function* found, Code code) {
  if (const char* failure = TheLibrary().Failure())
    return failure;
  return found != nullptr ? found(code) : "libcurl: function missing";
}

// What follows an option is read as the library itself reads it, by the
// option's number: a long, an object pointer, a function pointer, a
// curl_off_t or a blob.
CURLcode ForwardOption(CURLcode (*set)(CURL*, CURLoption, ...), CURL* easy, CURLoption option,
                       va_list values) {
  if (set == nullptr)
    return CURLE_FAILED_INIT;
  if (option < CURLOPTTYPE_OBJECTPOINT)
    return set(easy, option, va_arg(values, long));
  if (option < CURLOPTTYPE_FUNCTIONPOINT)
    return set(easy, option, va_arg(values, void*));
  if (option < CURLOPTTYPE_OFF_T)
    return set(easy, option, va_arg(values, void (*)()));
  if (option < CURLOPTTYPE_BLOB)
    return set(easy, option, va_arg(values, curl_off_t));
  return set(easy, option, va_arg(values, struct curl_blob*));
}

CURLSHcode ForwardShareOption(CURLSHcode (*set)(CURLSH*, CURLSHoption, ...), CURLSH* share,
                              CURLSHoption option, va_list values) {
  if (set == nullptr)
    return CURLSHE_INVALID;
  switch (option) {
    case CURLSHOPT_SHARE:
    case CURLSHOPT_UNSHARE:
      return set(share, option, va_arg(values, int));
    case CURLSHOPT_LOCKFUNC:
      return set(share, option, va_arg(values, curl_lock_function));
    case CURLSHOPT_UNLOCKFUNC:
      return set(share, option, va_arg(values, curl_unlock_function));
    default:
      return set(share, option, va_arg(values, void*));
  }
}

}  // namespace

// The library's own `name`, looked up once.
#define MELO_LIBCURL(name)                                                    \
  [] {                                                                        \
    static auto* const resolved = TheLibrary().Find<decltype(::name)>(#name); \
    return resolved;                                                          \
  }()

// curl_easy_setopt, curl_easy_getinfo and curl_share_setopt take one of
// libcurl's enums before their "...", as libcurl's own definitions do.
// clang counts va_start after a parameter that an argument would be promoted
// from as undefined; these enums are int-sized and passed as ints.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wvarargs"

extern "C" {

CURLcode curl_global_init(long flags) {
  return Forward(MELO_LIBCURL(curl_global_init), CURLE_FAILED_INIT, flags);
}

void curl_global_cleanup() {
  if (auto* found = MELO_LIBCURL(curl_global_cleanup))
    found();
}

void curl_free(void* p) {
  if (auto* found = MELO_LIBCURL(curl_free))
    found(p);
}

CURL* curl_easy_init() {
  return Forward(MELO_LIBCURL(curl_easy_init), static_cast<CURL*>(nullptr));
}

void curl_easy_cleanup(CURL* easy) {
  if (auto* found = MELO_LIBCURL(curl_easy_cleanup))
    found(easy);
}

CURLcode curl_easy_setopt(CURL* easy, CURLoption option, ...) {
  va_list values;
  va_start(values, option);
  const CURLcode code = ForwardOption(MELO_LIBCURL(curl_easy_setopt), easy, option, values);
  va_end(values);
  return code;
}

CURLcode curl_easy_getinfo(CURL* easy, CURLINFO info, ...) {
  va_list values;
  va_start(values, info);
  void* const answer = va_arg(values, void*);  // every kind of info is answered through a pointer
  va_end(values);
  return Forward(MELO_LIBCURL(curl_easy_getinfo), CURLE_FAILED_INIT, easy, info, answer);
}

CURLcode curl_easy_pause(CURL* easy, int bitmask) {
  return Forward(MELO_LIBCURL(curl_easy_pause), CURLE_FAILED_INIT, easy, bitmask);
}

const char* curl_easy_strerror(CURLcode code) {
  return ErrorText(MELO_LIBCURL(curl_easy_strerror), code);
}

CURLM* curl_multi_init() {
  return Forward(MELO_LIBCURL(curl_multi_init), static_cast<CURLM*>(nullptr));
}

CURLMcode curl_multi_cleanup(CURLM* multi) {
  return Forward(MELO_LIBCURL(curl_multi_cleanup), CURLM_BAD_HANDLE, multi);
}

CURLMcode curl_multi_add_handle(CURLM* multi, CURL* easy) {
  return Forward(MELO_LIBCURL(curl_multi_add_handle), CURLM_BAD_HANDLE, multi, easy);
}

CURLMcode curl_multi_remove_handle(CURLM* multi, CURL* easy) {
  return Forward(MELO_LIBCURL(curl_multi_remove_handle), CURLM_BAD_HANDLE, multi, easy);
}

CURLMcode curl_multi_perform(CURLM* multi, int* running) {
  return Forward(MELO_LIBCURL(curl_multi_perform), CURLM_BAD_HANDLE, multi, running);
}

CURLMcode curl_multi_poll(CURLM* multi, struct curl_waitfd extra[], unsigned int extraCount,
                          int timeoutMs, int* ready) {
  return Forward(MELO_LIBCURL(curl_multi_poll), CURLM_BAD_HANDLE, multi, extra, extraCount,
                 timeoutMs, ready);
}

CURLMcode curl_multi_wakeup(CURLM* multi) {
  return Forward(MELO_LIBCURL(curl_multi_wakeup), CURLM_BAD_HANDLE, multi);
}

CURLMsg* curl_multi_info_read(CURLM* multi, int* left) {
  return Forward(MELO_LIBCURL(curl_multi_info_read), static_cast<CURLMsg*>(nullptr), multi, left);
}

const char* curl_multi_strerror(CURLMcode code) {
  return ErrorText(MELO_LIBCURL(curl_multi_strerror), code);
}

CURLSH* curl_share_init() {
  return Forward(MELO_LIBCURL(curl_share_init), static_cast<CURLSH*>(nullptr));
}

CURLSHcode curl_share_setopt(CURLSH* share, CURLSHoption option, ...) {
  va_list values;
  va_start(values, option);
  const CURLSHcode code =
      ForwardShareOption(MELO_LIBCURL(curl_share_setopt), share, option, values);
  va_end(values);
  return code;
}

CURLSHcode curl_share_cleanup(CURLSH* share) {
  return Forward(MELO_LIBCURL(curl_share_cleanup), CURLSHE_INVALID, share);
}

CURLU* curl_url() {
  return Forward(MELO_LIBCURL(curl_url), static_cast<CURLU*>(nullptr));
}

void curl_url_cleanup(CURLU* url) {
  if (auto* found = MELO_LIBCURL(curl_url_cleanup))
    found(url);
}

CURLUcode curl_url_get(CURLU* url, CURLUPart part, char** text, unsigned int flags) {
  return Forward(MELO_LIBCURL(curl_url_get), CURLUE_BAD_HANDLE, url, part, text, flags);
}

CURLUcode curl_url_set(CURLU* url, CURLUPart part, const char* text, unsigned int flags) {
  return Forward(MELO_LIBCURL(curl_url_set), CURLUE_BAD_HANDLE, url, part, text, flags);
}

const char* curl_url_strerror(CURLUcode code) {
  return ErrorText(MELO_LIBCURL(curl_url_strerror), code);
}

}  // extern "C"

#pragma GCC diagnostic pop
