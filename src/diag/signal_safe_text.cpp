#include "diag/signal_safe_text.h"

namespace Sorvane {

SignalSafeText::SignalSafeText(char* buffer, size_t capacity)
    : buffer_(buffer), capacity_(capacity) {
  if (capacity_ > 0)
    buffer_[0] = '\0';
}

SignalSafeText& SignalSafeText::Append(const char* text, size_t length) {
  for (size_t i = 0; i < length && length_ + 1 < capacity_; ++i)
    buffer_[length_++] = text[i];
  if (capacity_ > 0)
    buffer_[length_] = '\0';
  return *this;
}

SignalSafeText& SignalSafeText::Append(const char* text) {
  size_t length = 0;
  while (text[length] != '\0')
    ++length;
  return Append(text, length);
}

SignalSafeText& SignalSafeText::Digits(uint64_t value, unsigned base, const char* alphabet,
                                       unsigned width) {
  char reversed[24];
  size_t n = 0;
  do {
    reversed[n++] = alphabet[value % base];
    value /= base;
  } while (value != 0 && n < sizeof reversed);
  while (n < width && n < sizeof reversed)
    reversed[n++] = '0';
  char ordered[24];
  for (size_t i = 0; i < n; ++i)
    ordered[i] = reversed[n - 1 - i];
  return Append(ordered, n);
}

SignalSafeText& SignalSafeText::Decimal(uint64_t value, unsigned width) {
  return Digits(value, 10, "0123456789", width);
}

SignalSafeText& SignalSafeText::Hex(uint64_t value, unsigned width, bool upper) {
  return Digits(value, 16, upper ? "0123456789ABCDEF" : "0123456789abcdef", width);
}

// Days since 1970-01-01 to a proleptic Gregorian date, counted in 400-year eras from 0000-03-01
// so that the leap day falls at the end of each counted year.
CivilTime CivilTimeOf(int64_t seconds) {
  int64_t days = seconds / 86400;
  int64_t rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  const int64_t shifted = days + 719468;
  const int64_t era = (shifted >= 0 ? shifted : shifted - 146096) / 146097;
  const int64_t dayOfEra = shifted - era * 146097;
  const int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t monthIndex = (5 * dayOfYear + 2) / 153;  // March = 0
  CivilTime t{};
  t.day = static_cast<unsigned>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
  t.month = static_cast<unsigned>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
  t.year = yearOfEra + era * 400 + (t.month <= 2 ? 1 : 0);
  t.hour = static_cast<unsigned>(rest / 3600);
  t.minute = static_cast<unsigned>(rest / 60 % 60);
  t.second = static_cast<unsigned>(rest % 60);
  return t;
}

}  // namespace Sorvane
