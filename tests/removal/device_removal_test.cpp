#include <windows.h>
#include <setupapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "removal/removal.h"
#include "removal_fixtures.h"
#include "shell/osclass.h"

namespace {

using Names = std::vector<std::string>;

// A device of the replaced device list: no ids or no description mean the
// property is absent; the id list grows by 40 bytes at each of the first
// `grows` size answers. Tables give only the leading fields.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
struct FakeDevice {
    std::string name;
    Names ids;
    bool present = true;
    std::string description = "";
    DWORD removeError = 0;  // DIF_REMOVE fails with it
    int grows = 0;
    int removals = 0;
    int sizeAnswers = 0;
};

// Replaces setupapi's device enumeration for the life of the object. A set
// holds the devices not yet removed (only present ones for DIGCF_PRESENT).
class FakeDeviceList {
public:
    explicit FakeDeviceList(std::vector<FakeDevice> list) : devices(std::move(list)) { self = this; }
    ~FakeDeviceList() { self = nullptr; }

    struct Set {
        GUID classGuid;  // zero: none given
        DWORD flags;
        std::vector<size_t> members;
    };
    std::vector<FakeDevice> devices;
    std::vector<GUID> modemClasses;
    DWORD classDevsError = 0;
    std::vector<Set> sets;
    int destroyed = 0;

    // Names of the removed devices, once per removal.
    Names Removed() const
    {
        Names names;
        for (const FakeDevice& d : devices) names.insert(names.end(), static_cast<size_t>(d.removals), d.name);
        return names;
    }

private:
    static inline FakeDeviceList* self = nullptr;
    static Set* Find(HDEVINFO handle)
    {
        size_t index = reinterpret_cast<size_t>(handle) - 0x7000;
        return index < self->sets.size() ? &self->sets[index] : nullptr;
    }
    static BOOL Fail(DWORD error)
    {
        SetLastError(error);
        return FALSE;
    }

    static HDEVINFO WINAPI GetClassDevs(const GUID* classGuid, PCSTR, HWND, DWORD flags)
    {
        if (self->classDevsError) {
            Fail(self->classDevsError);
            return INVALID_HANDLE_VALUE;
        }
        Set set = {classGuid ? *classGuid : GUID(), flags, {}};
        for (size_t i = 0; i < self->devices.size(); ++i) {
            const FakeDevice& d = self->devices[i];
            if (!d.removals && (d.present || !(flags & DIGCF_PRESENT))) set.members.push_back(i);
        }
        self->sets.push_back(set);
        return reinterpret_cast<HDEVINFO>(0x7000 + self->sets.size() - 1);
    }
    static BOOL WINAPI EnumDeviceInfo(HDEVINFO handle, DWORD index, SP_DEVINFO_DATA* data)
    {
        Set* set = Find(handle);
        if (!set || data->cbSize != sizeof(SP_DEVINFO_DATA)) return Fail(ERROR_INVALID_PARAMETER);
        if (index >= set->members.size()) return Fail(ERROR_NO_MORE_ITEMS);
        data->DevInst = static_cast<DWORD>(set->members[index]);
        return TRUE;
    }
    static BOOL WINAPI GetProperty(HDEVINFO, SP_DEVINFO_DATA* data, DWORD property, DWORD*, BYTE* buffer,
                                   DWORD size, DWORD* required)
    {
        FakeDevice& d = self->devices[data->DevInst];
        std::string content;
        if (property == SPDRP_HARDWAREID && !d.ids.empty()) {
            for (const std::string& id : d.ids) content += id + '\0';
            content += std::string(1 + 40 * std::min(d.sizeAnswers, d.grows), '\0');
        } else if (property == SPDRP_DEVICEDESC && !d.description.empty()) {
            content = d.description + '\0';
        } else {
            return Fail(ERROR_INVALID_DATA);
        }
        if (required) *required = static_cast<DWORD>(content.size());
        if (size < content.size()) {
            ++d.sizeAnswers;
            return Fail(ERROR_INSUFFICIENT_BUFFER);
        }
        memcpy(buffer, content.data(), content.size());
        return TRUE;
    }
    static BOOL WINAPI CallClassInstaller(DI_FUNCTION function, HDEVINFO handle, SP_DEVINFO_DATA* data)
    {
        FakeDevice& d = self->devices[data->DevInst];
        if (function != DIF_REMOVE || !Find(handle)) return Fail(ERROR_INVALID_PARAMETER);
        if (d.removeError) return Fail(d.removeError);
        ++d.removals;
        return TRUE;
    }
    static BOOL WINAPI Destroy(HDEVINFO handle)
    {
        if (!Find(handle)) return FALSE;
        ++self->destroyed;
        return TRUE;
    }
    static BOOL WINAPI ClassGuidsFromName(PCSTR name, GUID* guids, DWORD size, DWORD* required)
    {
        if (lstrcmpA(name, "Modem") != 0) return Fail(ERROR_INVALID_CLASS);
        *required = static_cast<DWORD>(self->modemClasses.size());
        if (*required > size) return Fail(ERROR_INSUFFICIENT_BUFFER);
        std::copy(self->modemClasses.begin(), self->modemClasses.end(), guids);
        return TRUE;
    }

