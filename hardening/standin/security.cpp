// SIDs and access-control lists in their Windows layout, and key security
// kept with each key of the stand-in registry. A descriptor is the
// SECURITY_DESCRIPTOR structure of windows.h; RegGetKeySecurity writes one
// into the caller's buffer with its DACL right behind it. Every ACL call
// checks its bounds as Windows does, so a list built too small fails here
// with the same error it would get there.
#include <stdlib.h>
#include <windows.h>

#include <string>

#include "standin.h"

bool StandinKeySecurity(HKEY handle, std::string* dacl, bool* present, LONG* error);
bool StandinSetKeySecurity(HKEY handle, const std::string& dacl, bool present, LONG* error);
bool StandinRegistryCall(LONG* error);

namespace {

const WORD kDaclPresent = 0x0004;

struct SidHeader {
    BYTE Revision;
    BYTE SubAuthorityCount;
    SID_IDENTIFIER_AUTHORITY IdentifierAuthority;
};

// Bytes in use by the ACEs of a list, or -1 when the list is malformed.
long BytesInUse(const ACL* acl)
{
    if (acl->AclSize < sizeof(ACL)) return -1;
    const BYTE* base = reinterpret_cast<const BYTE*>(acl);
    DWORD offset = sizeof(ACL);
    for (WORD i = 0; i < acl->AceCount; ++i) {
        if (offset + sizeof(ACE_HEADER) > acl->AclSize) return -1;
        const ACE_HEADER* ace = reinterpret_cast<const ACE_HEADER*>(base + offset);
        if (ace->AceSize < sizeof(ACE_HEADER) || offset + ace->AceSize > acl->AclSize) return -1;
        offset += ace->AceSize;
    }
    return offset;
}

bool Fail(DWORD error)
{
    SetLastError(error);
    return false;
}

}  // namespace

BOOL WINAPI AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY authority, BYTE count, DWORD a0, DWORD a1,
                                     DWORD a2, DWORD a3, DWORD a4, DWORD a5, DWORD a6, DWORD a7, PSID* sid)
{
    if (!authority || !sid || count > 8) return Fail(ERROR_INVALID_PARAMETER);
    BYTE* bytes = static_cast<BYTE*>(calloc(1, sizeof(SidHeader) + 4 * count));
    if (!bytes) return Fail(ERROR_NOT_ENOUGH_MEMORY);
    SidHeader* header = reinterpret_cast<SidHeader*>(bytes);
    header->Revision = 1;
    header->SubAuthorityCount = count;
    header->IdentifierAuthority = *authority;
    const DWORD parts[8] = {a0, a1, a2, a3, a4, a5, a6, a7};
    memcpy(bytes + sizeof(SidHeader), parts, 4 * count);
    *sid = bytes;
    return TRUE;
}

PVOID WINAPI FreeSid(PSID sid)
{
    free(sid);
    return nullptr;
}

DWORD WINAPI GetLengthSid(PSID sid)
{
    return static_cast<DWORD>(sizeof(SidHeader) + 4 * static_cast<SidHeader*>(sid)->SubAuthorityCount);
}

BOOL WINAPI EqualSid(PSID a, PSID b)
{
    DWORD n = GetLengthSid(a);
    return n == GetLengthSid(b) && memcmp(a, b, n) == 0;
}

BOOL WINAPI InitializeAcl(PACL acl, DWORD length, DWORD revision)
{
    if (length < sizeof(ACL)) return Fail(ERROR_INSUFFICIENT_BUFFER);
    if ((length & 3) || length > 0xFFFF || revision < 2 || revision > 4) return Fail(ERROR_INVALID_PARAMETER);
    memset(acl, 0, sizeof(ACL));
    acl->AclRevision = static_cast<BYTE>(revision);
    acl->AclSize = static_cast<WORD>(length);
    return TRUE;
}

BOOL WINAPI GetAclInformation(PACL acl, LPVOID information, DWORD length, ACL_INFORMATION_CLASS kind)
{
    if (kind != AclSizeInformation || length < sizeof(ACL_SIZE_INFORMATION)) return Fail(ERROR_INVALID_PARAMETER);
    long used = BytesInUse(acl);
    if (used < 0) return Fail(ERROR_INVALID_ACL);
    ACL_SIZE_INFORMATION* size = static_cast<ACL_SIZE_INFORMATION*>(information);
    size->AceCount = acl->AceCount;
    size->AclBytesInUse = static_cast<DWORD>(used);
    size->AclBytesFree = acl->AclSize - static_cast<DWORD>(used);
    return TRUE;
}

