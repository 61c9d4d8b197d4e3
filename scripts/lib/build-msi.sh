#!/bin/bash
# Builds the Windows Installer package from installer/murmex.wxs with Debian's wixl, for the
# files in STAGE (murmex.exe, murmex-devices.exe, README.txt, LICENSE.txt and the custom actions'
# murmex-setup.dll). Same files, version and SOURCE_DATE_EPOCH, same bytes: the product code
# comes from the version, the package code from the files, and wixl and msibuild run on a clock
# fixed at SOURCE_DATE_EPOCH (the summary's dates) over files dated then (the cabinet's).
#   build-msi.sh VERSION STAGE OUT.msi
set -euo pipefail
version=$1 stage=$2 out=$3
lib=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=scripts/lib/packages.sh
. "$lib/packages.sh"
murmex_install_packages wixl msitools faketime python3
: "${SOURCE_DATE_EPOCH:=$(git -C "$lib" log -1 --format=%ct)}"
files=(murmex.exe murmex-devices.exe README.txt LICENSE.txt murmex-setup.dll)

# The upgrade code in murmex.wxs never changes; every other code is derived from it.
read -r product package order < <(/usr/bin/python3 - "$version" "$stage" "${files[@]}" <<'PY'
import hashlib, os, sys, uuid
version, stage, *names = sys.argv[1:]
upgrade = uuid.UUID("81EACCE6-703A-448D-91D4-31F6DFE36A0F")
content = hashlib.sha256(version.encode())
for name in names:
    with open(os.path.join(stage, name), "rb") as file:
        content.update(hashlib.sha256(file.read()).digest())
print(str(uuid.uuid5(upgrade, "product " + version)).upper(),
      str(uuid.uuid5(upgrade, "package " + content.hexdigest())).upper(),
      ".".join(field.zfill(5) for field in version.split(".")))
PY
)

touch -d "@$SOURCE_DATE_EPOCH" "${files[@]/#/$stage/}"
at=(faketime "@$SOURCE_DATE_EPOCH")
rm -f "$out"
out=$(realpath "$out") wxs=$(realpath "$lib/../../installer/murmex.wxs")
# wixl finds sources only by names relative to its working folder.
(cd "$stage" && "${at[@]}" wixl -a x86 -D "Version=$version" -D "ProductCode=$product" \
  -D "Order=$order" -o "$out" "$wxs")
[[ -s $out ]] || { echo "build-msi: wixl made no package" >&2 && exit 1; }
# What wixl cannot say: the Entry component's condition, DEVICE passed from the user interface to
# the installer service (a secure property), and a replaced build of the same version (Windows
# Installer ignores a version's fourth field, so SAMEFOUND takes both ends of the range: a key
# column, so the row is made anew).
"${at[@]}" msibuild "$out" -q "UPDATE Component SET Condition = 'DEVICE' WHERE Component = 'Entry'"
secure=$(msiinfo export "$out" Property | awk -F '\t' '$1 == "SecureCustomProperties" { print $2 }')
"${at[@]}" msibuild "$out" -q "UPDATE Property SET Value = 'DEVICE;$secure' WHERE Property = 'SecureCustomProperties'"
"${at[@]}" msibuild "$out" -q "DELETE FROM Upgrade WHERE ActionProperty = 'SAMEFOUND'"
"${at[@]}" msibuild "$out" -q "INSERT INTO Upgrade (UpgradeCode, VersionMin, VersionMax, Attributes, ActionProperty) VALUES ('{81EACCE6-703A-448D-91D4-31F6DFE36A0F}', '$version', '$version', 768, 'SAMEFOUND')"
"${at[@]}" msibuild "$out" -s Murmex "The Murmex authors" "Intel;1033" "{$package}"
