# Sourced by the clang checks: every product source, and how clang compiles
# them as the i686 MinGW-w64 build does (same definitions, same headers).
GCC_CXX_INCLUDE=$(ls -d /usr/lib/gcc/i686-w64-mingw32/*-posix/include/c++ | sort -V | tail -n 1)
mapfile -t PRODUCT_SOURCES < <(find launcher update desktop log -type f \
                                  \( -name '*.cpp' -o -name ZivOziror \) | sort)
CLANG_MINGW_FLAGS=(
  --target=i686-w64-mingw32 -std=c++17 -x c++
  -isystem "$GCC_CXX_INCLUDE" -isystem "$GCC_CXX_INCLUDE/i686-w64-mingw32"
  -isystem third_party/zlib/contrib/minizip -isystem third_party/tinyxml2
  -I . -DUNICODE -D_UNICODE -DWIN32_LEAN_AND_MEAN -DNOMINMAX
  -D_WIN32_WINNT=0x0601 -DWINVER=0x0601
)
