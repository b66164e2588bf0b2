#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "regpurge/registry_accessor.h"
#include "regpurge/seed.h"
#include "shell/osclass.h"
#include "support/box_recorder.h"
#include "support/fault.h"
#include "support/registry.h"

namespace {

using seed::ExpectSystemErrors;

struct Ace {
    BYTE type;
    BYTE flags;
    DWORD mask;
    std::string sid;
};

std::string SidText(PSID sid)
{
    std::string text = "S-1-" + std::to_string(GetSidIdentifierAuthority(sid)->Value[5]);
    for (BYTE i = 0; i < *GetSidSubAuthorityCount(sid); ++i)
        text += "-" + std::to_string(*GetSidSubAuthority(sid, i));
    return text;
}

// The key's access list as read back from the registry; present is false
// when the descriptor holds no list or a null one.
std::vector<Ace> ReadDacl(const std::string& path, bool* present = nullptr)
{
    std::vector<Ace> aces;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != 0) return aces;
    std::vector<BYTE> buffer(0x10014);
    DWORD size = static_cast<DWORD>(buffer.size());
    LONG status = RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, buffer.data(), &size);
    RegCloseKey(key);
    EXPECT_EQ(ERROR_SUCCESS, status);
    BOOL isPresent = FALSE, defaulted = FALSE;
    PACL acl = nullptr;
    GetSecurityDescriptorDacl(buffer.data(), &isPresent, &acl, &defaulted);
    if (present) *present = isPresent && acl;
    if (!isPresent || !acl) return aces;
    for (DWORD i = 0; i < acl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        GetAce(acl, i, reinterpret_cast<void**>(&ace));
        aces.push_back({ace->Header.AceType, ace->Header.AceFlags, ace->Mask,
                        SidText(reinterpret_cast<PSID>(&ace->SidStart))});
    }
    return aces;
}

// Writes an access list of the given entries (allowed or denied by type).
bool WriteDacl(const std::string& path, const std::vector<Ace>& aces, bool nullDacl = false)
{
    std::vector<BYTE> aclBuffer(1024);
    PACL acl = reinterpret_cast<PACL>(aclBuffer.data());
    InitializeAcl(acl, static_cast<DWORD>(aclBuffer.size()), ACL_REVISION);
    for (const Ace& ace : aces) {
        PSID sid = nullptr;
        if (!ConvertStringSidToSidA(ace.sid.c_str(), &sid)) return false;
        BOOL ok = ace.type == ACCESS_ALLOWED_ACE_TYPE
                      ? AddAccessAllowedAceEx(acl, ACL_REVISION, ace.flags, ace.mask, sid)
                      : AddAccessDeniedAceEx(acl, ACL_REVISION, ace.flags, ace.mask, sid);
        LocalFree(sid);
        if (!ok) return false;
    }
    SECURITY_DESCRIPTOR sd;
    InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&sd, TRUE, nullDacl ? nullptr : acl, FALSE);
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ALL_ACCESS, &key) != 0) return false;
    LONG status = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &sd);
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

bool operator==(const Ace& a, const Ace& b)
{
    return a.type == b.type && a.flags == b.flags && a.mask == b.mask && a.sid == b.sid;
}

void PrintTo(const Ace& a, std::ostream* os)
{
    *os << "{type " << int(a.type) << " flags " << int(a.flags) << " mask 0x" << std::hex << a.mask
        << std::dec << " " << a.sid << "}";
}

const Ace kGranted = {ACCESS_ALLOWED_ACE_TYPE, 0, 0xF003F, "S-1-5-32-544"};

const std::vector<Ace> kFive = {
    {ACCESS_DENIED_ACE_TYPE, 0, KEY_SET_VALUE, "S-1-5-32-545"},
    {ACCESS_ALLOWED_ACE_TYPE, CONTAINER_INHERIT_ACE, KEY_READ, "S-1-1-0"},
    {ACCESS_ALLOWED_ACE_TYPE, 0, KEY_ALL_ACCESS, "S-1-5-18"},
    {ACCESS_ALLOWED_ACE_TYPE, CONTAINER_INHERIT_ACE | INHERIT_ONLY_ACE, KEY_ALL_ACCESS, "S-1-3-0"},
    {ACCESS_ALLOWED_ACE_TYPE, 0, KEY_READ, "S-1-5-32-544"},
};

class KeySecurityTest : public testing::Test {
protected:
    RegistryScratch scratch{{"RpTest"}};
    RegistryAccessor accessor{OsWinXP};
    BoxRecorder boxes;
};

