#!/usr/bin/env bash
# The shipped program: 32-bit, GUI, stripped, NX and ASLR on, and an import
# table that names system DLLs only (runtimes are linked in).
set -euo pipefail
export LC_ALL=C
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
exe=$root/build/dist/Setup/Quellin9.exe
objdump=i686-w64-mingw32-objdump
fail=0
check() { if eval "$2"; then echo "ok: $1"; else echo "FAILED: $1"; fail=1; fi; }

[ -f "$exe" ] || { echo "FAILED: $exe missing (run make)"; exit 1; }
headers=$($objdump -p "$exe")
dlls=$(echo "$headers" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
echo "imports: $(echo $dlls)"

format=$($objdump -f "$exe")
symbols=$($objdump -t "$exe" 2>&1 || true)
check "32-bit x86 image" '[[ "$format" == *"file format pei-i386"* ]]'
check "GUI subsystem" '[[ "$headers" == *"(Windows GUI)"* ]]'
check "ASLR" '[[ "$headers" == *DYNAMIC_BASE* ]]'
check "NX" '[[ "$headers" == *NX_COMPAT* ]]'
check "stripped" '[[ "$symbols" == *"no symbols"* ]]'
allowed="kernel32.dll user32.dll gdi32.dll advapi32.dll setupapi.dll msvcrt.dll"
for dll in $dlls; do
  check "$dll is a system DLL of the known list" '[[ " $allowed " == *" $dll "* ]]'
done
check "no runtime DLLs" '! [[ "$dlls" =~ libstdc|libgcc|libwinpthread ]]'
size=$(stat -c %s "$exe")
echo "size: $size bytes"
check "smaller than 150 KB" '[ "$size" -lt 153600 ]'
exit $fail
