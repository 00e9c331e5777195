# Sourced by the scripts: the build folder, our own Wine prefix, a persistent
# warm wineserver and a virtual display for the prompt.
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD="${BUILD_DIR:-$ROOT/build}"

# Wine takes its code pages from the Unix locale: C.UTF-8 gives Windows code
# pages 1252/437, zh_CN.UTF-8 gives 936/936 as on the product's Chinese
# Windows. LAUNCHER_LOCALE picks one; each locale has a Wine prefix of its own
# (a prefix keeps the locale it was created with), so its own wineserver.
LAUNCHER_DEFAULT_LOCALE=C.UTF-8
LAUNCHER_CHINESE_LOCALE=zh_CN.UTF-8
prefix_for_locale() {
  if [ "$1" = "$LAUNCHER_DEFAULT_LOCALE" ]; then
    echo "$BUILD/wineprefix"
  else
    echo "$BUILD/wineprefix-${1%%.*}"
  fi
}
# Switches LANG and the Wine prefix to a locale.
use_locale() {
  export LAUNCHER_LOCALE="$1"
  export LANG="$1"
  unset LC_ALL
  export WINEPREFIX
  WINEPREFIX=$(prefix_for_locale "$1")
}
# A prefix given from outside (a test run started by scripts/test.sh) is kept.
export LAUNCHER_LOCALE="${LAUNCHER_LOCALE:-$LAUNCHER_DEFAULT_LOCALE}"
export LANG="$LAUNCHER_LOCALE"
unset LC_ALL
export WINEPREFIX="${WINEPREFIX:-$(prefix_for_locale "$LAUNCHER_LOCALE")}"
export WINEDEBUG="${WINEDEBUG:--all}"
# winemenubuilder would turn every shell link the tests save on a desktop
# into .desktop files and icons in the Unix home folder.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d}"

# The launcher ships as a 32-bit program and is built and tested as one where
# the kernel runs 32-bit code and Wine's 32-bit loader is installed. Some
# virtual machines cannot (no 32-bit user mode), so that loader fails with
# "Exec format error", and a mirror may leave it uninstallable; there the
# same sources are built for 64-bit Windows and run by Wine's 64-bit loader,
# which a "wine" of our own in front of PATH selects. LAUNCHER_ARCH (i686 or
# x86_64) overrides the choice.
choose_arch() {
  if [ -z "${LAUNCHER_ARCH:-}" ]; then
    if [ -x /usr/lib/wine/wine ] && /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
      LAUNCHER_ARCH=i686
    else
      LAUNCHER_ARCH=x86_64
    fi
  fi
  export LAUNCHER_ARCH
  if [ "$LAUNCHER_ARCH" = x86_64 ]; then
    local shim="$BUILD/wine64-only"
    if [ ! -x "$shim/wine" ]; then
      mkdir -p "$shim"
      printf '#!/bin/sh\nexport WINELOADER=/usr/lib/wine/wine64\nexec /usr/lib/wine/wine64 "$@"\n' \
        >"$shim/wine"
      chmod +x "$shim/wine"
    fi
    case ":$PATH:" in *":$shim:"*) ;; *) export PATH="$shim:$PATH" ;; esac
  fi
}

configure_and_build() {
  choose_arch
  if [ ! -f "$BUILD/build.ninja" ]; then
    cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-$LAUNCHER_ARCH.cmake" >/dev/null
  fi
  cmake --build "$BUILD" -- -k 0
}

# Wine's helper processes must not inherit the caller's pipes (ctest would wait
# for them for ever), so the server is started persistent and warmed up first
# with every standard stream on /dev/null. A server still running for the
# prefix (from the set-up, or a run that was cut short) is ended first: it
# would serve the run with its own processes, such as a desktop started
# without the test display.
start_wine() {
  choose_arch
  wineserver -k </dev/null >/dev/null 2>&1 || true
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

# The benchmarks' common start: set up, build, a warm Wine that stops at exit,
# and an empty installation folder C:\<name> in the prefix, as BENCH_INSTALL.
prepare_bench_install() {
  bash "$ROOT/scripts/setup.sh" >/dev/null
  configure_and_build >/dev/null
  start_wine
  trap 'stop_wine' EXIT
  BENCH_INSTALL="$WINEPREFIX/drive_c/$1"
  rm -rf "$BENCH_INSTALL" && mkdir -p "$BENCH_INSTALL"
}