TEST_F(KeySecurityTest, AppendsFullControlForAdministratorsAfterTheOldEntries)
{
    ASSERT_TRUE(reg::CreateKey("RpTest\\Key\\Sub"));
    ASSERT_TRUE(WriteDacl("RpTest\\Key", kFive));
    ASSERT_TRUE(WriteDacl("RpTest\\Key\\Sub", kFive));
    ASSERT_EQ(kFive, ReadDacl("RpTest\\Key"));
    KeyBalance balance;
    EXPECT_EQ(1, accessor.GrantKeyAccess("RpTest", "Key"));
    EXPECT_EQ(0, balance.Balance());
    std::vector<Ace> expected = kFive;
    expected.push_back(kGranted);
    EXPECT_EQ(expected, ReadDacl("RpTest\\Key"));
    EXPECT_EQ(kFive, ReadDacl("RpTest\\Key\\Sub")) << "subkeys keep their list";

    // A list that already grants full control still gets one more entry.
    EXPECT_EQ(0u, GrantAdminsFullControl(HKEY_LOCAL_MACHINE, "RpTest\\Key"));
    expected.push_back(kGranted);
    EXPECT_EQ(expected, ReadDacl("RpTest\\Key"));
    ExpectSystemErrors(boxes, {});
}

TEST_F(KeySecurityTest, AKeyWithoutAListIsLeftAsItIs)
{
    ASSERT_TRUE(reg::CreateKey("RpTest\\Open"));
    ASSERT_TRUE(WriteDacl("RpTest\\Open", {}, true));
    bool present = true;
    ReadDacl("RpTest\\Open", &present);
    if (present) GTEST_SKIP() << "this Wine does not keep a null access list";
    EXPECT_EQ(1, accessor.GrantKeyAccess("RpTest", "Open"));
    ReadDacl("RpTest\\Open", &present);
    EXPECT_FALSE(present) << "a null list lets everyone in; an Administrators-only list would not";
    ExpectSystemErrors(boxes, {});
}

TEST_F(KeySecurityTest, MissingKeysAndOverlongPathsAreNotGranted)
{
    ASSERT_TRUE(reg::CreateKey("RpTest"));
    EXPECT_EQ(1, accessor.GrantKeyAccess("RpTest", "Missing"));
    EXPECT_EQ(0u, GrantAdminsFullControl(HKEY_LOCAL_MACHINE, "RpTest\\Missing"));

    // 255 + 1 + 10 characters do not fit in 260; neither does an empty path
    // or one that ends in a backslash take a relative part.
    std::string longPath = "RpTest\\" + std::string(120, 'k') + "\\" + std::string(127, 'm');
    ASSERT_EQ(255u, longPath.size());
    {
        FAIL_CALL_NAMED(sets, advapi32.dll, RegSetKeySecurity, 0, 0, 1000);
        EXPECT_EQ(0, accessor.GrantKeyAccess(longPath.c_str(), "0123456789"));
        EXPECT_EQ(0, accessor.GrantKeyAccess("", "RpTest"));
        EXPECT_EQ(0, accessor.GrantKeyAccess("RpTest\\", "x"));
        EXPECT_EQ(0, sets.Calls());
    }
    // 250 + 1 + 9 fits exactly.
    std::string fits = longPath.substr(0, 250);
    ASSERT_TRUE(reg::CreateKey(fits + "\\012345678"));
    EXPECT_EQ(1, accessor.GrantKeyAccess(fits.c_str(), "012345678"));
    EXPECT_EQ(kGranted, ReadDacl(fits + "\\012345678").back());
    ExpectSystemErrors(boxes, {});
}

TEST_F(KeySecurityTest, AFailedGrantShowsTheFailingStepsCodeOnce)
{
    ASSERT_TRUE(reg::CreateKey("RpTest\\Key"));
    ASSERT_TRUE(WriteDacl("RpTest\\Key", kFive));
    {
        // The registry answers its status; the thread's last error says nothing.
        FAIL_CALL(advapi32.dll, RegSetKeySecurity, ERROR_ACCESS_DENIED, ERROR_SUCCESS);
        EXPECT_EQ(0, accessor.GrantKeyAccess("RpTest", "Key"));
    }
    {
        FAIL_CALL(advapi32.dll, RegGetKeySecurity, ERROR_INVALID_SECURITY_DESCR, ERROR_SUCCESS);
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_SECURITY_DESCR),
                  GrantAdminsFullControl(HKEY_LOCAL_MACHINE, "RpTest\\Key"));
    }
    {
        FAIL_CALL(kernel32.dll, HeapAlloc, nullptr, ERROR_SUCCESS);
        EXPECT_EQ(0, accessor.GrantKeyAccess("RpTest", "Key"));
    }
    {
        FAIL_CALL(advapi32.dll, AddAce, FALSE, ERROR_INVALID_PARAMETER, 2, 1);
        EXPECT_EQ(0, accessor.GrantKeyAccess("RpTest", "Key"));
    }
    EXPECT_EQ(kFive, ReadDacl("RpTest\\Key")) << "nothing is written unless every step succeeded";
    ExpectSystemErrors(boxes, {ERROR_ACCESS_DENIED, ERROR_NOT_ENOUGH_MEMORY, ERROR_INVALID_PARAMETER});
}

}  // namespace
