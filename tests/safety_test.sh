#!/usr/bin/env bash
# DLL safety of the program:
#   tests/faults/safety_test.sh <test build dir>
# 1. The shipped exe (build/dist, i686) imports only DLLs on Windows' known-DLL
#    list; every other DLL name in it is one the code loads by full path, from
#    the activation context or only when already loaded; the DLL search is
#    restricted and comctl32 comes through the manifest.
# 2. Under Wine, DLLs planted beside the program (the test build's exe) under
#    the names version.dll, comctl32.dll and setupapi.dll are not loaded by a
#    /R run, while a bare-name LoadLibrary from that folder does load them.
# The driver-package tool is started by its full path: the removal road suite
# (tests/removal/removal_road.py) plants a pnputil.exe beside the program and
# in the current folder and checks that only the system folder's copy runs.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(cd "$1" && pwd)
arch=${QUELLIN_TEST_ARCH:-$("$root/tools/test-arch")}
source "$root/tools/wine-env.sh"
export LC_ALL=C

if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24" bash "${BASH_SOURCE[0]}" "$build"
fi

fail=0
check() { if eval "$2"; then echo "ok: $1"; else echo "FAILED: $1"; fail=1; fi; }

# ------------------------------------------------------------ the shipped exe
shipped=$root/build/dist/Setup/Quellin9.exe
if [ ! -f "$shipped" ]; then
  echo "FAILED: $shipped missing (build the i686 product first)"
  fail=1
else
  # The known DLLs of Windows 7 (HKLM\...\Session Manager\KnownDLLs).
  known=" advapi32.dll clbcatq.dll comdlg32.dll difxapi.dll gdi32.dll iertutil.dll imagehlp.dll imm32.dll
    kernel32.dll lpk.dll msctf.dll msvcrt.dll normaliz.dll nsi.dll ole32.dll oleaut32.dll psapi.dll
    rpcrt4.dll sechost.dll setupapi.dll shell32.dll shlwapi.dll urlmon.dll user32.dll usp10.dll wininet.dll
    wldap32.dll ws2_32.dll "
  known=" $(echo $known) "
  imports=$(i686-w64-mingw32-objdump -p "$shipped" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
  echo "imports: $(echo $imports)"
  for dll in $imports; do
    check "import $dll is a known DLL" '[[ "$known" == *" $dll "* ]]'
  done
  check "comctl32 is not imported (it comes through the manifest)" '! [[ " $(echo $imports) " == *" comctl32.dll "* ]]'
  text=$(strings -n 5 "$shipped")
  check "manifest asks for the common controls 6 assembly" '[[ "$text" == *Microsoft.Windows.Common-Controls* ]]'
  check "the DLL search is restricted (SetDefaultDllDirectories, SetDllDirectoryA)" \
    '[[ "$text" == *SetDefaultDllDirectories* && "$text" == *SetDllDirectoryA* ]]'
  # Names loaded at run time: comctl32 (redirected by the manifest, after the
  # search restriction), version.dll appended to the system folder's path,
  # kernel32 (already loaded), and the i686 runtime's libgcc_s_dw2-1.dll,
  # which its start-up code asks GetModuleHandle for and loads only when a
  # module of that name is already in the process.
  names=$(echo "$text" | grep -oiE '[\\a-z0-9_.-]*[a-z0-9_-]\.dll' | sort -u)
  for name in $names; do
    lower=$(echo "$name" | tr 'A-Z' 'a-z')
    case "$lower" in
      comctl32.dll|kernel32.dll|\\version.dll|libgcc_s_dw2-1.dll) ok=1 ;;
      *) [[ " $(echo $imports) " == *" $lower "* ]] && ok=1 || ok=0 ;;
    esac
    check "DLL name $name: imported, or loaded by full path or from the activation context" '[ $ok = 1 ]'
  done
  check "version.dll only as a path below the system folder" '! echo "$text" | grep -qiE "(^|[^\\])version\.dll"'
fi

# ------------------------------------------------------------ planted DLLs under Wine
program=$build/dist/Setup/Quellin9.exe
helper=$build/tests/removal_road_helper.exe
cc=$arch-w64-mingw32-gcc
"$root/tools/wine-prefix" >/dev/null
drive=$WINEPREFIX/drive_c
folder=$drive/q9-safety
work=$(mktemp -d)
product='SOFTWARE\TAVRO\TAVRO GSM GPRS USB Driver TV4170K'
cleanup() {
  rm -rf "$folder" "$work" "$drive"/planted-*.txt
  "$WINE" reg delete 'HKLM\SOFTWARE\TAVRO' /f >/dev/null 2>&1 || true
}
trap cleanup EXIT
rm -rf "$folder" "$drive"/planted-*.txt
mkdir -p "$folder"
$cc -shared -O2 -o "$work/planted.dll" "$here/planted_dll.c"
$cc -O2 -o "$folder/probe.exe" "$here/planted_probe.c"
for name in version comctl32 setupapi; do cp "$work/planted.dll" "$folder/$name.dll"; done
cp "$program" "$folder/Quellin9.exe"
markers() { (cd "$drive" && ls planted-*.txt 2>/dev/null | tr 'A-Z' 'a-z' | tr '\n' ' ') || true; }

# Control: with native copies preferred, a bare-name load from the folder
# takes the planted DLLs, so a marker is what a planted DLL leaves.
WINEDLLOVERRIDES="mscoree,mshtml=;version,comctl32=n,b" "$WINE" 'C:\q9-safety\probe.exe' version.dll comctl32.dll
found=$(markers)
check "control: a bare-name LoadLibrary loads the planted DLLs ($found)" \
  '[[ "$found" == *planted-version.dll.txt* && "$found" == *planted-comctl32.dll.txt* ]]'
rm -f "$drive"/planted-*.txt

# Wine's own load order stands in for the known-DLL list for the static
# imports; native-first for comctl32 shows that the program's own load by
# name does not reach the program's folder.
for overrides in "mscoree,mshtml=" "mscoree,mshtml=;comctl32=n,b"; do
  printf 'dword\t%s\tInstallFlag\t1\n' "$product" > "$work/seed"
  "$WINE" "$helper" seed 'Z:'"$(echo "$work/seed" | tr / '\\')" >/dev/null
  out=$(WINEDLLOVERRIDES="$overrides" "$WINE" "$helper" run 60 'C:\q9-safety\Quellin9.exe' /R | tr -d '\r' || true)
  "$WINE" "$helper" export 'Z:'"$(echo "$work/after" | tr / '\\')" "$product" >/dev/null
  found=$(markers)
  check "[$overrides] Quellin9.exe /R ran to its end without a box ($(echo $out))" '[[ "$out" == "EXIT 0" ]]'
  check "[$overrides] the removal ran (InstallFlag reset)" 'grep -q "InstallFlag.4.00000000" "$work/after"'
  check "[$overrides] no planted DLL was loaded (${found:-none})" '[ -z "$found" ]'
  rm -f "$drive"/planted-*.txt
done
exit $fail
