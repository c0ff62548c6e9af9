#include "harness.h"

#include <objbase.h>

#include <cstdio>
#include <exception>
#include <vector>

namespace ponderix::wintest {

namespace {

struct Registered {
  const char* name;
  TestBody body;
};

std::vector<Registered>& Tests() {
  static std::vector<Registered> tests;
  return tests;
}

}  // namespace

std::string Describe(const std::string& value) { return "\"" + value + "\""; }
std::string Describe(const char* value) { return value ? Describe(std::string(value)) : "null"; }
std::string Describe(const wchar_t* value) { return value ? Describe(std::wstring(value)) : "null"; }
std::string Describe(bool value) { return value ? "true" : "false"; }

std::string Describe(const std::wstring& value) {
  std::string utf8;
  const int length = WideCharToMultiByte(CP_UTF8, 0, value.data(), static_cast<int>(value.size()), nullptr, 0,
                                         nullptr, nullptr);
  utf8.resize(static_cast<size_t>(length));
  WideCharToMultiByte(CP_UTF8, 0, value.data(), static_cast<int>(value.size()), utf8.data(), length, nullptr,
                      nullptr);
  return Describe(utf8);
}

bool Check::True(bool condition, std::string_view what, std::source_location where) {
  if (!condition) Fail(std::string(what), where);
  return condition;
}

bool Check::Hr(HRESULT actual, HRESULT expected, std::string_view what, std::source_location where) {
  if (actual == expected) return true;
  Fail(std::string(what) + ": expected " + HexCode(expected) + ", got " + HexCode(actual), where);
  return false;
}

void Check::Fail(const std::string& message, std::source_location where) {
  ++failures_;
  std::printf("%s:%u: %s\n", where.file_name(), static_cast<unsigned>(where.line()), message.c_str());
}

Test::Test(const char* name, TestBody body) { Tests().push_back({name, body}); }

}  // namespace ponderix::wintest

int main() {
  using ponderix::wintest::Check;
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
    std::printf("CoInitializeEx failed\n0 passed, 1 failed\n");
    return 1;
  }
  int passed = 0;
  int failed = 0;
  for (const auto& test : ponderix::wintest::Tests()) {
    std::printf("[ RUN      ] %s\n", test.name);
    std::fflush(stdout);
    Check check;
    try {
      test.body(check);
    } catch (const std::exception& e) {
      check.Fail(std::string("exception: ") + e.what(), std::source_location::current());
    }
    std::printf("%s %s\n", check.failed() ? "[  FAILED  ]" : "[       OK ]", test.name);
    ++(check.failed() ? failed : passed);
  }
  CoUninitialize();
  std::printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
