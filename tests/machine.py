"""The machine an earlier installation of the phone's drivers left, with the look-alikes that must survive: the one
description the removal road, the fault sweep, `make demo` and `make bench` seed from (seed_lines(), applied by
`robot.exe seed`). Variants of the driver keys' INF names: "plugged": the phone was connected before any installer,
so Windows bound it with its own usb.inf and another vendor's oem40.inf; neither may go. "older": an older
installer's own copy TVymdm2.inf, oem15 whose copy is gone (its .PNF and last-known-good copies are the phone's),
tvgone whose copy is gone (not an OEM name: not the phone's), and COM1.inf, a device name that is never opened."""

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
MODEM_KEY = UNIMODEM_KEY + r"\TV4170K USB Modem::TAVRO::TAVRO"
EXPORTED = ["SYSTEM", r"SOFTWARE\TAVRO", PORTS_KEY, r"SOFTWARE\Microsoft\Windows\CurrentVersion\Unimodem"]
FILE_FOLDERS = ["inf", "LastGood", r"system32\drivers"]


def devices(rows):
    """Devices from table rows; hardware ids as Windows lists them, with revision first."""
    out = [dict(zip("id inst cls drv svc inf port desc iface".split(), row)) for row in rows]
    for d in out:
        base, _, mi = d["id"].upper().partition("&MI")
        d["hw"] = ["USB\\" + base + "&REV_0100" + ("&MI" + mi if mi else ""), "USB\\" + d["id"].upper()]
    return out


# The phone was used on two USB ports: every function has a second instance with its own driver key,
# interfaces and COM number. Its ports sit past the first byte of the port database, beside other
# devices' (OTHER_PORTS). ControlSet002 (the last-known-good copy) is older than the second port: it
# holds the first instances only, and there the OBEX port was COM20 with driver key 0010.
FIRST = devices([
    ("VID_1B3F&PID_5C13", "5&1A2B3C4D&0&1", USB_CLASS, "0021", "TVybus", "oem7", None, "TAVRO USB Composite Device",
     IF_USB),
    ("VID_1B3F&PID_5C13&Mi_01", "6&2B3C4D5E&0&0001", MODEM_CLASS, "0003", "TVymdm", "oem12", "COM8",
     "TV4170K USB Modem", IF_MODEM),
    ("VID_1B3F&PID_5C13&Mi_03", "6&2B3C4D5E&0&0003", PORTS_CLASS, "0011", "TVymdfl", "oem13", "COM12",
     "TAVRO Diagnostic Port", IF_COMPORT),
    ("VID_1B3F&PID_5C13&Mi_05", "6&2B3C4D5E&0&0005", PORTS_CLASS, "0012", "TVyobex", "oem14", "COM21",
     "TAVRO OBEX Port", IF_COMPORT)])
PHONE = [x for d, (inst, drv, port) in zip(FIRST, [("5&2D3E4F50&0&2", "0023", None), ("6&3C4D5E6F&0&0001", "0008", "COM17"),
         ("6&3C4D5E6F&0&0003", "0016", "COM24"), ("6&3C4D5E6F&0&0005", "0017", "COM33")])
         for x in (d, dict(d, inst=inst, drv=drv, port=port))]
CS002_STATE = {"6&2B3C4D5E&0&0005": {"port": "COM20", "drv": "0010"}}
# Another product of the maker (its modem has the very same description), a
# function of the phone that is none of the four, a serial adapter on COM50.
OTHERS = devices([
    ("VID_1B3F&PID_5C14", "5&9F8E7D6C&0&2", USB_CLASS, "0030", "TVxbus", "oem1", None, "TAVRO Other Phone", IF_USB),
    ("VID_1B3F&PID_5C14&Mi_01", "6&1F2E3D4C&0&0001", MODEM_CLASS, "0004", "TVxmdm", "oem1", "COM10",
     "TV4170K USB Modem", IF_MODEM),
    ("VID_1B3F&PID_5C13&MI_07", "6&2B3C4D5E&0&0007", MODEM_CLASS, "0005", "TVxmdm", "oem120", None,
     "tv4170k usb modem", None),
    ("VID_0403&PID_6001", "A1B2C3D4", PORTS_CLASS, "0013", "FTSER2K", "oem120", "COM50", "USB Serial Port",
     IF_COMPORT)])
