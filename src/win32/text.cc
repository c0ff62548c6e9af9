#include "win32/text.h"

#include <climits>
#include <iterator>
#include <new>
#include <stdexcept>

namespace ponderix::win32 {

namespace {

int CheckedLength(size_t size) {
  if (size > static_cast<size_t>(INT_MAX)) throw std::length_error("text too long for Windows");
  return static_cast<int>(size);
}

}  // namespace

std::wstring Widen(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int inLength = CheckedLength(utf8.size());
  const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), inLength, nullptr, 0);
  std::wstring out(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), inLength, out.data(), length);
  return out;
}

std::string Narrow(std::wstring_view utf16) {
  if (utf16.empty()) return {};
  const int inLength = CheckedLength(utf16.size());
  const int length = WideCharToMultiByte(CP_UTF8, 0, utf16.data(), inLength, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, utf16.data(), inLength, out.data(), length, nullptr, nullptr);
  return out;
}

UniqueBstr MakeBstr(std::string_view utf8) {
  const std::wstring wide = Widen(utf8);
  UniqueBstr text(SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size())));
  if (!text) throw std::bad_alloc();
  return text;
}

std::string FromBstr(BSTR text) {
  if (!text) return {};
  return Narrow(std::wstring_view(text, SysStringLen(text)));
}

std::wstring GuidText(const GUID& guid) {
  wchar_t buffer[40] = {};
  StringFromGUID2(guid, buffer, static_cast<int>(std::size(buffer)));
  return buffer;
}

}  // namespace ponderix::win32
