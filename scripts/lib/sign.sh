# shellcheck shell=bash
# Authenticode signatures on the release's executables, for whoever holds a code-signing
# certificate: MURMEX_SIGN_PKCS12 names its PKCS#12 file (.pfx or .p12: the certificate, its chain
# and the private key) and MURMEX_SIGN_PASSWORD holds that file's password, which reaches
# osslsigncode through a temporary file only its owner can read, never a command line. The
# signing time is SOURCE_DATE_EPOCH, the commit's, so one commit and one certificate always give
# the same bytes. No timestamping server is asked unless MURMEX_SIGN_TIMESTAMP names one (an RFC
# 3161 URL); its answer differs at every signing, so such a release is not reproducible.
#   murmex_sign FILE...    signs each file in place; does nothing without MURMEX_SIGN_PKCS12

murmex_sign() {
  [[ -n ${MURMEX_SIGN_PKCS12:-} ]] || return 0
  [[ -r $MURMEX_SIGN_PKCS12 ]] || { echo "sign: cannot read $MURMEX_SIGN_PKCS12" >&2 && return 1; }
  murmex_install_packages osslsigncode || return
  local args=(-pkcs12 "$MURMEX_SIGN_PKCS12" -h sha256 -n Murmex -time "$SOURCE_DATE_EPOCH")
  local secret="" file status=0
  if [[ -n ${MURMEX_SIGN_PASSWORD+set} ]]; then
    secret=$(mktemp) # mode 600
    printf '%s' "$MURMEX_SIGN_PASSWORD" >"$secret" # a builtin: no process sees it as an argument
    args+=(-readpass "$secret")
  fi
  [[ -z ${MURMEX_SIGN_TIMESTAMP:-} ]] || args+=(-ts "$MURMEX_SIGN_TIMESTAMP")
  for file in "$@"; do
    if ! osslsigncode sign "${args[@]}" -in "$file" -out "$file.signed" >"$file.sign.log" 2>&1; then
      echo "sign: osslsigncode could not sign $file:" >&2
      cat "$file.sign.log" >&2
      status=1
      break
    fi
    mv "$file.signed" "$file"
  done
  [[ -z $secret ]] || rm -f "$secret"
  return $status
}
