#!/usr/bin/env python3
"""The /R road on seeded machines, one Wine prefix per Windows version.

Each prefix gets an earlier installation of the phone's drivers in all three
control sets (devices, driver and interface keys, ports, services, LEGACY_
keys, last-known-good entries, OEM INF copies, driver files, the Unimodem key,
InstallFlag) and look-alikes that must survive. Quellin9.exe /R runs twice;
registry and file exports taken before and after are compared with what the
removal of that Windows version is meant to take away. Called by
removal_road_test.sh with the test build directory. `make demo` imports it for
seed_lines() and seed_files().
"""
import hashlib
import os
import shutil
import subprocess
import sys
import time

# Wine's version name and the OsClass the program must derive from it.
VERSIONS = [("win98", 1), ("win2k", 11), ("winxp", 12), ("win2003", 13), ("vista", 14), ("win7", 14)]

CONTROL_SETS = ["ControlSet001", "ControlSet002", "CurrentControlSet"]
USB_CLASS = "{36FC9E60-C465-11CF-8056-444553540000}"
MODEM_CLASS = "{4D36E96D-E325-11CE-BFC1-08002BE10318}"
PORTS_CLASS = "{4D36E978-E325-11CE-BFC1-08002BE10318}"
CLASS_NAMES = {USB_CLASS: "USB", MODEM_CLASS: "Modem", PORTS_CLASS: "Ports"}
IF_USB = "{A5DCBF10-6530-11D2-901F-00C04FB951ED}"
IF_MODEM = "{2C7089AA-2E0E-11D1-B114-00C04FC2AAE4}"
IF_COMPORT = "{86E0D1E0-8089-11D0-9CE4-08003E301F73}"
PRODUCT_KEY = r"SOFTWARE\TAVRO\TAVRO GSM GPRS USB Driver TV4170K"
PORTS_KEY = r"SOFTWARE\Microsoft\Windows NT\CurrentVersion\Ports"
LASTGOOD_KEY = r"SYSTEM\LastKnownGoodRecovery\LastGood"
UNIMODEM_KEY = r"SOFTWARE\Microsoft\Windows\CurrentVersion\Unimodem\DeviceSpecific"


def device(id, inst, cls, drv, svc, inf, port, desc, hw, iface=None, lower_iface=False):
    return dict(id=id, inst=inst, cls=cls, drv=drv, svc=svc, inf=inf, port=port, desc=desc, hw=hw,
                iface=iface, lower_iface=lower_iface)


