#include "ctrl/host_string.h"

#include <vector>

namespace Sorvane::ctrl {

HostString::~HostString() {
  if (made_ && suite_ != nullptr && suite_->DisposeString != nullptr)
    suite_->DisposeString(&value_);
}

sdk::SPErr HostString::Assign(const char16_t* text) {
  if (suite_ == nullptr || suite_->AllocateFromUTF16 == nullptr)
    return sdk::kSPBadParameterError;
  const sdk::SPErr err =
      suite_->AllocateFromUTF16(reinterpret_cast<const sdk::ADOBESDK_UTF16Char*>(text), &value_);
  made_ = err == sdk::kSPNoError;
  return err;
}

sdk::ADOBESDK_String* HostString::Out() {
  made_ = true;  // the host may have filled it even on error; disposing an empty one is allowed
  return &value_;
}

std::string HostString::ToUtf8() const {
  if (suite_ == nullptr || suite_->CopyToUTF8String == nullptr)
    return {};
  std::vector<sdk::ADOBESDK_UTF8Char> buffer(128);
  uint32_t size = static_cast<uint32_t>(buffer.size());
  sdk::SPErr err = suite_->CopyToUTF8String(&value_, buffer.data(), &size);
  if (err == sdk::kStringBufferTooSmall && size > buffer.size()) {
    buffer.resize(size);
    size = static_cast<uint32_t>(buffer.size());
    err = suite_->CopyToUTF8String(&value_, buffer.data(), &size);
  }
  if (err != sdk::kSPNoError)
    return {};
  size_t length = 0;
  while (length < buffer.size() && length < size && buffer[length] != 0)
    ++length;
  return std::string(reinterpret_cast<const char*>(buffer.data()), length);
}

sdk::SPErr RunHostCommand(const sdk::ADOBESDK_ControlSurfaceHostCommandSuite1* commandSuite,
                          sdk::ControlSurfaceHostCommandRef commandRef,
                          const sdk::ADOBESDK_StringSuite1* stringSuite, const char16_t* context,
                          const char16_t* commandId) {
  if (commandSuite == nullptr || commandRef == nullptr || stringSuite == nullptr)
    return sdk::kSPBadParameterError;
  HostString contextString(stringSuite);
  HostString idString(stringSuite);
  if (context != nullptr) {
    if (const sdk::SPErr err = contextString.Assign(context); err != sdk::kSPNoError)
      return err;
  }
  if (const sdk::SPErr err = idString.Assign(commandId); err != sdk::kSPNoError)
    return err;
  return commandSuite->ExecuteCommand(commandRef, context ? contextString.Get() : nullptr,
                                      idString.Get());
}

}  // namespace Sorvane::ctrl
