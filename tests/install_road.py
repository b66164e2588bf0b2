#!/usr/bin/env python3
"""The install road of the test build's Quellin9.exe under Wine, driven by robot.exe, case by case in one prefix
(the first need nothing staged yet; README.md says what they cover; Wine's user is always an administrator).
    tests/install_road.py <test build directory>: exit 1 on a failure."""
import os
import re
import sys
import time

from prefix import ROBOT, ROOT, Prefix

BUILD = os.path.abspath(sys.argv[1]) if len(sys.argv) > 1 else None
TITLE = "TAVRO GSM/GPRS USB Driver Installer"
TRAIL = b"\x95\x5c".decode("gbk")  # its second byte is a backslash
CUT = "A手机手机手机手机"  # 17 GBK bytes: the 16 read end in the lead byte of 机
with open(os.path.join(ROOT, "src", "resources", "strings.rc"), encoding="utf-8") as rc:
    # As the source writes them; the robot escapes the same way.
    TABLE = {int(m[0]): m[1].replace('""', '"') for m in re.findall(r'^\s*(\d+), "((?:[^"]|"")*)"', rc.read(), re.M)}


def text(id, series="GSM", category="GSM/GPRS"):
    return TABLE[id].replace("<%SERIES%>", series).replace("<%CATEGORY%>", category)


def keys(pairs, tag=""):
    """{"<tag>.<key>": value} of "key=value ..."; without a tag the keys as written."""
    return {(tag + "." if tag else "") + k: v for k, v in (p.split("=", 1) for p in pairs.split())}


def box(tag, id, buttons="OK"):
    return {tag + ".caption": TITLE, tag + ".text": text(id), tag + ".buttons": buttons}


def waiting(id, finish, series="GSM", label="Ver. 9.0.0"):
    """The wizard w as it opens: Cancel the default, nothing found yet, centred."""
    return dict(keys("button2.enabled=1 button2.default=1 button2.focus=1 button3.enabled=0 button3.default=0 "
                     "progress.pos=0 progress.range=0..4 template=102 offcentre=0,0", "w"),
                **{"w.caption": TITLE, "w.text1000": text(id, series), "w.text1001": label,
                   "w.button2.text": text(15051), "w.button3.text": text(finish)})


def found(n, tag=None):
    """Wizard report p<n> (or tag): n functions found; at 4 the finishing button takes over from Cancel."""
    done = " button3.default=1 button3.focus=1 button2.default=0" if n == 4 else ""
    return keys("progress.pos=%d button3.enabled=%d button2.enabled=%d" % (n, n == 4, n < 4) + done, tag or "p%d" % n)


