# shellcheck shell=bash disable=SC2154  # the caller's variables
# Authenticode signing for make-bootstrapper; sourced, not run. Uses its
# die, $work and the --sign-* values (p12, password_file, cert, key,
# ts_url, description). The key material is checked before anything is
# built, so that a wrong password, an expired certificate or a key of
# another certificate each give one plain line rather than a signing
# tool's error stack.

# The gist of a tool's complaint, for a one-line message: OpenSSL's own
# reason when there is one, else the first line that speaks of an error.
first_error() {
  local why
  why="$(sed -n 's/.*\(Verify error\|error:[0-9A-F]*:[^:]*:[^:]*\): *//p' "$1" | head -1)"
  [ -n "$why" ] || why="$(grep -m1 -iE 'error|fail|invalid|unable' "$1" || grep -m1 -v '^\s*$' "$1")"
  why="${why%%:../*}"
  printf '%s' "${why:0:200}"
}

# Writes every certificate of a PEM file to $work/chain/N.pem.
split_certs() {
  rm -rf "$work/chain"; mkdir "$work/chain"
  awk -v dir="$work/chain" '/-BEGIN CERTIFICATE-/ { n++; on = 1 }
    on { print > (dir "/" n ".pem") } /-END CERTIFICATE-/ { on = 0 }' "$1"
  compgen -G "$work/chain/*.pem" >/dev/null || die "no certificate in $2"
}

# Reads the key and certificates; refuses what cannot give a valid
# signature. Leaves the certificates in $work/chain/.
check_signer() {
  local pass=(-passin pass:) origin what c signer="" n
  [ -z "$password_file" ] || pass=(-passin "file:$password_file")
  if [ -n "$p12" ]; then
    origin="$p12" what="--sign-pkcs12 $p12"
    if ! openssl pkcs12 -in "$p12" "${pass[@]}" -nokeys -out "$work/certs.pem" 2>"$work/err"; then
      grep -qiE 'mac verify|invalid password|bad decrypt' "$work/err" &&
        die "cannot open $p12: wrong or missing password (--sign-password-file)"
      die "cannot read $p12 as a PKCS#12 file: $(first_error "$work/err")"
    fi
    openssl pkcs12 -in "$p12" "${pass[@]}" -nocerts -nodes 2>"$work/err" |
      openssl pkey -pubout -out "$work/key.pub" 2>>"$work/err" ||
      die "$p12 holds no usable private key: $(first_error "$work/err")"
  else
    origin="$cert" what="--sign-key $key"
    cp "$cert" "$work/certs.pem"
    if ! openssl pkey -in "$key" "${pass[@]}" -pubout -out "$work/key.pub" 2>"$work/err"; then
      grep -qiE 'bad decrypt|bad password|maybe wrong password' "$work/err" &&
        die "cannot open $key: wrong or missing password (--sign-password-file)"
      die "cannot read $key as a private key: $(first_error "$work/err")"
    fi
  fi
  split_certs "$work/certs.pem" "$origin"

  # The signing certificate is the one whose public key is the key's.
  for c in "$work"/chain/*.pem; do
    openssl x509 -in "$c" -noout -pubkey > "$work/cert.pub" 2>/dev/null || continue
    if cmp -s "$work/cert.pub" "$work/key.pub"; then signer="$c"; break; fi
  done
  [ -n "$signer" ] || die "the key ($what) does not match the certificate in $origin"
  n="$(openssl x509 -in "$signer" -noout -subject -nameopt oneline | sed 's/^subject= *//')"
  openssl x509 -in "$signer" -noout -checkend 0 >/dev/null ||
    die "the signing certificate ($n) expired on $(openssl x509 -in "$signer" -noout -enddate | cut -d= -f2)"
  local from; from="$(openssl x509 -in "$signer" -noout -startdate | cut -d= -f2)"
  [ "$(date -d "$from" +%s)" -le "$(date +%s)" ] ||
    die "the signing certificate ($n) is not valid before $from"
}

sign_exe() {
  local in="$1" signed="$2" c
  local args=(sign -h sha256 -n "$description" -in "$in" -out "$signed")
  if [ -n "$p12" ]; then args+=(-pkcs12 "$p12")
  else args+=(-certs "$cert" -key "$key"); fi
  if [ -n "$password_file" ]; then args+=(-readpass "$password_file")
  else args+=(-pass ""); fi
  [ -z "$ts_url" ] || args+=(-ts "$ts_url")
  osslsigncode "${args[@]}" >"$work/err" 2>&1 ||
    die "osslsigncode could not sign: $(first_error "$work/err")"

  # Verified against the roots of the given chain; only a chain without its
  # root falls back on the system's trusted roots.
  : > "$work/roots.pem"
  for c in "$work"/chain/*.pem; do
    [ "$(openssl x509 -in "$c" -noout -subject)" != "subject=$(openssl x509 -in "$c" -noout -issuer | sed 's/^issuer=//')" ] ||
      cat "$c" >> "$work/roots.pem"
  done
  [ -s "$work/roots.pem" ] || cat /etc/ssl/certs/ca-certificates.crt > "$work/roots.pem"
  osslsigncode verify -in "$signed" -CAfile "$work/roots.pem" >"$work/err" 2>&1 ||
    die "the signed exe does not verify against the chain of ${p12:-$cert}: $(first_error "$work/err")"
}