    ImportPatch patches_[6] = {
        {"setupapi.dll", "SetupDiGetClassDevsA", reinterpret_cast<void*>(&GetClassDevs)},
        {"setupapi.dll", "SetupDiEnumDeviceInfo", reinterpret_cast<void*>(&EnumDeviceInfo)},
        {"setupapi.dll", "SetupDiGetDeviceRegistryPropertyA", reinterpret_cast<void*>(&GetProperty)},
        {"setupapi.dll", "SetupDiCallClassInstaller", reinterpret_cast<void*>(&CallClassInstaller)},
        {"setupapi.dll", "SetupDiDestroyDeviceInfoList", reinterpret_cast<void*>(&Destroy)},
        {"setupapi.dll", "SetupDiClassGuidsFromNameA", reinterpret_cast<void*>(&ClassGuidsFromName)},
    };
};

const char kPhone[] = "USB\\VID_1B3F&PID_5C13";
int UsbDeviceStep() { return RemoveUsbDevice("VID_1B3F&PID_5C13"); }

TEST(HardwareIdSteps, RemoveDevicesListingATargetAsAWholeIdOnceAndShowOnlyAFailure)
{
    const std::vector<FakeDevice> mixed = {
        {"rev-and-lower", {"USB\\VID_1B3F&PID_5C13&REV_0001", "usb\\vid_1b3f&pid_5c13"}},
        {"function-03", {"USB\\VID_1B3F&PID_5C13&MI_03"}},
        {"longer-pid", {"USB\\VID_1B3F&PID_5C130"}},
        {"other-bus", {"HID\\VID_1B3F&PID_5C13", "XUSB\\VID_1B3F&PID_5C13"}},
        {"no-ids", {}},
        {"absent-phone", {kPhone}, false},
        {"twice-listed", {kPhone, "Usb\\Vid_1b3f&Pid_5c13"}},
        {"function-01-absent", {"USB\\vid_1b3f&pid_5c13&mi_01"}, false},
        {"function-05", {"USB\\VID_1B3F&PID_5C13&Mi_05&REV_0000", "USB\\VID_1B3F&PID_5C13&MI_05"}},
        {"other-maker", {"USB\\VID_1234&PID_5C13"}},
    };
    const DWORD denied = ERROR_ACCESS_DENIED;
    const FakeDevice grows{"grows", {kPhone}, true, "", 0, 1};
    const struct {
        const char* name;
        int (*step)();
        std::vector<FakeDevice> devices;  // none: the set cannot be built
        int result;
        Names removed;
        DWORD shown;
    } cases[] = {
        {"USB device: present only", UsbDeviceStep, mixed, 1, {"rev-and-lower", "twice-listed"}, 0},
        {"function devices: all", RemoveUsbFunctionDevices, mixed, 1,
         {"rev-and-lower", "function-03", "absent-phone", "twice-listed", "function-01-absent", "function-05"}, 0},
        {"nothing present", UsbDeviceStep, {{"absent", {kPhone}, false}}, 0, {}, 0},
        {"first removal fails", UsbDeviceStep, {{"p1", {kPhone}, true, "", denied}, {"p2", {kPhone}}}, 0, {}, denied},
        {"second removal fails", RemoveUsbFunctionDevices,
         {{"p1", {kPhone}}, {"p2", {kPhone}, true, "", denied}, {"p3", {kPhone}}}, 1, {"p1"}, denied},
        {"id list grew once", RemoveUsbFunctionDevices, {grows}, 1, {"grows"}, 0},
        {"id list keeps growing", RemoveUsbFunctionDevices, {{"endless", {kPhone}, true, "", 0, 1000}, grows}, 0, {},
         ERROR_INSUFFICIENT_BUFFER},
        {"set cannot be built", UsbDeviceStep, {}, 0, {}, ERROR_NOT_ENOUGH_MEMORY},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeDeviceList list(c.devices);
        if (c.devices.empty()) list.classDevsError = ERROR_NOT_ENOUGH_MEMORY;
        BoxRecorder boxes;

        EXPECT_EQ(c.result, c.step());

        EXPECT_EQ(c.removed, list.Removed());
        ExpectShown(boxes, c.shown);
        EXPECT_EQ(c.devices.empty() ? 0u : 1u, list.sets.size());
        EXPECT_EQ(static_cast<int>(list.sets.size()), list.destroyed);
        for (const auto& set : list.sets) {
            EXPECT_EQ(GUID(), set.classGuid);
            EXPECT_EQ(c.step == UsbDeviceStep ? DIGCF_PRESENT | DIGCF_ALLCLASSES : DIGCF_ALLCLASSES, set.flags);
        }
    }
}

TEST(RemoveModemDevices, RemovesExactDescriptionsWithThePhoneInTheFirstIdAndStaysSilent)
{
    const GUID modemClass = {0x4D36E96D, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
    const GUID otherClass = {0x12345678, 0x1234, 0x1234, {0x12, 0x34, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC}};
    const char modem[] = "TV4170K USB Modem";
    const struct {
        const char* name;
        size_t classes;
        int result;
        size_t sets;
        Names removed;
    } cases[] = {{"two modem classes", 2, 1, 2, {"phone-modem", "lower-id", "absent-modem"}},
                 {"no modem class", 0, 1, 0, {}},
                 {"eleven modem classes", 11, 0, 0, {}},
                 {"set cannot be built", 1, 0, 0, {}},
                 {"removal fails", 1, 0, 1, {}},
                 {"description too long", 1, 0, 1, {}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string which = c.name;
        FakeDeviceList list({
            {"phone-modem", {"USB\\VID_1B3F&PID_5C13&REV_0000&MI_01"}, true, modem},
            {"lower-description", {"USB\\VID_1B3F&PID_5C13&REV_0000&MI_01"}, true, "tv4170k usb modem"},
            {"id-second", {"USB\\VID_1B3F&PID_5C14&MI_01", kPhone}, true, modem},
            {"no-description", {"USB\\VID_1B3F&PID_5C13&MI_01"}},
            {"no-ids", {}, true, modem},
            {"lower-id", {"usb\\vid_1b3f&pid_5c13&mi_01"}, true, modem},
            {"absent-modem", {"USB\\VID_1B3F&PID_5C13&MI_01"}, false, modem},
            {"longer-description", {"USB\\VID_1B3F&PID_5C13&MI_01"}, true, "TV4170K USB Modem #2"},
        });
        list.modemClasses = {modemClass, otherClass};
        list.modemClasses.resize(c.classes);
        list.devices[0].removeError = which == "removal fails" ? ERROR_ACCESS_DENIED : 0;
        if (which == "description too long") list.devices[0].description = std::string(1024, 'T');
        if (which == "set cannot be built") list.classDevsError = ERROR_NOT_ENOUGH_MEMORY;
        BoxRecorder boxes;

        EXPECT_EQ(c.result, RemoveModemDevices(modem, "VID_1B3F&PID_5C13"));

        EXPECT_EQ(c.removed, list.Removed());
        ASSERT_EQ(c.sets, list.sets.size());
        for (size_t i = 0; i < c.sets; ++i) {
            EXPECT_EQ(list.modemClasses[i], list.sets[i].classGuid);
            EXPECT_EQ(static_cast<DWORD>(DIGCF_ALLCLASSES), list.sets[i].flags);
        }
        EXPECT_EQ(static_cast<int>(c.sets), list.destroyed);
        ExpectShown(boxes);
    }
}

TEST(DeleteDriverService, NoneInstalledIsSilentOneMarkedForDeletionShowsOneBoxAndTheNextIsStillDeleted)
{
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    // Which of the four are installed in the prefix's service manager;
    // with `remove`, each is deleted.
    auto installed = [manager](bool remove) {
        Names names;
        for (const char* name : driverServiceNames) {
            SC_HANDLE service = OpenServiceA(manager, name, SERVICE_ALL_ACCESS);
            if (!service) continue;
            names.push_back(name);
            if (remove) DeleteService(service);
            CloseServiceHandle(service);
        }
        return names;
    };
    installed(true);
    BoxRecorder boxes;
    for (const char* name : driverServiceNames) EXPECT_NE(0, DeleteDriverService(name)) << name;
    ExpectShown(boxes);

    for (const char* name : driverServiceNames) {
        CloseServiceHandle(CreateServiceA(manager, name, name, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                                          SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, "x.sys", nullptr, nullptr,
                                          nullptr, nullptr, nullptr));
    }
    ASSERT_EQ(4u, installed(false).size());
    // Held open here, TVymdfl stays marked for deletion: deleting it again
    // is refused (1072).
    SC_HANDLE held = OpenServiceA(manager, "TVymdfl", SERVICE_ALL_ACCESS);
    ASSERT_TRUE(DeleteService(held));

    RemovePreviousInstallationNt6(OsWinVista);

    ExpectShown(boxes, ERROR_SERVICE_MARKED_FOR_DELETE);
    EXPECT_EQ(Names{"TVymdfl"}, installed(false));
    EXPECT_NE(0, DeleteDriverService("TVymdfl")) << "the manager was opened and closed";
    CloseServiceHandle(held);
    CloseServiceHandle(manager);
}

}  // namespace
