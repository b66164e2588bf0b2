# Sourced: sets the Wine environment for the architecture in $arch.
# shellcheck shell=bash
case "$arch" in
  i686)   WINE=/usr/lib/wine/wine;   export WINEARCH=win32 ;;
  x86_64) WINE=/usr/lib/wine/wine64; export WINEARCH=win64 ;;
  *) echo "unknown test architecture: $arch" >&2; exit 2 ;;
esac
export WINE
export WINEPREFIX=${WINEPREFIX:-$root/build/wine/$arch/prefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export LC_ALL=${QUELLIN_LOCALE:-zh_CN.UTF-8}
