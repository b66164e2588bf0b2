#!/usr/bin/env python3
"""Quellin9.exe /R on machine.py's machine, one prefix per Windows version: exact registry and file
diffs against what that version's removal takes, the look-alikes kept; a second run changes nothing
and shows no box; the launcher told once per run; on NT 6 exact command lines for the package tool.
  tests/removal_road.py <test build dir> [version...]"""
import os
import sys
import time

import machine as m
from prefix import Prefix, diff

# Wine's version name, the OsClass the program derives, the machine's variant (machine.py).
VERSIONS = [("win98", 1, None), ("nt40", 10, None), ("win2k", 11, "plugged"), ("winxp", 12, "plugged"),
            ("winxp", 12, "older"), ("win2003", 13, "older"), ("vista", 14, "plugged"), ("win7", 14, "older"),
            ("win10", 14, None)]
# Versions whose product key lacks InstallFlag: the removal must not create it.
FLAG_ABSENT = {"win2003", "win7"}
# Names that mark an entry as another product's: each such line must survive.
LOOKALIKE_MARKS = ["5c14", "mi_07", "0403", "pnp0501", "com1:", "com10:", "com18:", "com23:", "com34:", "com50:",
                   "com120:", "oem1.", "oem120", "oem31", "oem32", "usb.", "oem40", "other", "tvx", "ftser", "tvybusx",
                   "usbser", "usbccgp", "usbhub", "tvymdm2", r"\0030", r"\0004", r"\0005", r"\0013"]


class Export:
    """Registry and file lines of an export, addressed without letter case."""

    def __init__(self, lines):
        self.lines = {}
        for line in lines:
            kind, rest = line[0], line[2:]
            path, name = rest.split("\t")[:2] if kind == "V" else (rest.split(" ")[0] if kind == "F" else rest, "")
            self.lines[(kind, path.lower(), name.lower())] = line

    def delete(self, path, must_exist=True):
        p = path.lower()
        kept = {k: v for k, v in self.lines.items() if k[1] != p and not k[1].startswith(p + "\\")}
        if must_exist and len(kept) == len(self.lines):
            raise AssertionError("seed lacks " + path)
        self.lines = kept

    def delete_node(self, path):
        self.delete(path)
        parent = path.rsplit("\\", 1)[0].lower()
        if not any(k[1].startswith(parent + "\\") for k in self.lines):
            self.delete(parent)

    def set_value(self, path, name, type_, hexdata):
        key = ("V", path.lower(), name.lower())
        self.lines[key] = "V %s\t%s\t%d\t%s" % (tuple(self.lines.pop(key)[2:].split("\t")[:2]) + (type_, hexdata))

    def delete_value(self, path, name):
        del self.lines[("V", path.lower(), name.lower())]


def expected(before, os_class, variant):
    """What the removal of that OsClass leaves of the seeded machine."""
    r = Export(before)
    stems, copies = m.phone_infs(variant), m.phone_copies(variant)
    if ("V", m.PRODUCT_KEY.lower(), "installflag") in r.lines:
        r.set_value(m.PRODUCT_KEY, "InstallFlag", 4, "00000000")
    removes_devices, nt6, purges = os_class in (11, 12), os_class == 14, os_class >= 11 and os_class != 14
    # Nodes of Wine's one device tree (CurrentControlSet) the class installer removes: on 2000 and XP the
    # modems and the composite device, on NT 6 every function. Wine takes the node's key (its parent too
    # once empty) and its interfaces, and leaves a driver key that has subkeys.
    removed = [d for d in m.phone(variant) if removes_devices and d["cls"] != m.PORTS_CLASS or nt6]
    for d in removed:
        r.delete_node(rf"SYSTEM\CurrentControlSet\Enum\USB\{d['id']}\{d['inst']}")
        r.delete(rf"SYSTEM\CurrentControlSet\Control\DeviceClasses\{d['iface']}\{m.interface_name(d)}")
    for d in m.removed_root_nodes(os_class):  # these take their driver keys along
        r.delete_node(rf"SYSTEM\CurrentControlSet\Enum\{d['inst']}")
        r.delete(rf"SYSTEM\CurrentControlSet\Control\Class\{d['cls']}\{d['drv']}")
    for name in m.PHONE_SERVICES if removes_devices or nt6 else []:
        r.delete(rf"SYSTEM\CurrentControlSet\Services\{name}")
    # Files: the driver-key INFs, and on 2000 and XP the stale scan's oem*.inf;
    # on NT 6 only the package tool, which takes every INF naming the phone.
    infs = set(copies) if nt6 else set(stems) | ({c for c in copies if c.startswith("oem")} if removes_devices else set())
    folders = ([""] if os_class >= 11 else []) + (["lastgood\\"] if os_class == 12 else [])
    for folder in folders:
        for n in m.DRIVER_FILES:
            if n != m.UNDELETABLE:
                r.delete(rf"windows\{folder}system32\drivers\{n}")
        for stem in infs if not folder else stems:
            r.delete(rf"windows\{folder}inf\{stem}.inf", must_exist=bool(folder) or stem in copies)
            r.delete(rf"windows\{folder}inf\{stem}.pnf")
    if not purges:
        return set(r.lines.values())

    # The purge: each control set's own instances, ports and driver keys; what the class installer took is
    # out of its reach.
    released = set()
    for cs in m.CONTROL_SETS:
        control = rf"SYSTEM\{cs}\Control"
        reached = [d for d in m.phone(variant, cs) if cs != "CurrentControlSet" or d not in removed]
        ports = {d["port"] for d in reached if d["port"]}
        released |= ports
        r.set_value(control + r"\COM Name Arbiter", "ComDB", 3,
                    m.comdb([n for n in m.ports(cs) if "COM%d" % n not in ports] + m.OTHER_PORTS))
        for d in m.phone(variant, cs):
            r.delete(rf"{control}\DeviceClasses\{d['iface']}\{m.interface_name(d)}", must_exist=False)
            if d in reached:
                r.delete(rf"{control}\Class\{d['cls']}\{d['drv']}")
            r.delete(rf"SYSTEM\{cs}\Enum\USB\{d['id']}", must_exist=False)
        for name in m.PHONE_SERVICES if os_class == 11 else []:
            r.delete(rf"SYSTEM\{cs}\Enum\Root\LEGACY_{name.upper()}")
    for port in released:
        r.delete_value(m.PORTS_KEY, port + ":")
    for name in m.PHONE_SERVICES:
        r.delete(rf"SYSTEM\ControlSet002\Services\{name}")
    for name in m.lastgood_values(variant) if os_class == 12 else []:
        upper = name.upper()  # a stem followed by a digit names another INF (oem120 for oem12)
        if any(0 <= upper.find(s.upper()) and not upper[upper.find(s.upper()) + len(s):][:1].isdigit() for s in stems):
            r.delete_value(m.LASTGOOD_KEY, name)
    r.delete(m.MODEM_KEY)
    return set(r.lines.values())