NOTICE = box("notice", 15006, "OK,Cancel")
W = "box=ok@notice wizard@w "
FINISH = W + "setflag=7 plug=0 plug=1 plug=2 plug=3 wizard@p4 press=3 exit state@end"
FOLLOW = "plug=0 wizard@p1 plug=1 wizard@p2 plug=2 wizard@p3 plug=3 wizard@p4 "
# (name, Windows version, arguments, robot steps, facts expected besides exit1=0 [, folder below C:\ (Drivers beside
# it), the INI's NAME and NAME2, robot steps before the start]); facts None are absent, staged counts phone INFs.
CASES = [
    ("notice refused: box 15100, no wizard", "winxp", "", "box=cancel@notice box=ok@error exit nowizard",
     [NOTICE, box("error", 15100), "nowizard=1 staged=0"]),
    # Nothing is staged on the 9x family, so its wizard (template 101) never shows.
    ("Windows 98: no notice, box 15100, no wizard", "win98", "", "box=ok@error exit nowizard",
     [box("error", 15100), "nowizard=1 staged=0"]),
    ("XP /I, no product key: bar and buttons per function; Escape, Cancel, WM_CLOSE refused once found", "winxp",
     "/I", W + FOLLOW + "key=27 press=2 close wizard@held press=3 exit state@end",
     [NOTICE, waiting(15009, 15050), *map(found, range(1, 5)), found(4, "held"), "end.flag=absent staged=4"]),
    ("2000 /I: finishing writes InstallFlag 1", "win2k", "/I", FINISH,
     [waiting(15007, 15050), found(4), "end.flag=1"]),
    ("2000: End leaves InstallFlag alone", "win2k", "", FINISH, [waiting(15008, 15052), found(4), "end.flag=7"]),
    ("XP /V: no version label; Escape before detection ends with 0", "winxp", "/V",
     W + "setflag=7 plug=0 key=27 exit nowizard state@end", [waiting(15010, 15052, label=""), "nowizard=1 end.flag=7"]),
    ("Vista /I, NAME holding its own placeholder; WM_CLOSE before detection", "vista", "/I", W + "close exit nowizard",
     [waiting(15002, 15050, "<%SERIES%>"), "nowizard=1"], r"ini1\Setup", ("<%SERIES%>", "")),
    ("Vista: Cancel before detection", "vista", "", W + "press=2 exit nowizard", [waiting(15004, 15052), "nowizard=1"]),
    ("2003 /I, NAME cut at 16 bytes inside a double-byte character", "win2003", "/I", W + "press=2 exit",
     [waiting(15001, 15050, CUT[:-1])], r"ini2\Setup", (CUT, "")),
    ("2003, percent signs in NAME and NAME2 shown as they are", "win2003", "", W + "press=2 exit",
     [waiting(15003, 15052, "50%S%手机手机手机手")], r"ini3\Setup", ("50%S<%CATEGORY%>", "%" + CUT[1:])),
    ("program folder ending in a 0x5C trail byte: Drivers and INI found", "winxp", "", W + "press=2 exit",
     [waiting(15010, 15052, TRAIL)], "trail\\" + TRAIL, (TRAIL, "")),
    ("second start: the minimised wizard comes back, nothing else", "winxp", "",
     W + "setflag=7 plug=0 minimize wizard@min start exit=2@second wizard@after state@st press=2 exit",
     ["min.iconic=1 second=0 after.iconic=0 after.foreground=1 after.progress.pos=1 st.flag=7 st.phone=1000"]),
    ("second start with /R ends the waiting wizard, then removes", "winxp", "",
     W + "setflag=7 plug=0 start=/R exit=1 exit=2@second nowizard state@st", ["second=0 nowizard=1 st.flag=0"]),
    ("/R /I: the install road", "winxp", "/R /I", W + "press=2 exit", [NOTICE, waiting(15009, 15050)]),
    ("/I /R: only the removal", "winxp", "/I /R", "boxes=20 nowizard state@st",
     [{"box1.caption": None}, "nowizard=1 st.flag=0"], r"Q9\Setup", None, "setflag=7"),
]


def run_case(p, name, version, args, steps, wanted, folder=r"Q9\Setup", ini=None, before=None):
    drivers = os.path.join(BUILD, "dist", "Drivers")
    p.install(os.path.join(BUILD, "dist", "Setup"), folder, "Quellin9.exe")
    p.install(drivers, folder.rsplit("\\", 1)[0] + r"\Drivers", *os.listdir(drivers))
    if ini:
        with open(p.windows_path("C:\\%s\\Quellin9.ini" % folder), "wb") as f:
            f.write(("[UsbInst]\r\nNAME=%s\r\nNAME2=%s\r\n" % ini).encode("gbk"))
    p.version("Quellin9.exe", version)
    if before:
        p.wine(ROBOT, *before.split())
    code, output = p.wine(ROBOT, "run", "C:\\%s\\Quellin9.exe" % folder, *args.split(), "--", *steps.split(),
                          "unplug", check=False)
    facts = dict(line.split("=", 1) for line in reversed(output.splitlines()) if "=" in line)  # the first one wins
    expected = {"exit1": "0"}
    for piece in wanted:
        expected.update(keys(piece) if isinstance(piece, str) else piece)
    inf = p.windows_path(r"C:\windows\inf")
    infs = [open(os.path.join(inf, n), "rb").read().lower() for n in os.listdir(inf) if n.lower().endswith(".inf")]
    facts["staged"] = str(sum(b"tavro_wmc" in i for i in infs))
    problems = ["robot: %s=%s" % (k, facts[k]) for k in facts if k == "error" or k.startswith("left_running")]
    problems += ["robot ended with %d" % code] if code and not problems else []
    problems += ["%s: expected %r, got %r" % (k, v, facts.get(k)) for k, v in expected.items() if facts.get(k) != v]
    print(("ok       " if not problems else "FAILED   ") + name)
    for line in problems[:8] + (["... and %d more" % (len(problems) - 8)] if len(problems) > 8 else []):
        print("         " + line)
    return not problems


def main():
    started = time.time()
    p = Prefix(BUILD, "install").start()
    # The removal on Vista and later starts the driver-package tool, which Wine lacks.
    p.install(os.path.join(BUILD, "tests"), r"windows\system32", "pnputil.exe")
    results = []
    try:
        results = [run_case(p, *case) for case in CASES]
    finally:
        p.stop(remove=results and all(results))  # kept for a look when a case failed
    print("%d cases, %d failed, %.0f s" % (len(results), results.count(False), time.time() - started))
    return 0 if all(results) else 1


if __name__ == "__main__":
    sys.exit(main())
