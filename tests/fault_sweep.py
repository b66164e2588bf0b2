#!/usr/bin/env python3
"""The fault sweep (tests/faults/fault_sweep_test.cpp) on machine.py's machine, and its XP sweep again on the
machine whose phone was plugged in first: two prefixes side by side.  tests/fault_sweep.py <test build dir>"""
import os
import sys
from concurrent.futures import ThreadPoolExecutor

import machine as m
from prefix import Prefix

SEED = r"C:\t\sweep-seed.txt"


def main(build):
    prefixes, results = [], []
    try:
        for name, lines in [("fault-sweep", m.seed_lines()), ("fault-sweep-plugged", m.seed_lines(plugged_first=True))]:
            p = Prefix(build, name).start(tools=("robot.exe", "pnputil.exe", "fault_sweep.exe"))
            prefixes.append(p)
            # NT 6 hands the packages to the system's tool: the stand-in.
            p.install(os.path.join(p.build, "tests"), r"windows\system32", "pnputil.exe")
            p.env.update(WINEDEBUG=os.environ.get("WINEDEBUG", "-all"), FAULT_SWEEP_SEED=SEED,
                         FAULT_SWEEP_EXPORT=";".join(m.EXPORTED),
                         FAULT_SWEEP_FOLDERS=";".join("C:\\windows\\" + f for f in m.FILE_FOLDERS))
            with open(p.windows_path(SEED), "w", encoding="utf-8", newline="\n") as f:
                f.write("\n".join(lines) + "\n")
            p.seed(lines)
        with ThreadPoolExecutor(2) as pool:
            results = list(pool.map(lambda p, only: p.wine(r"C:\t\fault_sweep.exe", "--gtest_filter=" + only,
                                                           check=False, timeout=300), prefixes, ["*", "*Xp"]))
    finally:
        for p in prefixes:
            p.stop()
        for p, (code, out) in zip(prefixes, results):
            print("== %s: exit code %d\n%s" % (os.path.basename(p.path), code, out), flush=True)
    return 0 if all(code == 0 for code, _ in results) else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
