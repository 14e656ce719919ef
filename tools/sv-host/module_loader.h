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

  // Like the host, leaves the module mapped until the process ends, even once this object is
  // gone: threads the module started may outlive their owner.
  void KeepMappedUntilExit() { keepMapped_ = true; }

 protected:
  bool KeepsMapped() const { return keepMapped_; }

 private:
  bool keepMapped_ = false;
};

}  // namespace Sorvane::hostsim
