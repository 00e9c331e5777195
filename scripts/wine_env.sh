# Sourced by the scripts: the build folder, our own Wine prefix, a persistent
# warm wineserver and a virtual display for the prompt.
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD="${BUILD_DIR:-$ROOT/build}"
export WINEPREFIX="${WINEPREFIX:-$BUILD/wineprefix}"
# Wine takes its code pages from the Unix locale; keep it the same everywhere.
export LANG=C.UTF-8
unset LC_ALL
export WINEDEBUG="${WINEDEBUG:--all}"
# winemenubuilder would turn every shell link the tests save on a desktop
# into .desktop files and icons in the Unix home folder.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d}"

configure_and_build() {
  if [ ! -f "$BUILD/build.ninja" ]; then
    cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-i686.cmake" >/dev/null
  fi
  cmake --build "$BUILD" -- -k 0
}

# Wine's helper processes must not inherit the caller's pipes (ctest would wait
# for them for ever), so the server is started persistent and warmed up first
# with every standard stream on /dev/null.
start_wine() {
  wineserver -p </dev/null >/dev/null 2>&1 || true
  wine cmd /c exit </dev/null >/dev/null 2>&1 || true
}

stop_wine() {
  wineserver -k </dev/null >/dev/null 2>&1 || true
}

# A display of our own for message boxes, unless one is given.
start_display() {
  if [ -n "${LAUNCHER_DISPLAY:-}" ]; then export DISPLAY="$LAUNCHER_DISPLAY"; return; fi
  local n
  for n in $(seq 91 120); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
      Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
      XVFB_PID=$!
      export DISPLAY=":$n"
      for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
      return
    fi
  done
}

stop_display() {
  if [ -n "${XVFB_PID:-}" ]; then kill "$XVFB_PID" 2>/dev/null || true; fi
}
