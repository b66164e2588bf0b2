// ReadConfiguration with any INI text, any program path and an icon file
// that may or may not exist.
// Invariants: the brand names are terminated inside their 17 bytes, never
// empty and never end in half a character; the icon path is empty or the
// program folder joined with an existing file's name, at most 260
// characters; exactly the two placeholder pairs are registered; an ICON
// value that is plain text is accepted exactly when the joined path fits
// and names an existing file that is not a folder.
#include <string>

#include "fuzz/common.h"

namespace {

std::string Folded(std::string text)
{
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

bool Plain(const std::string& value)
{
    if (value.empty() || value[0] == ' ' || value.back() == ' ' || value[0] == '"' || value[0] == '\'') return false;
    for (char c : value)
        if (c == '\r' || c == '\n' || c == '\t' || c == ';') return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput input(data, size, 2);
    const bool rawIni = input.Byte(0) & 1;
    const bool iconIsFolder = input.Byte(0) & 2;
    const int modulePadding = static_cast<int>(input.Byte(1));
    std::string name = input.Text();
    std::string name2 = input.Text();
    std::string icon = input.Text();
    std::string raw = input.Text();
    std::string existingIcon = input.Text();
    if (name.size() + name2.size() + icon.size() + raw.size() > 4000) return 0;

    static ApplicationRecord record;
    StandinReset();
    std::string module = "C:\\Quellin\\" + std::string(modulePadding, 'p') + "\\Setup\\Quellin9.exe";
    if (modulePadding > 250) module = "Quellin9.exe";  // no folder at all
    StandinSetModulePath(module);
    ZeroMemory(&record, sizeof(record));
    UseApplicationRecord(&record);
    GetModuleDirectory(record.programDir, sizeof(record.programDir));
    const std::string folder = record.programDir;

    std::string ini = rawIni ? raw
                             : "[UsbInst]\r\nNAME=" + name + "\r\nNAME2=" + name2 + "\r\nICON=" + icon + "\r\n" + raw;
    StandinAddFile(folder.empty() ? "C:\\WINDOWS\\Quellin9.ini" : folder + "Quellin9.ini", ini);
    if (!existingIcon.empty()) StandinAddFile(folder + existingIcon, "icon", iconIsFolder);

    Placeholders().Clear();
    ReadConfiguration();

    CHECK(memchr(record.seriesName, 0, sizeof(record.seriesName)), "series name not terminated");
    CHECK(memchr(record.categoryName, 0, sizeof(record.categoryName)), "category name not terminated");
    CHECK(memchr(record.iconPath, 0, sizeof(record.iconPath)), "icon path not terminated");
    std::string series = record.seriesName, category = record.categoryName, iconPath = record.iconPath;
    CHECK(!series.empty() && !category.empty(), "an empty brand name");
    CHECK(!EndsInLoneLead(series) && !EndsInLoneLead(category), "a brand name ends in half a character: \"%s\" \"%s\"",
          Hex(series).c_str(), Hex(category).c_str());
    CHECK(Placeholders().Count() == 2, "%d placeholder pairs", Placeholders().Count());
    if (!iconPath.empty()) {
        CHECK(iconPath.size() <= 260 && iconPath.compare(0, folder.size(), folder) == 0,
              "icon path \"%s\" outside the folder", Hex(iconPath).c_str());
        CHECK(GetFileAttributesA(iconPath.c_str()) == FILE_ATTRIBUTE_NORMAL, "icon path names no file");
    }
    if (!rawIni && Plain(icon) && icon.size() < 261 && Folded(raw).find("ICON") == std::string::npos &&
        name.find('\n') == std::string::npos &&
        name2.find('\n') == std::string::npos && name.find('[') == std::string::npos &&
        name2.find('[') == std::string::npos) {
        // Any file counts, the INI itself included.
        // The INI's own path keeps AppendString's one-byte reserve: a folder
        // of more than 247 characters leaves it unread.
        bool iniRead = folder.size() + 12 <= 259;
        bool accepted = iniRead && folder.size() + icon.size() <= 260 &&
                        GetFileAttributesA((folder + icon).c_str()) == FILE_ATTRIBUTE_NORMAL;
        CHECK(accepted == !iconPath.empty(), "ICON \"%s\" accepted %d, expected %d", Hex(icon).c_str(),
              !iconPath.empty(), accepted);
    }
    return 0;
}
