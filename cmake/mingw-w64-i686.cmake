# Cross-build for 32-bit Windows (i686), for 32-bit hosts, with mingw-w64.
# Tests run under 32-bit wine (wine32:i386, a win32 prefix).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(VEXACOMM_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
