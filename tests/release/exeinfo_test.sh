#!/usr/bin/env bash
# tools/exeinfo on builds of this tree: describe reports what each build was given, and every
# resource dump matches the committed one. Needs the trees of scripts/build-trees host win32.
set -uo pipefail
source "$(dirname "$0")/../../scripts/env.sh"
exeinfo=(python3 "$RAVEN_ROOT/tools/exeinfo/exeinfo.py")
demo="$RAVEN_BUILD/win32/demo" tree="$RAVEN_BUILD/win32/resources/Ravenstock_Setup.exe"
licence="$RAVEN_ROOT/resources/licence.txt"
version="$(sed -n 's/.*VERSION_TEXT "\(.*\)"/\1/p' "$RAVEN_ROOT/resources/version.h")"
work="$(mktemp -d)" failed=0 && trap 'rm -rf "$work"' EXIT

result() {  # name, then a command whose output explains a failure
  if "${@:2}" > "$work/why" 2>&1; then echo "ok - $1"; else
    echo "not ok - $1"; sed 's/^/# /' "$work/why"; failed=1; fi
}
build() {  # name, then make-bootstrapper's options
  "$RAVEN_ROOT/scripts/make-bootstrapper" --no-build --out "$work/$1/Ravenstock_Setup.exe" "${@:2}" \
    > "$work/log" 2>&1 || cat "$work/log" >&2
}
describes() {  # exe, web host, licence, payload folder, launch entry, signer, pins
  diff <({
    printf '%s\n' "web host: $2" "manual installation: http://$2/downloads/framework.net.1.1.htm" \
      "licence: $(wc -c < "$3") bytes, first line: $(head -n1 "$3" | tr -d '\r')" \
      "version: file $version, product $version" "signed: $6"
    printf 'pinned sha256: %s\n' "${@:7}"
    (cd "$4" && find . -type f -printf 'payload entry: %P, %s bytes\n') |
      sed "s#^payload entry: $5, .*#&, launched#"
  } | sort) <("${exeinfo[@]}" describe "$1" | sed 's/^\(version: file .*\), flags.*/\1/' |
    grep -E '^(web host|manual|pinned|payload entry|licence|version:|signed)' | sort)
}

demo_pin="$(sha256sum "$demo/dotnetfx.exe" | cut -d' ' -f1)" launch="$(cat "$demo/launch.txt")"
build default
result "describe: default" describes "$work/default/Ravenstock_Setup.exe" \
  downloads.ravenstock.com "$licence" "$demo/payload" "$launch" no "$demo_pin"

mkdir -p "$work/payload/bin" && echo setup > "$work/payload/bin/run.exe" && echo x > "$work/payload/a"
pins=(ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad "$demo_pin")
other="$RAVEN_ROOT/tests/fixtures/wizard/licence-crlf.txt"
build twopins --payload "$work/payload" --launch bin/run.exe --licence "$other" --web-host 10.0.0.7 \
  --redist-sha256 "${pins[0]}" --redist-sha256 "${pins[1]}"
result "describe: two pins, own payload and licence" describes "$work/twopins/Ravenstock_Setup.exe" \
  10.0.0.7 "$other" "$work/payload" bin/run.exe no "${pins[@]}"

dumps() {  # of the tree's exe, every build here and every end-to-end variant: all the same
  local exe; for exe in "$tree" "$work"/*/Ravenstock_Setup.exe "$RAVEN_BUILD"/e2e-win32/*/Ravenstock_Setup.exe; do
    [ ! -f "$exe" ] || diff -u "$RAVEN_ROOT/tests/expected/resources.txt" \
      <("${exeinfo[@]}" resources "$exe") || { echo "^ $exe"; return 1; }
  done
}
result "resources: every build matches tests/expected/resources.txt" dumps

# No bootstrapper: exit 2, one line on stderr. The tree's own exe has an empty payload: exit 1.
verdict() {  # exit code, stream (1 or 2), text it must hold, file
  "${exeinfo[@]}" describe "$4" > "$work/1" 2> "$work/2"
  local rc=$?; cat "$work/1" "$work/2"; echo "exit $rc"
  [ "$rc" = "$1" ] && [ "$(wc -l < "$work/2")" -le 1 ] && grep -q "$3" "$work/$2"
}
head -c 4000 "$work/default/Ravenstock_Setup.exe" > "$work/cut.exe"
result "verdict: text file" verdict 2 2 "no MZ header" "$licence"
result "verdict: cut exe" verdict 2 2 "cut short\|lies in no section" "$work/cut.exe"
result "verdict: other exe" verdict 2 2 "not a Ravenstock bootstrapper" "$demo/dotnetfx.exe"
result "verdict: empty payload" verdict 1 1 "^payload: invalid" "$tree"
exit $failed
