#include <fstream>
#include <iterator>

#include "store/state_file.h"

namespace Sorvane::statefile::detail {

std::optional<std::string> ReadWholeFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in)
    return std::nullopt;
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace Sorvane::statefile::detail
