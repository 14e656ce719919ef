#include "sv-host/source_setup.h"

#include <algorithm>
#include <cmath>

namespace Sorvane::hostsim {

std::unique_ptr<FileSource> OpenRunSource(HostRunOptions& run, std::ostream& progress,
                                          std::string* error) {
  auto source = FileSource::Open(run.sourcePath, run.sizeGiven ? run.width : 0,
                                 run.sizeGiven ? run.height : 0, error);
  if (!source)
    return nullptr;
  const FileSource::Info& info = source->info();
  run.width = info.width;
  run.height = info.height;
  if (!run.fpsGiven)
    run.fps = std::max(1, static_cast<int>(std::lround(info.fps)));
  progress << "source: " << run.sourcePath << " (" << info.description << "), pushed as "
           << run.width << "x" << run.height << " at " << run.fps << " fps"
           << (info.hasAudio ? " with its sound" : " with the tone") << "\n";
  return source;
}

}  // namespace Sorvane::hostsim
