// A small test harness for the programs that run under Wine (GoogleTest is
// not packaged for mingw-w64). Tests register themselves by name, run in
// declaration order in one COM apartment, and the program ends with the line
// "<n> passed, <m> failed"; its exit code is 0 only when nothing failed.
#pragma once

#include <windows.h>

#include <cstdint>
#include <source_location>
#include <sstream>
#include <string>
#include <string_view>

namespace ponderix::wintest {

std::string Describe(const std::string& value);
std::string Describe(const std::wstring& value);
std::string Describe(const char* value);
std::string Describe(const wchar_t* value);
std::string Describe(bool value);
template <class T>
std::string Describe(const T& value) {
  std::ostringstream out;
  out << value;
  return out.str();
}

class Check {
 public:
  // Records a failure unless `condition` holds; returns `condition`.
  bool True(bool condition, std::string_view what,
            std::source_location where = std::source_location::current());

  template <class Actual, class Expected>
  bool Equal(const Actual& actual, const Expected& expected, std::string_view what,
             std::source_location where = std::source_location::current()) {
    if (actual == expected) return true;
    Fail(std::string(what) + ": expected " + Describe(expected) + ", got " + Describe(actual), where);
    return false;
  }

  // HRESULTs compare like Equal and print in hex.
  bool Hr(HRESULT actual, HRESULT expected, std::string_view what,
          std::source_location where = std::source_location::current());

  void Fail(const std::string& message, std::source_location where);
  bool failed() const { return failures_ > 0; }

 private:
  int failures_ = 0;
};

using TestBody = void (*)(Check&);

// `static const Test t("Suite.Behaviour", [](Check& check) { ... });`
class Test {
 public:
  Test(const char* name, TestBody body);
};

std::string HexCode(HRESULT hr);

}  // namespace ponderix::wintest
