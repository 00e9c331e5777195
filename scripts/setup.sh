#!/usr/bin/env bash
# Installs everything the launcher's build, tests and demo need on Debian 12,
# fetches the minizip and tinyxml2 sources, and prepares the Wine prefix.
# Idempotent: on a machine that already has everything it only checks.
set -euo pipefail

# The build folder, its architecture and its Wine prefixes (scripts/wine_env.sh).
source "$(dirname "${BASH_SOURCE[0]}")/wine_env.sh"
THIRD_PARTY="$ROOT/third_party"
export WINEDEBUG=-all

# wine32 (Wine's 32-bit loader) is installed apart from these, see below.
PACKAGES=(
  cmake ninja-build make python3 dpkg-dev
  g++-mingw-w64-i686 libz-mingw-w64-dev binutils-mingw-w64-i686
  g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
  wine wine64
  googletest xvfb xauth xdotool imagemagick fonts-wqy-microhei fonts-wine
  openssl osslsigncode
  zip unzip p7zip-full cppcheck clang clang-tidy locales
)

as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }

# A Debian mirror in the middle of a sync serves files of the wrong size for a
# minute or two, so the package steps are tried again before they give up.
with_retries() {
  local attempt
  for attempt in 1 2 3; do
    "$@" && return 0
    echo "setup: '$*' failed (attempt $attempt of 3)" >&2
    [ "$attempt" = 3 ] || sleep $((attempt * 20))
  done
  return 1
}

# An index that still fails after the retries leaves the lists fetched so far;
# a package that is really missing then fails the install with its name.
update_package_lists() {
  with_retries as_root apt-get update -qq ||
    echo "setup: going on with the package lists fetched" >&2
}

is_installed() {
  dpkg-query -W -f='${Status}\n' "$1" 2>/dev/null | grep -q "install ok installed"
}

missing_packages() {
  local p
  for p in "${PACKAGES[@]}"; do
    is_installed "$p" || echo "$p"
  done
}

# Set-up never removes a package of the machine: apt stops instead and says why.
install_packages() {
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    --no-remove "$@" >/dev/null
}

# The build folder's architecture (a new folder's is chosen and recorded
# now): only an i686 build needs Wine's 32-bit loader.
asked_arch=${LAUNCHER_ARCH:-}
decide_arch
if [ "$LAUNCHER_ARCH" = x86_64 ] && [ -z "$asked_arch" ] && kernel_runs_32bit_programs; then
  echo "setup: $BUILD holds a 64-bit build, but this machine runs the shipped 32-bit one:" \
    "remove $BUILD (or give BUILD_DIR a new folder) to build and test that" >&2
fi

