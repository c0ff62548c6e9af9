// The native dialog toolkit: forms of the toolkit contract (addin/toolkit.h)
// as Win32 windows with standard controls, laid out from the FormLayout at 96
// dots per inch. MakeToolkit (platform.h) returns one; this header names what
// tests rely on beyond the contract.
#pragma once

#include <cstdint>

namespace ponderix::win32 {

// The control at index i of FormLayout::controls has the window ID
// kFirstControlId + i.
inline constexpr int kFirstControlId = 1000;

// The window class of a form.
inline constexpr wchar_t kFormClassName[] = L"PonderixKorvanisForm";

// The toolkit's clock, from GetTickCount's milliseconds (Windows XP has no
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
