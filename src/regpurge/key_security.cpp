#include "regpurge/registry_accessor.h"

#include "shell/handles.h"
#include "shell/msgbox.h"
#include "shell/paths.h"

namespace {

struct ProcessHeapTraits {
    using Type = void*;
    static Type Invalid() { return nullptr; }
    static void Close(Type p) { HeapFree(GetProcessHeap(), 0, p); }
};
using UniqueHeapBlock = UniqueHandle<ProcessHeapTraits>;

// Largest access-control list plus the descriptor header.
const DWORD kDescriptorBuffer = 0x10014;

// Builds the new list: the old entries in their order, then full control for
// the Administrators group. Answers a Win32 error code, 0 on success.
DWORD BuildGrantedAcl(PACL oldAcl, PSID admins, UniqueHeapBlock& newAcl)
{
    ACL_SIZE_INFORMATION sizeInfo = {};
    if (!GetAclInformation(oldAcl, &sizeInfo, sizeof(sizeInfo), AclSizeInformation))
        return GetLastError();
    DWORD size = sizeInfo.AclBytesInUse + GetLengthSid(admins) + 8;
    size = (size + 3) & ~3u;  // list sizes are whole DWORDs
    newAcl.Reset(HeapAlloc(GetProcessHeap(), 0, size));
    if (!newAcl) return ERROR_NOT_ENOUGH_MEMORY;
    PACL acl = static_cast<PACL>(newAcl.Get());
    if (!InitializeAcl(acl, size, ACL_REVISION)) return GetLastError();
    for (DWORD i = 0; i < sizeInfo.AceCount; ++i) {
        void* ace = nullptr;
        if (!GetAce(oldAcl, i, &ace)) return GetLastError();
        if (!AddAce(acl, ACL_REVISION, MAXDWORD, ace, static_cast<ACE_HEADER*>(ace)->AceSize))
            return GetLastError();
    }
    if (!AddAccessAllowedAce(acl, ACL_REVISION, KEY_ALL_ACCESS, admins)) return GetLastError();
    return ERROR_SUCCESS;
}

}  // namespace

DWORD GrantAdminsFullControl(HKEY root, const char* path)
{
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    UniqueSid admins;
    if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                  DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, admins.Put()))
        return GetLastError();

    // A key that cannot be opened is left to the deletion, which reports
    // whatever stands in its way.
    UniqueHkey key;
    if (RegOpenKeyExA(root, path, 0, KEY_READ | WRITE_DAC, key.Put()) != ERROR_SUCCESS) return 0;

    // Held in pointer-sized units so the descriptor is aligned.
    void* descriptorStore[(kDescriptorBuffer + sizeof(void*) - 1) / sizeof(void*)] = {};
    PSECURITY_DESCRIPTOR descriptor = descriptorStore;
    DWORD size = kDescriptorBuffer;
    LONG status = RegGetKeySecurity(key.Get(), DACL_SECURITY_INFORMATION, descriptor, &size);
    if (status != ERROR_SUCCESS) return status;

    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL oldAcl = nullptr;
    if (!GetSecurityDescriptorDacl(descriptor, &present, &oldAcl, &defaulted)) return GetLastError();
    // No list at all (or a null one) already lets everyone in: writing a list
    // with only the new entry would lock others out of a key we need not touch.
    if (!present || !oldAcl) return 0;

    UniqueHeapBlock newAcl;
    DWORD error = BuildGrantedAcl(oldAcl, admins.Get(), newAcl);
    if (error != ERROR_SUCCESS) return error;

    SECURITY_DESCRIPTOR updated;
    if (!InitializeSecurityDescriptor(&updated, SECURITY_DESCRIPTOR_REVISION)) return GetLastError();
    if (!SetSecurityDescriptorDacl(&updated, TRUE, static_cast<PACL>(newAcl.Get()), FALSE))
        return GetLastError();
    return RegSetKeySecurity(key.Get(), DACL_SECURITY_INFORMATION, &updated);
}

int RegistryAccessor::GrantKeyAccess(const char* path, const char* relativePath)
{
    char fullPath[PATH_BUFFER] = {0};
    if (!CopyBounded(fullPath, path, PATH_MAX_CHARS)) return 0;
    if (!AddBackslash(fullPath, sizeof(fullPath))) return 0;
    if (!AppendBounded(fullPath, relativePath, PATH_MAX_CHARS)) return 0;
    DWORD error = GrantAdminsFullControl(HKEY_LOCAL_MACHINE, fullPath);
    if (error == 0) return 1;
    // Show the code of the step that failed: the registry calls answer their
    // status without setting the thread's last error.
    ShowSystemError(error);
    return 0;
}
