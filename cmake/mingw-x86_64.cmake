# Cross-build for 64-bit Windows with MinGW-w64. The shipped launcher is
# 32-bit; this build runs the tests and the demo on machines whose kernel
# cannot execute 32-bit programs, so Wine's 32-bit half cannot start there.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
