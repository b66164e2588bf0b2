// The registry for the native build: one in-memory tree per predefined
// root. Names compare without regard to ASCII case; subkeys enumerate in
// sorted order, values in the order they were written, as Windows does.
// Errors follow Windows: 2 for a missing key or value, 234 for a buffer too
// small, 259 past the last item, 5 for deleting a key that has subkeys, 1018
// for a handle to a deleted key, 6 for a handle that is not open. Open
// handles are counted, and any one registry call can be made to fail.
#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "standin.h"

namespace {

struct Value {
    std::string name;
    DWORD type;
    std::string data;
};

struct Key {
    std::string name;
    bool deleted = false;
    std::map<std::string, std::shared_ptr<Key>> children;  // by folded name
    std::vector<Value> values;
    std::string security;  // the DACL bytes; empty: no DACL
    bool hasDacl = false;
};

std::string Fold(const std::string& text)
{
    std::string out = text;
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

std::map<ULONG_PTR, std::shared_ptr<Key>>& Roots()
{
    static std::map<ULONG_PTR, std::shared_ptr<Key>> roots;
    return roots;
}

std::map<HKEY, std::shared_ptr<Key>>& Handles()
{
    static std::map<HKEY, std::shared_ptr<Key>> handles;
    return handles;
}

ULONG_PTR nextHandle = 0x1000;
int failCallAt = -1;
LONG failError = 0;
int callsSeen = 0;

bool Predefined(HKEY key)
{
    ULONG_PTR v = reinterpret_cast<ULONG_PTR>(key);
    return v >= 0x80000000u && v <= 0x80000005u;
}

std::shared_ptr<Key> Root(HKEY key)
{
    auto& root = Roots()[reinterpret_cast<ULONG_PTR>(key)];
    if (!root) root = std::make_shared<Key>();
    return root;
}

// The key behind a handle, or an error code.
LONG Resolve(HKEY handle, std::shared_ptr<Key>* key)
{
    if (Predefined(handle)) {
        *key = Root(handle);
        return ERROR_SUCCESS;
    }
    auto it = Handles().find(handle);
    if (it == Handles().end()) return ERROR_INVALID_HANDLE;
    if (it->second->deleted) return ERROR_KEY_DELETED;
    *key = it->second;
    return ERROR_SUCCESS;
}

std::vector<std::string> Split(const std::string& path)
{
    std::vector<std::string> parts;
    std::string part;
    for (size_t i = 0; i < path.size(); ++i) {
        if (IsDBCSLeadByte(static_cast<BYTE>(path[i])) && i + 1 < path.size()) {
            part += path[i];
            part += path[++i];
        } else if (path[i] == '\\') {
            if (!part.empty()) parts.push_back(part);
            part.clear();
        } else {
            part += path[i];
        }
    }
    if (!part.empty()) parts.push_back(part);
    return parts;
}

std::shared_ptr<Key> Walk(std::shared_ptr<Key> from, const std::string& path, bool create)
{
    for (const std::string& part : Split(path)) {
        auto it = from->children.find(Fold(part));
        if (it == from->children.end()) {
            if (!create) return nullptr;
            auto child = std::make_shared<Key>();
            child->name = part;
            from->children[Fold(part)] = child;
            from = child;
        } else {
            from = it->second;
        }
    }
    return from;
}

// Counts every call; answers the injected error for the chosen one.
bool Injected(LONG* error)
{
    int index = callsSeen++;
    if (failCallAt >= 0 && index == failCallAt) {
        *error = failError;
        return true;
    }
    return false;
}

Value* FindValue(Key& key, const char* name)
{
    std::string wanted = Fold(name ? name : "");
    for (Value& value : key.values)
        if (Fold(value.name) == wanted) return &value;
    return nullptr;
}

void MarkDeleted(Key& key)
{
    key.deleted = true;
    for (auto& child : key.children) MarkDeleted(*child.second);
}

}  // namespace

LONG WINAPI RegOpenKeyExA(HKEY parent, LPCSTR subKey, DWORD, REGSAM, HKEY* result)
{
    LONG error;
    if (Injected(&error)) return error;
    if (!result) return ERROR_INVALID_PARAMETER;
    std::shared_ptr<Key> from;
    if ((error = Resolve(parent, &from)) != ERROR_SUCCESS) return error;
    std::shared_ptr<Key> key = Walk(from, subKey ? subKey : "", false);
    if (!key) return ERROR_FILE_NOT_FOUND;
    HKEY handle = reinterpret_cast<HKEY>(nextHandle);
    nextHandle += 4;
    Handles()[handle] = key;
    *result = handle;
    return ERROR_SUCCESS;
}

LONG WINAPI RegCloseKey(HKEY handle)
{
    if (Predefined(handle)) return ERROR_SUCCESS;
    auto it = Handles().find(handle);
    if (it == Handles().end()) return ERROR_INVALID_HANDLE;
    Handles().erase(it);
    return ERROR_SUCCESS;
}

LONG WINAPI RegQueryValueExA(HKEY handle, LPCSTR name, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD length)
{
    LONG error;
    if (Injected(&error)) return error;
    std::shared_ptr<Key> key;
    if ((error = Resolve(handle, &key)) != ERROR_SUCCESS) return error;
    Value* value = FindValue(*key, name);
    if (!value) return ERROR_FILE_NOT_FOUND;
    if (type) *type = value->type;
    DWORD needed = static_cast<DWORD>(value->data.size());
    if (!length) return data ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
    if (!data) {
        *length = needed;
        return ERROR_SUCCESS;
    }
    if (*length < needed) {
        *length = needed;
        return ERROR_MORE_DATA;
    }
    memcpy(data, value->data.data(), needed);
    *length = needed;
    return ERROR_SUCCESS;
}

LONG WINAPI RegSetValueExA(HKEY handle, LPCSTR name, DWORD, DWORD type, const BYTE* data, DWORD length)
{
    LONG error;
    if (Injected(&error)) return error;
    std::shared_ptr<Key> key;
    if ((error = Resolve(handle, &key)) != ERROR_SUCCESS) return error;
    std::string bytes(reinterpret_cast<const char*>(data), data ? length : 0);
    if (Value* value = FindValue(*key, name)) {
        value->type = type;
        value->data = bytes;
    } else {
        key->values.push_back(Value{name ? name : "", type, bytes});
    }
    return ERROR_SUCCESS;
}

LONG WINAPI RegQueryInfoKeyA(HKEY handle, LPSTR className, LPDWORD classLength, LPDWORD, LPDWORD subKeys,
                             LPDWORD maxSubKeyLength, LPDWORD maxClassLength, LPDWORD values,
                             LPDWORD maxValueNameLength, LPDWORD maxValueLength, LPDWORD securityLength,
                             PFILETIME lastWrite)
{
    LONG error;
    if (Injected(&error)) return error;
    std::shared_ptr<Key> key;
    if ((error = Resolve(handle, &key)) != ERROR_SUCCESS) return error;
    if (className && classLength && *classLength) className[0] = '\0';
    if (classLength) *classLength = 0;
    if (maxClassLength) *maxClassLength = 0;
    DWORD longestKey = 0, longestName = 0, longestData = 0;
    for (const auto& child : key->children)
        if (child.second->name.size() > longestKey) longestKey = static_cast<DWORD>(child.second->name.size());
    for (const Value& value : key->values) {
        if (value.name.size() > longestName) longestName = static_cast<DWORD>(value.name.size());
        if (value.data.size() > longestData) longestData = static_cast<DWORD>(value.data.size());
    }
    if (subKeys) *subKeys = static_cast<DWORD>(key->children.size());
    if (maxSubKeyLength) *maxSubKeyLength = longestKey;
    if (values) *values = static_cast<DWORD>(key->values.size());
    if (maxValueNameLength) *maxValueNameLength = longestName;
    if (maxValueLength) *maxValueLength = longestData;
    if (securityLength) *securityLength = 0;
    if (lastWrite) lastWrite->dwLowDateTime = lastWrite->dwHighDateTime = 0;
    return ERROR_SUCCESS;
}

LONG WINAPI RegEnumKeyExA(HKEY handle, DWORD index, LPSTR name, LPDWORD nameLength, LPDWORD, LPSTR className,
                          LPDWORD classLength, PFILETIME lastWrite)
{
    LONG error;
    if (Injected(&error)) return error;
    std::shared_ptr<Key> key;
    if ((error = Resolve(handle, &key)) != ERROR_SUCCESS) return error;
    if (index >= key->children.size()) return ERROR_NO_MORE_ITEMS;
    auto it = key->children.begin();
    std::advance(it, index);
    const std::string& child = it->second->name;
    if (!name || !nameLength) return ERROR_INVALID_PARAMETER;
    if (*nameLength < child.size() + 1) {
        *nameLength = static_cast<DWORD>(child.size());
        return ERROR_MORE_DATA;
    }
    memcpy(name, child.c_str(), child.size() + 1);
    *nameLength = static_cast<DWORD>(child.size());
    if (className && classLength && *classLength) className[0] = '\0';
    if (classLength) *classLength = 0;
    if (lastWrite) lastWrite->dwLowDateTime = lastWrite->dwHighDateTime = 0;
    return ERROR_SUCCESS;
}

LONG WINAPI RegEnumValueA(HKEY handle, DWORD index, LPSTR name, LPDWORD nameLength, LPDWORD, LPDWORD type,
                          LPBYTE data, LPDWORD dataLength)
{
    LONG error;
    if (Injected(&error)) return error;
    std::shared_ptr<Key> key;
    if ((error = Resolve(handle, &key)) != ERROR_SUCCESS) return error;
    if (index >= key->values.size()) return ERROR_NO_MORE_ITEMS;
    const Value& value = key->values[index];
    if (!name || !nameLength) return ERROR_INVALID_PARAMETER;
    if (*nameLength < value.name.size() + 1) {
        *nameLength = static_cast<DWORD>(value.name.size());
        return ERROR_MORE_DATA;
    }
    if (data && dataLength && *dataLength < value.data.size()) {
        *dataLength = static_cast<DWORD>(value.data.size());
        return ERROR_MORE_DATA;
    }
    memcpy(name, value.name.c_str(), value.name.size() + 1);
    *nameLength = static_cast<DWORD>(value.name.size());
    if (type) *type = value.type;
    if (data && dataLength) memcpy(data, value.data.data(), value.data.size());
    if (dataLength) *dataLength = static_cast<DWORD>(value.data.size());
    return ERROR_SUCCESS;
}

LONG WINAPI RegDeleteKeyA(HKEY handle, LPCSTR subKey)
{
    LONG error;
    if (Injected(&error)) return error;
    std::shared_ptr<Key> parent;
    if ((error = Resolve(handle, &parent)) != ERROR_SUCCESS) return error;
    std::vector<std::string> parts = Split(subKey ? subKey : "");
    if (parts.empty()) return ERROR_BADKEY;
    std::string last = parts.back();
    parts.pop_back();
    for (const std::string& part : parts) {
        auto it = parent->children.find(Fold(part));
        if (it == parent->children.end()) return ERROR_FILE_NOT_FOUND;
        parent = it->second;
    }
    auto it = parent->children.find(Fold(last));
    if (it == parent->children.end()) return ERROR_FILE_NOT_FOUND;
    if (!it->second->children.empty()) return ERROR_ACCESS_DENIED;
    MarkDeleted(*it->second);
    parent->children.erase(it);
    return ERROR_SUCCESS;
}

LONG WINAPI RegDeleteValueA(HKEY handle, LPCSTR name)
{
    LONG error;
    if (Injected(&error)) return error;
    std::shared_ptr<Key> key;
    if ((error = Resolve(handle, &key)) != ERROR_SUCCESS) return error;
    std::string wanted = Fold(name ? name : "");
    for (size_t i = 0; i < key->values.size(); ++i) {
        if (Fold(key->values[i].name) == wanted) {
            key->values.erase(key->values.begin() + i);
            return ERROR_SUCCESS;
        }
    }
    return ERROR_FILE_NOT_FOUND;
}

// Security of a key, kept here with the key; security.cpp reads and writes
// it through these.
bool StandinKeySecurity(HKEY handle, std::string* dacl, bool* present, LONG* error)
{
    std::shared_ptr<Key> key;
    if ((*error = Resolve(handle, &key)) != ERROR_SUCCESS) return false;
    *dacl = key->security;
    *present = key->hasDacl;
    return true;
}

bool StandinSetKeySecurity(HKEY handle, const std::string& dacl, bool present, LONG* error)
{
    std::shared_ptr<Key> key;
    if ((*error = Resolve(handle, &key)) != ERROR_SUCCESS) return false;
    key->security = dacl;
    key->hasDacl = present;
    return true;
}

bool StandinRegistryCall(LONG* error) { return Injected(error); }

void StandinRegClear()
{
    Roots().clear();
    Handles().clear();
    failCallAt = -1;
    callsSeen = 0;
}

void StandinRegCreateKey(const std::string& path) { Walk(Root(HKEY_LOCAL_MACHINE), path, true); }

void StandinRegSetValue(const std::string& path, const std::string& name, DWORD type, const std::string& data)
{
    std::shared_ptr<Key> key = Walk(Root(HKEY_LOCAL_MACHINE), path, true);
    if (Value* value = FindValue(*key, name.c_str())) {
        value->type = type;
        value->data = data;
    } else {
        key->values.push_back(Value{name, type, data});
    }
}

void StandinRegSetDacl(const std::string& path, const std::string& dacl)
{
    std::shared_ptr<Key> key = Walk(Root(HKEY_LOCAL_MACHINE), path, true);
    key->security = dacl;
    key->hasDacl = true;
}

bool StandinRegGetDacl(const std::string& path, std::string* dacl)
{
    std::shared_ptr<Key> key = Walk(Root(HKEY_LOCAL_MACHINE), path, false);
    if (!key || !key->hasDacl) return false;
    *dacl = key->security;
    return true;
}

bool StandinRegKeyExists(const std::string& path) { return Walk(Root(HKEY_LOCAL_MACHINE), path, false) != nullptr; }

bool StandinRegGetValue(const std::string& path, const std::string& name, DWORD* type, std::string* data)
{
    std::shared_ptr<Key> key = Walk(Root(HKEY_LOCAL_MACHINE), path, false);
    if (!key) return false;
    Value* value = FindValue(*key, name.c_str());
    if (!value) return false;
    if (type) *type = value->type;
    if (data) *data = value->data;
    return true;
}

std::vector<std::string> StandinRegValueNames(const std::string& path)
{
    std::vector<std::string> names;
    std::shared_ptr<Key> key = Walk(Root(HKEY_LOCAL_MACHINE), path, false);
    if (key)
        for (const Value& value : key->values) names.push_back(value.name);
    return names;
}

std::vector<std::string> StandinRegSubKeys(const std::string& path)
{
    std::vector<std::string> names;
    std::shared_ptr<Key> key = Walk(Root(HKEY_LOCAL_MACHINE), path, false);
    if (key)
        for (const auto& child : key->children) names.push_back(child.second->name);
    return names;
}

int StandinOpenKeys() { return static_cast<int>(Handles().size()); }

void StandinFailRegistryCall(int index, LONG error)
{
    failCallAt = index;
    failError = error;
    callsSeen = 0;
}

int StandinRegistryCallsSeen() { return callsSeen; }
