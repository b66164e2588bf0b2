#!/usr/bin/env python3
"""The install road of the test build's own Quellin9.exe under Wine, driven by
robot.exe (tests/tools/robot.cpp): the notice, the wizard's texts and template
per Windows version, the phone's functions arriving, finishing, Cancel, Escape
and WM_CLOSE, a second start, names from Quellin9.ini, a folder name with a
0x5C trail byte and the last switch winning.
    tests/install_road.py <test build directory>
One prefix for every case, in order: the first ones need a machine on which
nothing was staged yet. One line per case; exit 1 when one failed. Rights are
not tested: under Wine the user is always an administrator.
"""
import os
import re
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from prefix import ROBOT, ROOT, Prefix  # noqa: E402

BUILD = os.path.abspath(sys.argv[1]) if len(sys.argv) > 1 else None
TITLE = "TAVRO GSM/GPRS USB Driver Installer"
TRAIL = b"\x95\x5c".decode("gbk")  # its second byte is a backslash
with open(os.path.join(ROOT, "src", "resources", "strings.rc"), encoding="utf-8") as rc:
    # As the source writes them; the robot escapes the same way.
    TABLE = {int(m[0]): m[1].replace('""', '"') for m in re.findall(r'^\s*(\d+), "((?:[^"]|"")*)"', rc.read(), re.M)}


def text(id, series="GSM", category="GSM/GPRS"):
    return TABLE[id].replace("<%SERIES%>", series).replace("<%CATEGORY%>", category)


def keys(tag, pairs):
    return {tag + "." + k: v for k, v in (p.split("=", 1) for p in pairs.split())}


def box(tag, id, buttons="OK"):
    return {tag + ".caption": TITLE, tag + ".text": text(id), tag + ".buttons": buttons}


NOTICE = box("notice", 15006, "OK,Cancel")


def waiting(tag, id, finish, series="GSM", label="Ver. 9.0.0"):
    """The wizard as it opens: Cancel the default, nothing found yet, centred."""
    return dict(keys(tag, "button2.enabled=1 button2.default=1 button2.focus=1 button3.enabled=0 "
                          "button3.default=0 progress.pos=0 progress.range=0..4 template=102 centred=1"),
                **{tag + ".caption": TITLE, tag + ".text1000": text(id, series), tag + ".text1001": label,
                   tag + ".button2.text": text(15051), tag + ".button3.text": text(finish)})


def found(tag, n):
    return keys(tag, "progress.pos=%d button3.enabled=0 button2.enabled=1" % n)


def detected(tag):
    return keys(tag, "progress.pos=4 button3.enabled=1 button3.default=1 button3.focus=1 button2.enabled=0 "
                     "button2.default=0")