BOOL WINAPI GetAce(PACL acl, DWORD index, LPVOID* ace)
{
    if (BytesInUse(acl) < 0) return Fail(ERROR_INVALID_ACL);
    if (index >= acl->AceCount) return Fail(ERROR_INVALID_PARAMETER);
    BYTE* at = reinterpret_cast<BYTE*>(acl) + sizeof(ACL);
    for (DWORD i = 0; i < index; ++i) at += reinterpret_cast<ACE_HEADER*>(at)->AceSize;
    *ace = at;
    return TRUE;
}

BOOL WINAPI AddAce(PACL acl, DWORD revision, DWORD startIndex, LPVOID aces, DWORD length)
{
    long used = BytesInUse(acl);
    if (used < 0 || revision < 2) return Fail(ERROR_INVALID_ACL);
    // Count the entries given, which must fill the length exactly.
    DWORD count = 0;
    for (DWORD offset = 0; offset < length; ++count) {
        if (offset + sizeof(ACE_HEADER) > length) return Fail(ERROR_INVALID_PARAMETER);
        WORD size = reinterpret_cast<const ACE_HEADER*>(static_cast<BYTE*>(aces) + offset)->AceSize;
        if (size < sizeof(ACE_HEADER) || offset + size > length) return Fail(ERROR_INVALID_PARAMETER);
        offset += size;
    }
    if (used + length > acl->AclSize) return Fail(ERROR_ALLOTTED_SPACE_EXCEEDED);
    BYTE* base = reinterpret_cast<BYTE*>(acl);
    DWORD at = sizeof(ACL);
    for (DWORD i = 0; i < acl->AceCount && i < startIndex; ++i) at += reinterpret_cast<ACE_HEADER*>(base + at)->AceSize;
    memmove(base + at + length, base + at, used - at);
    memcpy(base + at, aces, length);
    acl->AceCount = static_cast<WORD>(acl->AceCount + count);
    return TRUE;
}

BOOL WINAPI AddAccessAllowedAce(PACL acl, DWORD revision, DWORD mask, PSID sid)
{
    DWORD sidLength = GetLengthSid(sid);
    DWORD size = sizeof(ACE_HEADER) + sizeof(DWORD) + sidLength;
    BYTE ace[sizeof(ACE_HEADER) + sizeof(DWORD) + sizeof(SidHeader) + 32];
    ACE_HEADER* header = reinterpret_cast<ACE_HEADER*>(ace);
    header->AceType = ACCESS_ALLOWED_ACE_TYPE;
    header->AceFlags = 0;
    header->AceSize = static_cast<WORD>(size);
    memcpy(ace + sizeof(ACE_HEADER), &mask, sizeof(mask));
    memcpy(ace + sizeof(ACE_HEADER) + sizeof(DWORD), sid, sidLength);
    return AddAce(acl, revision, MAXDWORD, ace, size);
}

BOOL WINAPI InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR descriptor, DWORD revision)
{
    if (revision != SECURITY_DESCRIPTOR_REVISION) return Fail(ERROR_INVALID_PARAMETER);
    memset(descriptor, 0, sizeof(SECURITY_DESCRIPTOR));
    static_cast<SECURITY_DESCRIPTOR*>(descriptor)->Revision = SECURITY_DESCRIPTOR_REVISION;
    return TRUE;
}

BOOL WINAPI GetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR descriptor, BOOL* present, PACL* dacl, BOOL* defaulted)
{
    SECURITY_DESCRIPTOR* sd = static_cast<SECURITY_DESCRIPTOR*>(descriptor);
    if (sd->Revision != SECURITY_DESCRIPTOR_REVISION) return Fail(ERROR_INVALID_SECURITY_DESCR);
    *present = (sd->Control & kDaclPresent) ? TRUE : FALSE;
    *dacl = *present ? sd->Dacl : nullptr;
    *defaulted = FALSE;
    return TRUE;
}

