# shellcheck shell=bash
# The Debian packages that building, running and testing murmex need, in one place for
# scripts/run and scripts/test.
MURMEX_PACKAGES=(cmake g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine64 googletest xvfb xauth
  pulseaudio pulseaudio-utils libpulse-dev gcc python3 clang-format)

# Installs whichever of them are missing; silent when none is.
murmex_install_packages() {
  local missing=() package log
  for package in "${MURMEX_PACKAGES[@]}"; do
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
