#pragma once
#include <memory>
#include <ostream>
#include <string>

#include "sv-host/file_source.h"
#include "sv-host/host_driver.h"

namespace Sorvane::hostsim {

// Opens the run's --source file and fits the run to it: its size unless --size was given, its
// frame rate unless --fps was. nullptr with `error` set when the file cannot be used.
std::unique_ptr<FileSource> OpenRunSource(HostRunOptions& run, std::ostream& progress,
                                          std::string* error);

}  // namespace Sorvane::hostsim
