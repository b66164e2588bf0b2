#!/usr/bin/env python3
"""The install road of the test build's Quellin9.exe under Wine, driven by robot.exe, case by case in one prefix
(the first need nothing staged yet; README.md says what they cover; Wine's user is always an administrator).
    tests/install_road.py <test build directory>: exit 1 on a failure."""
import os
import subprocess
import sys
import time

from prefix import ROBOT, Prefix

BUILD = os.path.abspath(sys.argv[1]) if len(sys.argv) > 1 else None
TITLE = "TAVRO GSM/GPRS USB Driver Installer"
TRAIL = b"\x95\x5c".decode("gbk")  # its second byte is a backslash
CUT = "A手机手机手机手机"  # 17 GBK bytes: the 16 read end in the lead byte of 机
TEXTS = {  # the string table as the wizard and boxes must show it, "\n" for a line break
    15001: "请执行下列步骤以进行安装。\\n1. 打开<%SERIES%>系列手机的电源。\\n2. 使用<%SERIES%>系列手机专用的USB数据线，将手机连接到您电脑上的USB端口。\\n3. 出现“下一步”按钮之后，请单击“下一步”以完成安装。",
    15002: "请执行下列步骤以进行安装。\\n1. 打开<%SERIES%>系列手机的电源。\\n2. 使用<%SERIES%>系列手机专用的USB数据线，将手机连接到您电脑上的USB端口。\\n3. 当出现“找到新的硬件向导” 画面时, 请在新画面中单击“下一步”\\n   以开始PnP安装。\\n   请注意：在调制解调器驱动程序安装过程中，可能会出现“硬件安装”画面\\n   （在Windows XP下）。\\n   如果出现该画面，请单击“仍然继续”以继续进行安装。\\n4. 在“完成找到新硬件向导” 画面中单击“完成”后，在该画面中单击\\n  “下一步”以完成安装。",
    15003: "请执行下列步骤以进行安装。\\n1. 打开<%SERIES%>系列手机的电源。\\n2. 使用<%SERIES%>系列手机专用的USB数据线，将手机连接到您电脑上的USB端口。\\n3. 出现“结束”按钮之后，请单击“结束”以完成安装。",
    15004: "请执行下列步骤以进行安装。\\n1. 打开<%SERIES%>系列手机的电源。\\n2. 使用<%SERIES%>系列手机专用的USB数据线，将手机连接到您电脑上的USB端口。\\n3. 当出现“找到新的硬件向导” 画面时, 请在新画面中单击“下一步”\\n   以开始PnP安装。\\n   请注意：在调制解调器驱动程序安装过程中，可能会出现“硬件安装”画面\\n   （在Windows XP下）。\\n   如果出现该画面，请单击“仍然继续”以继续进行安装。\\n4. 在“完成找到新硬件向导” 画面中单击“完成”后，在该画面中单击\\n  “结束”以完成安装。",
    15006: "请注意，在 USB 驱动程序安装过程中可能会显示“软件安装”窗口。\\n(在 Windows XP 中)\\n如果显示该窗口，请单击“仍要继续”继续安装。\\n(在 Windows Vista 中)\\n如果显示该窗口，请单击“仍要安装此驱动程序软件”继续安装。",
    15007: "请执行下列步骤以进行安装。\\n1. 打开<%SERIES%>系列手机的电源。\\n2. 使用<%SERIES%>系列手机专用的USB数据线，将手机连接到您电脑上的USB端口。\\n3. 等待PnP安装开始。请注意：在安装USB驱动程序的过程中，可能会显示\\n   未找到数字签名画面。如果发生这种情况，请单击“确认”，\\n   开始PnP的安装。\\n4. 单击“下一步”以完成安装。",
    15009: "请根据下列步骤完成安装\\n1. 将你的<%SERIES%>系列手机的电源打开。\\n2. 用<%SERIES%>系列的USB数据线连接手机和你的个人电脑的USB接口。\\n3. 当出现“搜索到新的硬件”的界面时，选择“现在不安装”并单击[下一步]。\\n4. 在新的界面里单击[下一步]后，开始“即插即用”功能安装。\\n   请注意：在USB驱动安装时,硬件安装界面可能会出现\\n   (在Windows XP的场合)。如果出现，请单击[继续]，\\n   继续进行USB驱动的安装。\\n5. 在结束新硬件安装界面之后，单击[下一步]完成安装。",
    15010: "请根据下列步骤完成安装\\n1. 你的<%SERIES%>系列手机的电源打开。\\n2. 用<%SERIES%>系列的USB数据线连接手机和你的个人电脑的USB接口。\\n3. 当出现“搜索到新的硬件”的界面时，选择“现在不安装”并单击[下一步]。\\n4. 在新的界面里单击[下一步]后，开始“即插即用”安装。\\n   请注意：在USB驱动安装时,硬件安装界面可能会出现\\n   (在Windows XP的场合)。如果出现，请单击[继续]，\\n   继续进行USB驱动的安装。\\n5. 在结束新硬件安装界面之后，单击[结束]完成安装。",
    15050: "下一步",
    15051: "取消",
    15052: "结束",
    15100: "无法将驱动程序软件配置为可在您的电脑上使用USB连接。\\n程序安装完成后，请参阅您的手册以获取有关如何正确安装USB驱动程序的详细说明。"}
