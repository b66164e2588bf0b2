#include "regpurge/name_match.h"
#include "regpurge/registry_accessor.h"
#include "regpurge/registry_purger.h"
#include "shell/handles.h"
#include "shell/msgbox.h"
#include "shell/paths.h"
#include "shell/text.h"

namespace {

enum DescentEnd { LeafReached, Vanished, Stopped };

// One descent: from the top key through first subkeys down to a leaf. On
// LeafReached, above/current hold the leaf's parent and the leaf (owned
// unless they are the caller's parent or the top key) and name/relative
// hold the leaf's name and its path from the parent key.
struct Descent {
    HKEY above;
    HKEY current;
    UniqueHkey ownedAbove;
    UniqueHkey ownedCurrent;
    char name[PATH_BUFFER] = {};
    char relative[PATH_BUFFER] = {};
};

DescentEnd Descend(RegistryAccessor& accessor, HKEY parent, HKEY top, const char* topName,
                   bool trackPath, Descent& d)
{
    d.above = parent;
    d.current = top;
    lstrcpyA(d.name, topName);
    lstrcpyA(d.relative, topName);
    for (;;) {
        DWORD count = 0;
        if (!accessor.CountSubKeys(d.current, &count)) return Stopped;
        if (count == 0) return LeafReached;
        char child[PATH_BUFFER] = {0};
        DWORD length = sizeof(child);
        LONG status = RegEnumKeyExA(d.current, 0, child, &length, nullptr, nullptr, nullptr, nullptr);
        // The subkeys went away since they were counted.
        if (status == ERROR_NO_MORE_ITEMS) return Vanished;
        if (status != ERROR_SUCCESS) {
            ShowSystemError(status);
            return Stopped;
        }
        UniqueHkey childKey;
        if (accessor.OpenSubKey(d.current, child, KEY_READ, childKey.Put()) == 0) return Stopped;
        if (!childKey) return Vanished;
        if (trackPath && (!AppendBounded(d.relative, "\\", PATH_MAX_CHARS) ||
                          !AppendBounded(d.relative, child, PATH_MAX_CHARS)))
            return Stopped;
        d.ownedAbove = static_cast<UniqueHkey&&>(d.ownedCurrent);
        d.above = d.current;
        d.ownedCurrent = static_cast<UniqueHkey&&>(childKey);
        d.current = d.ownedCurrent.Get();
        lstrcpyA(d.name, child);
    }
}

// Deletes the tree leaf by leaf, restarting at the top key after every
// deleted key; with a parent path, each key is granted to the
// Administrators group before it is deleted.
int DeleteTreeWalk(RegistryPurger& purger, RegistryAccessor& accessor, HKEY parent,
                   const char* parentPath, const char* name)
{
    if (lstrlenA(name) > PATH_MAX_CHARS) return 0;
    UniqueHkey top;
    if (accessor.OpenSubKey(parent, name, KEY_READ, top.Put()) == 0) return 0;
    if (!top) return 1;
    // A key that vanishes during a descent is looked for again once; if the
    // next descent meets a vanishing key too before deleting anything, the
    // name the registry lists cannot be opened and the walk would not end.
    bool vanishedBefore = false;
    for (;;) {
        Descent d;
        DescentEnd end = Descend(accessor, parent, top.Get(), name, parentPath != nullptr, d);
        if (end == Stopped) return 0;
        if (end == Vanished) {
            if (vanishedBefore) return 0;
            vanishedBefore = true;
            continue;
        }
        vanishedBefore = false;
        if (parentPath && !accessor.GrantKeyAccess(parentPath, d.relative)) return 0;
        if (!purger.DeleteKey(d.above, d.name)) return 0;
        if (d.current == top.Get()) return 1;
    }
}

}  // namespace

int RegistryPurger::DeleteTreeById(HKEY root, UINT id, const char* name)
{
    RegistryAccessor accessor(osClass_);
    UniqueHkey key;
    if (accessor.OpenKeyById(root, id, KEY_READ, key.Put()) == 0) return 0;
    if (!key) return 1;
    char path[PATH_BUFFER] = {0};
    if (LoadText(id, path) == 0) return 0;
    return DeleteTreeWalk(*this, accessor, key.Get(), path, name);
}

int RegistryPurger::DeleteTreeGranted(HKEY parent, const char* parentPath, const char* name)
{
    RegistryAccessor accessor(osClass_);
    return DeleteTreeWalk(*this, accessor, parent, parentPath, name);
}

int RegistryPurger::DeleteTree(HKEY parent, const char* name)
{
    RegistryAccessor accessor(osClass_);
    return DeleteTreeWalk(*this, accessor, parent, nullptr, name);
}

int RegistryPurger::DeleteMatchingValuesById(HKEY root, UINT id, char* pattern)
{
    char path[PATH_BUFFER] = {0};
    if (LoadText(id, path) == 0) return 0;
    return DeleteMatchingValues(root, path, pattern);
}

int RegistryPurger::DeleteMatchingValues(HKEY root, const char* path, char* pattern)
{
    RegistryAccessor accessor(osClass_);
    UniqueHkey key;
    if (accessor.OpenKeyByPath(root, path, KEY_WRITE, key.Put()) == 0) return 0;
    if (!key) return 1;
    UpperCaseAscii(pattern);
    for (;;) {
        DWORD count = 0;
        LONG status = RegQueryInfoKeyA(key.Get(), nullptr, nullptr, nullptr, nullptr, nullptr,
                                       nullptr, &count, nullptr, nullptr, nullptr, nullptr);
        if (status != ERROR_SUCCESS) {
            ShowSystemError(status);
            return 0;
        }
        // A deletion moves the later values down one index, so the value
        // behind a deleted one is skipped in this pass and met in the next.
        // Only a pass that deleted something is followed by another.
        bool deleted = false;
        DWORD index = 0;
        for (;; ++index) {
            char name[PATH_BUFFER] = {0};
            DWORD length = sizeof(name);
            status = RegEnumValueA(key.Get(), index, name, &length, nullptr, nullptr, nullptr,
                                   nullptr);
            if (status == ERROR_NO_MORE_ITEMS) break;
            if (status != ERROR_SUCCESS) {
                ShowSystemError(status);
                return 0;
            }
            char upper[PATH_BUFFER] = {};
            lstrcpyA(upper, name);
            UpperCaseAscii(upper);
            // Deleted by the name as listed: value names compare without
            // case, and a double-byte name must not be altered.
            if (ContainsPattern(upper, pattern, 1) && DeleteValue(key.Get(), name)) deleted = true;
        }
        if (index >= count || !deleted) return 1;
    }
}
