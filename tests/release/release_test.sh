#!/usr/bin/env bash
# Release builds through scripts/make-bootstrapper: signing with a throwaway
# chain, refusals, byte-identical builds from two clones, and the
# signed exe's update run under Wine. Needs the host and win32 trees built.
# Every exe here is the shipped i686 one, whatever path the tests run on.
# Prints "ok - NAME" or "not ok - NAME" per case; fails when any failed.
set -uo pipefail
source "$(dirname "$0")/../../scripts/env.sh"
tmp="$(mktemp -d)" failed=0
trap 'rm -rf "$tmp"' EXIT
report() { if [ "$2" = 0 ]; then echo "ok - $1"; else echo "not ok - $1"; failed=1; fi; }
mb() { "$RAVEN_ROOT/scripts/make-bootstrapper" --no-build "$@"; }
demo="$RAVEN_BUILD/win32/demo"

# A root CA, a code-signing certificate it issued (also as a PKCS#12 with a
# password), an expired one and an unrelated key.
cd "$tmp" && printf 'secret\n' > pw && printf 'wrong\n' > bad-pw
openssl req -x509 -newkey rsa:2048 -nodes -keyout root.key -out root.pem -days 2 \
  -subj "/CN=Release Test Root" -addext basicConstraints=critical,CA:TRUE \
  -addext keyUsage=critical,keyCertSign 2>/dev/null
printf 'extendedKeyUsage=codeSigning\nkeyUsage=critical,digitalSignature\n' > leaf.cnf
for leaf in signer:2 expired:-1; do
  openssl req -newkey rsa:2048 -nodes -keyout "${leaf%:*}.key" -out leaf.csr \
    -subj "/CN=${leaf%:*}" 2>/dev/null
  openssl x509 -req -in leaf.csr -CA root.pem -CAkey root.key -CAcreateserial \
    -days "${leaf#*:}" -extfile leaf.cnf -out "${leaf%:*}.pem" 2>/dev/null
done
openssl genrsa -out other.key 2048 2>/dev/null
openssl pkcs12 -export -inkey signer.key -in signer.pem -certfile root.pem \
  -passout file:pw -out signer.p12

mb --out signed.exe --sign-pkcs12 signer.p12 --sign-password-file pw >/dev/null 2>err
osslsigncode verify -in signed.exe -CAfile root.pem >/dev/null 2>&1
report "a signed build verifies against its chain" $?
# One byte of the payload archive flipped: the signature no longer holds.
"$RAVEN_BUILD/host/tools/zcspack/zcspack" pack --launch setup.exe -o payload.zcs \
  "$demo/payload" >/dev/null
python3 - <<'EOF'
data = bytearray(open("signed.exe", "rb").read())
at = data.find(open("payload.zcs", "rb").read())
assert at > 0
data[at + 1000] ^= 1
open("flipped.exe", "wb").write(data)
EOF
! osslsigncode verify -in flipped.exe -CAfile root.pem >/dev/null 2>&1
report "a signed build with one payload byte changed fails verification" $?

# Refusals: one line on stderr naming the fault, exit code 2, no exe.
pin=ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad
mkdir -p accented && cp "$demo/payload/setup.exe" accented/ && : > "accented/r$(printf '\303\251')sum$(printf '\303\251').txt"
while IFS='|' read -r name want args; do
  touch refused.exe   # a previous build must not survive a failed one
  eval "mb --out refused.exe $args" >/dev/null 2>err; rc=$?
  [ $rc = 2 ] && [ ! -e refused.exe ] && [ "$(wc -l < err)" = 1 ] &&
    grep -q "^make-bootstrapper: .*$want" err
  report "refused: $name (exit $rc: $(head -c 120 err))" $?
