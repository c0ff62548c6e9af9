// The dialog toolkit's clock (Toolkit::Seconds), apart so that tests can give
// it tick counts of their own.
#pragma once

#include <cstdint>

namespace ponderix::win32 {

// Seconds from GetTickCount's milliseconds (Windows XP has no
// GetTickCount64). That count wraps after 49.7 days; the clock adds up the
// ticks between readings, which unsigned subtraction gets right across a wrap,
// so a wait never outlives its deadline.
class TickClock {
 public:
  explicit TickClock(std::uint32_t start) : last_(start) {}
  double Seconds(std::uint32_t now) {
    elapsed_ += static_cast<std::uint32_t>(now - last_);
    last_ = now;
    return static_cast<double>(elapsed_) / 1000.0;
  }

 private:
  std::uint32_t last_;
  std::uint64_t elapsed_ = 0;
};

}  // namespace ponderix::win32
