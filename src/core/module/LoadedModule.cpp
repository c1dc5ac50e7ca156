#include "core/module/LoadedModule.h"

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <system_error>

namespace melo::module {
namespace fs = std::filesystem;

fs::path ModuleFolder() {
  if (const char* chosen = std::getenv("MELODRIFT_MODULE_DIR"); chosen != nullptr && *chosen)
    return chosen;
  std::error_code error;
  const fs::path program = fs::read_symlink("/proc/self/exe", error);
  // Never a folder relative to wherever the program was started from.
  if (error || !program.is_absolute())
    return {};
  return (program.parent_path() / MELO_MODULE_DIR_FROM_PROGRAM).lexically_normal();
}

LoadedModule::LoadedModule(std::string_view name, const char* entry) {
  const fs::path folder = ModuleFolder();
  if (folder.empty()) {
    failure_ = "the program cannot tell where it is, so not where its modules are";
    return;
  }
  const fs::path path = folder / (std::string(name) + ".so");
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (handle_ == nullptr) {
    const char* why = dlerror();
    failure_ = why != nullptr ? why : path.string() + ": cannot be loaded";
    return;
  }
  const auto* version = static_cast<const char*>(dlsym(handle_, kVersionSymbol));
  if (version == nullptr || std::strcmp(version, MELO_MODULE_VERSION) != 0) {
    failure_ = path.string() + ": belongs to another version of the program";
    return;
  }
  entry_ = dlsym(handle_, entry);
  if (entry_ == nullptr)
    failure_ = path.string() + ": has no " + entry;
}

LoadedModule::~LoadedModule() {
  if (handle_ != nullptr)
    dlclose(handle_);
}

}  // namespace melo::module