done <<'EOF'
missing password|wrong or missing password|--sign-pkcs12 signer.p12
wrong password|wrong or missing password|--sign-pkcs12 signer.p12 --sign-password-file bad-pw
expired certificate|expired on|--sign-cert expired.pem --sign-key expired.key
key of another certificate|does not match|--sign-cert signer.pem --sign-key other.key
chain without its root|does not verify|--sign-cert signer.pem --sign-key signer.key
other web host, no pin|needs --redist|--web-host example.org
web host with a port|no port|--web-host example.org:8080 --redist-sha256 $pin
web host not a DNS name|DNS name or an IPv4|--web-host 'a..b' --redist-sha256 $pin
short pin|64 hex|--web-host example.org --redist-sha256 abc
x86-64 test build signed|never signed|--arch x86_64 --sign-pkcs12 signer.p12 --sign-password-file pw
payload name beyond ASCII|r.xc3.xa9sum.*printable ASCII|--payload accented --launch setup.exe
EOF

# What ships is the PE32 i386 program, on every path.
file -b signed.exe | grep -q '^PE32 executable (GUI) Intel 80386'
report "the default build is a PE32 i386 GUI program ($(file -b signed.exe | cut -c1-60))" $?

# Two clones of HEAD in folders of different lengths build the same exe,
# stamped with the commit's time.
start=$SECONDS
for c in a longer-clone-folder/b; do
  git clone -q "$RAVEN_ROOT" "$c" && mkdir -p "$c/build" && (
    cd "$c" && export RAVEN_BUILD="$PWD/build" && unset SOURCE_DATE_EPOCH &&
    cmake -S . -B build/host -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
      -DCMAKE_CXX_COMPILER=clang++ >/dev/null && cmake --build build/host -j "${RAVEN_JOBS:-2}" \
      --target zcspack >/dev/null && cmake -S . -B build/win32 -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-i686-win32.cmake" >/dev/null &&
    cmake --build build/win32 -j "${RAVEN_JOBS:-2}" --target Ravenstock_Setup demo_payload \
      dotnetfx >/dev/null && scripts/make-bootstrapper --no-build --out "$tmp/$(basename "$c").exe"
  ) >"$(basename "$c").log" 2>&1
done
stamp="$(i686-w64-mingw32-objdump -p b.exe 2>/dev/null | sed -n 's/^Time\/Date\s*//p')"
[ -s a.exe ] && cmp -s a.exe b.exe &&
  [ "$(date -ud "$stamp" +%s)" = "$(git -C "$RAVEN_ROOT" log -1 --format=%ct)" ]
status=$?
report "two clones build the same exe ($((SECONDS - start)) s)" $status
[ $status = 0 ] || tail -n 5 a.log b.log | sed 's/^/# /'

# The signed exe runs the update path under Wine (in a prefix of its own,
# framework present): the setup program records its start. Only where
# 32-bit code runs: the x86-64 build is never signed.
name="the signed exe runs the setup program in update mode"
if [ "$RAVEN_ARCH" != i686 ]; then
  echo "skip - $name (the $RAVEN_ARCH path runs no 32-bit program)"
  exit $failed
fi
export WINEPREFIX_OVERRIDE="$RAVEN_BUILD/release-prefix" WINEPREFIX="$RAVEN_BUILD/release-prefix"
"$RAVEN_ROOT/scripts/wine-prefix" >/dev/null 2>&1
source "$RAVEN_ROOT/scripts/xvfb-start"
$RAVEN_WINE reg add 'HKLM\SOFTWARE\Microsoft\.NETFramework\policy\v1.1' /v 4322 /d 3706-4322 /f >/dev/null 2>&1
mkdir -p "$WINEPREFIX/drive_c/windows/Microsoft.NET/Framework/v1.1.4322"
RAVEN_SETUP_RECORD="Z:${tmp//\//\\}\\record.txt" RAVEN_SETUP_AUTOCLOSE=200 \
  timeout 120 $RAVEN_WINE signed.exe /update </dev/null >/dev/null 2>&1; rc=$?
[ $rc = 0 ] && grep -q '/update' record.txt
report "$name (exit $rc)" $?
wineserver -k >/dev/null 2>&1; [ -z "$RAVEN_XVFB_PID" ] || kill "$RAVEN_XVFB_PID"

exit $failed
