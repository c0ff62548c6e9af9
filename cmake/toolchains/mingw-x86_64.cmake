# Cross build for 64-bit Windows with Debian's mingw-w64 (win32 thread model).
# Test programs run under Wine through wine-run; see docs/windows.md.
set(PONDERIX_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
