#!/usr/bin/env bash
# The install road of the test build's own Quellin9.exe under Wine, driven by
# robot.exe: the notice, the staging, the wizard on each Windows version
# (chosen per program through HKCU\Software\Wine\AppDefaults), the phone
# plugged in function by function, finishing and cancelling, a second start,
# and the error box where nothing can be set up.
#   tests/wizard/install_road_test.sh <test build directory>
# Runs in a copy of the worktree's prefix (build/road/prefix, removed at the
# end); the robot's output of every run is kept in build/road/*.out.
set -uo pipefail
build=$(cd "$1" && pwd)
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
arch=${QUELLIN_TEST_ARCH:-$("$root/tools/test-arch")}

if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$@"
fi

dist=$build/dist
robot=$build/tests/robot.exe
for needed in "$dist/Setup/Quellin9.exe" "$dist/Drivers/TVybus.inf" "$robot"; do
  [ -f "$needed" ] || { echo "FAILED: $needed is missing (build the test build first)"; exit 1; }
done

# The pristine prefix of this worktree, copied: the program changes the
# registry, the INF folder and the device keys.
unset WINEPREFIX
source "$root/tools/wine-env.sh"
base=$("$root/tools/wine-prefix")
work=$build/road
rm -rf "$work"
mkdir -p "$work"
cp -a "$base" "$work/prefix"
export WINEPREFIX=$work/prefix
server=/usr/lib/wine/wineserver
"$server" -p
"$WINE" wineboot >/dev/null 2>&1 </dev/null || true
cleanup() {
  WINEPREFIX=$work/prefix "$server" -k 2>/dev/null || true
  rm -rf "$work/prefix"
}
trap cleanup EXIT

# The shipped layout inside the prefix: C:\TAVRO\Setup\Quellin9.exe beside
# C:\TAVRO\Drivers.
install_dir=$WINEPREFIX/drive_c/TAVRO
mkdir -p "$install_dir"
cp -a "$dist/Setup" "$dist/Drivers" "$install_dir/"
# Wine has no driver-package tool; the removal on Vista and later starts it
# for the packages an earlier run staged.
cp "$build/tests/pnputil.exe" "$WINEPREFIX/drive_c/windows/system32/pnputil.exe"
program='C:\TAVRO\Setup\Quellin9.exe'
inf_dir=$WINEPREFIX/drive_c/windows/inf
title='TAVRO GSM/GPRS USB Driver Installer'
removal_present=1
[ -f "$root/src/removal/provisional_stub.cpp" ] && removal_present=0

failures=0
checks=0
skipped=0
ok() { checks=$((checks + 1)); }
fail() { checks=$((checks + 1)); failures=$((failures + 1)); echo "FAILED: $*"; }

# ---- The string table -------------------------------------------------------

