# Checks the PE tables of PonderixKorvanis.dll without running it:
#   cmake -DOBJDUMP=<objdump> -DDLL=<dll> -P import_table_check.cmake
# The DLL may import only Windows' own DLLs (the C++ runtime is linked in, so
# a machine without mingw-w64 can load it), and it must export the five COM
# server entry points under their plain names (no @N decoration).
cmake_minimum_required(VERSION 3.25)

execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${DLL} failed")
endif()

set(system_dlls kernel32 user32 gdi32 advapi32 ole32 oleaut32 shell32 comctl32 uxtheme msvcrt)
string(REGEX MATCHALL "DLL Name: [^\r\n]+" imports "${dump}")
set(passed 0)
set(failed 0)
set(seen "")
foreach(line IN LISTS imports)
  string(REGEX REPLACE "DLL Name: *" "" name "${line}")
  string(TOLOWER "${name}" lower)
  string(REGEX REPLACE "\\.dll$" "" base "${lower}")
  list(APPEND seen ${name})
  if(base IN_LIST system_dlls OR base MATCHES "^api-ms-win-crt-[a-z0-9-]+$")
    math(EXPR passed "${passed} + 1")
  else()
    message("not a Windows system DLL: ${name}")
    math(EXPR failed "${failed} + 1")
  endif()
endforeach()
if(NOT seen)
  message("no import table found")
  math(EXPR failed "${failed} + 1")
endif()
message("imports: ${seen}")

# Export names sit in the "[Ordinal/Name Pointer] Table" as "[   n] Name".
# Brackets would stop CMake from splitting lists, so they are replaced first.
string(REPLACE "[" "<" dump "${dump}")
string(REPLACE "]" ">" dump "${dump}")
string(REGEX MATCH "<Ordinal/Name Pointer> Table[^\n]*\n(([ \t]*< *[0-9]+> [^\n]*\n)*)" table "${dump}")
string(REGEX MATCHALL "> [^\n]+" entries "${CMAKE_MATCH_1}")
set(exported "")
foreach(entry IN LISTS entries)
  string(REGEX REPLACE "^> +" "" name "${entry}")
  list(APPEND exported "${name}")
endforeach()
list(SORT exported)
set(expected DllCanUnloadNow DllGetClassObject DllInstall DllRegisterServer DllUnregisterServer)
if(exported STREQUAL expected)
  math(EXPR passed "${passed} + 1")
else()
  message("exports: expected ${expected}, got ${exported}")
  math(EXPR failed "${failed} + 1")
endif()

message("${passed} passed, ${failed} failed")
if(failed GREATER 0)
  message(FATAL_ERROR "the DLL's tables are not as required")
endif()