PHONE = [
    device("VID_1B3F&PID_5C13", "5&1A2B3C4D&0&1", USB_CLASS, "0021", "TVybus", "oem7", None,
           "TAVRO USB Composite Device", [r"USB\VID_1B3F&PID_5C13&REV_0100", r"USB\VID_1B3F&PID_5C13"], IF_USB),
    device("VID_1B3F&PID_5C13&Mi_01", "6&2B3C4D5E&0&0001", MODEM_CLASS, "0003", "TVymdm", "oem12", "COM5",
           "TV4170K USB Modem", [r"USB\VID_1B3F&PID_5C13&REV_0100&MI_01", r"USB\VID_1B3F&PID_5C13&MI_01"],
           IF_MODEM),
    device("VID_1B3F&PID_5C13&Mi_03", "6&2B3C4D5E&0&0003", PORTS_CLASS, "0011", "TVymdfl", "oem13", "COM12",
           "TAVRO Diagnostic Port", [r"USB\VID_1B3F&PID_5C13&REV_0100&MI_03", r"USB\VID_1B3F&PID_5C13&MI_03"],
           IF_COMPORT, lower_iface=True),
    device("VID_1B3F&PID_5C13&Mi_05", "6&2B3C4D5E&0&0005", PORTS_CLASS, "0012", "TVyobex", "oem14", "COM21",
           "TAVRO OBEX Port", [r"USB\VID_1B3F&PID_5C13&REV_0100&MI_05", r"USB\VID_1B3F&PID_5C13&MI_05"],
           IF_COMPORT),
]
# Look-alikes: another product of the maker (with a modem of the very same
# description), a function id of the phone that is none of the four, a serial
# adapter on COM50 and a built-in port COM1.
OTHERS = [
    device("VID_1B3F&PID_5C14", "5&9F8E7D6C&0&2", USB_CLASS, "0030", "TVxbus", "oem1", None,
           "TAVRO Other Phone", [r"USB\VID_1B3F&PID_5C14&REV_0100", r"USB\VID_1B3F&PID_5C14"], IF_USB),
    device("VID_1B3F&PID_5C14&Mi_01", "6&1F2E3D4C&0&0001", MODEM_CLASS, "0004", "TVxmdm", "oem1", "COM10",
           "TV4170K USB Modem", [r"USB\VID_1B3F&PID_5C14&REV_0100&MI_01", r"USB\VID_1B3F&PID_5C14&MI_01"],
           IF_MODEM),
    device("VID_1B3F&PID_5C13&MI_07", "6&2B3C4D5E&0&0007", MODEM_CLASS, "0005", "TVxmdm", "oem120", None,
           "tv4170k usb modem", [r"USB\VID_1B3F&PID_5C13&REV_0100&MI_07"]),
    device("VID_0403&PID_6001", "A1B2C3D4", PORTS_CLASS, "0013", "FTSER2K", "oem120", "COM50",
           "USB Serial Port", [r"USB\VID_0403&PID_6001&REV_0600", r"USB\VID_0403&PID_6001"], IF_COMPORT),
]
PHONE_SERVICES = ["TVybus", "TVymdfl", "TVymdm", "TVyobex"]
OTHER_SERVICES = ["TVxbus", "TVxmdm", "FTSER2K"]
DRIVER_FILES = ["TVybus.sys", "TVycm.sys", "TVycmnt.sys", "TVymdfl.sys", "TVymdm.sys", "TVymgmt.sys",
                "TVyobex.sys", "TVywh.sys", "TVywhnt.sys"]
PHONE_PORTS = ["COM5", "COM12", "COM21"]
ALL_PORTS = [1, 5, 10, 12, 21, 50]
LASTGOOD_VALUES = [r"INF\oem7.inf", r"INF\oem7.PNF", r"INF\OEM12.INF", r"INF\oem12.PNF", r"INF\oem13.inf",
                   r"INF\oem14.inf", r"INF\oem1.inf", r"INF\oem120.inf", r"system32\DRIVERS\TVybus.sys"]
PHONE_INFS = ["oem7", "oem12", "oem13", "oem14"]
STALE_INF = "oem30"  # a phone INF that no driver key names
OTHER_INFS = ["oem1", "oem120"]


def instance_path(cs, d):
    return rf"SYSTEM\{cs}\Enum\USB\{d['id']}\{d['inst']}"


def interface_name(d):
    return "##?#USB#" + d["id"].upper() + "#" + d["inst"] + "#" + d["iface"]


