#include "store/state_file.h"

#include <chrono>
#include <fstream>
#include <system_error>
#include <thread>

namespace Sorvane::statefile {

std::optional<std::string> ReadText(const std::filesystem::path& file) {
  for (int attempt = 0; attempt < 5; ++attempt) {
    std::optional<std::string> text = detail::ReadWholeFile(file);
    if (text && !text->empty())
      return text;
    std::error_code ec;
    if (!text && !std::filesystem::exists(file, ec))
      return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return std::nullopt;
}

bool WriteAtomically(const std::filesystem::path& file, const std::string& text,
                     const LogChannel& channel, const WriteMessages& messages) {
  namespace fs = std::filesystem;
  fs::path tmp = file;
  tmp += ".tmp";
  const std::string tmpText = tmp.string();
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    if (!out) {
      Log(channel, kLogError, messages.openFailed, tmpText.c_str());
      return false;
    }
    std::error_code ec;
    // Owner-only where the platform has modes: the files hold pairing tokens.
    fs::permissions(tmp, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::replace,
                    ec);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.flush();
    if (!out) {
      Log(channel, kLogError, messages.writeFailed);
      return false;
    }
  }
  // On Windows the replace fails while a program without delete sharing (a virus scanner, an
  // editor) has the file open for a moment; retry for up to half a second rather than lose the
  // change.
  std::error_code ec;
  for (int attempt = 0; attempt < 50; ++attempt) {
    fs::rename(tmp, file, ec);
    if (!ec)
      break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (ec) {
    Log(channel, kLogError, messages.renameFailed, tmpText.c_str(), file.string().c_str(),
        ec.message().c_str());
    fs::remove(tmp, ec);
    return false;
  }
  return true;
}

}  // namespace Sorvane::statefile
