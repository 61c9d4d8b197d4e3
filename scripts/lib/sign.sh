# shellcheck shell=bash
# Authenticode signatures on the release's files, for whoever holds a code-signing certificate:
# MURMEX_SIGN_PKCS12 names its PKCS#12 file (.pfx or .p12: the certificate, its chain and the
# private key) and MURMEX_SIGN_PASSWORD holds that file's password. The password reaches
# osslsigncode through a pipe: never a file, a command line or a trace (xtrace is off in here, also
# under bash -x). The signing time is SOURCE_DATE_EPOCH, the commit's. An RSA key signs the same
# bytes the same way every time, so one commit and one RSA certificate give the same release;
# ECDSA signatures differ at every signing, and then only the file less its signature is the same.
# No timestamping server is asked unless MURMEX_SIGN_TIMESTAMP names one (an RFC 3161 URL); its
# answer differs at every signing too.
#   murmex_sign WORK FILE...    signs each file in place, its log and partial output in the folder
#                               WORK, removed whatever happens; does nothing without
#                               MURMEX_SIGN_PKCS12

murmex_sign() {
  local -
  set +x
  [[ -n ${MURMEX_SIGN_PKCS12:-} ]] || return 0
  [[ -r $MURMEX_SIGN_PKCS12 ]] || { echo "sign: cannot read $MURMEX_SIGN_PKCS12" >&2 && return 1; }
  murmex_install_packages osslsigncode || return
  local work=$1 file signed log
  shift
  local args=(-pkcs12 "$MURMEX_SIGN_PKCS12" -h sha256 -n Murmex -time "$SOURCE_DATE_EPOCH")
  [[ -z ${MURMEX_SIGN_PASSWORD+set} ]] || args+=(-readpass /dev/fd/3)
  [[ -z ${MURMEX_SIGN_TIMESTAMP:-} ]] || args+=(-ts "$MURMEX_SIGN_TIMESTAMP")
  for file in "$@"; do
    signed=$work/${file##*/}.signed log=$work/${file##*/}.sign.log
    if ! osslsigncode sign "${args[@]}" -in "$file" -out "$signed" >"$log" 2>&1 \
      3< <(printf '%s' "${MURMEX_SIGN_PASSWORD:-}"); then
      echo "sign: osslsigncode could not sign $file:" >&2
      cat "$log" >&2
      rm -f "$signed" "$log"
      return 1
    fi
    mv "$signed" "$file"
    rm -f "$log"
  done
}
