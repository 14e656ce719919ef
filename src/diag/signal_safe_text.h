#pragma once
#include <cstddef>
#include <cstdint>

namespace Sorvane {

// A fixed buffer that text is appended to without the heap, locks or stdio, so a fatal-signal
// handler can compose its lines. Text that does not fit is cut off; the buffer stays terminated.
class SignalSafeText {
 public:
  SignalSafeText(char* buffer, size_t capacity);

  SignalSafeText& Append(const char* text);
  SignalSafeText& Append(const char* text, size_t length);
  // Decimal, zero-padded to at least `width` digits.
  SignalSafeText& Decimal(uint64_t value, unsigned width = 1);
  // Hexadecimal digits, zero-padded to at least `width` digits, no prefix.
  SignalSafeText& Hex(uint64_t value, unsigned width = 1, bool upper = false);

  const char* data() const { return buffer_; }
  size_t size() const { return length_; }

 private:
  SignalSafeText& Digits(uint64_t value, unsigned base, const char* alphabet, unsigned width);

  char* buffer_;
  size_t capacity_;
  size_t length_ = 0;
};

// Civil date and time of a count of seconds since 1970 (already shifted to local time).
struct CivilTime {
  int64_t year;
  unsigned month, day, hour, minute, second;
};
CivilTime CivilTimeOf(int64_t seconds);

}  // namespace Sorvane
