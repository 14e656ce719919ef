#include "encoder/mf_status_text.h"

#include <cstdio>

namespace Sorvane {
namespace {

struct NamedStatus {
  uint32_t code;
  const char* name;
};

constexpr NamedStatus kNames[] = {
    {0x00000000, "S_OK"},
    {0x80004001, "E_NOTIMPL"},
    {0x80004002, "E_NOINTERFACE"},
    {0x80004005, "E_FAIL"},
    {0x80070005, "E_ACCESSDENIED"},
    {0x8007000E, "E_OUTOFMEMORY"},
    {0x80070057, "E_INVALIDARG"},
    {0xC00D36B4, "MF_E_INVALIDMEDIATYPE"},
    {0xC00D36B9, "MF_E_NO_MORE_TYPES"},
    {0xC00D36E6, "MF_E_ATTRIBUTENOTFOUND"},
    {0xC00D6D60, "MF_E_TRANSFORM_TYPE_NOT_SET"},
    {0xC00D6D61, "MF_E_TRANSFORM_STREAM_CHANGE"},
    {0xC00D6D62, "MF_E_TRANSFORM_INPUT_REMAINING"},
    {0xC00D6D72, "MF_E_TRANSFORM_NEED_MORE_INPUT"},
    {0xC00D6D76, "MF_E_UNSUPPORTED_D3D_TYPE"},
    {0xC00D6D77, "MF_E_TRANSFORM_ASYNC_LOCKED"},
};

}  // namespace

std::string StatusText(uint32_t status) {
  char text[96];
  const unsigned long code = status;
  for (const NamedStatus& named : kNames) {
    if (named.code == status) {
      std::snprintf(text, sizeof text, "%s (0x%08lx)", named.name, code);
      return text;
    }
  }
  std::snprintf(text, sizeof text, "0x%08lx", code);
  return text;
}

}  // namespace Sorvane
