// The removal's command line and paths: RunPnputilDelete for any INF name
// and any Windows folder length, MakeInfFilePath for any parts, and
// RemoveDriverKeyInfs for any InfPath text in the driver key.
// Invariants: the tool starts only for a name of plain file-name characters
// whose command line fits 260 characters, always by its full path in the
// system folder, with exactly "pnputil.exe -f -d <name>"; both process
// handles are closed; a failed start is shown once. MakeInfFilePath gives
// folder, one real backslash, stem, ".", extension, or nothing. The driver
// key step deletes only <stem>.inf and <stem>.PNF in the INF folders, where
// the stem is the InfPath up to its first real dot and names a file, not a
// path.
#include <string>
#include <vector>

#include "fuzz/common.h"
#include "removal/removal.h"

namespace {

bool Plain(const std::string& name)
{
    if (name.empty()) return false;
    for (char c : name) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                  c == '_' || c == '-';
        if (!ok) return false;
    }
    return true;
}

void CheckPnputil(const std::string& name, const std::string& windows, bool failStart)
{
    StandinSetWindowsDirectory(windows);
    StandinFailProcessStart(failStart ? ERROR_ACCESS_DENIED : 0);
    Block exact(name.size() + 1, name);
    int result = RunPnputilDelete(exact.Get());
    StandinFailProcessStart(0);
    std::string application = windows + "\\system32\\pnputil.exe";
    bool start = Plain(name) && 18 + name.size() <= 260 && windows.size() + 9 < 261 && application.size() <= 260;
    CHECK(StandinOpenKernelHandles() == 0, "process handles left open");
    CHECK(result == (start ? 1 : 0), "RunPnputilDelete %d for \"%s\"", result, Hex(name).c_str());
    if (!start || failStart) {
        CHECK(StandinProcesses().empty(), "started for \"%s\"", Hex(name).c_str());
        CHECK(StandinBoxes().size() == (start && failStart ? 1u : 0u), "%zu boxes", StandinBoxes().size());
        return;
    }
    CHECK(StandinProcesses().size() == 1, "%zu processes", StandinProcesses().size());
    const StandinProcess& p = StandinProcesses()[0];
    CHECK(p.application == application, "started \"%s\"", Hex(p.application).c_str());
    CHECK(p.commandLine == "pnputil.exe -f -d " + name, "command line \"%s\"", Hex(p.commandLine).c_str());
    CHECK(!p.inheritHandles, "handles inherited");
}

void CheckInfPath(const std::string& directory, const std::string& stem, const std::string& extension)
{
    Block out(261, "junk");
    int result = MakeInfFilePath(out.Get(), directory.c_str(), stem.c_str(), extension.c_str());
    CHECK(out.Terminated(), "no terminator");
    std::string text = out.Text();
    bool separator = !directory.empty() && directory.back() == '\\' && Kinds(directory).back() == 0;
    std::string expected = directory + (separator ? "" : "\\") + stem + "." + extension;
    bool fits = !directory.empty() && !stem.empty() && !extension.empty() && expected.size() <= 260 &&
                directory.size() <= 260;
    // A folder of 260 characters that needs a separator cannot take one.
    if (fits && !separator && directory.size() + 1 >= 261) fits = false;
    CHECK(result == (fits ? 1 : 0), "MakeInfFilePath %d for \"%s\" \"%s\" \"%s\"", result, Hex(directory).c_str(),
          Hex(stem).c_str(), Hex(extension).c_str());
    CHECK(text == (fits ? expected : std::string()), "MakeInfFilePath gave \"%s\"", Hex(text).c_str());
}

void CheckDriverKeyInfs(const std::string& infPath, OsClass osClass, const std::vector<std::string>& files)
{
    StandinRegClear();
    StandinRegSetValue("SYSTEM\\ControlSet001\\Enum\\USB\\VID_1B3F&PID_5C13&Mi_03\\9&1", "Driver", REG_SZ,
                       std::string("{4D36E96D-E325-11CE-BFC1-08002BE10318}\\0001") + '\0');
    StandinRegSetValue("SYSTEM\\ControlSet001\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}\\0001",
                       "InfPath", REG_SZ, infPath);
    for (const std::string& f : files) StandinAddFile(f, "x");

    DriverRemover remover(osClass);
    remover.RemoveDriverKeyInfs();
    CHECK(StandinOpenKeys() == 0 && StandinOpenSearches() == 0, "handles left open");

    // The stem: up to the first real dot; a stem holding a real \, / or :
    // names a path and is skipped.
    std::string text = infPath.substr(0, infPath.find('\0'));
    std::string kinds = Kinds(text);
    std::string stem;
    for (size_t i = 0; i < text.size(); ++i)
        if (text[i] == '.' && kinds[i] == 0) {
            stem = text.substr(0, i);
            break;
        }
    std::string stemKinds = Kinds(stem);
    for (size_t i = 0; i < stem.size(); ++i)
        if ((stem[i] == '\\' || stem[i] == '/' || stem[i] == ':') && stemKinds[i] == 0) stem.clear();
    std::vector<std::string> mayGo;
    if (!stem.empty() && osClass >= 11) {
        for (const char* ext : {".inf", ".PNF"}) {
            mayGo.push_back("C:\\WINDOWS\\INF\\" + stem + ext);
            if (osClass == 12) mayGo.push_back("C:\\WINDOWS\\LastGood\\INF\\" + stem + ext);
        }
    }
    for (const std::string& f : files) {
        if (StandinFileExists(f)) continue;
        bool allowed = false;
        for (const std::string& m : mayGo)
            if (lstrcmpiA(m.c_str(), f.c_str()) == 0) allowed = true;
        CHECK(allowed, "\"%s\" was deleted for InfPath \"%s\"", Hex(f).c_str(), Hex(text).c_str());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static bool started = (NormalStart(), true);
    (void)started;
    FuzzInput input(data, size, 3);
    const int mode = static_cast<int>(input.Byte(0) % 3);
    const int padding = static_cast<int>(input.Byte(1));
    const int flags = static_cast<int>(input.Byte(2));
    StandinClearFiles();
    StandinClearBoxes();
    StandinClearProcesses();
    std::string a = input.Text(), b = input.Text(), c = input.Text();
    if (a.size() > 400 || b.size() > 400 || c.size() > 400) return 0;
    if (mode == 0) {
        CheckPnputil(a, "C:\\" + std::string(padding, 'w'), flags & 1);
    } else if (mode == 1) {
        CheckInfPath(a, b, c);
    } else {
        std::vector<std::string> files;
        for (const std::string& folder : {std::string("C:\\WINDOWS\\INF\\"), std::string("C:\\WINDOWS\\LastGood\\INF\\"),
                                          std::string("C:\\WINDOWS\\")}) {
            files.push_back(folder + b);
            files.push_back(folder + c);
            files.push_back(folder + "oem1.inf");
            files.push_back(folder + "oem1.PNF");
        }
        CheckDriverKeyInfs(a, 11 + flags % 5, files);
    }
    return 0;
}
