#!/bin/bash
# Releases the last commit twice, from two clones in temporary folders of different paths, one
# after the other, and fails naming each file of dist/ whose bytes differ between the two. Then
# twice more, signed with a throwaway self-signed code-signing certificate (an RSA key) made for this
# run: both executables, the package and the custom actions in it must verify against that
# certificate, the two signed releases must be byte-identical too, each signed executable less its
# signature must be the unsigned one, and dist/ must hold the release's files and nothing else.
#   check-reproducible.sh
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/../.."
commit=$(git rev-parse HEAD)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Releases both clones and names each file of dist/ that differs; $1 says which kind of release.
release_twice() {
  local path file status=0 version files
  "$tmp/first/scripts/release" >/dev/null
  sleep 1 # a second apart: a date read anywhere shows
  # Traced, as someone looking into a failure would run it: the trace must not hold the password.
  bash -x "$tmp/other/second/scripts/release" >/dev/null 2>"$tmp/trace"
  if [[ -n ${MURMEX_SIGN_PASSWORD:-} ]] && grep -q -F -e "$MURMEX_SIGN_PASSWORD" "$tmp/trace"; then
    echo "check-reproducible: bash -x scripts/release prints the password" >&2
    status=1
  fi
  version=$(cd "$tmp/first" && . scripts/lib/packages.sh && murmex_version)
  files=(SHA256SUMS "murmex-$version-win32.zip" "murmex-$version.msi" murmex-devices.exe murmex.exe)
  file=$(cd "$tmp/first/dist" && echo *)
  [[ $file == "${files[*]}" ]] || {
    echo "check-reproducible: a $1 release's dist/ holds $file, not ${files[*]}" >&2
    status=1
  }
  for path in "$tmp"/first/dist/*; do
    file=${path##*/}
    cmp -s "$path" "$tmp/other/second/dist/$file" || {
      echo "check-reproducible: $file differs between two $1 releases of $commit" >&2
      status=1
    }
  done
  ((status)) || echo "reproducible: two $1 releases of $commit are byte-identical"
  return $status
}

for copy in first other/second; do
  git clone -q . "$tmp/$copy"
  git -C "$tmp/$copy" -c advice.detachedHead=false checkout -q "$commit"
done
status=0
release_twice unsigned || status=1
cp -r "$tmp/first/dist" "$tmp/unsigned"

# The key, its certificate and the password never leave this run's temporary folder.
key=$tmp/key
(umask 077 && mkdir "$key" && openssl rand -hex 16 >"$key/password")
openssl req -x509 -newkey rsa:3072 -nodes -keyout "$key/key.pem" -out "$key/cert.pem" -days 2 \
  -subj "/CN=Murmex throwaway test signer" -addext keyUsage=digitalSignature \
  -addext extendedKeyUsage=codeSigning 2>/dev/null
openssl pkcs12 -export -inkey "$key/key.pem" -in "$key/cert.pem" -out "$key/cert.p12" \
  -passout "file:$key/password"
MURMEX_SIGN_PKCS12=$key/cert.p12 MURMEX_SIGN_PASSWORD=$(<"$key/password")
export MURMEX_SIGN_PKCS12 MURMEX_SIGN_PASSWORD
release_twice signed || status=1

for exe in murmex.exe murmex-devices.exe "$(cd "$tmp/first/dist" && echo *.msi)"; do
  signed=$tmp/first/dist/$exe unsigned=$tmp/unsigned/$exe
  if ! osslsigncode verify -CAfile "$key/cert.pem" -TSA-CAfile "$key/cert.pem" -in "$signed" \
    >"$tmp/verify.log" 2>&1; then
    cat "$tmp/verify.log"
    echo "check-reproducible: signed $exe does not verify against the certificate" >&2
    status=1
  fi
  # The package holds the signed executables: it differs from the unsigned one inside as well.
  if [[ $exe == *.msi ]]; then
    msiinfo extract "$signed" Binary.SetupDll >"$tmp/murmex-setup.dll"
    osslsigncode verify -CAfile "$key/cert.pem" -TSA-CAfile "$key/cert.pem" \
      -in "$tmp/murmex-setup.dll" >"$tmp/verify.log" 2>&1 || {
      cat "$tmp/verify.log"
      echo "check-reproducible: the custom actions in signed $exe do not verify" >&2
      status=1
    }
    echo "signed: $exe and the custom actions in it verify"
    continue
  fi
  osslsigncode remove-signature -in "$signed" -out "$tmp/bare.exe" >/dev/null 2>&1 || true
  if ! cmp -s "$tmp/bare.exe" "$unsigned"; then
    echo "check-reproducible: signed $exe less its signature is not the unsigned one" >&2
    status=1
  fi
  rm -f "$tmp/bare.exe"
  echo "signed: $exe, $(stat -c %s "$unsigned") bytes unsigned, $(stat -c %s "$signed") signed"
done
exit $status
