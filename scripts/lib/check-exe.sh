#!/bin/bash
# Checks that a released executable needs nothing but Windows system DLLs, carries its version
# record (version and names) and manifest with the project's version, and (when a limit is given)
# stays within its size in bytes; murmex.exe must also be a GUI-subsystem program using the C
# runtime DLL's printf rather than a linked-in copy, murmex-devices.exe a console program, which
# alone may use the registry (ADVAPI32) for the sign-in entries it writes.
#   check-exe.sh EXE i686|x86_64 [MAX_BYTES]
set -euo pipefail
exe=$1 arch=$2 limit=${3:-}
# shellcheck source=scripts/lib/packages.sh
. "$(dirname "${BASH_SOURCE[0]}")/packages.sh"
version=$(murmex_version)
dump=$("$arch-w64-mingw32-objdump" -p "$exe")
fail() { echo "check-exe: $exe: $*" >&2; exit 1; }

case ${exe##*/} in
murmex.exe)
  subsystem="Windows GUI" description="Murmex: keeps an audio output awake" assembly=Murmex system=""
  grep -qP '^\s+\w+\s+\d+\s+printf$' <<<"$dump" || fail "printf is not the C runtime DLL's"
  ;;
murmex-devices.exe)
  subsystem="Windows CUI" description="Murmex: which audio output a name chooses"
  assembly=Murmex.Devices system="ADVAPI32.DLL "
  ;;
*) fail "not an executable of the release" ;;
esac

dlls=$(grep -oP 'DLL Name: \K\S+' <<<"$dump" | tr '[:lower:]' '[:upper:]' | sort | tr '\n' ' ')
[[ $dlls == "${system}KERNEL32.DLL MSVCRT.DLL USER32.DLL WINMM.DLL " ]] || fail "imports $dlls"
grep -q "^Subsystem.*($subsystem)" <<<"$dump" || fail "not a $subsystem program"
# The names Task Manager, the Volume Mixer and the file's properties show, read with the cross
# tools' strings: the build machine needs no binutils of its own.
record="|$("$arch-w64-mingw32-strings" -el "$exe" | paste -sd '|')|"
for pair in "FileVersion|$version" "ProductVersion|$version" "ProductName|Murmex" \
  "FileDescription|$description" "OriginalFilename|${exe##*/}"; do
  [[ $record == *"|$pair|"* ]] || fail "the version record lacks ${pair/|/ = }"
done
grep -qF "name=\"$assembly\" version=\"$version\"" "$exe" || fail "no manifest of $version"

size=$(stat -c %s "$exe")
[[ -z $limit || $size -le $limit ]] || fail "$size bytes, more than $limit"
echo "$exe: $size bytes, imports $dlls"
