#!/usr/bin/env bash
# Signs Windows files in place (programs, installers, MSIs) with osslsigncode, SHA-256:
#   sign.sh CERT.pfx FILE...
# The certificate's password comes from LINTREL_SIGN_PASSWORD (none when unset), handed to
# osslsigncode in a private file rather than on its command line. With
# LINTREL_SIGN_TIMESTAMP_URL set, each signature is timestamped by that server, so that it
# stays valid after the certificate expires.
set -euo pipefail
cert=$1
shift
password=()
if [[ -n ${LINTREL_SIGN_PASSWORD:-} ]]; then
  password_file=$(mktemp)
  trap 'rm -f "$password_file"' EXIT
  printf '%s' "$LINTREL_SIGN_PASSWORD" > "$password_file"
  password=(-readpass "$password_file")
fi
for file in "$@"; do
  options=(sign -pkcs12 "$cert" "${password[@]}" -n Lintrel -h sha256)
  [[ -n ${LINTREL_SIGN_TIMESTAMP_URL:-} ]] && options+=(-ts "$LINTREL_SIGN_TIMESTAMP_URL")
  rm -f "$file.signed"
  osslsigncode "${options[@]}" -in "$file" -out "$file.signed" >/dev/null
  mv "$file.signed" "$file"
done
