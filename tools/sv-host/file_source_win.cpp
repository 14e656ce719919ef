#include "sv-host/file_source.h"

namespace Sorvane::hostsim {

// The Windows build carries no FFmpeg: files are read by the Linux simulator only.
std::unique_ptr<FileSource> FileSource::Open(const std::string& path, int, int,
                                             std::string* error) {
  if (error)
    *error = "cannot read " + path + ": this build has no video file reader (use the Linux build)";
  return nullptr;
}

}  // namespace Sorvane::hostsim
