# Shared settings of the scripts; sourced, not run.
RAVEN_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# RAVEN_BUILD lets several people work in one checkout, each in a build
# folder (and so a Wine prefix) of their own.
RAVEN_BUILD="${RAVEN_BUILD:-$RAVEN_ROOT/build}"
mkdir -p "$RAVEN_BUILD"
RAVEN_BUILD="$(cd "$RAVEN_BUILD" && pwd)"
export RAVEN_ROOT RAVEN_BUILD
export WINEPREFIX="${WINEPREFIX_OVERRIDE:-$RAVEN_BUILD/wine-prefix}"
export WINEDEBUG=-all
export WINEARCH=win32
# msvcrt would read a Linux TZ as a Windows TZ string, and http_proxy would
# override the registry proxy that the download tests set up.
unset TZ http_proxy https_proxy HTTP_PROXY HTTPS_PROXY no_proxy
