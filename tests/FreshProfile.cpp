// Every test program starts from a profile of its own: the XDG configuration, data and cache
// folders point into a fresh temporary folder, made before main() and removed at exit, so no
// test reads or writes the user's own files and no test sees what an earlier one left. The
// programs' modules come from the build tree.

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <utility>

namespace {

class FreshProfile {
 public:
  FreshProfile() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/melodrift-profile-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr)
      std::abort();  // no profile: nothing safe to run in
    root_ = pattern;
    for (const auto& [variable, folder] :
         {std::pair{"XDG_CONFIG_HOME", "config"}, std::pair{"XDG_DATA_HOME", "data"},
          std::pair{"XDG_CACHE_HOME", "cache"}}) {
      const std::filesystem::path path = root_ / folder;
      std::filesystem::create_directory(path);
      setenv(variable, path.c_str(), 1);
    }
    setenv("MELODRIFT_MODULE_DIR", MELO_TEST_MODULE_DIR, 1);
  }
  ~FreshProfile() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }
  FreshProfile(const FreshProfile&) = delete;
  FreshProfile& operator=(const FreshProfile&) = delete;

 private:
  std::filesystem::path root_;
};

const FreshProfile profile;

}  // namespace
