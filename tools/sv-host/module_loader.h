#pragma once
#include <memory>
#include <string>

namespace Sorvane::hostsim {

// A plug-in module loaded by path, the way the host loads it (dlopen / LoadLibraryW).
class LoadedModule {
 public:
  virtual ~LoadedModule() = default;
  // The address of an exported symbol, or null.
  virtual void* Symbol(const char* name) const = 0;

  // Null on failure, with the system's reason in `error`.
  static std::unique_ptr<LoadedModule> Open(const std::string& path, std::string* error);
};

}  // namespace Sorvane::hostsim
