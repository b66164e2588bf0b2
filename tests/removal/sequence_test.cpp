#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "removal/removal.h"
#include "support/import_patch.h"

namespace {

// Two top-level windows whose property names come as the system hands them
// over: integer atoms as numbers below 0xC000, strings as pointers, one of
// them at an address whose low 32 bits read as a negative number.
const HWND first = reinterpret_cast<HWND>(0x10);
const HWND second = reinterpret_cast<HWND>(0x20);
const char* highName = nullptr;
std::vector<UINT_PTR> sent;  // window, message, wParam, lParam of each

BOOL WINAPI FakeEnumWindows(WNDENUMPROC callback, LPARAM parameter)
{
    return callback(first, parameter) && callback(second, parameter);
}

int WINAPI FakeEnumProps(HWND window, PROPENUMPROCA callback)
{
    for (LPCSTR name : window == first ? std::vector<LPCSTR>{MAKEINTATOM(0x1234), MAKEINTATOM(0xBFFF), "CDROMLauncher2",
                                                             "cdromlauncher", highName}
                                       : std::vector<LPCSTR>{"CDROMLauncher"}) {
        if (!callback(window, name, reinterpret_cast<HANDLE>(1))) return FALSE;
    }
    return TRUE;
}

LRESULT WINAPI FakeSendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    sent.insert(sent.end(), {reinterpret_cast<UINT_PTR>(window), message, wParam, static_cast<UINT_PTR>(lParam)});
    return TRUE;
}

TEST(NotifyLauncherWindows, SendsOneDeviceChangeToEachWindowWithTheExactStringProperty)
{
    void* page = VirtualAlloc(reinterpret_cast<void*>(0x80000000), 4096, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    ASSERT_NE(nullptr, page);
    highName = lstrcpyA(static_cast<char*>(page), "CDROMLauncher");
    ImportPatch windows("user32.dll", "EnumWindows", reinterpret_cast<void*>(&FakeEnumWindows));
    ImportPatch props("user32.dll", "EnumPropsA", reinterpret_cast<void*>(&FakeEnumProps));
    ImportPatch send("user32.dll", "SendMessageA", reinterpret_cast<void*>(&FakeSendMessage));

    NotifyLauncherWindows();

    EXPECT_EQ((std::vector<UINT_PTR>{0x10, WM_DEVICECHANGE, 0, 0, 0x20, WM_DEVICECHANGE, 0, 0}), sent);
    VirtualFree(page, 0, MEM_RELEASE);
}

}  // namespace