TEXTS[15008] = TEXTS[15007]
# The texts of the cases that run in the other two languages (LOCALE_CASES).
TEXTS_BY_LOCALE = {"zh_CN.UTF-8": TEXTS, "zh_TW.UTF-8": {
    15006: "請注意，安裝 USB 驅動程式時可能會出現「軟體安裝」視窗。\\n(在 Windows XP 中)\\n若出現該視窗，請按一下「繼續安裝」繼續安裝。\\n(在 Windows Vista 中)\\n若出現該視窗，請按一下「仍然安裝此驅動程式軟體」繼續安裝。",
    15009: "請依照下列步驟完成安裝。\\n1. 開啟<%SERIES%>系列手機的電源。\\n2. 使用<%SERIES%>系列的USB傳輸線，將手機連接到電腦的USB連接埠。\\n3. 出現「尋找新增硬體精靈」畫面時，選擇「否，現在不要」，\\n   再按一下「下一步」。\\n4. 在下一個畫面按一下「下一步」，開始隨插即用安裝。\\n   請注意：安裝USB驅動程式時，可能會出現「硬體安裝」畫面\\n   （在 Windows XP 中）。若出現該畫面，請按一下「繼續安裝」，\\n   繼續安裝USB驅動程式。\\n5. 尋找新增硬體精靈結束後，按一下「下一步」完成安裝。",
    15004: "請依照下列步驟進行安裝。\\n1. 開啟<%SERIES%>系列手機的電源。\\n2. 使用<%SERIES%>系列手機專用的USB傳輸線，將手機連接到電腦的USB連接埠。\\n3. 出現「尋找新增硬體精靈」畫面時，請在該畫面中按一下「下一步」，\\n   開始隨插即用安裝。\\n   請注意：安裝數據機驅動程式時，可能會出現「硬體安裝」畫面\\n   （在 Windows XP 中）。\\n   若出現該畫面，請按一下「繼續安裝」繼續進行安裝。\\n4. 在「正在完成尋找新增硬體精靈」畫面中按一下「完成」後，\\n   再按一下本視窗的「結束」完成安裝。",
    15050: "下一步", 15051: "取消", 15052: "結束",
    15100: "無法設定驅動程式軟體，讓您的電腦使用USB連線。\\n本程式結束後，請參閱使用手冊中如何正確安裝USB驅動程式的詳細說明。"}, "en_US.UTF-8": {
    15006: "Please note: a \"Software Installation\" window may appear while the USB drivers are being installed.\\n(On Windows XP)\\nIf it does, click \"Continue Anyway\" to continue.\\n(On Windows Vista)\\nIf it does, click \"Install this driver software anyway\" to continue.",
    15009: "Follow these steps to complete the installation.\\n1. Turn on your <%SERIES%> series phone.\\n2. Connect the phone to a USB port on your computer with the\\n   <%SERIES%> series USB cable.\\n3. When the \"Found New Hardware Wizard\" appears, select \"No, not this time\"\\n   and click \"Next\".\\n4. Click \"Next\" on the following screen to start the Plug and Play installation.\\n   Note: While the USB drivers are being installed, a \"Hardware Installation\"\\n   screen may appear (on Windows XP). If it does, click \"Continue Anyway\"\\n   to go on with the installation of the USB drivers.\\n5. After the Found New Hardware Wizard has closed, click \"Next\" to complete\\n   the installation.",
    15004: "Follow these steps to install the drivers.\\n1. Turn on your <%SERIES%> series phone.\\n2. Connect the phone to a USB port on your computer with the USB cable\\n   for <%SERIES%> series phones.\\n3. When the \"Found New Hardware Wizard\" appears, click \"Next\" in it\\n   to start the Plug and Play installation.\\n   Note: While the modem driver is being installed, a \"Hardware Installation\"\\n   screen may appear (on Windows XP).\\n   If it does, click \"Continue Anyway\" to go on with the installation.\\n4. On the \"Completing the Found New Hardware Wizard\" screen, click \"Finish\",\\n   then click \"Finish\" in this window to complete the installation.",
    15050: "Next", 15051: "Cancel", 15052: "Finish",
    15100: "The driver software could not be set up for USB connections on your computer.\\nAfter this program has closed, see your manual for detailed instructions on how to install the USB drivers correctly."}}
