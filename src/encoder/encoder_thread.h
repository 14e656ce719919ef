#pragma once

namespace Sorvane {

// What a thread needs while it creates, configures or shuts down encoders: on Windows the
// multithreaded COM apartment (transform activation and release go through COM); nothing
// elsewhere. Undone at the end of the scope when this scope entered it.
class EncoderThreadScope {
 public:
  EncoderThreadScope();
  ~EncoderThreadScope();
  EncoderThreadScope(const EncoderThreadScope&) = delete;
  EncoderThreadScope& operator=(const EncoderThreadScope&) = delete;

 private:
  bool entered_ = false;
};

}  // namespace Sorvane