# A text of the string table as its source writes it (\n for a line feed),
# with the series name filled in.
table_text() {
  local id=$1 series=${2:-GSM} line text
  line=$(grep -E "^[[:space:]]*$id, \"" "$root/src/resources/strings.rc" | head -n 1)
  text=${line#*\"}
  text=${text%\"*}
  text=${text//\"\"/\"}
  printf '%s' "${text//<%SERIES%>/$series}"
}

# ---- Running the robot -------------------------------------------------------

out=
# run <name> <windows version> <program arguments> <robot steps...>
run() {
  local name=$1 version=$2 args=$3
  shift 3
  out=$work/$name.out
  "$WINE" reg add 'HKCU\Software\Wine\AppDefaults\Quellin9.exe' /v Version /d "$version" /f >/dev/null 2>&1
  # shellcheck disable=SC2086
  timeout 600 "$WINE" "$robot" run "$program" $args -- "$@" >"$out" 2>"$work/$name.err" </dev/null
  local status=$?
  echo "== $name ($version, arguments '${args}'): robot exit $status"
  [ $status -eq 0 ] || fail "$name: robot ended with $status: $(grep '^error=' "$out")"
  grep '^left_running' "$out" && fail "$name: the program was still running"
}

value() { grep -m1 "^$1=" "$out" | cut -d= -f2- | tr -d '\r'; }

expect() {  # expect <key> <expected value> [what]
  local seen
  seen=$(value "$1")
  if [ "$seen" = "$2" ]; then ok; else fail "$(basename "$out" .out): $1 is '$seen', expected '$2'${3:+ ($3)}"; fi
}

expect_text() {  # expect_text <key> <string id> [series name]
  expect "$1" "$(table_text "$2" "${3:-GSM}")" "text $2"
}

expect_keys() {  # expect_keys <tag or ""> <key>=<value>...
  local tag=$1 pair
  shift
  for pair in "$@"; do expect "${tag:+$tag.}${pair%%=*}" "${pair#*=}"; done
}

# The wizard as it opens: waiting, Cancel the default, centred.
expect_waiting() {  # expect_waiting <tag> <text id> <finishing button id> [series name]
  local tag=$1 rect screen l t r b sw sh
  expect "$tag.caption" "$title"
  expect_text "$tag.text1000" "$2" "${4:-GSM}"
  expect_text "$tag.button2.text" 15051
  expect_text "$tag.button3.text" "$3"
  expect_keys "$tag" template=102 button2.enabled=1 button2.default=1 button2.focus=1 \
    button3.enabled=0 button3.default=0 progress.pos=0 progress.range=0..4
  rect=$(value "$tag.rect")
  screen=$(value "$tag.screen")
  IFS=, read -r l t r b <<<"$rect"
  IFS=x read -r sw sh <<<"$screen"
  if [ -n "$rect" ] && [ "$l" -eq $(((sw - (r - l)) / 2)) ] && [ "$t" -eq $(((sh - (b - t)) / 2)) ]; then
    ok
  else
    fail "$(basename "$out" .out): $tag at $rect is not centred on $screen"
  fi
}

expect_progress() {  # expect_progress <tag> <position>
  expect_keys "$1" progress.pos="$2" button3.enabled=0 button2.enabled=1
}

expect_detected() {
  expect_keys "$1" progress.pos=4 button3.enabled=1 button3.default=1 button3.focus=1 \
    button2.enabled=0 button2.default=0
}

expect_notice() {
  expect notice.caption "$title"
  expect_text notice.text 15006
  expect notice.buttons OK,Cancel
}

# Nothing set up: error box 15100 instead of the wizard.
expect_no_drivers() {
  expect error.caption "$title"
  expect_text error.text 15100
  expect error.buttons OK
  expect exit 0
  expect nowizard 1
}

# Copies of the phone's packages in the INF folder (Wine keeps their names).
staged_count() { grep -lis 'Tavro_wmc' "$inf_dir"/*.inf 2>/dev/null | wc -l; }
unstage() { grep -lis 'Tavro_wmc' "$inf_dir"/*.inf 2>/dev/null | while read -r f; do rm -f "$f" "${f%.*}.pnf" "${f%.*}.PNF"; done; }

expect_staged() {  # expect_staged <packages>
  local staged
  staged=$(staged_count)
  if [ "$staged" -eq "$1" ]; then ok; else fail "$(basename "$out" .out): $staged packages staged, expected $1"; fi
}

PLUG_IN=(plug=0 wizard@p1 plug=1 wizard@p2 plug=2 wizard@p3 plug=3 wizard@p4)

# ---- Each NT version, normal start: finish after all four functions ---------
# The robot sets InstallFlag to 7 once the wizard waits, so the end shows
# whether finishing wrote it.

declare -A normal_text=([win2k]=15008 [winxp]=15010 [win2003]=15003 [vista]=15004)
for version in win2k winxp win2003 vista; do
  unstage
  run "normal-$version" "$version" "" box=ok@notice wizard@w setflag=7 "${PLUG_IN[@]}" \
    press=3 exit@exit state@end unplug
  expect_notice
  expect_waiting w "${normal_text[$version]}" 15052
  expect w.text1001 "Ver. 9.0.0"
  for n in 1 2 3; do expect_progress "p$n" "$n"; done
  expect_detected p4
  expect exit 0
  expect end.flag 7 "finishing without /I leaves InstallFlag alone"
  expect_staged 4
done

# ---- Install mode: finishing writes InstallFlag 1 ---------------------------

declare -A install_text=([win2k]=15007 [winxp]=15009 [win2003]=15001 [vista]=15002)
for version in win2k winxp win2003 vista; do
  run "install-$version" "$version" "/I" box=ok@notice wizard@w setflag=7 "${PLUG_IN[@]}" \
    press=3 exit@exit state@end unplug
  expect_waiting w "${install_text[$version]}" 15050
  expect_detected p4
  expect exit 0
  expect end.flag 1 "finishing with /I"
done

# A product key that does not exist is not created.
"$WINE" reg delete 'HKLM\SOFTWARE\TAVRO' /f >/dev/null 2>&1
run install-no-key winxp "/I" box=ok@notice wizard@w "${PLUG_IN[@]}" press=3 exit@exit state@end unplug
expect exit 0
expect end.flag absent "no product key before"

# ---- Cancel before detection, and the version label switched off ------------

run install-cancel winxp "/I /V" box=ok@notice wizard@w setflag=7 plug=0 plug=1 wizard@p2 press=2 \
  exit@exit state@end unplug
expect_waiting w 15009 15050
expect w.text1001 ""
expect_progress p2 2
expect exit 0
expect end.flag 7 "Cancel leaves InstallFlag alone"

# ---- Names from a Quellin9.ini beside the program ---------------------------

series=$(printf '星光X9')
printf '[UsbInst]\r\nNAME=%s\r\nNAME2=%s\r\n' "$(printf '%s' "$series" | iconv -f UTF-8 -t GBK)" \
  "$(printf 'CDMA/1X' | iconv -f UTF-8 -t GBK)" >"$install_dir/Setup/Quellin9.ini"
run ini-names winxp "" box=ok@notice wizard@w press=2 exit@exit
expect_waiting w 15010 15052 "$series"
rm -f "$install_dir/Setup/Quellin9.ini"

# ---- Nothing set up: the notice refused, and Windows 98 without a notice ----

unstage
run notice-refused winxp "" box=cancel@notice box=ok@error exit@exit nowizard@nowizard
expect_notice
expect_no_drivers
expect_staged 0

unstage
run win98 win98 "" box=ok@error exit@exit nowizard@nowizard
expect_no_drivers
expect_staged 0

# ---- A second start while the wizard waits ----------------------------------

# Without switches it brings the wizard back and exits; nothing is removed.
run second-start winxp "" box=ok@notice wizard@w setflag=7 plug=0 minimize wizard@min start \
  exit=2@second wizard@after state@st nowizard@gone press=2 exit@exit unplug
expect min.iconic 1
expect second 0
expect after.iconic 0 "the second start restores the wizard"
expect_keys after foreground=1 progress.pos=1
expect st.flag 7 "the second start must not run the removal"
expect st.phone 1000
expect gone 0
expect exit 0
expect_staged 4

# With /R it closes the waiting wizard and runs the removal.
run second-remove winxp "" box=ok@notice wizard@w setflag=7 plug=0 start=/R exit=1@first \
  exit=2@second nowizard@gone state@st unplug
expect_keys "" first=0 second=0 gone=1
if [ $removal_present -eq 1 ]; then
  expect st.flag 0 "the removal resets InstallFlag"
  expect st.phone 0000 "the removal deletes the phone's device keys"
else
  skipped=$((skipped + 2))
  echo "SKIPPED: the effects of the removal after /R (the removal is still provisional)"
fi

echo "$checks checks, $failures failed, $skipped skipped"
[ $failures -eq 0 ]
