// Reads the resources back from the built program file.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "expected_strings.h"
#include "shell/paths.h"
#include "support/text_util.h"

namespace {

std::string ProgramPath()
{
    char dir[MAX_PATH];
    GetModuleFileNameA(nullptr, dir, MAX_PATH);
    std::string path = dir;
    path = path.substr(0, path.rfind('\\'));          // ...\tests
    path = path.substr(0, path.rfind('\\'));          // the build folder
    return path + "\\dist\\Setup\\Quellin9.exe";
}

class ProgramResources : public testing::Test {
protected:
    void SetUp() override
    {
        module_ = LoadLibraryExA(ProgramPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(nullptr, module_) << ProgramPath();
    }
    void TearDown() override
    {
        if (module_) FreeLibrary(module_);
    }

    std::string Utf8String(UINT id)
    {
        const WCHAR* text = nullptr;
        int n = LoadStringW(module_, id, reinterpret_cast<LPWSTR>(&text), 0);
        if (n <= 0) return "<missing>";
        int m = WideCharToMultiByte(CP_UTF8, 0, text, n, nullptr, 0, nullptr, nullptr);
        std::string out(m, '\0');
        WideCharToMultiByte(CP_UTF8, 0, text, n, &out[0], m, nullptr, nullptr);
        return out;
    }

    HMODULE module_ = nullptr;
};

TEST_F(ProgramResources, StringTableHoldsEveryTextExactly)
{
    for (const ExpectedString& e : kExpectedStrings) EXPECT_EQ(e.utf8, Utf8String(e.id)) << "id " << e.id;
    EXPECT_EQ("<missing>", Utf8String(15005));
    EXPECT_EQ("<missing>", Utf8String(5340));
}

BOOL CALLBACK CollectLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR out)
{
    reinterpret_cast<std::vector<WORD>*>(out)->push_back(language);
    return TRUE;
}

TEST_F(ProgramResources, StringBlocksCarryTheirLanguages)
{
    const WORD chinese = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED);
    const WORD neutral = MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL);
    for (const ExpectedString& e : kExpectedStrings) {
        std::vector<WORD> languages;
        EnumResourceLanguagesA(module_, MAKEINTRESOURCEA(6), MAKEINTRESOURCEA(e.id / 16 + 1),
                               CollectLanguage, reinterpret_cast<LONG_PTR>(&languages));
        EXPECT_EQ(std::vector<WORD>({e.id >= 15000 ? chinese : neutral}), languages) << e.id;
    }
}

TEST_F(ProgramResources, LoadedInTheAnsiCodePage)
{
    if (GetACP() != 936) GTEST_SKIP() << "needs code page 936";
    char text[32];
    ASSERT_EQ(4, LoadStringA(module_, 15052, text, sizeof(text)));
    EXPECT_STREQ("\xBD\xE1\xCA\xF8", text);  // "结束" in GBK
}

