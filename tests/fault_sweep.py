#!/usr/bin/env python3
"""tests/faults/fault_sweep_test.cpp on machine.py's machine, and its XP sweep again on the plugged-in-first one,
in two prefixes side by side.  tests/fault_sweep.py <test build dir>"""
import os
import sys
from concurrent.futures import ThreadPoolExecutor

import machine as m
from prefix import Prefix

prefixes = []
try:
    for name, variant in ("fault-sweep", None), ("fault-sweep-plugged", "plugged"):
        prefixes.append(p := Prefix(sys.argv[1], name).start(tools=("robot.exe", "fault_sweep.exe")))
        p.install(os.path.join(p.build, "tests"), r"windows\system32", "pnputil.exe")  # NT 6's package tool
        p.env.update(FAULT_SWEEP_EXPORT=";".join(m.EXPORTED), FAULT_SWEEP_FOLDERS=";".join(m.FILE_FOLDERS))
        p.seed(m.seed_lines(variant))  # C:\t\seed.txt, which the sweep applies before each run
    with ThreadPoolExecutor(2) as pool:
        results = list(pool.map(lambda p, tests: p.wine(r"C:\t\fault_sweep.exe", "--gtest_filter=" + tests,
                                                        check=False, timeout=300), prefixes, ["*", "*Xp"]))
finally:
    for p in prefixes:
        p.stop()
for p, (code, out) in zip(prefixes, results):
    print("== %s: exit code %d\n%s" % (os.path.basename(p.path), code, out), flush=True)
sys.exit(1 if any(code for code, _ in results) else 0)
