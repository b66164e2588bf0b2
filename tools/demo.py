#!/usr/bin/env python3
"""The program's main job under Wine, for `make demo`.

A prefix of its own (build/demo/prefix) gets an earlier installation of the
phone's drivers (the same seed as the process-level removal suite: device
nodes, driver services, driver, device and interface keys in all three
control sets, ports, LEGACY_ keys, last-known-good entries, OEM INF copies,
driver files) and the shipped layout C:\\TAVRO\\Setup\\Quellin9.exe beside
C:\\TAVRO\\Drivers. Then the normal road runs: the removal, notice 15006
answered, the packages staged, the wizard shown, the phone plugged in
function by function and the finishing button pressed. Without a display of
the user's own, the test robot does the clicking and screenshots go to
build/demo/*.png; with one, the program runs there and the clicks are the
user's. The report says what was found and removed and what was staged.
"""
import os
import shutil
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = sys.argv[1]
INTERACTIVE = len(sys.argv) > 2 and sys.argv[2] == "--interactive"
VERSION = os.environ.get("QUELLIN_DEMO_VERSION", "winxp")
WINE = os.environ["WINE"]
WINESERVER = os.path.join(os.path.dirname(WINE), "wineserver")
DEMO = os.path.join(ROOT, "build", "demo")
PREFIX = os.environ["WINEPREFIX"]
DRIVE_C = os.path.join(PREFIX, "drive_c")
TOOLS = os.path.join(BUILD, "tests")

# The removal suite's seed is the demo's earlier installation.
sys.path.insert(0, os.path.join(ROOT, "tests", "removal"))
sys.argv = [sys.argv[0], BUILD]
import removal_road  # noqa: E402

EXPORTED = ["SYSTEM", r"SOFTWARE\TAVRO", removal_road.PORTS_KEY,
            r"SOFTWARE\Microsoft\Windows\CurrentVersion\Unimodem"]


def wine(*args, check=True, timeout=300):
    result = subprocess.run([WINE] + list(args), stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                            stdin=subprocess.DEVNULL, timeout=timeout)
    if check and result.returncode != 0:
        sys.exit("demo: %s failed with %d" % (" ".join(args), result.returncode))
    return result.stdout.decode("utf-8", "replace")


