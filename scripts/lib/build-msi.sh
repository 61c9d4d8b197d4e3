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

# The string macros of common/murmex.h, as the C compiler reads them, for wixl's variables.
shared=()
while IFS=$'\t' read -r name value; do
  shared+=(-D "$name=$value")
  [[ $name != UpgradeCode ]] || export MURMEX_UPGRADE_CODE=$value
done < <(/usr/bin/python3 - "$lib/../../common/murmex.h" <<'PY'
import re, sys
wanted = {"ENTRY_PREFIX": "EntryPrefix", "PACKAGE_KEY": "PackageKey",
          "PACKAGE_ENTRY": "PackageEntry", "PACKAGE_ORDER": "PackageOrder",
          "INSTALL_FOLDER": "InstallFolder", "UPGRADE_CODE": "UpgradeCode"}
found = dict(re.findall(r'^#define MURMEX_(\w+) "((?:[^"\\]|\\.)*)"$', open(sys.argv[1]).read(), re.M))
missing = sorted(set(wanted) - set(found))
if missing:
    sys.exit("build-msi: common/murmex.h defines no MURMEX_" + ", MURMEX_".join(missing))
for macro, variable in wanted.items():
    print(variable, re.sub(r"\\(.)", r"\1", found[macro]), sep="\t")
PY
)
[[ ${#shared[@]} -eq 12 ]] || { echo "build-msi: the shared names could not be read" >&2 && exit 1; }

# What the package shares with the programs comes from common/murmex.h, each value checked there;
# the upgrade code never changes, and every other code is derived from it.
read -r product package order upgrade <<<"$(/usr/bin/python3 - "$version" "$stage" "${files[@]}" <<'PY'
import hashlib, os, sys, uuid
version, stage, *names = sys.argv[1:]
upgrade = os.environ["MURMEX_UPGRADE_CODE"]
content = hashlib.sha256(version.encode())
for name in names:
    with open(os.path.join(stage, name), "rb") as file:
        content.update(hashlib.sha256(file.read()).digest())
print(str(uuid.uuid5(uuid.UUID(upgrade), "product " + version)).upper(),
      str(uuid.uuid5(uuid.UUID(upgrade), "package " + content.hexdigest())).upper(),
      ".".join(field.zfill(5) for field in version.split(".")), upgrade)
PY
)"
touch -d "@$SOURCE_DATE_EPOCH" "${files[@]/#/$stage/}"
# A stopped clock: a running one gives a slow build (a loaded machine) a later second.
at=(env TZ=UTC faketime -f "$(TZ=UTC date -d "@$SOURCE_DATE_EPOCH" '+%Y-%m-%d %H:%M:%S')")
rm -f "$out"
out=$(realpath "$out") wxs=$(realpath "$lib/../../installer/murmex.wxs")
# wixl finds sources only by names relative to its working folder.
(cd "$stage" && "${at[@]}" wixl -a x86 -D "Version=$version" -D "ProductCode=$product" \
  -D "Order=$order" "${shared[@]}" -o "$out" "$wxs")
[[ -s $out ]] || { echo "build-msi: wixl made no package" >&2 && exit 1; }
# What wixl cannot say: the Entry component's condition, DEVICE passed from the user interface to
# the installer service (a secure property), and a replaced build of the same version (Windows
# Installer ignores a version's fourth field, so SAMEFOUND takes both ends of the range: a key
# column, so the row is made anew).
"${at[@]}" msibuild "$out" -q "UPDATE Component SET Condition = 'DEVICE' WHERE Component = 'Entry'"
secure=$(msiinfo export "$out" Property | awk -F '\t' '$1 == "SecureCustomProperties" { print $2 }')
"${at[@]}" msibuild "$out" -q "UPDATE Property SET Value = 'DEVICE;$secure' WHERE Property = 'SecureCustomProperties'"
"${at[@]}" msibuild "$out" -q "DELETE FROM Upgrade WHERE ActionProperty = 'SAMEFOUND'"
"${at[@]}" msibuild "$out" -q "INSERT INTO Upgrade (UpgradeCode, VersionMin, VersionMax, Attributes, ActionProperty) VALUES ('{$upgrade}', '$version', '$version', 768, 'SAMEFOUND')"
"${at[@]}" msibuild "$out" -s Murmex "The Murmex authors" "Intel;1033" "{$package}"
