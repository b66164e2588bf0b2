#!/usr/bin/env bash
# The /R road on a seeded machine per Windows version (see removal_road.py):
#   tests/removal/removal_road_test.sh <test build dir> [win98 win2k winxp win2003 vista win7]
# Needs an X display for the boxes it watches for; makes a virtual one when
# there is none. Prefixes live under <test build dir>/removal-road.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(cd "$1" && pwd)
shift
arch=${QUELLIN_TEST_ARCH:-$("$root/tools/test-arch")}
source "$root/tools/wine-env.sh"
unset WINEPREFIX

if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24" bash "${BASH_SOURCE[0]}" "$build" "$@"
fi
exec python3 "$here/removal_road.py" "$build" "$@"
