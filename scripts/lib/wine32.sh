# shellcheck shell=bash
# 32-bit Windows programs on machines whose kernel may refuse 32-bit Linux processes: Debian's 32-bit
# Wine loader always runs under qemu-i386 user-mode emulation, so a run here behaves as on CI.
#
# Interface (source this file, then call wine32_setup; it is idempotent and silent once done):
#   WINE32_LOADER   the 64-bit wrapper. Export WINELOADER="$WINE32_LOADER" and start any
#                   program, 32- or 64-bit, as "$WINE32_LOADER" prog.exe ARGS; Wine then starts
#                   32-bit processes through the 32-bit wrapper beside it.
#   WINE32_SERVER   the wineserver matching it (for `-p`, `-k`, `-w` with the same WINEPREFIX).
#
# Everything downloaded or built stays under .cache/ of the work tree (ignored by git):
#   .cache/qemu/qemu-i386        static qemu-i386 10 from bookworm-backports (bookworm's own 7.2
#                                needs about 47 s to start each process)
#   .cache/wine32/lib/wine/      the private loader folder; lib/<triplet> and share beside it link
#                                to the system's, because the loaders find ntdll and their data
#                                relative to their own real location

WINE32_CACHE="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/.cache"
WINE32_QEMU="$WINE32_CACHE/qemu/qemu-i386"
WINE32_BIN="$WINE32_CACHE/wine32/lib/wine"
# Wine derives the 32-bit loader's name by dropping "64" from the 64-bit one's, and the reverse.
WINE32_LOADER="$WINE32_BIN/qemu-wine64"
WINE32_SERVER="$WINE32_BIN/wineserver"
WINE32_QEMU_SUITE=bookworm-backports
WINE32_QEMU_PACKAGE=qemu-user
WINE32_QEMU_MAJOR=10
export WINE32_LOADER WINE32_SERVER
# shellcheck source=scripts/lib/packages.sh
. "$(dirname "${BASH_SOURCE[0]}")/packages.sh"

wine32_setup() {
  mkdir -p "$WINE32_CACHE"
  # Concurrent runs share the cache and dpkg; the lock keeps the second from seeing a half-made one.
  (
    exec 9>"$WINE32_CACHE/wine32.lock"
    flock 9
    _wine32_packages && _wine32_qemu && _wine32_loader_dir
  )
}

# Runs a quiet command with its chatter in LOG, showing the log only when it fails.
_wine32_logged() {
  local log=$1
  shift
  if ! "$@" >"$log" 2>&1; then
    echo "wine32: failed: $*" >&2
    cat "$log" >&2
    return 1
  fi
}

_wine32_packages() {
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  murmex_install_packages wine32:i386 libpulse0:i386
}

# The archive the machine already uses, from its deb822 or one-line sources.
_wine32_archive() {
  local codename uri
  codename="$(. /etc/os-release && echo "$VERSION_CODENAME")"
  uri="$(awk -v suite="$codename" '
    /^[ \t]*$/ { uris = ""; hit = 0 }
    /^URIs:/ { uris = $2 }
    /^Suites:/ { for (i = 2; i <= NF; i++) if ($i == suite) hit = 1 }
    hit && uris { print uris; exit }' /etc/apt/sources.list.d/*.sources 2>/dev/null)"
  if [[ -z $uri ]]; then
    uri="$(awk -v suite="$codename" '$1 == "deb" {
      for (i = 2; i < NF; i++) if ($i !~ /^\[/ && $(i + 1) == suite) { print $i; exit } }' \
      /etc/apt/sources.list 2>/dev/null)"
  fi
  echo "${uri:-http://deb.debian.org/debian}"
}

_wine32_qemu() {
  [[ -x $WINE32_QEMU ]] && "$WINE32_QEMU" --version 2>/dev/null |
    grep -q "version $WINE32_QEMU_MAJOR\." && return 0
  echo "wine32: fetching qemu-i386 $WINE32_QEMU_MAJOR from $WINE32_QEMU_SUITE" >&2
  local dir="$WINE32_CACHE/qemu" log="$WINE32_CACHE/qemu/apt.log"
  # A private apt state: the machine's sources, lists and package cache stay untouched.
  local apt=(-o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$dir/apt/sources"
    -o "Dir::State::Lists=$dir/apt/lists" -o "Dir::Cache=$dir/apt/cache"
    -o Dir::State::status=/dev/null -o APT::Architectures=amd64 -o APT::Sandbox::User=root)
  rm -rf "$dir/apt" "$dir/deb"
  mkdir -p "$dir/apt/sources" "$dir/apt/lists/partial" "$dir/apt/cache/archives/partial" "$dir/deb"
  cat >"$dir/apt/sources/backports.sources" <<EOF
Types: deb
URIs: $(_wine32_archive)
Suites: $WINE32_QEMU_SUITE
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
  _wine32_logged "$log" apt-get -q "${apt[@]}" update &&
    (cd "$dir/deb" && _wine32_logged "$log" apt-get -q "${apt[@]}" download "$WINE32_QEMU_PACKAGE") &&
    dpkg-deb --fsys-tarfile "$dir"/deb/*.deb | tar -x -C "$dir/deb" ./usr/bin/qemu-i386 &&
    mv -f "$dir/deb/usr/bin/qemu-i386" "$WINE32_QEMU" &&
    rm -rf "$dir/apt" "$dir/deb" &&
    "$WINE32_QEMU" --version | grep -q "version $WINE32_QEMU_MAJOR\."
}

_wine32_loader_dir() {
  local root="$WINE32_CACHE/wine32" name
  # Copies, not links: each loader resolves /proc/self/exe to find ntdll.so and the other loader.
  local copies=(wine wine64 wineserver)
  local fresh=1
  for name in "${copies[@]}"; do
    cmp -s "/usr/lib/wine/$name" "$WINE32_BIN/$name" || fresh=0
  done
  ((fresh)) && [[ -x $WINE32_LOADER && -x ${WINE32_LOADER%64} ]] && return 0
  rm -rf "$root"
  mkdir -p "$WINE32_BIN"
  for name in "${copies[@]}"; do
    cp -p "/usr/lib/wine/$name" "$WINE32_BIN/"
  done
  ln -s /usr/lib/i386-linux-gnu "$root/lib/i386-linux-gnu"
  ln -s /usr/lib/x86_64-linux-gnu "$root/lib/x86_64-linux-gnu"
  ln -s /usr/share "$root/share"
  # The kernel cannot exec the 32-bit loader, and qemu cannot follow it into a re-exec of itself.
  cat >"${WINE32_LOADER%64}" <<EOF
#!/bin/sh
WINELOADERNOEXEC=1 exec "$WINE32_QEMU" -0 "\$0" "$WINE32_BIN/wine" "\$@"
EOF
  cat >"$WINE32_LOADER" <<EOF
#!/bin/bash
exec -a "\$0" "$WINE32_BIN/wine64" "\$@"
EOF
  chmod +x "${WINE32_LOADER%64}" "$WINE32_LOADER"
}