def comdb(ports):
    data = bytearray(32)
    for n in ports:
        data[(n - 1) // 8] |= 1 << ((n - 1) % 8)
    return data.hex()


# ---------------------------------------------------------------- seeding

def seed_lines():
    """The registry seed: operations of `removal_road_helper seed`."""
    lines = []

    def add(*fields):
        lines.append("\t".join(fields))

    # Device nodes of the current control set, through SetupAPI.
    for d in PHONE + OTHERS:
        add("device", "USB\\" + d["id"] + "\\" + d["inst"], d["cls"], d["desc"], *d["hw"])
    for cs in CONTROL_SETS:
        control = rf"SYSTEM\{cs}\Control"
        for d in PHONE + OTHERS:
            key = instance_path(cs, d)
            # Wine writes the class name into a device's key when it lists it.
            values = [("Driver", d["cls"] + "\\" + d["drv"]), ("Service", d["svc"]), ("Mfg", "TAVRO"),
                      ("Class", CLASS_NAMES[d["cls"]])]
            if cs != "CurrentControlSet":
                values += [("DeviceDesc", d["desc"]), ("ClassGUID", d["cls"])]
                add("multi_sz", key, "HardwareID", *d["hw"])
            for name, value in values:
                add("sz", key, name, value)
            if d["port"]:
                add("sz", key + r"\Device Parameters", "PortName", d["port"])
            else:
                add("dword", key + r"\Device Parameters", "SelectiveSuspendEnabled", "1")
            add("key", key + r"\LogConf")
            drv = rf"{control}\Class\{d['cls']}\{d['drv']}"
            for name, value in [("InfPath", d["inf"] + ".inf"), ("InfSection", "Install_" + d["drv"]),
                                ("DriverDesc", d["desc"]), ("ProviderName", "TAVRO")]:
                add("sz", drv, name, value)
            add("sz", drv + r"\Settings", "Prefix", "AT")
            if d["cls"] == MODEM_CLASS:
                add("sz", drv + r"\Init", "1", "AT<cr>")
                add("sz", drv + r"\Responses", "OK", "ok")
            if d["iface"]:
                instance_text = "USB\\" + d["id"] + "\\" + d["inst"]
                iface = rf"{control}\DeviceClasses\{d['iface']}\{interface_name(d)}"
                add("sz", iface, "DeviceInstance", instance_text.lower() if d["lower_iface"] else instance_text)
                add("sz", iface + r"\#", "SymbolicLink", "\\\\?\\" + interface_name(d)[4:])
                add("dword", iface + r"\#\Control", "Linked", "0")
        # Another device's interface, a built-in COM1 and the class names.
        add("sz", rf"{control}\DeviceClasses\{IF_COMPORT}\##?#ACPI#PNP0501#1#{IF_COMPORT}", "DeviceInstance",
            r"ACPI\PNP0501\1")
        add("sz", rf"SYSTEM\{cs}\Enum\ACPI\PNP0501\1\Device Parameters", "PortName", "COM1")
        for cls, name in CLASS_NAMES.items():
            add("sz", rf"{control}\Class\{cls}", "Class", name)
        add("binary", rf"{control}\COM Name Arbiter", "ComDB", comdb(ALL_PORTS))
        for name in PHONE_SERVICES + OTHER_SERVICES:
            add("sz", rf"SYSTEM\{cs}\Enum\Root\LEGACY_{name.upper()}\0000", "Service", name)
    for cs in ["ControlSet001", "ControlSet002"]:
        for name in PHONE_SERVICES + OTHER_SERVICES:
            key = rf"SYSTEM\{cs}\Services\{name}"
            add("dword", key, "Type", "1")
            add("dword", key, "Start", "3")
            add("expand_sz", key, "ImagePath", rf"system32\DRIVERS\{name}.sys")
            add("dword", key + r"\Enum", "Count", "1")
    for name in PHONE_SERVICES + OTHER_SERVICES[:1]:
        add("service", name, rf"system32\DRIVERS\{name}.sys")
    for port in ["COM5", "COM10", "COM12", "COM21", "COM50"]:
        add("sz", PORTS_KEY, port + ":", "9600,n,8,1")
    for name in LASTGOOD_VALUES:
        add("dword", LASTGOOD_KEY, name, "1")
    for name in ["TV4170K USB Modem::TAVRO::TAVRO", "Other Modem::Other::Other"]:
        add("dword", UNIMODEM_KEY + "\\" + name, "Calls", "3")
        add("sz", UNIMODEM_KEY + "\\" + name + r"\Init", "1", "ATZ")
    add("dword", PRODUCT_KEY, "InstallFlag", "1")
    add("sz", PRODUCT_KEY, "Version", "9.0.0.1")
    add("dword", r"SOFTWARE\TAVRO\Other Product", "InstallFlag", "1")
    return lines


def inf_text(hardware_id):
    return ("[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Ports\r\n"
            "ClassGuid={4D36E978-E325-11CE-BFC1-08002BE10318}\r\nProvider=TAVRO\r\n\r\n"
            "[Manufacturer]\r\nTAVRO=Tavro_wmc\r\n\r\n[Tavro_wmc]\r\n"
            "%Device%=Install, " + hardware_id + "\r\n\r\n[Install]\r\n")


def seed_files(drive_c):
    """OEM INF copies and driver files, in the folders and their LastGood twins."""
    windows = os.path.join(drive_c, "windows")
    infs = dict.fromkeys(PHONE_INFS + [STALE_INF], r"USB\VID_1B3F&PID_5C13&MI_01")
    infs.update(oem1=r"USB\VID_1B3F&PID_5C14", oem120=r"USB\VID_0403&PID_6001")
    for folder in ["inf", os.path.join("LastGood", "INF")]:
        os.makedirs(os.path.join(windows, folder), exist_ok=True)
        for stem, hardware_id in infs.items():
            write(os.path.join(windows, folder, stem + ".inf"), inf_text(hardware_id))
            write(os.path.join(windows, folder, stem + ".PNF"), "PNF " + stem)
    for folder in [os.path.join("system32", "drivers"), os.path.join("LastGood", "system32", "drivers")]:
        os.makedirs(os.path.join(windows, folder), exist_ok=True)
        for name in DRIVER_FILES + ["TVxbus.sys", "TVymdm2.sys"]:
            write(os.path.join(windows, folder, name), "driver " + name)
        # Wine keeps the read-only attribute as a missing write permission.
        os.chmod(os.path.join(windows, folder, "TVymdm.sys"), 0o444)


def write(path, text):
    with open(path, "w", newline="") as f:
        f.write(text)


# ---------------------------------------------------------------- expectations

class Registry:
    """An export: key lines and value lines, addressed without letter case."""

    def __init__(self, text):
        self.keys = {}
        self.values = {}
        for line in text.splitlines():
            if line.startswith("K "):
                self.keys[line[2:].lower()] = line
            elif line.startswith("V "):
                path, name, _, _ = line[2:].split("\t", 3)
                self.values[(path.lower(), name.lower())] = line

    def lines(self):
        return set(self.keys.values()) | set(self.values.values())

    def delete_tree(self, path, must_exist=True):
        p = path.lower()
        if must_exist and p not in self.keys:
            raise AssertionError("seed lacks key " + path)
        self.keys = {k: v for k, v in self.keys.items() if k != p and not k.startswith(p + "\\")}
        self.values = {k: v for k, v in self.values.items() if k[0] != p and not k[0].startswith(p + "\\")}

    def _value(self, path, name):
        key = (path.lower(), name.lower())
        if key not in self.values:
            raise AssertionError("seed lacks value %s\\%s" % (path, name))
        return key

    def delete_value(self, path, name):
        del self.values[self._value(path, name)]

    def set_value(self, path, name, type_, hexdata):
        key = self._value(path, name)
        original = self.values[key][2:].split("\t", 3)
        self.values[key] = "V %s\t%s\t%d\t%s" % (original[0], original[1], type_, hexdata)


def expected_registry(before, os_class):
    """What the removal of that OsClass leaves of the seeded registry."""
    r = Registry(before)
    r.set_value(PRODUCT_KEY, "InstallFlag", 4, "00000000")
    removes_devices = os_class in (11, 12)
    nt6 = os_class == 14
    purges = os_class >= 11 and os_class != 14

    # Device nodes removed through the class installer (Wine's, in the current
    # control set): the node's key, its emptied id key and its interface keys
    # go; Wine leaves the driver key. The modem step runs before the USB
    # device step.
    removed_nodes = [PHONE[1], PHONE[0]] if removes_devices else PHONE if nt6 else []
    for d in removed_nodes:
        r.delete_tree(rf"SYSTEM\CurrentControlSet\Enum\USB\{d['id']}")
        r.delete_tree(rf"SYSTEM\CurrentControlSet\Control\DeviceClasses\{d['iface']}\{interface_name(d)}")
    if removes_devices or nt6:
        for name in PHONE_SERVICES:
            r.delete_tree(rf"SYSTEM\CurrentControlSet\Services\{name}")
    if not purges:
        return r.lines()

    for cs in CONTROL_SETS:
        control = rf"SYSTEM\{cs}\Control"
        # Ports of the instances still there when the purge runs.
        removed_here = removed_nodes if cs == "CurrentControlSet" else []
        released = [d["port"] for d in PHONE if d["port"] and d not in removed_here]
        r.set_value(control + r"\COM Name Arbiter", "ComDB", 3,
                    comdb([n for n in ALL_PORTS if "COM%d" % n not in released]))
        for d in PHONE:
            r.delete_tree(rf"{control}\DeviceClasses\{d['iface']}\{interface_name(d)}", must_exist=False)
            # The sweep reaches a driver key through its device's instance:
            # one whose node the class installer removed first (Wine leaves
            # its driver key, Windows deletes it too) is out of reach.
            if d not in removed_here:
                r.delete_tree(rf"{control}\Class\{d['cls']}\{d['drv']}")
            r.delete_tree(rf"SYSTEM\{cs}\Enum\USB\{d['id']}", must_exist=False)
        if os_class == 11:
            for name in PHONE_SERVICES:
                r.delete_tree(rf"SYSTEM\{cs}\Enum\Root\LEGACY_{name.upper()}")
    for port in PHONE_PORTS:
        r.delete_value(PORTS_KEY, port + ":")
    for name in PHONE_SERVICES:
        r.delete_tree(rf"SYSTEM\ControlSet002\Services\{name}")
    if os_class == 12:
        for name in LASTGOOD_VALUES:
            upper = name.upper()
            for stem in PHONE_INFS:
                at = upper.find(stem.upper())
                # A stem followed by a digit names another INF (oem120 for oem12).
                if at >= 0 and not upper[at + len(stem):at + len(stem) + 1].isdigit():
                    r.delete_value(LASTGOOD_KEY, name)
                    break
    r.delete_tree(UNIMODEM_KEY + r"\TV4170K USB Modem::TAVRO::TAVRO")
    return r.lines()


def expected_files(before, os_class):
    def infs(folder, stems):
        return {"windows/%s/%s.%s" % (folder, s, e) for s in stems for e in ("inf", "pnf")}

    def drivers(folder):
        return {"windows/%s/%s" % (folder, n.lower()) for n in DRIVER_FILES}

    gone = set()
    if os_class >= 11:
        # On NT 6 the package tool takes the stale copy too (the stand-in
        # drops the package like the real one).
        gone |= drivers("system32/drivers") | infs("inf", PHONE_INFS + ([STALE_INF] if os_class == 14 else []))
    if os_class in (11, 12):
        gone |= infs("inf", [STALE_INF])
    if os_class == 12:
        gone |= drivers("lastgood/system32/drivers") | infs("lastgood/inf", PHONE_INFS)
    missing = gone - set(before)
    if missing:
        raise AssertionError("seed lacks files " + ", ".join(sorted(missing)))
    return {k: v for k, v in before.items() if k not in gone}


def expected_tool_starts(os_class):
    return sorted("pnputil.exe -f -d %s.inf" % s for s in PHONE_INFS + [STALE_INF]) if os_class == 14 else []


# ---------------------------------------------------------------- Wine

WINE = os.environ.get("WINE", "wine")
WINESERVER = os.path.join(os.path.dirname(WINE), "wineserver")


class Prefix:
    def __init__(self, road, version):
        self.path = os.path.join(road, version, "prefix")
        self.drive_c = os.path.join(self.path, "drive_c")
        self.env = dict(os.environ, WINEPREFIX=self.path)

    def wine(self, *args, check=True, cwd=None, timeout=120):
        result = subprocess.run([WINE] + list(args), env=self.env, cwd=cwd, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, stdin=subprocess.DEVNULL, timeout=timeout)
        if check and result.returncode != 0:
            raise AssertionError("%s failed (%d): %s %s" % (" ".join(args), result.returncode,
                                                             result.stdout.decode("gbk", "replace"),
                                                             result.stderr.decode("gbk", "replace")))
        return result

    def start(self, pristine):
        shutil.rmtree(os.path.dirname(self.path), ignore_errors=True)
        os.makedirs(os.path.dirname(self.path))
        subprocess.run(["cp", "-a", pristine, self.path], check=True)
        subprocess.run([WINESERVER, "-p"], env=self.env, check=True)
        # The first process after a server start hands its output to services.
        subprocess.run([WINE, "wineboot"], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       stdin=subprocess.DEVNULL)

    def stop(self):
        subprocess.run([WINESERVER, "-k"], env=self.env, stderr=subprocess.DEVNULL)


def ensure_pristine(pristine):
    if os.path.exists(os.path.join(pristine, ".ready")):
        return
    shutil.rmtree(pristine, ignore_errors=True)
    os.makedirs(os.path.dirname(pristine), exist_ok=True)
    env = dict(os.environ, WINEPREFIX=pristine)
    subprocess.run([WINE, "wineboot", "-i"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run([WINESERVER, "-w"], env=env)
    open(os.path.join(pristine, ".ready"), "w").close()


HELPER = r"C:\road\removal_road_helper.exe"


def export_registry(prefix, name):
    arguments = [HELPER, "export", "C:\\road\\" + name, "SYSTEM", r"SOFTWARE\TAVRO", PORTS_KEY,
                 r"SOFTWARE\Microsoft\Windows\CurrentVersion\Unimodem"]
    # Seen once right after a run that showed boxes: the export did not
    # start. One more try tells a passing hiccup from a broken export.
    if prefix.wine(*arguments, check=False).returncode != 0:
        time.sleep(2)
        prefix.wine(*arguments)
    return read_text(os.path.join(prefix.drive_c, "road", name))


def export_files(prefix):
    files = {}
    for folder in ["inf", "LastGood", os.path.join("system32", "drivers")]:
        for base, _, names in os.walk(os.path.join(prefix.drive_c, "windows", folder)):
            for n in names:
                full = os.path.join(base, n)
                rel = os.path.relpath(full, prefix.drive_c).replace(os.sep, "/").lower()
                with open(full, "rb") as f:
                    files[rel] = "%s %o" % (hashlib.sha256(f.read()).hexdigest(), os.stat(full).st_mode & 0o777)
    return files


def read_text(path):
    if not os.path.exists(path):
        return ""
    with open(path, encoding="latin-1") as f:
        return f.read()


def read_lines(path):
    return [line for line in read_text(path).splitlines() if line]


def diff(label, expected, actual):
    return (["%s: expected but missing: %s" % (label, line) for line in sorted(set(expected) - set(actual))] +
            ["%s: present but not expected: %s" % (label, line) for line in sorted(set(actual) - set(expected))])


def road(build, version, os_class, problems):
    tools = os.path.join(build, "tests")
    prefix = Prefix(os.path.join(build, "removal-road"), version)
    c = prefix.drive_c
    launcher = None
    prefix.start(os.path.join(build, "removal-road", "pristine"))
    try:
        for folder, tool, source in [("road", "removal_road_helper.exe", tools), ("road", "launcher.exe", tools),
                                     ("Setup", "Quellin9.exe", os.path.join(build, "dist", "Setup")),
                                     # The system's tool, and a planted namesake in the program's folder.
                                     (r"windows\system32", "pnputil.exe", tools), ("Setup", "pnputil.exe", tools)]:
            os.makedirs(os.path.join(c, folder), exist_ok=True)
            shutil.copy(os.path.join(source, tool), os.path.join(c, folder.replace("\\", os.sep), tool))
        seed_files(c)
        write(os.path.join(c, "road", "seed.txt"), "\n".join(seed_lines()) + "\n")
        prefix.wine(HELPER, "seed", r"C:\road\seed.txt")
        prefix.wine("reg", "add", r"HKCU\Software\Wine\AppDefaults\Quellin9.exe", "/v", "Version", "/d", version, "/f")

        launcher_log = os.path.join(c, "launcher.log")
        launcher = subprocess.Popen([WINE, r"C:\road\launcher.exe", r"C:\launcher.log", "600"], env=prefix.env,
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
        deadline = time.time() + 60
        while "ready" not in read_lines(launcher_log):
            if time.time() > deadline:
                raise AssertionError("the launcher stand-in did not start")
            time.sleep(0.2)

        # The first run takes what that Windows version's removal takes; the
        # second changes nothing.
        expected_reg = expected_registry(export_registry(prefix, "before.txt"), os_class)
        expected_fs = expected_files(export_files(prefix), os_class)
        for run in (1, 2):
            result = prefix.wine(HELPER, "run", "90", r"C:\Setup\Quellin9.exe", "/R", check=False,
                                 cwd=os.path.join(c, "Setup"), timeout=150)
            if result.returncode != 0:
                problems.append("run %d: %s" % (run, result.stdout.decode("gbk", "replace").strip().replace("\n", " | ")))
            registry = Registry(export_registry(prefix, "after%d.txt" % run)).lines()
            files = export_files(prefix)
            problems += diff("run %d registry" % run, expected_reg, registry)
            problems += diff("run %d files" % run, ["%s %s" % kv for kv in expected_fs.items()],
                             ["%s %s" % kv for kv in files.items()])
            expected_reg, expected_fs = registry, files
            messages = [m for m in read_lines(launcher_log) if m != "ready"]
            if messages != ["launcher WM_DEVICECHANGE wParam=0 lParam=0"] * run:
                problems.append("run %d launcher got %r" % (run, messages))
            starts = [s.split("\t") for s in read_lines(os.path.join(c, "pnputil.log"))]
            if sorted(s[0] for s in starts) != expected_tool_starts(os_class):
                problems.append("run %d package tool started for %r" % (run, [s[0] for s in starts]))
            for s in starts:
                if s[-1].lower() != r"c:\windows\system32\pnputil.exe":
                    problems.append("run %d package tool ran from %s" % (run, s[-1]))
    except Exception as error:  # a broken seed or tool: report and go on
        problems.append("%s: %s" % (type(error).__name__, error))
    finally:
        prefix.wine(HELPER, "close-launcher", check=False)
        if launcher:
            try:
                launcher.wait(timeout=20)
            except subprocess.TimeoutExpired:
                launcher.kill()
        prefix.stop()


def main(build, only):
    build = os.path.abspath(build)
    program = os.path.join(build, "dist", "Setup", "Quellin9.exe")
    if not os.path.exists(program):
        print("missing " + program)
        return 2
    ensure_pristine(os.path.join(build, "removal-road", "pristine"))
    failed = 0
    for version, os_class in VERSIONS:
        if only and version not in only:
            continue
        started = time.time()
        problems = []
        road(build, version, os_class, problems)
        print("removal road %-8s (OsClass %2d): %s  [%.0f s]" % (version, os_class, "FAILED" if problems else "ok",
                                                                   time.time() - started))
        for p in problems:
            print("    " + p)
        sys.stdout.flush()
        failed += 1 if problems else 0
        if not problems and not os.environ.get("QUELLIN_KEEP_ROAD"):
            shutil.rmtree(os.path.join(build, "removal-road", version), ignore_errors=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2:]))
