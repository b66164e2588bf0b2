#!/usr/bin/env bash
# The shipped exe's headers, imports and DLL names; then, under Wine, DLLs
# planted beside the program under system names are not loaded by a /R run.
#   tests/safety_test.sh <test build dir>
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)
build=$(cd "$1" && pwd)
arch=${QUELLIN_TEST_ARCH:-$("$root/tools/test-arch")}
source "$root/tools/wine-env.sh"
export LC_ALL=C
[ -n "${DISPLAY:-}" ] || exec xvfb-run -a -s "-screen 0 1024x768x24" bash "${BASH_SOURCE[0]}" "$build"
fail=0
check() { if eval "$2"; then echo "ok: $1"; else echo "FAILED: $1"; fail=1; fi; }

shipped=$root/build/dist/Setup/Quellin9.exe
[ -f "$shipped" ] || { echo "FAILED: $shipped missing (make builds it)"; exit 1; }
headers=$(i686-w64-mingw32-objdump -p "$shipped")
imports=$(echo "$headers" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u | tr '\n' ' ')
check "32-bit GUI image" '[[ "$(i686-w64-mingw32-objdump -f "$shipped")" == *pei-i386* && "$headers" == *"(Windows GUI)"* ]]'
check "NX, ASLR and terminal-server aware" \
  '[[ "$headers" == *NX_COMPAT* && "$headers" == *DYNAMIC_BASE* && "$headers" == *TERMINAL_SERVICE_AWARE* ]]'
check "stripped, under 150 KB" '[[ "$(i686-w64-mingw32-objdump -t "$shipped" 2>&1)" == *"no symbols"* && $(stat -c %s "$shipped") -lt 153600 ]]'
# The known DLLs of Windows 7: the loader never takes them from the program's folder.
known=" advapi32.dll gdi32.dll kernel32.dll msvcrt.dll setupapi.dll user32.dll "
for dll in $imports; do check "import $dll is a known DLL" '[[ "$known" == *" $dll "* ]]'; done
text=$(strings -n 5 "$shipped")
check "comctl32 comes through the manifest" '[[ "$text" == *Microsoft.Windows.Common-Controls* && " $imports" != *" comctl32.dll "* ]]'
check "the DLL search is restricted" '[[ "$text" == *SetDefaultDllDirectories* && "$text" == *SetDllDirectoryA* ]]'
# Other names: comctl32 (manifest), version.dll below the system folder, kernel32 (loaded), and the
# runtime's libgcc_s_dw2-1.dll, which its start-up code only looks for among the modules already loaded.
for name in $(echo "$text" | grep -oiE '[\\a-z0-9_.-]*[a-z0-9_-]\.dll' | tr 'A-Z' 'a-z' | sort -u); do
  case "$name" in comctl32.dll|kernel32.dll|\\version.dll|libgcc_s_dw2-1.dll) ok=1 ;;
    *) [[ " $imports" == *" $name "* ]] && ok=1 || ok=0 ;; esac
  check "DLL name $name is imported, or loaded by full path or from the manifest" '[ $ok = 1 ]'
done

# Planted DLLs leave a marker C:\planted-<name>.txt when anything loads them.
"$root/tools/wine-prefix" >/dev/null
drive=$WINEPREFIX/drive_c
cleanup() { rm -rf "$drive/q9" "$drive"/planted-*.txt; "$WINE" reg delete 'HKLM\SOFTWARE\TAVRO' /f >/dev/null 2>&1 || true; }
trap cleanup EXIT
cleanup && mkdir -p "$drive/q9"
"$arch-w64-mingw32-gcc" -shared -O2 -o "$drive/q9/planted.dll" "$here/faults/planted_dll.c"
"$arch-w64-mingw32-gcc" -O2 -o "$drive/q9/probe.exe" "$here/faults/planted_probe.c"
for name in version comctl32 setupapi; do cp "$drive/q9/planted.dll" "$drive/q9/$name.dll"; done
cp "$build/dist/Setup/Quellin9.exe" "$build/tests/robot.exe" "$drive/q9/"
markers() { (cd "$drive" && ls planted-*.txt 2>/dev/null | tr '\n' ' ') || true; }
WINEDLLOVERRIDES="mscoree,mshtml=;version,comctl32=n,b" "$WINE" 'C:\q9\probe.exe' version.dll comctl32.dll
check "control: a bare-name load takes the planted DLLs ($(markers))" '[[ "$(markers)" == *version* && "$(markers)" == *comctl32* ]]'
rm -f "$drive"/planted-*.txt
printf 'dword\tSOFTWARE\\TAVRO\\TAVRO GSM GPRS USB Driver TV4170K\tInstallFlag\t1\n' > "$drive/q9/seed.txt"
"$WINE" 'C:\q9\robot.exe' seed 'C:\q9\seed.txt'
# Wine's load order stands in for the known-DLL list; native-first comctl32
# shows that the program's own load by name never reaches its folder.
for overrides in "mscoree,mshtml=" "mscoree,mshtml=;comctl32=n,b"; do
  out=$(WINEDLLOVERRIDES="$overrides" "$WINE" 'C:\q9\robot.exe' run 'C:\q9\Quellin9.exe' /R -- boxes=60 | tr -d '\r' || true)
  check "[$overrides] /R ended without a box, no planted DLL loaded (${out//$'\n'/ }; $(markers))" \
    '[[ "$out" == "exit1=0" && -z "$(markers)" ]]'
done
"$WINE" 'C:\q9\robot.exe' export 'C:\q9\after.txt' 'SOFTWARE\TAVRO'
check "the removal ran (InstallFlag reset)" 'grep -q "InstallFlag.4.00000000" "$drive/q9/after.txt"'
exit $fail