PLUG_ALL = ["plug=0", "plug=1", "plug=2", "plug=3", "wizard@p4"]
FOLLOW = ["plug=0", "wizard@p1", "plug=1", "wizard@p2", "plug=2", "wizard@p3", "plug=3", "wizard@p4"]
CUT = "A手机手机手机手机"  # 17 GBK bytes: the 16 read end in the lead byte of 机
# name, Windows version, arguments, robot steps, expected facts (None: absent), and optionally the
# program's folder below C:\ (Drivers beside it), INI names, packages staged afterwards, steps before.
CASES = [
    ("notice refused: box 15100, no wizard", "winxp", [], ["box=cancel@notice", "box=ok@error", "exit", "nowizard"],
     dict(NOTICE, **box("error", 15100), exit1="0", nowizard="1"), dict(staged=0)),
    # Nothing is staged on the 9x family, so its wizard (template 101) never shows.
    ("Windows 98: no notice, box 15100, no wizard", "win98", [], ["box=ok@error", "exit", "nowizard"],
     dict(box("error", 15100), exit1="0", nowizard="1"), dict(staged=0)),
    ("XP /I, no product key: bar and buttons per function; Escape, Cancel, WM_CLOSE refused once found",
     "winxp", ["/I"],
     ["box=ok@notice", "wizard@w"] + FOLLOW + ["key=27", "press=2", "close", "wizard@held", "press=3", "exit",
                                               "state@end"],
     dict(NOTICE, **waiting("w", 15009, 15050), **found("p1", 1), **found("p2", 2), **found("p3", 3),
          **detected("p4"), **detected("held"), exit1="0", **{"end.flag": "absent"}), dict(staged=4)),
    ("2000 /I: finishing writes InstallFlag 1", "win2k", ["/I"], ["box=ok@notice", "wizard@w", "setflag=7"] + PLUG_ALL +
     ["press=3", "exit", "state@end"],
     dict(waiting("w", 15007, 15050), **detected("p4"), exit1="0", **{"end.flag": "1"})),
    ("2000: End leaves InstallFlag alone", "win2k", [], ["box=ok@notice", "wizard@w", "setflag=7"] + PLUG_ALL +
     ["press=3", "exit", "state@end"],
     dict(waiting("w", 15008, 15052), **detected("p4"), exit1="0", **{"end.flag": "7"})),
    ("XP /V: no version label; Escape before detection ends with 0", "winxp", ["/V"],
     ["box=ok@notice", "wizard@w", "setflag=7", "plug=0", "key=27", "exit", "nowizard", "state@end"],
     dict(waiting("w", 15010, 15052, label=""), exit1="0", nowizard="1", **{"end.flag": "7"})),
    ("Vista /I, NAME holding its own placeholder; WM_CLOSE before detection", "vista", ["/I"],
     ["box=ok@notice", "wizard@w", "close", "exit", "nowizard"],
     dict(waiting("w", 15002, 15050, "<%SERIES%>"), exit1="0", nowizard="1"),
     dict(dir=r"ini1\Setup", ini=("<%SERIES%>", ""))),
    ("Vista: Cancel before detection", "vista", [], ["box=ok@notice", "wizard@w", "press=2", "exit", "nowizard"],
     dict(waiting("w", 15004, 15052), exit1="0", nowizard="1")),
    ("2003 /I, NAME cut at 16 bytes inside a double-byte character", "win2003", ["/I"],
     ["box=ok@notice", "wizard@w", "press=2", "exit"], dict(waiting("w", 15001, 15050, CUT[:-1]), exit1="0"),
     dict(dir=r"ini2\Setup", ini=(CUT, ""))),
    ("2003, percent signs in NAME and NAME2 shown as they are", "win2003", [],
     ["box=ok@notice", "wizard@w", "press=2", "exit"],
     dict(waiting("w", 15003, 15052, "50%S%手机手机手机手"), exit1="0"),
     dict(dir=r"ini3\Setup", ini=("50%S<%CATEGORY%>", "%" + CUT[1:]))),
    ("program folder ending in a 0x5C trail byte: Drivers and INI found", "winxp", [],
     ["box=ok@notice", "wizard@w", "press=2", "exit"], dict(waiting("w", 15010, 15052, TRAIL), exit1="0"),
     dict(dir="trail\\" + TRAIL, ini=(TRAIL, ""))),
    ("second start: the minimised wizard comes back, nothing else", "winxp", [],
     ["box=ok@notice", "wizard@w", "setflag=7", "plug=0", "minimize", "wizard@min", "start", "exit=2@second",
      "wizard@after", "state@st", "press=2", "exit"],
     dict(keys("min", "iconic=1"), second="0", **keys("after", "iconic=0 foreground=1 progress.pos=1"),
          **keys("st", "flag=7 phone=1000"), exit1="0")),
    ("second start with /R ends the waiting wizard, then removes", "winxp", [],
     ["box=ok@notice", "wizard@w", "setflag=7", "plug=0", "start=/R", "exit=1@first", "exit=2@second", "nowizard",
      "state@st"], dict(first="0", second="0", nowizard="1", **{"st.flag": "0"})),
    ("/R /I: the install road", "winxp", ["/R", "/I"], ["box=ok@notice", "wizard@w", "press=2", "exit"],
     dict(NOTICE, **waiting("w", 15009, 15050), exit1="0")),
    ("/I /R: only the removal", "winxp", ["/I", "/R"], ["boxes=20", "nowizard", "state@st"],
     {"box1.caption": None, "exit1": "0", "nowizard": "1", "st.flag": "0"}, dict(before=["setflag=7"])),
]


def staged(p):
    inf = p.windows_path(r"C:\windows\inf")
    return sum(n.lower().endswith(".inf") and b"tavro_wmc" in open(os.path.join(inf, n), "rb").read().lower()
               for n in os.listdir(inf))


def facts_of(output):
    facts = {}
    for line in output.splitlines():
        key, _, value = line.rstrip("\r").partition("=")
        facts.setdefault(key, value)
    for rect in [k for k in facts if k.endswith(".rect")]:
        tag = rect[:-5]
        l, t, r, b = map(int, facts[rect].split(","))
        w, h = map(int, facts[tag + ".screen"].split("x"))
        facts[tag + ".centred"] = "1" if (l, t) == ((w - (r - l)) // 2, (h - (b - t)) // 2) else "0"
    return facts


def run_case(p, name, version, args, steps, expected, extra):
    folder = extra.get("dir", r"Q9\Setup")
    dist = os.path.join(BUILD, "dist")
    p.install(os.path.join(dist, "Setup"), folder, "Quellin9.exe")
    p.install(os.path.join(dist, "Drivers"), folder.rsplit("\\", 1)[0] + r"\Drivers",
              *os.listdir(os.path.join(dist, "Drivers")))
    if "ini" in extra:
        with open(p.windows_path("C:\\%s\\Quellin9.ini" % folder), "wb") as f:
            f.write(("[UsbInst]\r\nNAME=%s\r\nNAME2=%s\r\n" % extra["ini"]).encode("gbk"))
    p.version("Quellin9.exe", version)
    if extra.get("before"):
        p.wine(ROBOT, *extra["before"])
    code, output = p.wine(ROBOT, "run", "C:\\%s\\Quellin9.exe" % folder, *args, "--", *steps, "unplug", check=False)
    facts = facts_of(output)
    problems = ["robot: %s" % k if k != "error" else "robot: " + facts[k]
                for k in facts if k == "error" or k.startswith("left_running")]
    problems += ["robot ended with %d" % code] if code and not problems else []
    if "staged" in extra:
        expected = dict(expected, staged=str(extra["staged"]))
        facts["staged"] = str(staged(p))
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
        results = [run_case(p, *case[:5], case[5] if len(case) > 5 else {}) for case in CASES]
    finally:
        p.stop(remove=results and all(results))  # kept for a look when a case failed
    print("%d cases, %d failed, %.0f s" % (len(results), results.count(False), time.time() - started))
    return 0 if all(results) else 1


if __name__ == "__main__":
    sys.exit(main())