texts = TEXTS  # those of the locale running
NOT_FOUND = "找不到文件。\\r\\n"  # the system's text for ERROR_FILE_NOT_FOUND, as Wine gives it in this locale


def text(id, series="GSM", category="GSM/GPRS"):
    return texts[id].replace("<%SERIES%>", series).replace("<%CATEGORY%>", category)


def keys(pairs, tag=""):
    """{"<tag>.<key>": value} of "key=value ..."; without a tag the keys as written."""
    return {(tag + "." if tag else "") + k: v for k, v in (p.split("=", 1) for p in pairs.split())}


def box(tag, id, buttons="OK"):
    return {tag + ".caption": TITLE, tag + ".text": text(id), tag + ".buttons": buttons}


def waiting(id, finish, series="GSM", label="Ver. 9.0.0"):
    """The wizard w as it opens: Cancel the default, nothing found yet, centred."""
    return dict(keys("button2.enabled=1 button2.default=1 button2.focus=1 button3.enabled=0 button3.default=0 "
                     "progress.pos=0 progress.range=0..4 template=102 offcentre=0,0 onscreen=1 fits=1", "w"),
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
    ("a package INF missing from Drivers: staging stops with one system-error box, then 15100, no wizard", "winxp", "",
     "box=ok@notice box=ok@sys box=ok@error exit nowizard",
     [NOTICE, {"sys.caption": "Error", "sys.text": NOT_FOUND, "sys.buttons": "OK"}, box("error", 15100),
      "nowizard=1 staged=1"], r"noinf\Setup", None, None, "TVyobx2.inf"),
    ("XP /I, no product key: bar and buttons per function; Escape, Cancel, WM_CLOSE refused once found", "winxp",
     "/I", W + FOLLOW + "key=27 press=2 close wizard@held press=3 exit state@end",
     [NOTICE, waiting(15009, 15050), *map(found, range(1, 5)), found(4, "held"), "end.flag=absent staged=4"]),
    ("2000 -i: finishing writes InstallFlag 1", "win2k", "-i", FINISH,
     [waiting(15007, 15050), found(4), "end.flag=1"]),
    ("2000: End leaves InstallFlag alone", "win2k", "", FINISH, [waiting(15008, 15052), found(4), "end.flag=7"]),
    ("XP /v: no version label; Escape before detection ends with 0", "winxp", "/v",
     W + "setflag=7 plug=0 key=27 exit nowizard state@end", [waiting(15010, 15052, label=""), "nowizard=1 end.flag=7"]),
    ("Vista /I, NAME holding its own placeholder; WM_CLOSE before detection", "vista", "/I", W + "close exit nowizard",
     [waiting(15002, 15050, "<%SERIES%>"), "nowizard=1"], r"ini1\Setup", ("<%SERIES%>", "")),
    ("Vista -V: Cancel before detection", "vista", "-V", W + "press=2 exit nowizard",
     [waiting(15004, 15052, label=""), "nowizard=1"]),
    ("2003 -I, NAME cut at 16 bytes inside a double-byte character", "win2003", "-I", W + "press=2 exit",
     [waiting(15001, 15050, CUT[:-1])], r"ini2\Setup", (CUT, "")),
    ("2003, percent signs in NAME and NAME2 shown as they are", "win2003", "", W + "press=2 exit",
     [waiting(15003, 15052, "50%S%手机手机手机手")], r"ini3\Setup", ("50%S<%CATEGORY%>", "%" + CUT[1:])),
    ("program folder ending in a 0x5C trail byte: Drivers and INI found", "winxp", "", W + "press=2 exit",
     [waiting(15010, 15052, TRAIL)], "trail\\" + TRAIL, (TRAIL, "")),
    ("second start: the minimised wizard comes back, nothing else", "winxp", "",
     W + "setflag=7 plug=0 minimize wizard@min start exit=2@second wizard@after state@st press=2 exit",
     ["min.iconic=1 second=0 after.iconic=0 after.foreground=1 after.progress.pos=1 st.flag=7 st.phone=1000"]),
    ("second start with /r ends the waiting wizard, then removes", "winxp", "",
     W + "setflag=7 plug=0 start=/r exit=1 exit=2@second nowizard state@st", ["second=0 nowizard=1 st.flag=0"]),
    ("/R /I: the install road", "winxp", "/R /I", W + "press=2 exit", [NOTICE, waiting(15009, 15050)]),
    ("/i -r: only the removal", "winxp", "/i -r", "boxes=20 nowizard state@st",
     [{"box1.caption": None}, "nowizard=1 st.flag=0"], r"Q9\Setup", None, "setflag=7"),
]