TEST_F(ProgramResources, VersionResource)
{
    WORD v[4] = {};
    ASSERT_EQ(1, GetFileVersion(ProgramPath().c_str(), &v[0], &v[1], &v[2], &v[3]));
    EXPECT_EQ(9, v[0]);
    EXPECT_EQ(0, v[1]);
    EXPECT_EQ(0, v[2]);
    EXPECT_EQ(1, v[3]);
    EXPECT_EQ(0x90000u, GetFileVersionMS(ProgramPath().c_str()));

    HRSRC found = FindResourceA(module_, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(16));
    ASSERT_NE(nullptr, found);
    const BYTE* raw = static_cast<const BYTE*>(LockResource(LoadResource(module_, found)));
    DWORD size = SizeofResource(module_, found);
    std::vector<BYTE> block(raw, raw + size);

    // The fixed part follows the 16-bit header and the key "VS_VERSION_INFO".
    const BYTE* p = block.data() + 6 + sizeof(L"VS_VERSION_INFO");
    while ((p - block.data()) % 4) ++p;
    const auto* fixed = reinterpret_cast<const VS_FIXEDFILEINFO*>(p);
    EXPECT_EQ(0xFEEF04BDu, fixed->dwSignature);
    EXPECT_EQ(0x90000u, fixed->dwFileVersionMS);
    EXPECT_EQ(1u, fixed->dwFileVersionLS);
    EXPECT_EQ(0x90000u, fixed->dwProductVersionMS);
    EXPECT_EQ(1u, fixed->dwProductVersionLS);
    EXPECT_EQ(0x28u, fixed->dwFileFlags);
    EXPECT_EQ(0x3Fu, fixed->dwFileFlagsMask);
    EXPECT_EQ(0x40004u, fixed->dwFileOS);
    EXPECT_EQ(static_cast<DWORD>(VFT_APP), fixed->dwFileType);

    // The ten string entries, in order, in block "04000000".
    const char* expected[][2] = {
        {"Comments", "Configures TAVRO GSM/GPRS USB Driver Installer(ChinesePrc)"},
        {"CompanyName", "TAVRO"},
        {"FileDescription", "TAVRO GSM/GPRS USB Driver Installer"},
        {"FileVersion", "9.0.0.001"},
        {"InternalName", "USB Driver Installer"},
        {"OriginalFilename", "Quellin9.exe"},
        {"PrivateBuild", "001"},
        {"ProductName", "TAVRO GSM/GPRS USB Driver Installer"},
        {"ProductVersion", "9, 0, 0, 1"},
        {"SpecialBuild", "001"},
    };
    std::wstring all(reinterpret_cast<const WCHAR*>(block.data()), size / 2);
    size_t at = all.find(L"04000000");
    ASSERT_NE(std::wstring::npos, at);
    for (const auto& entry : expected) {
        std::wstring key(entry[0], entry[0] + strlen(entry[0]));
        std::wstring value(entry[1], entry[1] + strlen(entry[1]));
        size_t k = all.find(key + L'\0', at);
        ASSERT_NE(std::wstring::npos, k) << entry[0];
        size_t v = all.find(value + L'\0', k);
        EXPECT_NE(std::wstring::npos, v) << entry[0];
        at = k + key.size();
    }
    size_t translation = all.find(L"Translation");
    ASSERT_NE(std::wstring::npos, translation);
    const BYTE* t = reinterpret_cast<const BYTE*>(all.data() + translation + 12);
    while ((t - reinterpret_cast<const BYTE*>(all.data())) % 4) ++t;
    EXPECT_EQ(0x0400, *reinterpret_cast<const WORD*>(t));
    EXPECT_EQ(0, *reinterpret_cast<const WORD*>(t + 2));
}

TEST_F(ProgramResources, ManifestAsksForAdministratorAndCommonControls6)
{
    HRSRC found = FindResourceA(module_, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
    ASSERT_NE(nullptr, found);
    std::string text(static_cast<const char*>(LockResource(LoadResource(module_, found))),
                     SizeofResource(module_, found));
    for (const char* part :
         {"version=\"1.0.0.0\" processorArchitecture=\"X86\" name=\"TAVRO.GSM.UsbInstaller\" type=\"win32\"",
          "<description>TAVRO GSM USB Installer</description>",
          "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\" processorArchitecture=\"X86\" "
          "publicKeyToken=\"6595b64144ccf1df\" language=\"*\"",
          "level=\"requireAdministrator\" uiAccess=\"false\""})
        EXPECT_NE(std::string::npos, text.find(part)) << part;
    EXPECT_EQ(std::string::npos, text.find("supportedOS"));
}

TEST_F(ProgramResources, ProgramIconGroup)
{
    HRSRC found = FindResourceA(module_, MAKEINTRESOURCEA(104), MAKEINTRESOURCEA(14));
    ASSERT_NE(nullptr, found);
    const BYTE* dir = static_cast<const BYTE*>(LockResource(LoadResource(module_, found)));
    WORD count = *reinterpret_cast<const WORD*>(dir + 4);
    ASSERT_EQ(4, count);
    std::vector<std::pair<int, int>> images;  // size, bits
    for (int i = 0; i < count; ++i) {
        const BYTE* e = dir + 6 + i * 14;
        images.push_back({e[0], *reinterpret_cast<const WORD*>(e + 6)});
    }
    std::sort(images.begin(), images.end());
    EXPECT_EQ((std::vector<std::pair<int, int>>{{16, 4}, {16, 8}, {32, 4}, {32, 8}}), images);
}

TEST(FileVersion, FileWithoutVersionResource)
{
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, MAX_PATH);
    std::string path = std::string(windows) + "\\win.ini";
    WORD major = 77;
    EXPECT_EQ(0, GetFileVersion(path.c_str(), &major, nullptr, nullptr, nullptr));
    EXPECT_EQ(77, major);
    EXPECT_EQ(0u, GetFileVersionMS(path.c_str()));
    EXPECT_EQ(0u, GetFileVersionMS("C:\\no\\such\\file.exe"));
}

}  // namespace
