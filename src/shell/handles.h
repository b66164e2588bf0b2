// Owners for the handles the program opens. One template, one traits struct
// per handle kind: the traits name the value that means "none" and the call
// that releases it.
#pragma once
#include <windows.h>
#include <setupapi.h>
#include <winsvc.h>

template <class Traits>
class UniqueHandle {
public:
    using Type = typename Traits::Type;

    UniqueHandle() : handle_(Traits::Invalid()) {}
    explicit UniqueHandle(Type handle) : handle_(handle) {}
    ~UniqueHandle() { Reset(); }

    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) : handle_(other.Release()) {}
    UniqueHandle& operator=(UniqueHandle&& other)
    {
        if (this != &other) Reset(other.Release());
        return *this;
    }

    Type Get() const { return handle_; }
    bool Valid() const { return handle_ != Traits::Invalid(); }
    explicit operator bool() const { return Valid(); }

    // Address for an out-parameter; whatever was held is released first.
    Type* Put()
    {
        Reset();
        return &handle_;
    }

    Type Release()
    {
        Type handle = handle_;
        handle_ = Traits::Invalid();
        return handle;
    }

    void Reset(Type handle = Traits::Invalid())
    {
        if (handle_ != Traits::Invalid()) Traits::Close(handle_);
        handle_ = handle;
    }

private:
    Type handle_;
};

struct HkeyTraits {
    using Type = HKEY;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { RegCloseKey(h); }
};

struct KernelHandleTraits {
    using Type = HANDLE;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { CloseHandle(h); }
};

struct FindHandleTraits {
    using Type = HANDLE;
    static Type Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) { FindClose(h); }
};

struct ScHandleTraits {
    using Type = SC_HANDLE;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { CloseServiceHandle(h); }
};

struct DevInfoTraits {
    using Type = HDEVINFO;
    static Type Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) { SetupDiDestroyDeviceInfoList(h); }
};

struct InfTraits {
    using Type = HINF;
    static Type Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) { SetupCloseInfFile(h); }
};

struct ModuleTraits {
    using Type = HMODULE;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { FreeLibrary(h); }
};

struct LocalMemTraits {
    using Type = HLOCAL;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { LocalFree(h); }
};

struct SidTraits {
    using Type = PSID;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { FreeSid(h); }
};

using UniqueHkey = UniqueHandle<HkeyTraits>;
using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;
using UniqueFindHandle = UniqueHandle<FindHandleTraits>;
using UniqueScHandle = UniqueHandle<ScHandleTraits>;
using UniqueDevInfo = UniqueHandle<DevInfoTraits>;
using UniqueInf = UniqueHandle<InfTraits>;
using UniqueModule = UniqueHandle<ModuleTraits>;
using UniqueLocalMem = UniqueHandle<LocalMemTraits>;
using UniqueSid = UniqueHandle<SidTraits>;
