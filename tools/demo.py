#!/usr/bin/env python3
"""The program's main job under Wine, for `make demo`.

A prefix of its own (<build>/prefixes/demo, tests/prefix.py) gets an earlier
installation of the phone's drivers (tests/machine.py, the seed of the removal
suite: device nodes, driver services, driver, device and interface keys in all
three control sets, ports, LEGACY_ keys, last-known-good entries, OEM INF
copies, driver files) and the shipped layout C:\\TAVRO\\Setup\\Quellin9.exe
beside C:\\TAVRO\\Drivers. Then the normal road runs: the removal, notice 15006
answered, the packages staged, the wizard shown, the phone plugged in function
by function and the finishing button pressed. Without a display of the user's
own, the test robot does the clicking and screenshots of the virtual display
go to build/demo/<language>/*.png (QUELLIN_DEMO_LANG: zh_CN, zh_TW or en_US,
which tools/demo turns into the locale Wine runs in); with one, the program
runs there and the clicks are the user's. The report says what was found and
removed and what was staged.
"""
import hashlib
import os
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests"))
import machine  # noqa: E402
from prefix import ROBOT, Prefix  # noqa: E402

BUILD = os.path.abspath(sys.argv[1])
INTERACTIVE = len(sys.argv) > 2 and sys.argv[2] == "--interactive"
VERSION = os.environ.get("QUELLIN_DEMO_VERSION", "winxp")
LANGUAGE = os.environ.get("QUELLIN_DEMO_LANG", "zh_CN")
DEMO = os.path.join(ROOT, "build", "demo", LANGUAGE)
PROGRAM = r"C:\TAVRO\Setup\Quellin9.exe"


def prepare_prefix():
    p = Prefix(BUILD, "demo").start()
    dist = os.path.join(BUILD, "dist")
    p.install(os.path.join(dist, "Setup"), r"TAVRO\Setup", "Quellin9.exe")
    p.install(os.path.join(dist, "Drivers"), r"TAVRO\Drivers", *os.listdir(os.path.join(dist, "Drivers")))
    # Wine has no driver-package tool, which the removal starts on Vista and later.
    p.install(os.path.join(BUILD, "tests"), r"windows\system32", "pnputil.exe")
    p.version("Quellin9.exe", VERSION)
    return p


def screen():
    return subprocess.run("xwd -root -silent", shell=True, stdout=subprocess.PIPE, check=True).stdout


def shot(name):
    subprocess.run(["convert", "xwd:-", os.path.join(DEMO, name + ".png")], input=screen(), check=True)


def robot(p, *steps):
    output = p.wine(ROBOT, *steps)[1]
    return dict(line.split("=", 1) for line in output.splitlines() if "=" in line)


def run_road(p):
    if INTERACTIVE:
        print("== The program runs on your display; the clicks are yours.")
        p.wine(PROGRAM, check=False, timeout=None)
        return {}
    program = p.popen(PROGRAM, "/I")
    # The removal runs first; the notice is the first thing on the black screen.
    for _ in range(300):
        mean = subprocess.run(["convert", "xwd:-", "-format", "%[fx:mean]", "info:"], input=screen(),
                              stdout=subprocess.PIPE, check=True).stdout
        if float(mean or 0) > 0.01:
            break
        time.sleep(0.2)
    time.sleep(0.5)
    shot("1-notice")
    facts = robot(p, "box=ok@notice", "wizard@waiting")
    shot("2-waiting")
    facts.update(robot(p, "plug=0", "plug=1", "wizard@halfway"))
    shot("3-halfway")
    facts.update(robot(p, "plug=2", "plug=3", "wizard@done"))
    shot("4-finished")
    robot(p, "press=3")
    facts["exit1"] = str(program.wait(timeout=60))
    return facts


def report(p, before, after, facts):
    reg_before, reg_after = {x for x in before if x[0] in "KV"}, {x for x in after if x[0] in "KV"}
    # "F <path> <digest> <mode>"
    files_before, files_after = ({x[2:].rsplit(" ", 2)[0]: x.rsplit(" ", 2)[1] for x in s if x[0] == "F"}
                                 for s in (before, after))
    keys = sorted(line[2:] for line in reg_before - reg_after if line.startswith("K "))
    top = [k for k in keys if not any(k.startswith(other + "\\") for other in keys if other != k)]
    values = sorted(line for line in reg_before - reg_after
                    if line.startswith("V ") and line[2:].split("\t")[0] not in keys)
    print("\n== Found and removed (%d keys in %d trees, %d values changed or deleted)" %
          (len(keys), len(top), len(values)))
    for k in top:
        print("   key   " + k)
    for v in values:
        path, name = v[2:].split("\t")[:2]
        still = any(line.startswith("V " + path + "\t" + name + "\t") for line in reg_after)
        print("   value %s\\%s%s" % (path, name, " (changed)" if still else ""))
    for f in sorted(set(files_before) - set(files_after)):
        print("   file  C:\\" + f)
    print("\n== Staged in the driver store")
    drivers = p.windows_path(r"C:\TAVRO\Drivers")
    packages = {hashlib.sha256(open(os.path.join(drivers, n), "rb").read()).hexdigest()[:16]: n
                for n in os.listdir(drivers) if n.endswith(".inf")}
    for f in sorted(set(files_after) - set(files_before)):
        origin = packages.get(files_after[f]) if f.endswith(".inf") else None
        print("   C:\\%s%s" % (f, "  (copy of " + origin + ")" if origin else ""))
    if facts:
        print("\n== The wizard")
        print("   notice:  %s" % facts.get("notice.caption", "?"))
        for tag in ["waiting", "halfway", "done"]:
            print("   %-8s progress %s of %s, finish button %s, Cancel %s" % (
                tag + ":", facts.get(tag + ".progress.pos"), facts.get(tag + ".progress.range"),
                "enabled" if facts.get(tag + ".button3.enabled") == "1" else "disabled",
                "enabled" if facts.get(tag + ".button2.enabled") == "1" else "disabled"))
        print("   exit code: %s" % facts.get("exit1", "?"))
        pngs = sorted(n for n in os.listdir(DEMO) if n.endswith(".png"))
        print("   screenshots: " + ", ".join(os.path.join("build", "demo", LANGUAGE, n) for n in pngs))
    flag = [line for line in reg_after if "TV4170K\tInstallFlag" in line]
    value = int.from_bytes(bytes.fromhex(flag[0].split("\t")[-1]), "little") if flag else None
    print("   InstallFlag now: %s" % ("absent" if value is None else value))


def main():
    os.makedirs(DEMO, exist_ok=True)
    for n in os.listdir(DEMO):
        if n.endswith(".png"):
            os.remove(os.path.join(DEMO, n))
    print("== Preparing %s (Windows version as Wine reports it: %s, language %s)" %
          (Prefix(BUILD, "demo").path, VERSION, LANGUAGE))
    p = prepare_prefix()
    try:
        p.seed(machine.seed_lines())
        before = p.export(machine.EXPORTED, machine.FILE_FOLDERS)
        print("== Seeded an earlier installation: %d registry lines, %d files in the Windows folders" %
              (sum(x[0] != "F" for x in before), sum(x[0] == "F" for x in before)))
        print("== Running " + PROGRAM)
        facts = run_road(p)
        after = p.export(machine.EXPORTED, machine.FILE_FOLDERS)
        report(p, before, after, facts)
    finally:
        p.stop()


if __name__ == "__main__":
    main()
