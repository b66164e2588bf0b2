// InfStager on the prefix's real INF folder and the test build's packages,
// and the wizard's staging step around it.
#include <windows.h>
#include <setupapi.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "resources/ids.h"
#include "shell/app.h"
#include "shell/text.h"
#include "staging/inf_stager.h"
#include "support/box_recorder.h"
#include "support/fault.h"
#include "support/files.h"
#include "support/import_patch.h"
#include "support/text_util.h"
#include "wizard/install_wizard.h"

namespace {

// A Windows 4 style INF whose model section starts with the given lines.
std::string Inf(const std::string& lines, const std::string& section = "Tavro_wmc")
{
    return "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Ports\r\n[Manufacturer]\r\nTAVRO=" +
           section + "\r\n[" + section + "]\r\n" + lines + "\r\n[Strings]\r\nPort=\"TV4170K Port\"\r\n";
}

// build/tests-<arch>/dist/Drivers, beside the folder of the test program.
std::string DriversDir()
{
    char exe[MAX_PATH];
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string path = exe;
    path.resize(path.rfind('\\'));
    return path.substr(0, path.rfind('\\')) + "\\dist\\Drivers";
}

std::string InfDir() { return WindowsDir() + "\\inf"; }

// Names of the files and folders that match, in the order the system lists them.
std::vector<std::string> ListFiles(const std::string& pattern)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern.c_str(), &found);
    for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found))
        names.push_back(found.cFileName);
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
    return names;
}

TEST(IsPhoneInf, LooksOnlyAtTheFirstHardwareIdOfTheFirstModelLine)
{
    struct Case {
        std::string name, text;  // text empty: no file
        int expected;
    };
    const std::string phone = "%Port%=Port.Install,USB\\VID_1B3F&PID_5C13";
    std::vector<Case> cases = {
        {"upper case", Inf(phone + "&Mi_01"), 1},
        {"lower case", Inf("%Port%=Port.Install,usb\\vid_1b3f&pid_5c13&mi_01"), 1},
        {"first of two ids", Inf(phone + ",USB\\VID_0001"), 1},
        {"only on the second line", Inf("%Port%=Port.Install,USB\\VID_2222\r\n" + phone), 0},
        {"only as the second id", Inf("%Port%=Port.Install,USB\\VID_2222,USB\\VID_1B3F&PID_5C13"), 0},
        {"only as the install section", Inf("%Port%=VID_1B3F&PID_5C13,USB\\VID_2222"), 0},
        {"only as the key", Inf("VID_1B3F&PID_5C13=Port.Install,USB\\VID_2222"), 0},
        {"no hardware id", Inf("%Port%=Port.Install"), 0},
        {"no model section", Inf(phone, "Other_wmc"), 0},
        {"no Windows 4 signature", "[Tavro_wmc]\r\nx=Port.Install,USB\\VID_1B3F&PID_5C13\r\n", 0},
        {"no file", "", 0},
    };
    if (GetACP() == 936) {
        // Upper-casing keeps double-byte characters whole, and a match starts
        // on a whole character: the trail byte 'v' of 0x81 'v' is no 'V'.
        std::string before = "%Port%=Port.Install,USB\\";
        std::string word = Utf8ToAnsi(u8"表");
        cases.push_back({"after a double-byte character", Inf(before + word + "vid_1b3f&pid_5c13"), 1});
        cases.push_back({"a trail byte as its first letter", Inf(before + "\x81vid_1b3f&pid_5c13"), 0});
    }
    ScratchDir dir("q9inf");
    InfStager stager(12);
    for (size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        std::string path = dir / ("case" + std::to_string(i) + ".inf");
        if (!c.text.empty()) {
            ASSERT_TRUE(WriteFileText(path, c.text));
        }
        EXPECT_EQ(c.expected, stager.IsPhoneInf(path.c_str())) << c.name;
    }
    for (const char* package : packageInfNames)
        EXPECT_EQ(1, stager.IsPhoneInf((DriversDir() + "\\" + package).c_str())) << package;
}

// Works in the prefix's real INF folder under names no system INF uses.
class OemInfScan : public testing::Test {
protected:
    OemInfScan() { Clean(); }
    ~OemInfScan() override { Clean(); }

    static std::string Path(const std::string& name) { return InfDir() + "\\" + name; }
    static void Clean()
    {
        for (const std::string& name : ListFiles(Path("oem91*.*"))) RemoveTree(Path(name));
        RemoveTree(Path("tavro9106.inf"));
    }
    static void Put(const std::string& name, const std::string& text, DWORD attributes = 0)
    {
        ASSERT_TRUE(WriteFileText(Path(name), text)) << name;
        if (attributes) SetFileAttributesA(Path(name).c_str(), attributes);
    }

