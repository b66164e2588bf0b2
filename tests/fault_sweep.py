#!/usr/bin/env python3
"""tests/faults/fault_sweep_test.cpp on machine.py's machine (XP and NT 6), and its XP sweep again on the
plugged-in-first one, each in a prefix of its own, side by side.  tests/fault_sweep.py <test build dir>"""
import os
import sys
from concurrent.futures import ThreadPoolExecutor

import machine as m
from prefix import Prefix

SWEEPS = [("fault-sweep-xp", None, "*.WindowsXp"), ("fault-sweep-nt6", None, "*.Nt6"),
          ("fault-sweep-plugged", "plugged", "*.WindowsXpPluggedInFirst")]
# The keys the removal works on (the removal road watches the whole of SYSTEM).
EXPORTED = [rf"SYSTEM\{cs}\{key}" for cs in m.CONTROL_SETS for key in [
    "Enum", "Services", r"Control\Class", r"Control\DeviceClasses", r"Control\COM Name Arbiter"]] + [
    r"SYSTEM\LastKnownGoodRecovery"] + m.EXPORTED[1:]
prefixes, results = [], []
try:
    for name, variant, _ in SWEEPS:
        prefixes.append(p := Prefix(sys.argv[1], name).start(tools=("robot.exe", "fault_sweep.exe")))
        p.install(os.path.join(p.build, "tests"), r"windows\system32", "pnputil.exe")  # NT 6's package tool
        p.env.update(FAULT_SWEEP_EXPORT=";".join(EXPORTED), FAULT_SWEEP_FOLDERS=";".join(m.FILE_FOLDERS))
        p.seed(m.seed_lines(variant))  # C:\t\seed.txt, which the sweep applies before each run
    with ThreadPoolExecutor(len(SWEEPS)) as pool:
        results = list(pool.map(lambda p, s: p.wine(r"C:\t\fault_sweep.exe", "--gtest_filter=" + s[2], check=False,
                                                    timeout=900), prefixes, SWEEPS))
finally:
    for p in prefixes:
        p.stop()
for p, (code, out) in zip(prefixes, results):
    print("== %s: exit code %d\n%s" % (os.path.basename(p.path), code, out), flush=True)
sys.exit(1 if not results or any(code for code, _ in results) else 0)
