// The staging's path work: GetPackageSourceDir for any program folder, the
// Windows-folder builders for Windows folders of any length, and the scan
// for stale OEM copies over an INF folder of any names (phone INFs or
// others, read-only, folders, with or without .PNF companions).
// Invariants: the package folder is the parent of the program's folder (cut
// at its last real backslash, never at a 0x5C trail byte) plus "\Drivers",
// or nothing when that exceeds 260 characters; the builders give the
// Windows folder plus their parts exactly, or fail; the scan deletes every
// phone INF named oem*.inf whose path fits (259 characters, the name being
// appended with AppendString's reserve), with its .PNF companion, and
// nothing else; every search and INF handle is closed; no box.
#include <string>
#include <vector>

#include "fuzz/common.h"
#include "staging/inf_stager.h"

namespace {

std::string PhoneInf()
{
    return "[Version]\r\nSignature=\"$Windows NT$\"\r\n[Tavro_wmc]\r\n%D%=Install,usb\\vid_1b3f&pid_5c13&mi_03\r\n"
           "[Strings]\r\nD=\"Port\"\r\n";
}

int LastRealBackslash(const std::string& text, size_t end)
{
    std::string kinds = Kinds(text);
    int found = -1;
    for (size_t i = 0; i < end && i < text.size(); ++i)
        if (text[i] == '\\' && kinds[i] == 0) found = static_cast<int>(i);
    return found;
}

void CheckPackageSource(const std::string& programDir)
{
    lstrcpynA(App().programDir, programDir.c_str(), sizeof(App().programDir));
    std::string folder = App().programDir;
    Block out(261, "x");
    InfStager stager(12);
    int result = stager.GetPackageSourceDir(out.Get());
    CHECK(out.Terminated(), "no terminator");
    std::string expected;
    if (!folder.empty()) {
        int cut = LastRealBackslash(folder, folder.size() - 1);
        if (cut >= 0) {
            folder.resize(cut);
        } else {
            folder.resize(Kinds(folder)[folder.size() - 1] == 2 ? folder.size() - 2 : folder.size() - 1);
        }
        expected = folder + "\\Drivers";
        if (expected.size() > 260) expected.clear();
    }
    CHECK(result == (expected.empty() ? 0 : 1), "GetPackageSourceDir %d for \"%s\"", result, Hex(programDir).c_str());
    CHECK(out.Text() == expected, "got \"%s\", expected \"%s\"", Hex(out.Text()).c_str(), Hex(expected).c_str());
}

void CheckBuilders(const std::string& windows)
{
    StandinSetWindowsDirectory(windows);
    InfStager stager(12);
    const struct {
        int (InfStager::*build)(char*);
        const char* tail;
    } builders[] = {
        {&InfStager::GetDriversDir, "\\SYSTEM32\\DRIVERS"},
        {&InfStager::GetLastGoodDriversDir, "\\LastGood\\SYSTEM32\\DRIVERS"},
        {&InfStager::GetInfDir, "\\INF"},
        {&InfStager::GetLastGoodInfDir, "\\LastGood\\INF"},
    };
    for (const auto& b : builders) {
        Block out(261, "");
        int result = (stager.*b.build)(out.Get());
        std::string expected = windows + b.tail;
        bool fits = !windows.empty() && windows.size() < 261 && expected.size() <= 260;
        CHECK(result == (fits ? 1 : 0), "builder %s gave %d for a %zu-byte folder", b.tail, result, windows.size());
        if (fits) CHECK(out.Text() == expected, "builder %s gave \"%s\"", b.tail, Hex(out.Text()).c_str());
        CHECK(out.Terminated() && out.Text().size() <= 260, "over-long result");
    }
    StandinSetWindowsDirectory("C:\\WINDOWS");
}

// The companion: the path up to its last single-byte dot, plus ".PNF".
std::string Companion(const std::string& path)
{
    std::string kinds = Kinds(path);
    for (size_t i = path.size(); i-- > 0;)
        if (path[i] == '.' && kinds[i] == 0) return path.substr(0, i) + ".PNF";
    return path + ".PNF";
}

bool OemInfName(const std::string& name)
{
    std::string upper = name;
    for (char& c : upper)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return upper.size() >= 7 && upper.compare(0, 3, "OEM") == 0 && upper.compare(upper.size() - 4, 4, ".INF") == 0;
}

void CheckScan(FuzzInput& input, const std::string& windows)
{
    StandinSetWindowsDirectory(windows);
    const std::string folder = windows + "\\INF\\";
    struct Entry {
        std::string path;
        bool phone, directory;
    };
    std::vector<Entry> entries;
    for (std::string field = input.Text(); field.size() > 1 && entries.size() < 30; field = input.Text()) {
        unsigned flags = static_cast<unsigned char>(field[0]);
        std::string name = field.substr(1);
        if (name.find('\\') != std::string::npos) continue;
        Entry e{folder + name, (flags & 1) != 0, (flags & 8) != 0};
        StandinAddFile(e.path, e.phone ? PhoneInf() : "[Tavro_wmc]\r\nk=i,USB\\VID_2222\r\n", e.directory);
        if (flags & 2) StandinSetFileReadOnly(e.path);
        if (flags & 4) StandinAddFile(Companion(e.path), "compiled");
        entries.push_back(e);
    }
    std::vector<std::string> before = StandinListFolder(windows + "\\INF", "*");
    // Which files may go: phone INFs named oem*.inf whose path fits, and
    // their companions.
    std::vector<std::string> mayGo;
    for (const std::string& name : before) {
        std::string path = folder + name;
        DWORD attributes = GetFileAttributesA(path.c_str());
        std::string content;
        bool phone = StandinReadFile(path, &content) && content == PhoneInf();
        // AppendString keeps the buffer's last byte free: 259 characters.
        if (OemInfName(name) && phone && !(attributes & FILE_ATTRIBUTE_DIRECTORY) && path.size() <= 259) {
            mayGo.push_back(path);
            mayGo.push_back(Companion(path));
        }
    }
    InfStager stager(12);
    stager.RemoveStaleOemInfs();
    CHECK(StandinOpenSearches() == 0 && StandinOpenInfs() == 0, "handles left open");
    CHECK(StandinBoxes().empty(), "a box was shown");

    for (const std::string& name : before) {
        std::string path = folder + name;
        bool gone = !StandinFileExists(path);
        bool allowed = false;
        for (const std::string& m : mayGo)
            if (lstrcmpiA(m.c_str(), path.c_str()) == 0) allowed = true;
        CHECK(!gone || allowed, "\"%s\" was deleted", Hex(path).c_str());
        // A name holding a placeholder is changed by AppendString's
        // substitution; the system never gives an oem*.inf such a name.
        bool placeholder = name.find("<%") != std::string::npos;
        if (OemInfName(name) && allowed && !placeholder && GetFileAttributesA(path.c_str()) != FILE_ATTRIBUTE_DIRECTORY) {
            CHECK(gone, "the phone's copy \"%s\" was kept", Hex(path).c_str());
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static bool started = (NormalStart(), true);
    (void)started;
    FuzzInput input(data, size, 2);
    const int mode = static_cast<int>(input.Byte(0) % 3);
    const int padding = static_cast<int>(input.Byte(1));
    StandinClearFiles();
    StandinClearBoxes();
    const std::string windows = "C:\\" + std::string(padding, 'W');
    if (mode == 0) {
        std::string programDir = input.Text();
        if (programDir.size() > 400) return 0;
        CheckPackageSource(programDir);
    } else if (mode == 1) {
        std::string folder = input.Text();
        if (folder.size() > 400) return 0;
        CheckBuilders(folder.empty() ? windows : folder);
    } else {
        CheckScan(input, windows);
    }
    return 0;
}
