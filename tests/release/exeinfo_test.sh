#!/usr/bin/env bash
# tools/exeinfo on exes built here: the resource dump of every build matches
# tests/expected/resources.txt, and describe reports what each build was
# given. Needs the host and win32 trees (scripts/build-trees host win32).
set -uo pipefail
source "$(dirname "$0")/../../scripts/env.sh"
exeinfo=(python3 "$RAVEN_ROOT/tools/exeinfo/exeinfo.py")
demo="$RAVEN_BUILD/win32/demo"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failed=0

result() {  # name, then the command whose output explains a failure
  local name="$1"; shift
  if "$@" > "$work/why" 2>&1; then echo "ok - $name"; return; fi
  echo "not ok - $name"; sed 's/^/# /' "$work/why"; failed=1
}
build() {  # name, then make-bootstrapper's options
  mkdir -p "$work/$1"
  "$RAVEN_ROOT/scripts/make-bootstrapper" --no-build --out "$work/$1/Ravenstock_Setup.exe" \
    "${@:2}" > "$work/$1/log" 2>&1 || cat "$work/$1/log" >&2
}
# What describe must print for a build: host, licence, payload folder,
# launched entry, signer line, then the pins.
expected() {
  local host="$1" licence="$2" payload="$3" launch="$4" signed="$5"; shift 5
  local version; version="$(sed -n 's/.*RAVEN_VERSION_TEXT "\(.*\)"/\1/p' \
    "$RAVEN_ROOT/resources/version.h")"
  echo "web host: $host"
  echo "manual installation: http://$host/downloads/framework.net.1.1.htm"
  printf 'pinned sha256: %s\n' "$@"
  (cd "$payload" && find . -type f -printf 'payload entry: %P, %s bytes\n') |
    sed "s#^payload entry: $launch, .*#&, launched#"
  echo "licence: $(wc -c < "$licence") bytes, first line: $(head -n1 "$licence" | tr -d '\r')"
  echo "version: file $version, product $version"
  echo "signed: $signed"
}
describe_matches() {  # exe, then the arguments of expected
  local exe="$1"; shift
  diff <(expected "$@" | sort) <("${exeinfo[@]}" describe "$exe" | sed 's/\(^version: file .*\), flags.*/\1/' |
    grep -E '^(web host|manual|pinned|payload entry|licence|version:|signed)' | sort)
}

licence="$RAVEN_ROOT/resources/licence.txt"
demo_pin="$(sha256sum "$demo/dotnetfx.exe" | cut -d' ' -f1)"
build default
result "describe: default build" describe_matches "$work/default/Ravenstock_Setup.exe" \
  downloads.ravenstock.com "$licence" "$demo/payload" "$(cat "$demo/launch.txt")" no "$demo_pin"

# A payload of its own with a nested launch entry, another licence and two
# pins (needs the repeatable --redist-sha256).
mkdir -p "$work/payload/bin" && echo "setup" > "$work/payload/bin/run.exe" && echo "x" > "$work/payload/a.txt"
pins=(ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad "$demo_pin")
other="$RAVEN_ROOT/tests/fixtures/wizard/licence-crlf.txt"
build twopins --payload "$work/payload" --launch bin/run.exe --licence "$other" --web-host 10.0.0.7 \
  --redist-sha256 "${pins[0]}" --redist-sha256 "${pins[1]}"
result "describe: two pins, own payload and licence" describe_matches "$work/twopins/Ravenstock_Setup.exe" \
  10.0.0.7 "$other" "$work/payload" bin/run.exe no "${pins[@]}"

# Signed by a leaf of a throwaway chain: the signer is the leaf, not the
# root that comes first in the signature's certificates.
cd "$work" && {
  openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 -subj "/CN=Exeinfo Test Root"
  openssl req -newkey rsa:2048 -nodes -keyout leaf.key -out leaf.csr -subj "/CN=Exeinfo Signer/O=Hollin Test"
  openssl x509 -req -in leaf.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out leaf.pem -days 2
  cat ca.pem leaf.pem > chain.pem; mkdir signed
  osslsigncode sign -certs chain.pem -key leaf.key -h sha256 -in default/Ravenstock_Setup.exe \
    -out signed/Ravenstock_Setup.exe
} > "$work/sign.log" 2>&1 || cat "$work/sign.log"
result "describe: signed build" describe_matches "$work/signed/Ravenstock_Setup.exe" \
  downloads.ravenstock.com "$licence" "$demo/payload" "$(cat "$demo/launch.txt")" \
  "yes, by CN=Exeinfo Signer, O=Hollin Test (not verified here)" "$demo_pin"

for exe in "$work"/*/Ravenstock_Setup.exe "$RAVEN_BUILD"/e2e/*/Ravenstock_Setup.exe; do
  [ -f "$exe" ] || continue
  name="${exe#"$work"/}"
  result "resources: ${name#"$RAVEN_BUILD"/}" diff -u "$RAVEN_ROOT/tests/expected/resources.txt" \
    <("${exeinfo[@]}" resources "$exe")
done

# Not bootstrappers: one line on stderr, nothing on stdout, exit 2. The
# tree's own exe carries an empty archive: described, exit 1.
head -c 4000 "$work/default/Ravenstock_Setup.exe" > "$work/cut.exe"
refused() {
  "${exeinfo[@]}" describe "$1" > "$work/out" 2> "$work/err"
  local rc=$?
  [ "$rc" = "$2" ] && [ "$(wc -l < "$work/err")" -le 1 ] && grep -q "$3" "$work/${4:-err}" ||
    { echo "exit $rc"; cat "$work/out" "$work/err"; false; }
}
result "refused: text file" refused "$licence" 2 "no MZ header"
result "refused: cut exe" refused "$work/cut.exe" 2 "cut short\|lies in no section"
result "refused: other exe" refused "$demo/dotnetfx.exe" 2 "not a Ravenstock bootstrapper"
result "empty payload: exit 1" refused "$RAVEN_BUILD/win32/resources/Ravenstock_Setup.exe" 1 \
  "^payload: invalid" out
exit $failed