def run_case(p, name, version, args, steps, wanted, folder=r"Q9\Setup", ini=None, before=None, missing=None):
    drivers = os.path.join(BUILD, "dist", "Drivers")
    p.install(os.path.join(BUILD, "dist", "Setup"), folder, "Quellin9.exe")
    p.install(drivers, folder.rsplit("\\", 1)[0] + r"\Drivers", *[n for n in os.listdir(drivers) if n != missing])
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
    problems += ["a question mark: %s=%s" % (k, v) for k, v in facts.items() if "?" in v]
    problems += ["robot ended with %d" % code] if code and not problems else []
    problems += ["%s: expected %r, got %r" % (k, v, facts.get(k)) for k, v in expected.items() if facts.get(k) != v]
    print(("ok       " if not problems else "FAILED   ") + name, *["         " + line for line in problems[:8]], sep="\n")
    return not problems


def locale_cases():
    """The notice, box 15100, the wizard and its progress function by function, in the running locale's texts."""
    return [("notice refused", "winxp", "", "box=cancel@notice box=ok@error exit nowizard",
             [box("notice", 15006, "OK,Cancel"), box("error", 15100), "nowizard=1"]),
            ("XP /I: progress function by function", "winxp", "/I", W + FOLLOW + "press=3 exit",
             [box("notice", 15006, "OK,Cancel"), waiting(15009, 15050), *map(found, range(1, 5))]),
            ("Vista: Cancel", "vista", "", W + "press=2 exit nowizard", [waiting(15004, 15052), "nowizard=1"])]


def run_cases(name, cases, locale="zh_CN.UTF-8", display=None):
    """Cases (made once the locale's texts are chosen) in a prefix of their own, Wine in that locale."""
    global texts
    texts, p, results = TEXTS_BY_LOCALE[locale], Prefix(BUILD, name), []
    p.env.update(LC_ALL=locale, **({"DISPLAY": display} if display else {}))
    try:  # the removal on Vista and later starts the driver-package tool, which Wine lacks
        p.start().install(os.path.join(BUILD, "tests"), r"windows\system32", "pnputil.exe")
        print("-- %s" % name)
        results = [run_case(p, *case) for case in cases()]
    finally:
        p.stop(remove=results and all(results))  # kept for a look when a case failed
    return results


def main():
    started = time.time()
    results = run_cases("install", lambda: CASES)
    # One case on a display of 640x480 of its own.
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", "1", "-screen", "0", "640x480x24", "-nolisten", "tcp"],
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    try:
        results += run_cases("install-640x480", lambda: [("the wizard wholly on screen", "winxp", "", W + "press=2 exit",
                             [waiting(15010, 15052)])], display=":" + xvfb.stdout.readline().decode().strip())
    finally:
        xvfb.terminate()
    for locale in "zh_TW.UTF-8", "en_US.UTF-8":
        results += run_cases("install-" + locale, locale_cases, locale)
    print("%d cases, %d failed, %.0f s" % (len(results), results.count(False), time.time() - started))
    return 0 if all(results) else 1


if __name__ == "__main__":
    sys.exit(main())