BOOL WINAPI SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR descriptor, BOOL present, PACL dacl, BOOL)
{
    SECURITY_DESCRIPTOR* sd = static_cast<SECURITY_DESCRIPTOR*>(descriptor);
    if (sd->Revision != SECURITY_DESCRIPTOR_REVISION) return Fail(ERROR_INVALID_SECURITY_DESCR);
    sd->Control = present ? (sd->Control | kDaclPresent) : (sd->Control & ~kDaclPresent);
    sd->Dacl = present ? dacl : nullptr;
    return TRUE;
}

LONG WINAPI RegGetKeySecurity(HKEY key, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR descriptor, LPDWORD length)
{
    LONG error;
    if (StandinRegistryCall(&error)) return error;
    std::string dacl;
    bool present = false;
    if (!StandinKeySecurity(key, &dacl, &present, &error)) return error;
    DWORD needed = static_cast<DWORD>(sizeof(SECURITY_DESCRIPTOR) + dacl.size());
    if (!length) return ERROR_INVALID_PARAMETER;
    if (*length < needed) {
        *length = needed;
        return ERROR_INSUFFICIENT_BUFFER;
    }
    SECURITY_DESCRIPTOR* sd = static_cast<SECURITY_DESCRIPTOR*>(descriptor);
    memset(sd, 0, sizeof(*sd));
    sd->Revision = SECURITY_DESCRIPTOR_REVISION;
    if (present) {
        BYTE* list = static_cast<BYTE*>(descriptor) + sizeof(SECURITY_DESCRIPTOR);
        memcpy(list, dacl.data(), dacl.size());
        sd->Control = kDaclPresent;
        sd->Dacl = dacl.empty() ? nullptr : reinterpret_cast<PACL>(list);
    }
    *length = needed;
    return ERROR_SUCCESS;
}

LONG WINAPI RegSetKeySecurity(HKEY key, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR descriptor)
{
    LONG error;
    if (StandinRegistryCall(&error)) return error;
    SECURITY_DESCRIPTOR* sd = static_cast<SECURITY_DESCRIPTOR*>(descriptor);
    if (sd->Revision != SECURITY_DESCRIPTOR_REVISION) return ERROR_INVALID_SECURITY_DESCR;
    bool present = sd->Control & kDaclPresent;
    std::string dacl;
    if (present && sd->Dacl) {
        if (BytesInUse(sd->Dacl) < 0) return ERROR_INVALID_ACL;
        dacl.assign(reinterpret_cast<const char*>(sd->Dacl), sd->Dacl->AclSize);
    }
    StandinSetKeySecurity(key, dacl, present, &error);
    return error;
}

std::string StandinMakeDacl(const std::vector<std::pair<BYTE, DWORD>>& everyoneEntries)
{
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone);
    DWORD size = sizeof(ACL);
    for (size_t i = 0; i < everyoneEntries.size(); ++i) size += 8 + GetLengthSid(everyone);
    std::string bytes(size, '\0');
    PACL acl = reinterpret_cast<PACL>(&bytes[0]);
    InitializeAcl(acl, size, ACL_REVISION);
    for (const auto& entry : everyoneEntries) {
        AddAccessAllowedAce(acl, ACL_REVISION, entry.second, everyone);
        // Only allowed entries are built; the type byte is set afterwards.
        LPVOID last = nullptr;
        GetAce(acl, acl->AceCount - 1, &last);
        static_cast<ACE_HEADER*>(last)->AceType = entry.first;
    }
    FreeSid(everyone);
    return bytes;
}

bool StandinDaclGrantsAdmins(const std::string& dacl)
{
    if (dacl.size() < sizeof(ACL)) return false;
    std::string copy = dacl;
    PACL acl = reinterpret_cast<PACL>(&copy[0]);
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID admins = nullptr;
    AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &admins);
    bool granted = false;
    for (DWORD i = 0; i < acl->AceCount; ++i) {
        LPVOID ace = nullptr;
        if (!GetAce(acl, i, &ace)) break;
        const BYTE* bytes = static_cast<const BYTE*>(ace);
        DWORD mask;
        memcpy(&mask, bytes + sizeof(ACE_HEADER), sizeof(mask));
        if (static_cast<ACE_HEADER*>(ace)->AceType == ACCESS_ALLOWED_ACE_TYPE && mask == KEY_ALL_ACCESS &&
            EqualSid(const_cast<BYTE*>(bytes + sizeof(ACE_HEADER) + sizeof(DWORD)), admins))
            granted = true;
    }
    FreeSid(admins);
    return granted;
}
