# Shared settings of the scripts; sourced, not run.
RAVEN_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# RAVEN_BUILD lets several people work in one checkout, each in a build
# folder (and so a Wine prefix) of their own.
RAVEN_BUILD="${RAVEN_BUILD:-$RAVEN_ROOT/build}"
mkdir -p "$RAVEN_BUILD"
RAVEN_BUILD="$(cd "$RAVEN_BUILD" && pwd)"
export RAVEN_ROOT RAVEN_BUILD
source "$RAVEN_ROOT/scripts/arch.sh"
# The path in use: the compilers, the trees of Windows programs that run
# here (the product's and the tests'), the Wine loader and prefix. The
# shipped exe always comes from the i686 tree, win32, whatever the path.
if [ "$RAVEN_ARCH" = x86_64 ]; then
  RAVEN_TRIPLE=x86_64-w64-mingw32 RAVEN_WIN_TREE=win64 RAVEN_TEST_TREE=win64-tests
  # Debian's wine wrapper takes the 32-bit loader whenever wine32 is
  # installed: the 64-bit one is named directly.
  RAVEN_WINE=/usr/lib/wine/wine64
  export WINELOADER="$RAVEN_WINE" WINEARCH=win64
  prefix_name=wine-prefix64
else
  RAVEN_TRIPLE=i686-w64-mingw32 RAVEN_WIN_TREE=win32 RAVEN_TEST_TREE=win32-tests
  RAVEN_WINE=wine
  export WINEARCH=win32
  unset WINELOADER
  prefix_name=wine-prefix
fi
export RAVEN_TRIPLE RAVEN_WIN_TREE RAVEN_TEST_TREE RAVEN_WINE
export WINEPREFIX="${WINEPREFIX_OVERRIDE:-$RAVEN_BUILD/$prefix_name}"
unset prefix_name
export WINEDEBUG=-all
# msvcrt would read a Linux TZ as a Windows TZ string, and http_proxy would
# override the registry proxy that the download tests set up.
unset TZ http_proxy https_proxy HTTP_PROXY HTTPS_PROXY no_proxy