    const std::string phone = Inf("%Port%=Port.Install,usb\\vid_1b3f&pid_5c13&mi_03");
    const std::string foreign = Inf("%Port%=Port.Install,USB\\VID_0BDA&PID_8150");
    InfStager stager{12};
};

TEST_F(OemInfScan, DeletesThePhonesCopiesWithTheirCompanions)
{
    Put("oem9101.inf", phone);
    Put("oem9101.PNF", "precompiled");
    Put("oem9102.inf", phone);  // without a companion
    Put("oem9103.inf", foreign);
    Put("oem9103.PNF", "precompiled");
    Put("oem9104.inf", phone, FILE_ATTRIBUTE_READONLY);
    Put("oem9104.PNF", "precompiled", FILE_ATTRIBUTE_READONLY);
    ASSERT_TRUE(CreateDirectoryA(Path("oem9105.inf").c_str(), nullptr));
    Put("oem9105.inf\\inside.txt", "x");
    Put("tavro9106.inf", phone);  // not an oem*.inf name

    EXPECT_EQ(1, stager.RemoveStaleOemInfs());
    for (const char* gone : {"oem9101.inf", "oem9101.PNF", "oem9102.inf", "oem9104.inf", "oem9104.PNF"})
        EXPECT_FALSE(FileExists(Path(gone))) << gone;
    for (const char* kept : {"oem9103.inf", "oem9103.PNF", "tavro9106.inf", "oem9105.inf\\inside.txt"})
        EXPECT_TRUE(FileExists(Path(kept))) << kept;
}

// Copies listed before one in use are gone; it, its companion and every
// later copy stay.
TEST_F(OemInfScan, StopsAtACopyItCannotDelete)
{
    for (const char* name : {"oem9111.inf", "oem9112.inf", "oem9113.inf", "oem9114.inf"}) Put(name, phone);
    Put("oem9112.PNF", "precompiled");
    HANDLE held = CreateFileA(Path("oem9112.inf").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    std::vector<std::string> order = ListFiles(Path("oem91*.inf"));

    EXPECT_EQ(0, stager.RemoveStaleOemInfs());
    CloseHandle(held);
    EXPECT_TRUE(FileExists(Path("oem9112.PNF")));
    bool reached = false;
    for (const std::string& name : order) {
        reached |= name == "oem9112.inf";
        EXPECT_EQ(reached, FileExists(Path(name))) << name << (reached ? " must stay" : " must go");
    }
}

// The sources SetupCopyOEMInfA was asked to copy; every copy "succeeds".
std::vector<std::string> copied;

BOOL WINAPI RecordCopy(PCSTR source, PCSTR, DWORD, DWORD, PSTR, DWORD, PDWORD, PSTR*)
{
    copied.push_back(source);
    return TRUE;
}

// The packages lie beside the program's folder; a package path is at most
// 259 characters, and no path is ever cut.
TEST(CopyPackagesToStore, TakesThePackagesBesideTheProgramsFolder)
{
    struct Case {
        std::string programDir;
        std::string source;  // empty: none
        size_t copies;
    };
    // Beside a folder whose Drivers folder is `length` characters long.
    auto program = [](int length) { return "C:\\" + std::string(length - 11, 'p') + "\\Setup\\"; };
    auto source = [](int length) { return "C:\\" + std::string(length - 11, 'p') + "\\Drivers"; };
    std::vector<Case> cases = {
        {"X:\\", "X:\\Drivers", 4},
        {"C:\\Program Files\\TAVRO\\Setup\\", "C:\\Program Files\\TAVRO\\Drivers", 4},
        {"", "", 0},                            // no folder, nothing beside it
        {program(246), source(246), 4},         // TVymdat2.inf, the longest name, at 259
        {program(247), source(247), 2},         // TVymdat2.inf at 260
        {program(248), source(248), 1},         // TVyobx2.inf at 260
        {program(249), source(249), 0},         // TVybus.inf at 260
        {program(260), source(260), 0},
        {program(261), "", 0},
    };
    // The folder's last character 0x81 0x5C ends in a byte that is no backslash.
    if (GetACP() == 936) cases.push_back({"C:\\Tools\\\x81\x5C\\", "C:\\Tools\\Drivers", 4});
    ImportPatch patch("setupapi.dll", "SetupCopyOEMInfA", reinterpret_cast<void*>(&RecordCopy));
    ASSERT_TRUE(patch.Applied());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.programDir);
        lstrcpynA(App().programDir, c.programDir.c_str(), PATH_BUFFER);
        InfStager stager(12);
        char out[PATH_BUFFER] = "previous";
        EXPECT_EQ(c.source.empty() ? 0 : 1, stager.GetPackageSourceDir(out));
        EXPECT_EQ(c.source, out);
        copied.clear();
        BoxRecorder boxes;
        EXPECT_EQ(c.copies == 4 ? 1 : 0, stager.CopyPackagesToStore());
        ASSERT_EQ(c.copies, copied.size());
        for (size_t i = 0; i < copied.size(); ++i) EXPECT_EQ(c.source + "\\" + packageInfNames[i], copied[i]);
        EXPECT_EQ(0u, boxes.Count()) << boxes.Describe();
    }
}

