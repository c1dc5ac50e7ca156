#include <array>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "core/net/CurlHandles.h"
#include "core/net/PageReader.h"

namespace melo::net {
namespace {

// curl_global_init is not safe to race, and the share must outlive every
// reader; one function-local static gives both, in that order. Only names
// are shared between threads: a shared connection cache is not safe for
// transfers running at the same time (see AcquireThreadMulti).
class CurlProcess {
 public:
  CurlProcess() {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    share_ = curl_share_init();
    curl_share_setopt(share_, CURLSHOPT_LOCKFUNC, &CurlProcess::Lock);
    curl_share_setopt(share_, CURLSHOPT_UNLOCKFUNC, &CurlProcess::Unlock);
    curl_share_setopt(share_, CURLSHOPT_USERDATA, this);
    curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
  }
  ~CurlProcess() {
    curl_share_cleanup(share_);
    curl_global_cleanup();
  }
  CurlProcess(const CurlProcess&) = delete;
  CurlProcess& operator=(const CurlProcess&) = delete;

  CURLSH* share() const { return share_; }

 private:
  static void Lock(CURL*, curl_lock_data data, curl_lock_access, void* self) {
    static_cast<CurlProcess*>(self)->locks_[data].lock();
  }
  static void Unlock(CURL*, curl_lock_data data, void* self) {
    static_cast<CurlProcess*>(self)->locks_[data].unlock();
  }

  CURLSH* share_ = nullptr;
  std::array<std::mutex, CURL_LOCK_DATA_LAST> locks_;
};

struct UserAgent {
  std::mutex mutex;
  std::string text = "melodriftdown";
};

UserAgent& TheUserAgent() {
  static UserAgent agent;
  return agent;
}

}  // namespace

CURLSH* SharedNameCache() {
  static CurlProcess process;
  return process.share();
}

void PrepareTransfers() {
  SharedNameCache();
}

namespace {

// More than one only when a thread nests page reads; kept small since each
// holds open connections.
constexpr std::size_t kIdleMultisPerThread = 2;

std::vector<MultiHandle>& IdleMultis() {
  thread_local std::vector<MultiHandle> idle;
  return idle;
}

}  // namespace

MultiHandle AcquireThreadMulti() {
  SharedNameCache();  // curl is initialised before the first multi handle
  std::vector<MultiHandle>& idle = IdleMultis();
  if (idle.empty())
    return MultiHandle(curl_multi_init());
  MultiHandle multi = std::move(idle.back());
  idle.pop_back();
  return multi;
}

void ReleaseThreadMulti(MultiHandle multi) {
  std::vector<MultiHandle>& idle = IdleMultis();
  if (multi && idle.size() < kIdleMultisPerThread)
    idle.push_back(std::move(multi));
}

void CloseThreadConnections() {
  IdleMultis().clear();
}

void SetUserAgent(std::string_view agent) {
  UserAgent& shared = TheUserAgent();
  const std::lock_guard lock(shared.mutex);
  shared.text = agent;
}

std::string CurrentUserAgent() {
  UserAgent& shared = TheUserAgent();
  const std::lock_guard lock(shared.mutex);
  return shared.text;
}

}  // namespace melo::net
