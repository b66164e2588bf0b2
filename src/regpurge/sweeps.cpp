#include "regpurge/name_match.h"
#include "regpurge/registry_accessor.h"
#include "regpurge/registry_purger.h"
#include "shell/handles.h"
#include "shell/msgbox.h"
#include "shell/osclass.h"
#include "shell/paths.h"
#include "shell/text.h"

namespace {

enum ClassWalk { ClassDone, ClassAgain, ClassStop };

enum { MAX_PATTERNS = PHONE_ID_COUNT };

// The identifiers a sweep looks for, each as CopyString gave it; an
// identifier whose copy came out empty is left out.
struct InterfacePatterns {
    char text[MAX_PATTERNS][PATH_BUFFER];
    int count;
};

// Whether the upper-cased instance path contains one of the patterns, tried
// in the caller's order.
bool NamesDevice(const char* device, const InterfacePatterns& patterns)
{
    for (int i = 0; i < patterns.count; ++i)
        if (ContainsPattern(device, patterns.text[i], 0)) return true;
    return false;
}

// Deletes the interface instances of one interface class that name the
// device. ClassAgain: instances this walk deleted moved the later ones down,
// walk it again. A short listing without a deletion of ours does not count,
// so every new walk follows a deletion and the sweep ends.
ClassWalk SweepInterfaceClass(RegistryPurger& purger, RegistryAccessor& accessor,
                                     HKEY classKey, const InterfacePatterns& patterns, int& result)
{
    DWORD count = 0;
    if (!accessor.CountSubKeys(classKey, &count)) {
        result = 0;
        return ClassStop;
    }
    bool deleted = false;
    for (DWORD index = 0; index < count; ++index) {
        char instance[PATH_BUFFER] = {0};
        DWORD length = sizeof(instance);
        LONG status = RegEnumKeyExA(classKey, index, instance, &length, nullptr, nullptr, nullptr,
                                    nullptr);
        if (status == ERROR_NO_MORE_ITEMS) return deleted ? ClassAgain : ClassDone;
        if (status != ERROR_SUCCESS) {
            ShowSystemError(status);
            result = 0;
            return ClassDone;
        }
        char device[PATH_BUFFER] = {0};
        length = sizeof(device);
        DWORD type = 0;
        if (accessor.ReadSubKeyValue(classKey, instance, "DeviceInstance",
                                     reinterpret_cast<BYTE*>(device), &length, &type) == 0) {
            result = 0;
            return ClassDone;
        }
        UpperCaseAscii(device);
        if (NamesDevice(device, patterns)) {
            result = purger.DeleteTree(classKey, instance);
            if (result == 1) deleted = true;
        }
    }
    return ClassDone;
}

}  // namespace

int RegistryPurger::PurgeDeviceInterfaces(HKEY root, UINT deviceClassesId,
                                          const char* const* identifiers, int identifierCount)
{
    // One walk serves every identifier: each instance is read once and
    // tested against all of them, so a failing read is shown once.
    InterfacePatterns patterns = {};
    for (int i = 0; i < identifierCount && patterns.count < MAX_PATTERNS; ++i)
        if (CopyString(identifiers[i], patterns.text[patterns.count]) != 0) ++patterns.count;
    if (patterns.count == 0) return 0;
    RegistryAccessor accessor(osClass_);
    UniqueHkey classes;
    if (accessor.OpenKeyById(root, deviceClassesId, KEY_READ, classes.Put()) == 0) return 0;
    if (!classes) return 1;
    DWORD count = 0;
    if (!accessor.CountSubKeys(classes.Get(), &count)) return 0;
    int result = 1;
    for (DWORD index = 0; index < count;) {
        char className[PATH_BUFFER] = {0};
        DWORD length = sizeof(className);
        LONG status = RegEnumKeyExA(classes.Get(), index, className, &length, nullptr, nullptr,
                                    nullptr, nullptr);
        // Classes that vanished during the walk shortened the list.
        if (status == ERROR_NO_MORE_ITEMS) break;
        if (status != ERROR_SUCCESS) {
            ShowSystemError(status);
            return 0;
        }
        UniqueHkey classKey;
        if (accessor.OpenSubKey(classes.Get(), className, KEY_READ, classKey.Put()) == 0) return 0;
        // A class that vanished since it was listed is simply absent: the
        // classes after it moved down one place, so the same index now holds
        // the next one.
        if (!classKey) {
            --count;
            continue;
        }
        ClassWalk walk = SweepInterfaceClass(*this, accessor, classKey.Get(), patterns, result);
        if (walk == ClassStop) return 0;
        if (walk == ClassDone) ++index;
    }
    return result;
}

int RegistryPurger::PurgeDriverKeysById(HKEY root, const char* deviceKeyPath, UINT classId)
{
    char classPath[PATH_BUFFER] = {0};
    if (LoadText(classId, classPath) == 0) return 0;
    return PurgeDriverKeys(root, deviceKeyPath, classPath);
}

int RegistryPurger::PurgeDriverKeys(HKEY root, const char* deviceKeyPath, const char* classPath)
{
    RegistryAccessor accessor(osClass_);
    UniqueHkey deviceKey;
    if (accessor.OpenKeyByPath(root, deviceKeyPath, KEY_READ, deviceKey.Put()) == 0) return 0;
    if (!deviceKey) return 1;
    DWORD count = 0;
    if (!accessor.CountSubKeys(deviceKey.Get(), &count)) return 0;
    // Windows 2000 and XP protect driver keys; later versions let the
    // administrator delete them as they stand.
    bool grant = osClass_ == OsWin2000 || osClass_ == OsWinXP;
    int result = 1;
    // The Class key is opened at the first instance that names a driver key
    // and serves the rest of the walk, which deletes only below it.
    UniqueHkey classRoot;
    for (DWORD index = 0; index < count; ++index) {
        char instance[PATH_BUFFER] = {0};
        if (!accessor.EnumSubKey(deviceKey.Get(), index, instance)) return 0;
        char classPart[PATH_BUFFER] = {0};
        char number[PATH_BUFFER] = {0};
        if (accessor.ReadDriverValue(deviceKey.Get(), instance, classPart, number) == 0 ||
            classPart[0] == '\0' || number[0] == '\0')
            continue;
        if (!classRoot &&
            (accessor.OpenKeyByPath(HKEY_LOCAL_MACHINE, classPath, KEY_READ, classRoot.Put()) == 0 ||
             !classRoot))
            return 0;
        UniqueHkey classKey;
        if (accessor.OpenSubKey(classRoot.Get(), classPart, KEY_READ, classKey.Put()) == 0 ||
            !classKey)
            continue;
        if (grant) {
            char classKeyPath[PATH_BUFFER] = {0};
            if (!CopyBounded(classKeyPath, classPath, PATH_MAX_CHARS) ||
                !AddBackslash(classKeyPath, sizeof(classKeyPath)) ||
                !AppendBounded(classKeyPath, classPart, PATH_MAX_CHARS))
                return 0;
            result = DeleteTreeGranted(classKey.Get(), classKeyPath, number);
        } else {
            result = DeleteTree(classKey.Get(), number);
        }
    }
    return result;
}