SRC_LIST=/etc/apt/sources.list.d/bookworm-src.sources
need_update=0
if [ "$LAUNCHER_ARCH" = i686 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  as_root dpkg --add-architecture i386
  need_update=1
fi
if [ ! -f "$SRC_LIST" ]; then
  as_root tee "$SRC_LIST" >/dev/null <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  need_update=1
fi

# wine32 runs the shipped 32-bit build. It needs every i386 library in the
# exact version of its amd64 twin. The security suite's mirror may serve no
# usable i386 index, so an amd64 library it updated has no i386 twin there.
# The signed main suite has both at one version: for this one install a
# preferences file of our own pins it by codename (which does not move with
# the next release), and apt may move such amd64 libraries to the main
# suite's version, back from a security update or on to a newer point
# release; set-up lists them. Nothing is remembered between runs: a later
# set-up tries again while wine32 is missing.
want_wine32=0
if [ "$LAUNCHER_ARCH" = i686 ] && ! is_installed wine32:i386; then want_wine32=1; fi
rm -f "$BUILD/wine32-unavailable"  # the marker of older set-ups
# Where an older set-up kept the pin; one killed during the install left it.
OLD_WINE32_PIN=/etc/apt/preferences.d/quintarelox-launcher-wine32
if [ -e "$OLD_WINE32_PIN" ]; then as_root rm -f "$OLD_WINE32_PIN"; fi

package_versions() { dpkg-query -W -f='${binary:Package} ${Version}\n' | sort; }

# A priority above 1000 would take every package back to the main suite in
# any later upgrade, so the pin never lies where another apt run could read
# it: it is written into a folder of its own, beside copies of the machine's
# own preferences, which only this install reads.
install_wine32_pinned() {
  local preferences status=0
  preferences=$(mktemp -d)
  cp -p /etc/apt/preferences.d/* "$preferences/" 2>/dev/null || true
  cat >"$preferences/quintarelox-launcher-wine32" <<'PIN'
Package: *
Pin: release n=bookworm,l=Debian
Pin-Priority: 1001
PIN
  install_packages -o Dir::Etc::PreferencesParts="$preferences" --allow-downgrades \
    wine32:i386 || status=$?
  rm -rf "$preferences"
  return "$status"
}

# Packages to install always need fresh lists; the sources to fetch need them
# only when the source lists are new or missing.
missing=$(missing_packages)
need_sources=0
if [ ! -d "$THIRD_PARTY/zlib" ] || [ ! -d "$THIRD_PARTY/tinyxml2" ]; then need_sources=1; fi
if [ -n "$missing" ] || [ "$want_wine32" = 1 ] || \
   { [ "$need_sources" = 1 ] && { [ "$need_update" = 1 ] ||
     ! ls /var/lib/apt/lists/*Sources* >/dev/null 2>&1; }; }; then
  update_package_lists
fi
if [ -n "$missing" ]; then
  echo "setup: installing $(echo $missing | tr '\n' ' ')"
  with_retries install_packages $missing
fi
if [ "$want_wine32" = 1 ]; then
  echo "setup: installing wine32:i386 from the signed main suite"
  before=$(package_versions)
  if ! with_retries install_wine32_pinned; then
    echo "setup: wine32:i386 cannot be installed; the shipped 32-bit build cannot be tested" >&2
    exit 1
  fi
  changed=$(join <(echo "$before") <(package_versions) | awk '$2 != $3 { print "  " $1 ": " $2 " -> " $3 }')
  if [ -n "$changed" ]; then
    echo "setup: packages moved to the signed main suite's version for wine32:i386:"
    echo "$changed"
  fi
fi

# minizip (zlib's contrib/minizip) and tinyxml2 come from Debian's source packages.
unpack_orig() {  # package, target folder name
  local pkg=$1 dest=$2
  [ -d "$THIRD_PARTY/$dest" ] && return 0
  mkdir -p "$THIRD_PARTY/download"
  (cd "$THIRD_PARTY/download" && with_retries apt-get source --download-only -qq "$pkg" >/dev/null)
  local tarball
  tarball=$(ls "$THIRD_PARTY"/download/"${pkg}"_*.orig.tar.* | head -n 1)
  local tmp="$THIRD_PARTY/unpack.$dest"
  rm -rf "$tmp" && mkdir -p "$tmp"
  tar -xf "$tarball" -C "$tmp"
  mv "$tmp"/* "$THIRD_PARTY/$dest"
  rm -rf "$tmp"
}
unpack_orig zlib zlib
unpack_orig tinyxml2 tinyxml2

# The Chinese system locale of the second test pass: Wine takes code page 936
# from the glibc locale zh_CN.UTF-8, which must be generated.
if ! locale -a 2>/dev/null | grep -qix 'zh_CN.utf8'; then
  echo "setup: generating the zh_CN.UTF-8 locale"
  as_root localedef -i zh_CN -f UTF-8 zh_CN.UTF-8
fi

# A Wine prefix of our own per locale, so tests never touch the user's. The
# loader is checked once the packages are in.
choose_arch

# Creates the current locale's prefix if needed. The prompt's Chinese text
# needs a CJK font linked behind the dialog fonts, and Wine draws the window
# frames itself (caption and close button), since the test display runs no
# window manager. Checked in the saved registry first, so a ready prefix
# costs nothing.
prepare_prefix() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "setup: creating Wine prefix $WINEPREFIX ($LAUNCHER_ARCH programs, $LANG)"
    wine wineboot -i </dev/null >/dev/null 2>&1 || true
    wineserver -w || true
  fi
  local font_link='HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink'
  local registry_changed=0 face
  if ! grep -q '^"MS Shell Dlg"=str(7):"wqy-microhei' "$WINEPREFIX/system.reg" 2>/dev/null; then
    for face in Tahoma "MS Shell Dlg"; do
      wine reg add "$font_link" /v "$face" /t REG_MULTI_SZ \
        /d "wqy-microhei.ttc,WenQuanYi Micro Hei" /f </dev/null >/dev/null 2>&1 || true
    done
    registry_changed=1
  fi
  if ! grep -q '^"Decorated"="N"' "$WINEPREFIX/user.reg" 2>/dev/null; then
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f \
      </dev/null >/dev/null 2>&1 || true
    registry_changed=1
  fi
  # Wine draws the caption's close button as a glyph of its Marlett font
  # (Debian's fonts-wine); without it the button shows a plain "r". Wine as run
  # here does not load fonts from /usr/share/wine/fonts (WINEDEBUG=+font shows
  # it), but it loads every font in the prefix's Fonts folder, so it gets a copy.
  local marlett=/usr/share/wine/fonts/marlett.ttf
  if [ -f "$marlett" ] && [ ! -f "$WINEPREFIX/drive_c/windows/Fonts/marlett.ttf" ]; then
    cp "$marlett" "$WINEPREFIX/drive_c/windows/Fonts/"
  fi
  # The server these calls started saves the registry when it exits, and must
  # be gone before a persistent one can start; a persistent one already
  # running keeps going, hence the bound.
  if [ "$registry_changed" = 1 ]; then
    timeout 15 wineserver -w </dev/null >/dev/null 2>&1 || true
  fi
}

# The prefix of the locale asked for (LAUNCHER_LOCALE) and the Chinese one of
# the suite's second pass.
prepare_prefix
if [ "$LAUNCHER_LOCALE" != "$LAUNCHER_CHINESE_LOCALE" ]; then
  (use_locale "$LAUNCHER_CHINESE_LOCALE"; prepare_prefix)
fi
echo "setup: ready"
