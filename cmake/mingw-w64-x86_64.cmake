# Cross build for 64-bit Windows. Its suites run under 64-bit Wine, which
# also runs where the kernel runs no 32-bit programs; the 64-bit loader is
# called directly, as the wine wrapper tries the 32-bit one first.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)

find_program(WINE_PROGRAM wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(WINE_PROGRAM)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE_PROGRAM})
endif()
