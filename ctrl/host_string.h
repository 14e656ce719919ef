#pragma once
#include <string>

#include "sdk/control_surface_host.h"
#include "sdk/control_surface_string.h"

namespace Sorvane::ctrl {

// A host string that is disposed through the string suite when it goes, if it was ever made.
class HostString {
 public:
  explicit HostString(const sdk::ADOBESDK_StringSuite1* suite) : suite_(suite) {}
  ~HostString();
  HostString(const HostString&) = delete;
  HostString& operator=(const HostString&) = delete;

  // Makes the string from UTF-16 text; the host's result.
  sdk::SPErr Assign(const char16_t* text);
  // For host calls that fill the string in; it is disposed afterwards in any case.
  sdk::ADOBESDK_String* Out();
  const sdk::ADOBESDK_String* Get() const { return &value_; }
  std::string ToUtf8() const;

 private:
  const sdk::ADOBESDK_StringSuite1* suite_;
  sdk::ADOBESDK_String value_{};
  bool made_ = false;
};

// Runs a host command (context may be null) through the command suite.
sdk::SPErr RunHostCommand(const sdk::ADOBESDK_ControlSurfaceHostCommandSuite1* commandSuite,
                          sdk::ControlSurfaceHostCommandRef commandRef,
                          const sdk::ADOBESDK_StringSuite1* stringSuite, const char16_t* context,
                          const char16_t* commandId);

}  // namespace Sorvane::ctrl
