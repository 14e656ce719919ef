#pragma once

namespace Sorvane {

// One Media Foundation start-up, undone by this object only when it succeeded, so a failed
// start-up never takes away another user's.
class MfStartupScope {
 public:
  enum class Kind { Lite, Full };
  explicit MfStartupScope(Kind kind);
  ~MfStartupScope();
  MfStartupScope(const MfStartupScope&) = delete;
  MfStartupScope& operator=(const MfStartupScope&) = delete;

  bool Succeeded() const { return started_; }

 private:
  bool started_ = false;
};

}  // namespace Sorvane
