#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets (hardening/corpus/<target>/).

Each seed follows the target's input layout (see fuzz/common.h): a few
header bytes, then NUL-separated texts. Texts are code page 936 bytes.
Run again after changing a layout; the files are checked in.
"""
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))


def gbk(text):
    return text.encode("gbk")


SINCERE = b"\xd5\x5c"   # a character whose trail byte is 0x5C
RIDE = b"\x81\x5c"
TABLE = gbk("表")
PHONE = gbk("手机")

# Texts shared by several targets.
DBCS_PATHS = [
    b"C:\\" + SINCERE + b"\\" + RIDE + RIDE + b"\\oem7.inf",
    b"C:\\" + SINCERE,
    b"C:\\" + SINCERE + b"\\",
    b"C:\\" + gbk("手机驱动") + b"\\Setup\\",
    b"C:\\x." + RIDE + RIDE,
    b"ab\x81",
    b"\x81",
    b"C:\\",
    b"\\\\server\\share\\",
]
LENGTHS = []
for n in (259, 260, 261, 262):
    LENGTHS.append(b"x" * n)
    LENGTHS.append(b"x" * (n - 2) + SINCERE)
    LENGTHS.append(b"x" * (n - 1) + SINCERE)
    LENGTHS.append(b"x" * (n - 5) + b".inf")
PLACEHOLDER_TEXTS = [
    b"<%SERIES%>",
    b"<%CATEGORY%>",
    b"<%SERIES%> and <%SERIES%>, <%CATEGORY%>",
    b"<%series%>",
    b"<%SER<%SERIES%>IES%>",
    gbk("打开<%SERIES%>系列手机的电源。为了运行TAVRO <%CATEGORY%> USB Driver"),
    b"x" * 1000 + b"<%SERIES%>" * 3,
    b"<%SERIES%>\x81",
    b"\x81\x20<%SERIES%>",
]
NAMES = [
    b"GSM", b"GSM/GPRS", b"", b"%s%d%n", b"%S", b"100%", b"<%CATEGORY%>", b"x<%SERIES%>",
    PHONE * 4, b"A" + PHONE * 3 + b"\xca", b"\xd5\x5c\xd5\x5c", b"0123456789ABCDEF", b"\x81\x7f",
]


def write(target, seeds):
    folder = os.path.join(HERE, target)
    os.makedirs(folder, exist_ok=True)
    for old in os.listdir(folder):
        os.remove(os.path.join(folder, old))
    for i, seed in enumerate(seeds):
        with open(os.path.join(folder, "seed-%03d" % i), "wb") as f:
            f.write(seed)


def fields(*texts):
    return b"\0".join(texts)


def command_line():
    lines = [b"", b"/i /r", b"/r -I", b"-V", b"//R", b"/-r", b"/", b"abc/", b"\"C:\\my-rom\\setup.exe\"",
             b"-\x81r \x81I/\x81v", gbk("\"C:\\手机-驱动\\安装.exe\" -r /V"), b"/I/R/I/R/i -v"]
    return [bytes([i & 1]) + line for i, line in enumerate(lines)]


def bounded_copy():
    seeds = []
    for text in DBCS_PATHS + LENGTHS:
        for maximum in (260, 259, 3):
            seeds.append(struct.pack("<H", maximum) + fields(text, b"C:\\WINDOWS"))
    seeds.append(struct.pack("<H", 260) + fields(SINCERE + b"z", b"a" * 259))
    seeds.append(struct.pack("<H", 260) + fields(b"q", b"z" * 270))
    return seeds


def path_edit():
    seeds = []
    for text in DBCS_PATHS + LENGTHS:
        seeds.append(bytes([5, 6]) + fields(text, b".PNF"))   # around = 260, small = 6
        seeds.append(bytes([6, 3]) + fields(text, b".inf"))
    seeds.append(bytes([5, 9]) + fields(b"C:\\a.b\\name", b".PNF"))
    seeds.append(bytes([5, 9]) + fields(b"oem7", b"." + TABLE))
    return seeds


def placeholders():
    seeds = []
    for i, text in enumerate(PLACEHOLDER_TEXTS):
        for size in (261, 1024, 17, 12):
            series = NAMES[i % len(NAMES)]
            category = NAMES[(i * 3 + 1) % len(NAMES)]
            seeds.append(struct.pack("<H", size - 1) + bytes([i & 1, 0xFF]) + fields(text, series, category))
    # One allocation failing at each of the first few calls.
    for fail in range(0, 8):
        seeds.append(struct.pack("<H", 260) + bytes([0, fail]) +
                     fields(PLACEHOLDER_TEXTS[2], b"GSM%d", TABLE))
    return seeds


def text_routines():
    seeds = []
    for op in range(5):
        for size in (261, 16, 1024, 1):
            for idx, (series, category) in enumerate([(b"GSM", b"GSM/GPRS"), (b"%S%s", b"100%"),
                                                      (b"\x81", b"%n"), (PHONE * 4, SINCERE)]):
                header = bytes([op]) + struct.pack("<H", size - 1) + bytes([idx * 3, 0xFF]) + \
                    struct.pack("<I", 9000001) + bytes([idx % 3, 0, 0])
                existing = [b"", b"C:\\WINDOWS", b"x" * (size - 2) if size > 2 else b"", SINCERE * 3][idx]
                seeds.append(header + fields(existing, b"<%SERIES%>" if idx else b"VID_1B3F&PID_5C13",
                                             series, category))
    return seeds


def config():
    seeds = []
    values = [
        (b"", b"", b""), (b"  Spaced  ", b"\"Quoted\"", b"icons\\phone.ico"),
        (b"0123456789ABCDEFG", PHONE * 4, b"i" * 239 + b".ico"), (b"A" + PHONE * 4, b"\x81", b"i" * 240 + b".ico"),
        (b"%s%n", b"<%SERIES%>", SINCERE + b".ico"), (b"a=b", b"'single'", b"icons"),
        (b"\x81\x20", SINCERE * 8, b"C:\\icon.ico"),
    ]
    for i, (name, name2, icon) in enumerate(values):
        existing = icon if i % 2 else b"other.ico"
        seeds.append(bytes([i & 2, [0, 8, 200, 251][i % 4]]) + fields(name, name2, icon, b"; comment\r\n", existing))
    raw = b"[UsbInst]\nNAME =  spaced key  \n[Other]\nNAME=other\n[usbinst]\nNAME2=second\n"
    seeds.append(bytes([1, 0]) + fields(b"", b"", b"", raw, b""))
    seeds.append(bytes([1, 0]) + fields(b"", b"", b"", b"NAME=no section\n[UsbInst\nNAME=half", b""))
    return seeds


def inf_match():
    ids = [b"USB\\VID_1B3F&PID_5C13&Mi_01", b"usb\\vid_1b3f&pid_5c13&mi_03", b"\x81vid_1b3f&pid_5c13",
           b"\x81\x5cVID_1B3F&PID_5C13", b"USB\\" + SINCERE + b"vid_1b3f&pid_5c13", b"%PhoneHwid%",
           b"\"USB\\VID_1B3F&PID_5C13\"", b"x" * 1006 + b"VID_1B3F&PID_5C13", b"x" * 1007 + b"VID_1B3F&PID_5C13",
           b"USB\\VID_1B3F&PID_5C14", b"", b"VID_1B3F&PID_5C13 ; comment", b"a,VID_1B3F&PID_5C13"]
    seeds = [bytes([0]) + fields(i, b"PhoneHwid=\"USB\\VID_1B3F&PID_5C13\"") for i in ids]
    whole = (b"[Version]\r\nSignature=\"$Windows NT$\"\r\n[Manufacturer]\r\n%Tavro%=Tavro_wmc\r\n"
             b"[Tavro_wmc]\r\n%PortDesc%=Port.Install,%PhoneHwid%\r\n[Strings]\r\nTavro=\"TAVRO\"\r\n"
             b"PortDesc=\"Port\"\r\nPhoneHwid=\"USB\\VID_1B3F&PID_5C13&Mi_03\"\r\n")
    seeds.append(bytes([1]) + fields(whole, b""))
    seeds.append(bytes([1]) + fields(b"[tavro_wmc]\nk = i , \\\n VID_1B3F&PID_5C13\n", b""))
    seeds.append(bytes([1]) + fields(b"[Tavro_wmc]\n\"key\"=\"a,b\",\"VID_1B3F&PID_5C13\"\"\"\n", b""))
    return seeds


def name_match():
    seeds = []
    cases = [(b"COM5:", b"com5"), (b"COM50:", b"COM5"), (b"XCOM1:", b"COM1"), (b"OEM12.INF", b"oem1"),
             (b"\x81COM1:", b"COM1"), (SINCERE + b"COM1", b"\\COM1"), (b"COM1" + SINCERE, b"COM1"),
             (b"com1" + TABLE, b"COM1"), (b"", b"COM1"), (b"COM1", b"")]
    names = [b"COM1:", b"COM10:", b"COM11:", b"com1:", b"LPT1:", b"FILE:", b"XCOM1:", b"\x81COM1:",
             TABLE + b"COM1:", b"COM1", b"N" * 261]
    for i, (text, pattern) in enumerate(cases):
        seeds.append(bytes([i & 1 or 1]) + fields(text, pattern, *names[: 4 + i % 8]))
    return seeds


def ports():
    seeds = []
    names = [b"COM5", b"COM12", b"COM", b"COM0", b"COM 7", b"COM-3", b"COM+4", b"COM99999999999",
             SINCERE + b"5", b"COM" + b"1" * 257, b"COM" + b"1" * 258, b"COM1", b"LPT1"]
    comdbs = [b"\x1f" + b"\0" * 31, b"\xff" * 32, b"\x01", b"\0" * 259 + b"\x80", b"\x01" * 261]
    settings = [b"COM1:", b"COM10:", b"COM11:", b"COM5:", b"COM50:", b"com12:", b"LPT1:", b"FILE:"]
    for i, name in enumerate(names):
        for mode in range(3):
            port = [5, 1, 8, 9, 20, 256, 257, 0, -1, 2080, 0x7FFFFFFF, 300, 12][i]
            header = bytes([mode]) + struct.pack("<i", port) + bytes([3 if i % 2 else 0, 0xFF if i % 3 else i * 5, 0])
            seeds.append(header + fields(name.replace(b"\0", b""),
                                         comdbs[i % len(comdbs)], *settings))
    return seeds


def staging():
    seeds = []
    for d in [b"C:\\Quellin\\Setup\\", b"C:\\", SINCERE + b"\\", b"C:\\" + SINCERE + b"\\",
              b"C:\\a\\" + SINCERE + SINCERE + b"\\", b"C:\\" + b"p" * 249 + b"\\Setup\\",
              b"C:\\" + b"p" * 250 + b"\\Setup\\", b"\\", b"x" + SINCERE]:
        seeds.append(bytes([0, 0]) + d)
    for pad in (0, 230, 231, 250, 255):
        seeds.append(bytes([1, pad]))
    seeds.append(bytes([1, 0]) + b"C:\\" + gbk("视窗") + SINCERE)
    files = [b"\x05oem1.inf", b"\x04oem2.inf", b"\x07oem3.inf", b"\x09oem4.inf", b"\x01machine.inf",
             b"\x05oem" + SINCERE + b".inf", b"\x01OEM12.INF", b"\x01oem5.inf.bak", b"\x05oem\x81.inf",
             b"\x01oem" + b"9" * 240 + b".inf"]
    for pad in (0, 200, 236, 240):
        seeds.append(bytes([2, pad]) + fields(*files))
    return seeds


def removal():
    seeds = []
    names = [b"oem12.inf", b"OEM_1-2.INF", b"n" * 242, b"n" * 243, b"oem 1.inf", b"oem1.inf & calc.exe",
             b"\"oem1.inf\"", b"..\\oem1.inf", b"C:oem1.inf", b"oem1.inf%PATH%", SINCERE + b".inf"]
    for i, name in enumerate(names):
        seeds.append(bytes([0, [0, 236, 237, 200][i % 4], i & 1]) + name)
    parts = [(b"C:\\WINDOWS\\INF", b"oem7", b"inf"), (b"C:\\WINDOWS\\INF\\", b"oem7", b"PNF"),
             (b"C:\\" + SINCERE, b"oem7", b"inf"), (b"C:\\" + b"d" * 248, b"oem7", b"inf"),
             (b"C:\\" + b"d" * 249, b"oem7", b"inf"), (b"C:\\x", SINCERE, b"inf")]
    for d, st, e in parts:
        seeds.append(bytes([1, 0, 0]) + fields(d, st, e))
    infpaths = [b"oem7.inf", b"OEM7.INF", b"..\\evil.inf", b"oem7", b".inf", b"C:oem7.inf", SINCERE + b".inf",
                b"oem" + SINCERE + b".inf", b"a/b.inf", b"\x81.inf"]
    for i, p in enumerate(infpaths):
        seeds.append(bytes([2, 0, i]) + fields(p, b"oem7.inf", b"evil.inf"))
    return seeds


TARGETS = {
    "fuzz_command_line": command_line,
    "fuzz_bounded_copy": bounded_copy,
    "fuzz_path_edit": path_edit,
    "fuzz_placeholders": placeholders,
    "fuzz_text_routines": text_routines,
    "fuzz_config": config,
    "fuzz_inf_match": inf_match,
    "fuzz_name_match": name_match,
    "fuzz_ports": ports,
    "fuzz_staging": staging,
    "fuzz_removal": removal,
}

if __name__ == "__main__":
    wanted = sys.argv[1:] or list(TARGETS)
    for name in wanted:
        write(name, TARGETS[name]())
        print(name, len(os.listdir(os.path.join(HERE, name))))
