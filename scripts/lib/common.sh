# Shared by the project's scripts: Debian packages, the Wine prefix, configure-and-build.
# shellcheck shell=bash

SV_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"

SV_PACKAGES=(
  cmake ninja-build g++-12 pkg-config file python3
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev binutils-mingw-w64-x86-64
  wine wine64 xvfb xauth
  libcm256cc-dev libavcodec-dev libavutil-dev libswscale-dev libavformat-dev
  libx264-dev libx265-dev libyuv-dev libavahi-client-dev ffmpeg
  avahi-daemon avahi-utils dbus iproute2 util-linux
  libzbar-dev zbar-tools
  ccache clang libclang-rt-14-dev nftables
  libswresample-dev libsdl2-dev xdotool
  libgl1-mesa-dri libglx-mesa0
  nsis
)

sv_log() { printf '\n== %s  [%s]\n' "$*" "$(date +%T)"; }

# Installs whichever of the project's Debian packages are missing.
sv_install_packages() {
  local missing=() p
  for p in "${SV_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  sv_log "installing ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# Creates the project's Wine prefix once (no crash debugger: a crashing test must just end).
sv_prepare_wine() {
  local prefix="$SV_ROOT/build/wineprefix"
  [ -f "$prefix/system.reg" ] && return 0
  sv_log "creating the Wine prefix"
  mkdir -p "$SV_ROOT/build"
  WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i >/dev/null 2>&1
  "$SV_ROOT/scripts/wine-run" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
    /v Debugger /t REG_SZ /d '' /f >/dev/null 2>&1
  WINEPREFIX="$prefix" wineserver -w
}

# Fails, naming them, when Windows test programs left files of ours in the Wine prefix's own
# profile (each should keep its state in a profile of its own), and removes them.
sv_check_wine_profile_clean() {
  local users="$SV_ROOT/build/wineprefix/drive_c/users" left
  left=$(find "$users" -maxdepth 5 \( -path '*/AppData/*/Sorvane' -o -name 'sorvane-test-*' \) \
    2>/dev/null)
  [ -z "$left" ] && return 0
  echo "Windows tests left state in the Wine prefix's profile:"
  find $left | head -n 40
  rm -rf $left
  return 1
}

# Configures (first time) and builds one preset.
sv_build() {
  local preset="$1"
  shift
  if [ ! -f "$SV_ROOT/build/$preset/CMakeCache.txt" ]; then
    cmake --preset "$preset" -S "$SV_ROOT" >/dev/null
  fi
  cmake --build "$SV_ROOT/build/$preset" "$@"
}
