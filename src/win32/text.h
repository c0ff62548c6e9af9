// Text at the Windows edge: the core speaks UTF-8, Windows and COM speak
// UTF-16. Conversion happens here and nowhere else.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "win32/owners.h"

namespace ponderix::win32 {

// Invalid UTF-8 or UTF-16 comes out with U+FFFD in place of the bad sequence.
std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view utf16);

// A new BSTR holding `utf8`; throws std::bad_alloc when none can be made.
UniqueBstr MakeBstr(std::string_view utf8);
// The text of a BSTR; a null BSTR is the empty string.
std::string FromBstr(BSTR text);

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" as the registry writes it.
std::wstring GuidText(const GUID& guid);

}  // namespace ponderix::win32
