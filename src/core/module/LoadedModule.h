#pragma once
// The program's optional parts (the GStreamer player, the TagLib tagger,
// the bundled site) live in modules loaded on first use, so that a command
// that needs none starts without loading their libraries.

#include <filesystem>
#include <string>
#include <string_view>

namespace melo::module {

// Set by a module and checked on loading: a module of another version of
// the program may not share its types.
inline constexpr char kVersionSymbol[] = "melo_module_version";
#define MELO_MODULE_EXPORT __attribute__((visibility("default")))
#define MELO_MODULE_VERSION_DEFINITION \
  extern "C" MELO_MODULE_EXPORT const char melo_module_version[] = MELO_MODULE_VERSION

// MELODRIFT_MODULE_DIR when set, else the folder the program's modules are
// installed to, found from the program's own place (the same in the build
// tree and the installed one); empty when the program's place is unknown.
std::filesystem::path ModuleFolder();

// One module, open while this lives. Its code is never unmapped: the
// libraries it brings start threads and register types that outlive it.
class LoadedModule {
 public:
  // Loads `name` from ModuleFolder() and finds its `entry` function.
  LoadedModule(std::string_view name, const char* entry);
  ~LoadedModule();
  LoadedModule(const LoadedModule&) = delete;
  LoadedModule& operator=(const LoadedModule&) = delete;

  // Null when the module could not be loaded; Failure() says why.
  template <typename Function>
  Function* Entry() const {
    return reinterpret_cast<Function*>(entry_);
  }
  const std::string& Failure() const { return failure_; }

 private:
  void* handle_ = nullptr;
  void* entry_ = nullptr;
  std::string failure_;
};

}  // namespace melo::module