// Paths of the INF files in the INF folder with a package's content: the
// system keeps the package's own name or gives it an oemN.inf one.
std::vector<std::string> CopiesOf(const std::string& package)
{
    std::string content = ReadFileText(DriversDir() + "\\" + package);
    std::vector<std::string> copies;
    for (const std::string& name : ListFiles(InfDir() + "\\*.inf"))
        if (ReadFileText(InfDir() + "\\" + name) == content) copies.push_back(InfDir() + "\\" + name);
    return copies;
}

// The copies with their companions, and the catalogs the system added.
void RemovePackageCopies()
{
    std::string catalogs = WindowsDir() + "\\system32\\catroot\\{F750E6C3-38EE-11D1-85E5-00C04FC295EE}\\";
    for (const std::string package : packageInfNames) {
        RemoveTree(catalogs + package.substr(0, package.size() - 4) + ".cat");
        for (std::string path : CopiesOf(package)) {
            RemoveTree(path);
            RemoveTree(path.replace(path.size() - 4, 4, ".pnf"));
        }
    }
}

const DWORD kNoFailure = 0xFFFFFFFF;

TEST(PrepareDriverStore, NoticeThenCleanUpThenCopies)
{
    char notice[1024];
    LoadText(IDS_STAGING_NOTICE, notice);
    const std::string stale = InfDir() + "\\oem9201.inf";
    struct Case {
        const char* name;
        OsClass osClass;
        int answer;
        DWORD failure;  // of the second copy
        bool staleHeld;
        int result;
        std::vector<std::string> boxes;  // their texts
        const char* staged;  // copies per package
        bool staleKept;
    } const cases[] = {
        {"XP, OK", 12, IDOK, kNoFailure, false, 1, {notice}, "1111", false},
        {"2000, notice closed", 11, IDCLOSE, kNoFailure, false, 0, {notice}, "0000", true},
        {"NT 4: nothing to do", 10, IDOK, kNoFailure, false, 0, {}, "0000", true},
        {"second copy fails", 12, IDOK, ERROR_ACCESS_DENIED, false, 0, {notice, SystemMessage(5)}, "1000",
         false},
        {"no catalog: no box", 13, IDOK, 0xE000022F, false, 0, {notice}, "1000", false},
        {"failure without a code: no box", 12, IDOK, 0, false, 0, {notice}, "1000", false},
        {"stale copy in use: copying goes on", 13, IDOK, kNoFailure, true, 1, {notice}, "1111", true},
    };
    lstrcpyA(App().programDir, (DriversDir().substr(0, DriversDir().size() - 7) + "Setup\\").c_str());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RemovePackageCopies();
        ASSERT_TRUE(WriteFileText(stale, Inf("%Port%=Bus.Install,USB\\VID_1B3F&PID_5C13")));
        HANDLE held = c.staleHeld ? CreateFileA(stale.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                OPEN_EXISTING, 0, nullptr)
                                  : INVALID_HANDLE_VALUE;
        FAIL_CALL(setupapi.dll, SetupCopyOEMInfA, FALSE, c.failure, 1, c.failure == kNoFailure ? 0 : 1);
        BoxRecorder boxes;
        boxes.Answer(c.answer);
        InstallWizard wizard(c.osClass, 0);

        EXPECT_EQ(c.result, wizard.PrepareDriverStore());
        if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
        EXPECT_EQ(c.result == 1 ? Waiting : Idle, wizard.State());
        std::vector<std::string> shown;
        for (const RecordedBox& box : boxes.Boxes()) shown.push_back(box.text);
        EXPECT_EQ(c.boxes, shown);
        std::string staged;
        for (const char* package : packageInfNames) staged += std::to_string(CopiesOf(package).size());
        EXPECT_EQ(c.staged, staged);
        EXPECT_EQ(c.staleKept, FileExists(stale));
    }
    RemovePackageCopies();
    RemoveTree(stale);
}

}  // namespace