OTHERS[2]["hw"] = OTHERS[2]["hw"][:1]
# Root-enumerated nodes: the phone's modem added by hand (Add Hardware, Have Disk), root nodes that a
# device-installation tool gave the phone's and a function's id, and their look-alikes: another maker's modem added by
# hand under the same name, a node whose ids only resemble the phone's. Wine keeps them in
# CurrentControlSet alone; a hand-added modem uses an existing port (AttachedTo) and reserves none.
ROOT_NODES = [dict(zip("inst cls drv svc inf desc hw".split(), row)) for row in [
    (r"ROOT\MODEM\0000", MODEM_CLASS, "0006", "Modem", "oem12", "TV4170K USB Modem", [r"USB\VID_1B3F&PID_5C13&Mi_01"]),
    (r"ROOT\USB\0000", USB_CLASS, "0022", "TVybus", "oem7", "TAVRO USB Composite Device", [r"USB\VID_1B3F&PID_5C13"]),
    (r"ROOT\PORTS\0000", PORTS_CLASS, "0014", "TVymdfl", "oem13", "TAVRO Diagnostic Port",
     [r"USB\VID_1B3F&PID_5C13&Mi_03"]),
    (r"ROOT\MODEM\0001", MODEM_CLASS, "0007", "Modem", "mdmgen", "TV4170K USB Modem", [r"USB\VID_2A45&PID_5C13&MI_01"]),
    (r"ROOT\PORTS\0001", PORTS_CLASS, "0015", "Serial", "oem120", "TAVRO Diagnostic Port",
     [r"ROOT\VID_1B3F&PID_5C13&MI_03", "VID_1B3F&PID_5C13&Mi_03"])]]


def removed_root_nodes(os_class):
    """The root nodes the device steps take: on 2000 and XP the hand-added modem by its name and first id
    and the node with the phone's id; on NT 6 every node with one of the four whole ids."""
    return ROOT_NODES[:2] if os_class in (11, 12) else ROOT_NODES[:3] if os_class == 14 else []


PHONE_SERVICES = ["TVybus", "TVymdfl", "TVymdm", "TVyobex"]
OTHER_SERVICES = ["TVxbus", "TVxmdm", "FTSER2K", "TVybusX"]
DRIVER_FILES = ["TVybus.sys", "TVycm.sys", "TVycmnt.sys", "TVymdfl.sys", "TVymdm.sys", "TVymgmt.sys",
                "TVyobex.sys", "TVywh.sys", "TVywhnt.sys"]
UNDELETABLE = "TVycmnt.sys"
OTHER_DRIVER_FILES = ["TVxbus.sys", "TVymdm2.sys", "usbser.sys", "usbccgp.sys"]
OTHER_PORTS = [1, 10, 18, 23, 34, 50, 120]  # 18 shares a byte with 17, 23 with 24, 34 with 33
LASTGOOD_VALUES = [r"INF\oem7.inf", r"INF\oem7.PNF", r"INF\OEM12.INF", r"INF\oem12.PNF", r"INF\oem13.inf",
                   r"INF\oem14.inf", r"INF\oem1.inf", r"INF\oem120.inf", r"system32\DRIVERS\TVybus.sys"]
PLUGGED_LASTGOOD = [r"system32\DRIVERS\USBHUB.SYS", r"system32\DRIVERS\usbccgp.sys", r"system32\DRIVERS\usbser.sys",
                    r"inf\usb.inf", r"inf\oem40.inf", r"INF\OEM40.PNF"]
OLDER_LASTGOOD = [r"INF\TVymdm2.inf", r"INF\TVymdm2.PNF", r"INF\oem15.inf", r"INF\OEM15.PNF", r"INF\tvgone.inf",
                  r"INF\COM1.inf"]
