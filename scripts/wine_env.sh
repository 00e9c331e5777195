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
# the kernel runs 32-bit code (set-up then installs Wine's 32-bit loader).
# Some virtual machines have no 32-bit user mode: Wine's 32-bit loader fails
# there with "Exec format error", so the same sources are built for 64-bit
# Windows and run by Wine's 64-bit loader, which a "wine" of our own in front
# of PATH selects. LAUNCHER_ARCH (i686 or x86_64) overrides the choice for a
# new build folder.
#
# A build folder keeps the architecture it was first made for: the choice is
# recorded in it, and every later run of that folder builds and runs that
# architecture, with the prefixes inside it, or stops. Nothing mixes a build
# with the other architecture's loader.
ARCH_RECORD="$BUILD/launcher-arch"

wine_env_fail() {
  echo "$*" >&2
  exit 1
}

# The smallest 32-bit x86 Linux program: an ELF header, one loadable segment
# and the code of exit(42) through int 0x80. It needs no library, so it tells
# whether the kernel runs 32-bit programs before any i386 package is in.
kernel_runs_32bit_programs() {
  local probe="$BUILD/i386-probe.$$" status=0
  mkdir -p "$BUILD"
  printf "$(sed 's/../\\x&/g' <<<'7f454c46010101000000000000000000020003000100000054800408'\
'340000000000000000000000340020000100000000000000010000000000000000800408'\
'008004085d0000005d0000000500000000100000'\
'31dbb32a31c040cd80')" >"$probe"
  chmod +x "$probe"
  "$probe" 2>/dev/null || status=$?
  rm -f "$probe"
  [ "$status" = 42 ]
}

# The architecture a configured build folder was made for, from its CMake
# cache (the toolchain file names it); empty for a folder never configured.
configured_arch() {
  local cache="$BUILD/CMakeCache.txt"
  [ ! -f "$cache" ] || sed -n 's|^CMAKE_TOOLCHAIN_FILE:FILEPATH=.*/mingw-\(.*\)\.cmake$|\1|p' "$cache"
}

# The architecture recorded for the build folder (one configured before the
# record existed names it in its cache); empty for a new folder.
recorded_arch() {
  if [ -f "$ARCH_RECORD" ]; then cat "$ARCH_RECORD"; else configured_arch; fi
}

# Sets LAUNCHER_ARCH to the build folder's architecture, choosing and
# recording it for a new folder. No Wine is needed for this: set-up decides
# with it whether to install Wine's 32-bit loader.
decide_arch() {
  local recorded configured
  recorded=$(recorded_arch)
  configured=$(configured_arch)
  if [ -n "$recorded" ] && [ -n "$configured" ] && [ "$recorded" != "$configured" ]; then
    wine_env_fail "$BUILD: recorded as a $recorded build, but configured for $configured; remove the folder to start afresh"
  fi
  local wanted=${LAUNCHER_ARCH:-$recorded}
  if [ -z "$wanted" ]; then
    if kernel_runs_32bit_programs; then
      wanted=i686
    else
      wanted=x86_64
      echo "note: this kernel runs no 32-bit programs, so $BUILD holds a 64-bit build of the" \
        "sources for the tests; the shipped i686 launcher.exe is built beside it and its image checked" >&2
    fi
  fi
  case "$wanted" in
    i686 | x86_64) ;;
    *) wine_env_fail "LAUNCHER_ARCH must be i686 or x86_64, not '$wanted'" ;;
  esac
  if [ -n "$recorded" ] && [ "$wanted" != "$recorded" ]; then
    wine_env_fail "$BUILD holds the $recorded build; for $wanted give BUILD_DIR a folder of its own, or remove $BUILD"
  fi
  if [ -z "$recorded" ]; then
    mkdir -p "$BUILD"
    echo "$wanted" >"$ARCH_RECORD"
  fi
  export LAUNCHER_ARCH="$wanted"
}

# decide_arch, then makes sure this machine runs that architecture's programs
# and puts the matching Wine loader first in PATH.
choose_arch() {
  decide_arch
  if [ "$LAUNCHER_ARCH" = i686 ]; then
    kernel_runs_32bit_programs ||
      wine_env_fail "$BUILD holds the i686 build, but this kernel runs no 32-bit programs;" \
        "use another build folder (BUILD_DIR) for the x86_64 build"
    [ -x /usr/lib/wine/wine ] ||
      wine_env_fail "$BUILD holds the i686 build, but Wine's 32-bit loader (wine32:i386) is missing; run scripts/setup.sh"
    return
  fi
  local shim="$BUILD/wine64-only"
  if [ ! -x "$shim/wine" ]; then
    mkdir -p "$shim"
    printf '#!/bin/sh\nexport WINELOADER=/usr/lib/wine/wine64\nexec /usr/lib/wine/wine64 "$@"\n' \
      >"$shim/wine"
    chmod +x "$shim/wine"
  fi
  case ":$PATH:" in *":$shim:"*) ;; *) export PATH="$shim:$PATH" ;; esac
}

# The launcher.exe to ship: the build's own where it is the i686 build, else
# the i686 one built beside the 64-bit stand-in.
shipped_launcher_image() {
  if [ "$(recorded_arch)" != x86_64 ]; then
    echo "$BUILD/bin/launcher.exe"
  else
    echo "$BUILD/shipped-i686/bin/launcher.exe"
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

# Runs a benchmark program under Wine and prints what it measured. A run that
# fails or prints no ratio measured nothing: its own messages are shown and
# the script fails.
run_benchmark() {  # program and its arguments
  local output status=0 messages
  messages=$(mktemp)
  output=$(wine "$@" </dev/null 2>"$messages") || status=$?
  [ -z "$output" ] || printf '%s\n' "$output"
  if [ "$status" != 0 ] || ! grep -q '^ratio' <<<"$output"; then
    cat "$messages" >&2
    rm -f "$messages"
    wine_env_fail "$(basename "$1"): measured nothing (exit status $status)"
  fi
  rm -f "$messages"
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