def read(prefix, name):
    path = prefix.windows_path("C:\\" + name)
    return [l for l in open(path, encoding="latin-1").read().splitlines() if l] if os.path.exists(path) else []


def road(build, version, os_class, variant, problems):
    lookalikes = ()
    p = Prefix(build, "removal-%s-%s" % (version, variant)).start(tools=("robot.exe", "launcher.exe"))
    try:
        tools = os.path.join(p.build, "tests")
        p.install(os.path.join(p.build, "dist", "Setup"), "Setup", "Quellin9.exe")
        p.install(tools, r"windows\system32", "pnputil.exe")
        p.install(tools, "Setup", "pnputil.exe")  # a planted namesake that must never run
        p.seed([l for l in m.seed_lines(variant) if version not in FLAG_ABSENT or "\tInstallFlag\t" not in l
                or "Other" in l])
        if variant == "older":  # the port COM1 is a file holding the phone's INF, and so is INF\COM1.inf
            for name in "com1-port", "COM1.inf":
                with open(p.windows_path(r"C:\windows\inf" + "\\" + name), "w", newline="") as f:
                    f.write(m.inf_text(r"USB\VID_1B3F&PID_5C13&MI_05"))
            os.remove(os.path.join(p.path, "dosdevices", "com1"))
            os.symlink(p.windows_path(r"C:\windows\inf\com1-port"), os.path.join(p.path, "dosdevices", "com1"))
        p.version("Quellin9.exe", version)
        launcher = p.popen(r"C:\t\launcher.exe", r"C:\launcher.log", "600")
        for _ in range(300):  # up to a minute for the launcher to come up
            if "ready" in read(p, "launcher.log"):
                break
            time.sleep(0.2)
        before = p.export(m.EXPORTED, m.FILE_FOLDERS)
        want = expected(before, os_class, variant)
        tool_lines = sorted("pnputil.exe -f -d %s.inf" % s for s in m.phone_copies(variant))
        for run in (1, 2):
            code, out = p.wine(r"C:\t\robot.exe", "run", r"C:\Setup\Quellin9.exe", "/R", "--", "boxes=90",
                               check=False, cwd=p.windows_path(r"C:\Setup"))
            if code != 0 or "box1." in out or "exit1=0" not in out:
                problems.append("run %d: robot %d: %s" % (run, code, out.strip().replace("\n", " | ")))
            after = p.export(m.EXPORTED, m.FILE_FOLDERS)
            problems += diff("run %d" % run, want, after)
            if run == 1:  # what the program kept of the other products' entries
                lookalikes = {l for l in before & after if any(k in l.lower() for k in LOOKALIKE_MARKS)}
                problems += ["only %d look-alike entries kept" % len(lookalikes)] if len(lookalikes) < 50 else []
            want = after
            told = [l for l in read(p, "launcher.log") if l != "ready"]
            if told != ["launcher WM_DEVICECHANGE wParam=0 lParam=0"] * run:
                problems.append("run %d: launcher got %r" % (run, told))
            starts = [l.split("\t") for l in read(p, "pnputil.log")]
            if sorted(s[0] for s in starts) != (tool_lines if os_class == 14 else []):
                problems.append("run %d: package tool started as %r" % (run, [s[0] for s in starts]))
            problems += ["package tool ran from " + s[-1] for s in starts
                         if s[-1].lower() != r"c:\windows\system32\pnputil.exe"]
        p.wine(r"C:\t\robot.exe", "close-launcher", check=False)
        launcher.wait(timeout=30)
    except Exception as error:  # a broken seed or tool: report it as this version's failure
        problems.append("%s: %s" % (type(error).__name__, error))
    finally:
        p.stop(remove=not problems)
    return len(lookalikes)


def main(build, only):
    failed = 0
    for version, os_class, variant in [v for v in VERSIONS if not only or v[0] in only]:
        started, problems = time.time(), []
        kept = road(build, version, os_class, variant, problems)
        print("removal road %-8s OsClass %2d%s: %s, %d look-alikes kept  [%.0f s]" % (
            version, os_class, " (%s)" % variant if variant else "", "FAILED" if problems else "ok", kept,
            time.time() - started), *["    " + line for line in problems], sep="\n", flush=True)
        failed += bool(problems)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2:]))