STALE_INF = "oem30"  # a phone INF that no driver key names
# Stem -> first hardware id of its model section "Tavro_wmc". oem31 names the
# phone only on its second line, oem32 only in a section of another name.
INFS = {"oem7": r"USB\VID_1B3F&PID_5C13&MI_01", "oem12": r"usb\vid_1b3f&pid_5c13&mi_01",
        "oem13": r"USB\VID_1B3F&PID_5C13&MI_03", "oem14": r"USB\VID_1B3F&PID_5C13&MI_05",
        STALE_INF: r"USB\VID_1B3F&PID_5C13", "oem1": r"USB\VID_1B3F&PID_5C14", "oem120": r"USB\VID_0403&PID_6001",
        "oem31": r"USB\VID_0403&PID_6010", "oem32": r"USB\VID_1B3F&PID_5C13"}
VARIANT_INFS = {"plugged": {"usb": r"USB\ROOT_HUB", "oem40": r"USB\VID_067B&PID_2303"},
                # None: no copy in INF (its .PNF and last-known-good copies are there).
                "older": {"TVymdm2": r"USB\VID_1B3F&PID_5C13&MI_01", "oem15": None, "tvgone": None}}
VARIANT_STEMS = {"plugged": {"oem7": "usb", "oem14": "oem40"},
                 "older": {"oem7": "tvgone", "oem12": "TVymdm2", "oem13": "oem15", "oem14": "COM1"}}


def lastgood_values(variant=None):
    return LASTGOOD_VALUES + {"plugged": PLUGGED_LASTGOOD, "older": OLDER_LASTGOOD}.get(variant, [])


def phone(variant=None, cs="CurrentControlSet"):
    """The phone's instances in a control set, their driver keys naming the variant's INFs."""
    stems = VARIANT_STEMS.get(variant, {})
    return [dict(d, inf=stems.get(d["inf"], d["inf"]), **(CS002_STATE.get(d["inst"], {}) if cs == "ControlSet002" else {}))
            for d in PHONE if cs != "ControlSet002" or d in FIRST]


def ports(cs):
    return [int(d["port"][3:]) for d in phone(None, cs) if d["port"]]


def phone_infs(variant=None):
    """Stems the phone's driver keys name that are the phone's: the copy names the phone, or it is gone and
    the name is an OEM name."""
    infs = dict(INFS, **VARIANT_INFS.get(variant, {}))
    return sorted({d["inf"] for d in phone(variant) if d["inf"] in infs and
                   ("PID_5C13" in (infs[d["inf"]] or "").upper() or infs[d["inf"]] is None and d["inf"].startswith("oem"))})


def phone_copies(variant=None):
    """Stems of the INF folder's copies whose model section names the phone (oem32's section has another
    name)."""
    infs = dict(INFS, **VARIANT_INFS.get(variant, {}))
    return sorted(s for s, h in infs.items() if h and "PID_5C13" in h.upper() and s != "oem32")


def interface_name(d):
    return "##?#USB#" + d["id"].upper() + "#" + d["inst"] + "#" + d["iface"]


def comdb(ports):
    """A 32-byte port database with the bits of these COM numbers set."""
    return sum(1 << (n - 1) for n in ports).to_bytes(32, "little").hex()


def inf_text(hardware_id, section="Tavro_wmc"):
    second = "%Other%=Install, USB\\VID_1B3F&PID_5C13\r\n" if hardware_id.endswith("6010") else ""
    return ("[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Ports\r\n"
            "ClassGuid={4D36E978-E325-11CE-BFC1-08002BE10318}\r\nProvider=TAVRO\r\n\r\n"
            "[Manufacturer]\r\nTAVRO=" + section + "\r\n\r\n[" + section + "]\r\n"
            "%Device%=Install, " + hardware_id + "\r\n" + second + "\r\n[Install]\r\n")