def prepare_prefix():
    pristine = subprocess.run([os.path.join(ROOT, "tools", "wine-prefix")], env=dict(
        os.environ, WINEPREFIX=os.path.join(ROOT, "build", "wine", os.environ["QUELLIN_ARCH"], "prefix")),
        stdout=subprocess.PIPE, check=True).stdout.decode().strip()
    subprocess.run([WINESERVER, "-k"], stderr=subprocess.DEVNULL)
    shutil.rmtree(PREFIX, ignore_errors=True)
    subprocess.run(["cp", "-a", pristine, PREFIX], check=True)
    subprocess.run([WINESERVER, "-p"], check=True)
    subprocess.run([WINE, "wineboot"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   stdin=subprocess.DEVNULL)
    dist = os.path.join(BUILD, "dist")
    shutil.copytree(os.path.join(dist, "Setup"), os.path.join(DRIVE_C, "TAVRO", "Setup"))
    shutil.copytree(os.path.join(dist, "Drivers"), os.path.join(DRIVE_C, "TAVRO", "Drivers"))
    os.makedirs(os.path.join(DRIVE_C, "demo"))
    for tool in ["removal_road_helper.exe", "robot.exe"]:
        shutil.copy(os.path.join(TOOLS, tool), os.path.join(DRIVE_C, "demo", tool))
    # Wine has no driver-package tool, which the removal starts on Vista and later.
    shutil.copy(os.path.join(TOOLS, "pnputil.exe"), os.path.join(DRIVE_C, "windows", "system32"))
    wine("reg", "add", r"HKCU\Software\Wine\AppDefaults\Quellin9.exe", "/v", "Version", "/d", VERSION, "/f")


def seed():
    with open(os.path.join(DRIVE_C, "demo", "seed.txt"), "w", encoding="latin-1") as f:
        f.write("\n".join(removal_road.seed_lines()) + "\n")
    wine(r"C:\demo\removal_road_helper.exe", "seed", r"C:\demo\seed.txt")
    removal_road.seed_files(DRIVE_C)


def snapshot(name):
    wine(r"C:\demo\removal_road_helper.exe", "export", "C:\\demo\\" + name, *EXPORTED)
    with open(os.path.join(DRIVE_C, "demo", name), encoding="latin-1") as f:
        registry = set(line for line in f.read().splitlines() if line)
    files = set()
    windows = os.path.join(DRIVE_C, "windows")
    for folder in ["inf", "LastGood", os.path.join("system32", "drivers")]:
        for base, _, names in os.walk(os.path.join(windows, folder)):
            for n in names:
                files.add(os.path.relpath(os.path.join(base, n), DRIVE_C))
    return registry, files


def run_road():
    if INTERACTIVE:
        print("== The program runs on your display; the clicks are yours.")
        wine(r"C:\TAVRO\Setup\Quellin9.exe", check=False, timeout=None)
        return {}
    shot = lambda name: "shot=Z:" + os.path.join(DEMO, name + ".bmp").replace("/", "\\")
    steps = ["sleep=4000", shot("1-notice"), "box=ok@notice", "wizard@waiting", shot("2-waiting"),
             "plug=0", "plug=1", "wizard@halfway", shot("3-halfway"), "plug=2", "plug=3", "wizard@done",
             shot("4-finished"), "press=3", "exit"]
    output = wine(r"C:\demo\robot.exe", "run", r"C:\TAVRO\Setup\Quellin9.exe", "/I", "--", *steps)
    facts = dict(line.split("=", 1) for line in output.splitlines() if "=" in line)
    for name in ["1-notice", "2-waiting", "3-halfway", "4-finished"]:
        bmp = os.path.join(DEMO, name + ".bmp")
        if os.path.exists(bmp):
            subprocess.run(["convert", bmp, os.path.join(DEMO, name + ".png")], check=True)
            os.remove(bmp)
    return facts


def removed_keys(before, after):
    keys = sorted(line[2:] for line in before - after if line.startswith("K "))
    top = [k for k in keys if not any(k.startswith(other + "\\") for other in keys if other != k)]
    return keys, top


def report(before, after, facts):
    (reg_before, files_before), (reg_after, files_after) = before, after
    keys, top = removed_keys(reg_before, reg_after)
    gone_keys = set(keys)
    values = sorted(line for line in reg_before - reg_after
                    if line.startswith("V ") and line[2:].split("\t")[0] not in gone_keys)
    print("\n== Found and removed (%d keys in %d trees, %d values changed or deleted)" %
          (len(keys), len(top), len(values)))
    for k in top:
        print("   key   " + k)
    for v in values:
        path, name = v[2:].split("\t")[:2]
        still = any(line.startswith("V " + path + "\t" + name + "\t") for line in reg_after)
        print("   value %s\\%s%s" % (path, name, " (changed)" if still else ""))
    for f in sorted(files_before - files_after):
        print("   file  C:\\" + f.replace(os.sep, "\\"))
    print("\n== Staged in the driver store")
    drivers = os.path.join(DRIVE_C, "TAVRO", "Drivers")
    packages = {open(os.path.join(drivers, n), "rb").read(): n for n in os.listdir(drivers) if n.endswith(".inf")}
    for f in sorted(files_after - files_before):
        path = os.path.join(DRIVE_C, f)
        origin = packages.get(open(path, "rb").read()) if f.lower().endswith(".inf") else None
        print("   C:\\%s%s" % (f.replace(os.sep, "\\"), "  (copy of " + origin + ")" if origin else ""))
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
        print("   screenshots: " + ", ".join(os.path.join("build", "demo", n) for n in pngs))
    flag = [line for line in reg_after if "TV4170K\tInstallFlag" in line]
    value = int.from_bytes(bytes.fromhex(flag[0].split("\t")[-1]), "little") if flag else None
    print("   InstallFlag now: %s" % ("absent" if value is None else value))


def main():
    os.makedirs(DEMO, exist_ok=True)
    for n in os.listdir(DEMO):
        if n.endswith(".png"):
            os.remove(os.path.join(DEMO, n))
    print("== Preparing %s (Windows version as Wine reports it: %s)" % (PREFIX, VERSION))
    prepare_prefix()
    try:
        seed()
        before = snapshot("before.txt")
        print("== Seeded an earlier installation: %d registry lines, %d files in the Windows folders" %
              (len(before[0]), len(before[1])))
        print("== Running C:\\TAVRO\\Setup\\Quellin9.exe")
        facts = run_road()
        after = snapshot("after.txt")
        report(before, after, facts)
    finally:
        subprocess.run([WINESERVER, "-k"], stderr=subprocess.DEVNULL)


if __name__ == "__main__":
    main()
