# shellcheck shell=bash
# The Debian packages that building, running and testing murmex need, in one place for
# scripts/run, scripts/test and scripts/release, and the project version they read. The list is
# whole for a bare system: make only comes with cmake as a recommendation, which is not installed.
MURMEX_PACKAGES=(cmake make g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine64 googletest xvfb xauth
  pulseaudio pulseaudio-utils python3 clang-format)
MURMEX_PACKAGES+=(osslsigncode openssl) # signing, and the throwaway certificate scripts/test makes

# Installs whichever of the given packages (default: the list above) are missing; silent when
# none is.
murmex_install_packages() {
  local missing=() package log
  (($#)) || set -- "${MURMEX_PACKAGES[@]}"
  for package in "$@"; do
    dpkg-query -W -f='${db:Status-Abbrev}' "$package" 2>/dev/null | grep -q '^ii' ||
      missing+=("$package")
  done
  ((${#missing[@]})) || return 0
  echo "installing ${missing[*]}" >&2
  log=$(mktemp)
  if ! { apt-get -q -o DPkg::Lock::Timeout=600 update &&
    DEBIAN_FRONTEND=noninteractive apt-get -q -y -o DPkg::Lock::Timeout=600 \
      --no-install-recommends install "${missing[@]}"; } >"$log" 2>&1; then
    cat "$log" >&2
    rm -f "$log"
    return 1
  fi
  rm -f "$log"
}

# Selects one build: exports MURMEX_PRESET and the WINELOADER that runs it. x64 is the 64-bit
# twin under wine64; x86 the 32-bit release under 32-bit Wine in qemu, set up on first use.
murmex_use_build() {
  case $1 in
  x64) MURMEX_PRESET=windows-x64 WINELOADER=/usr/lib/wine/wine64 ;;
  x86)
    # shellcheck source=scripts/lib/wine32.sh
    . "$(dirname "${BASH_SOURCE[0]}")/wine32.sh"
    wine32_setup || return
    MURMEX_PRESET=windows-x86 WINELOADER=$WINE32_LOADER
    ;;
  *) echo "unknown build $1 (x64 or x86)" >&2 && return 2 ;;
  esac
  export MURMEX_PRESET WINELOADER
}

# The project version, kept only in CMakeLists.txt's project().
murmex_version() {
  sed -n 's/^project(murmex VERSION \([0-9.]*\).*/\1/p' \
    "$(dirname "${BASH_SOURCE[0]}")/../../CMakeLists.txt"
}