def seed_lines(variant=None, windows=r"C:\windows"):
    """Seed lines of the machine (format: tests/support/seed.h)."""
    lines = []

    def add(*fields):
        lines.append("\t".join(fields))

    for d in phone(variant) + OTHERS:
        add("device", "USB\\" + d["id"] + "\\" + d["inst"], d["cls"], d["desc"], *d["hw"])
    for d in ROOT_NODES:
        key, drv = r"SYSTEM\CurrentControlSet\Enum" + "\\" + d["inst"], d["cls"] + "\\" + d["drv"]
        add("device", d["inst"], d["cls"], d["desc"], *d["hw"])
        for name, value in [("Driver", drv), ("Class", CLASS_NAMES[d["cls"]]), ("Mfg", "TAVRO"), ("Service", d["svc"])]:
            add("sz", key, name, value)
        if d["svc"] == "Modem":
            add("sz", key + r"\Device Parameters", "AttachedTo", "COM1")
        add("sz", r"SYSTEM\CurrentControlSet\Control\Class" + "\\" + drv, "InfPath", d["inf"] + ".inf")
    for cs in CONTROL_SETS:
        control = rf"SYSTEM\{cs}\Control"
        for d in phone(variant, cs) + OTHERS:
            key = rf"SYSTEM\{cs}\Enum\USB\{d['id']}\{d['inst']}"
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
            if d["iface"]:
                text = "USB\\" + d["id"] + "\\" + d["inst"]
                iface = rf"{control}\DeviceClasses\{d['iface']}\{interface_name(d)}"
                # One function's interface names its device in small letters.
                add("sz", iface, "DeviceInstance", text.lower() if d["id"].endswith("Mi_03") else text)
                add("sz", iface + r"\#", "SymbolicLink", "\\\\?\\" + interface_name(d)[4:])
        # Another device's interface, a built-in COM1, the class names.
        add("sz", rf"{control}\DeviceClasses\{IF_COMPORT}\##?#ACPI#PNP0501#1#{IF_COMPORT}", "DeviceInstance",
            r"ACPI\PNP0501\1")
        add("sz", rf"SYSTEM\{cs}\Enum\ACPI\PNP0501\1\Device Parameters", "PortName", "COM1")
        for cls, name in CLASS_NAMES.items():
            add("sz", rf"{control}\Class\{cls}", "Class", name)
        add("binary", rf"{control}\COM Name Arbiter", "ComDB", comdb(ports(cs) + OTHER_PORTS))
        for name in PHONE_SERVICES + OTHER_SERVICES:
            add("sz", rf"SYSTEM\{cs}\Enum\Root\LEGACY_{name.upper()}\0000", "Service", name)
    for cs in ["ControlSet001", "ControlSet002"]:
        for name in PHONE_SERVICES + OTHER_SERVICES:
            key = rf"SYSTEM\{cs}\Services\{name}"
            add("dword", key, "Start", "3")
            add("expand_sz", key, "ImagePath", rf"system32\DRIVERS\{name}.sys")
    for name in PHONE_SERVICES + OTHER_SERVICES[:1]:
        add("service", name, rf"system32\DRIVERS\{name}.sys")
    for n in sorted(set(ports("ControlSet001") + ports("ControlSet002") + OTHER_PORTS)):
        add("sz", PORTS_KEY, "COM%d:" % n, "9600,n,8,1")
    for name in lastgood_values(variant):
        add("dword", LASTGOOD_KEY, name, "1")
    for key in [MODEM_KEY, UNIMODEM_KEY + r"\Other Modem::Other::Other"]:
        add("dword", key, "Calls", "3")
        add("sz", key + r"\Init", "1", "ATZ")
    add("dword", PRODUCT_KEY, "InstallFlag", "1")
    add("sz", PRODUCT_KEY, "Version", "9.0.0.1")
    add("dword", r"SOFTWARE\TAVRO\Other Product", "InstallFlag", "1")

    infs = dict(INFS, **VARIANT_INFS.get(variant, {}))
    for folder in ["inf", r"LastGood\INF"]:
        for stem, hardware_id in infs.items():
            if hardware_id or folder != "inf":
                text = inf_text(hardware_id or r"USB\VID_1B3F&PID_5C13", "Other_wmc" if stem == "oem32" else "Tavro_wmc")
                add("file", rf"{windows}\{folder}\{stem}.inf", text.encode().hex())
            add("file", rf"{windows}\{folder}\{stem}.PNF", ("PNF " + stem).encode().hex())
    for folder in [r"system32\drivers", r"LastGood\system32\drivers"]:
        for name in DRIVER_FILES + OTHER_DRIVER_FILES:
            # A folder that holds one driver's name cannot be deleted as a file; the others still go.
            add("file", rf"{windows}\{folder}\{name}" + (r"\keep.txt" if name == UNDELETABLE else ""),
                ("driver " + name).encode().hex(), *(["readonly"] if name == "TVymdm.sys" else []))
    return lines
