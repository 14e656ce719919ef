#include <dlfcn.h>

#include "sv-host/module_loader.h"

namespace Sorvane::hostsim {
namespace {

class PosixModule final : public LoadedModule {
 public:
  explicit PosixModule(void* handle) : handle_(handle) {}
  ~PosixModule() override {
    if (!KeepsMapped())
      dlclose(handle_);
  }
  void* Symbol(const char* name) const override { return dlsym(handle_, name); }

 private:
  void* handle_;
};

}  // namespace

std::unique_ptr<LoadedModule> LoadedModule::Open(const std::string& path, std::string* error) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    if (error)
      *error = dlerror();
    return nullptr;
  }
  return std::make_unique<PosixModule>(handle);
}

}  // namespace Sorvane::hostsim
