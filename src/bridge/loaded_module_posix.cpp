#include <dlfcn.h>
#include <link.h>

#include <cstring>
#include <string>

#include "bridge/loaded_module.h"

namespace Sorvane {
namespace {

struct Search {
  const char* fileName;
  std::string path;
};

int MatchByFileName(dl_phdr_info* info, size_t, void* data) {
  auto* search = static_cast<Search*>(data);
  const char* path = info->dlpi_name;
  if (path == nullptr || *path == '\0')
    return 0;
  const char* slash = std::strrchr(path, '/');
  const char* base = slash ? slash + 1 : path;
  if (std::strcmp(base, search->fileName) != 0)
    return 0;
  search->path = path;
  return 1;
}

}  // namespace

void* FindLoadedModuleExport(const char* fileName, const char* symbol) {
  Search search{fileName, {}};
  if (dl_iterate_phdr(MatchByFileName, &search) == 0)
    return nullptr;
  // RTLD_NOLOAD only adds a reference to the mapped object; it is deliberately never closed.
  void* handle = dlopen(search.path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (handle == nullptr)
    return nullptr;
  return dlsym(handle, symbol);
}

bool PinThisModule() {
  static const bool pinned = [] {
    Dl_info self{};
    if (dladdr(reinterpret_cast<const void*>(&PinThisModule), &self) == 0 ||
        self.dli_fname == nullptr)
      return false;
    // RTLD_NODELETE on an object already loaded marks it: no later dlclose unmaps it.
    return dlopen(self.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE) != nullptr;
  }();
  return pinned;
}

}  // namespace Sorvane
