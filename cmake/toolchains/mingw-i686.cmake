# Cross build for 32-bit Windows with Debian's mingw-w64 (win32 thread model).
# Test programs run under Wine through wine-run, which skips them when wine32
# is missing or the machine cannot execute 32-bit programs, not even under
# qemu-user.
set(PONDERIX_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
