#include <windows.h>
#include <setupapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "removal/removal.h"
#include "removal_fixtures.h"
#include "support/box_recorder.h"
#include "support/import_patch.h"
#include "support/registry.h"

namespace {

// A device of the replaced device list.
struct FakeDevice {
    std::string name;
    bool present = true;
    bool hasIds = true;
    std::string ids;  // REG_MULTI_SZ bytes
    bool hasDescription = false;
    std::string description;
    DWORD removeError = 0;     // DIF_REMOVE fails with it
    DWORD propertyError = 0;   // reading the hardware ids fails with it
    DWORD growth = 0;          // the id list grows by this after a size answer...
    int growthTimes = 0;       // ...for this many answers (-1: forever)
    int removals = 0;
    int sizeAnswers = 0;
};

std::string Ids(const std::vector<std::string>& ids)
{
    std::string bytes;
    for (const std::string& id : ids) bytes += id + '\0';
    return bytes + '\0';
}

FakeDevice Device(const std::string& name, const std::vector<std::string>& ids, bool present = true)
{
    FakeDevice device;
    device.name = name;
    device.ids = Ids(ids);
    device.present = present;
    return device;
}

FakeDevice Modem(const std::string& name, const std::string& description,
                 const std::vector<std::string>& ids, bool present = true)
{
    FakeDevice device = Device(name, ids, present);
    device.hasDescription = true;
    device.description = description;
    return device;
}

// Replaces the device enumeration of setupapi for the life of the object.
class FakeDeviceList {
public:
    explicit FakeDeviceList(std::vector<FakeDevice> devices) : devices(std::move(devices))
    {
        self = this;
    }
    ~FakeDeviceList() { self = nullptr; }

    std::vector<FakeDevice> devices;
    std::vector<GUID> modemClasses;
    DWORD classDevsError = 0;
    DWORD classGuidsError = 0;

    struct SetRequest {
        bool hasClass;
        GUID classGuid;
        DWORD flags;
    };
    std::vector<SetRequest> sets;
    int destroyed = 0;
    std::vector<std::string> examined;  // device names whose ids or description were read

    std::vector<std::string> Removed() const
    {
        std::vector<std::string> names;
        for (const FakeDevice& device : devices) {
            if (device.removals) names.push_back(device.name);
        }
        return names;
    }

private:
    struct Set {
        std::vector<size_t> members;
    };
    std::vector<Set> built_;

    static inline FakeDeviceList* self = nullptr;

    static HDEVINFO Handle(size_t index) { return reinterpret_cast<HDEVINFO>(0x7000 + index); }
    static Set* Find(HDEVINFO handle)
    {
        size_t index = reinterpret_cast<size_t>(handle) - 0x7000;
        return index < self->built_.size() ? &self->built_[index] : nullptr;
    }

    static HDEVINFO WINAPI GetClassDevs(const GUID* classGuid, PCSTR, HWND, DWORD flags)
    {
        self->sets.push_back({classGuid != nullptr, classGuid ? *classGuid : GUID(), flags});
        if (self->classDevsError) {
            SetLastError(self->classDevsError);
            return INVALID_HANDLE_VALUE;
        }
        Set set;
        for (size_t i = 0; i < self->devices.size(); ++i) {
            const FakeDevice& device = self->devices[i];
            if (device.removals) continue;
            if ((flags & DIGCF_PRESENT) && !device.present) continue;
            set.members.push_back(i);
        }
        self->built_.push_back(set);
        return Handle(self->built_.size() - 1);
    }

    static BOOL WINAPI EnumDeviceInfo(HDEVINFO handle, DWORD index, SP_DEVINFO_DATA* data)
    {
        Set* set = Find(handle);
        if (!set || !data || data->cbSize != sizeof(SP_DEVINFO_DATA)) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        if (index >= set->members.size()) {
            SetLastError(ERROR_NO_MORE_ITEMS);
            return FALSE;
        }
        data->DevInst = static_cast<DWORD>(set->members[index]);
        return TRUE;
    }

    static BOOL WINAPI GetProperty(HDEVINFO handle, SP_DEVINFO_DATA* data, DWORD property, DWORD* type,
                                   BYTE* buffer, DWORD size, DWORD* required)
    {
        if (!Find(handle) || !data) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        FakeDevice& device = self->devices[data->DevInst];
        self->examined.push_back(device.name);
        if (device.removals) {
            SetLastError(ERROR_NO_SUCH_DEVINST);
            return FALSE;
        }
        std::string content;
        if (property == SPDRP_HARDWAREID) {
            if (device.propertyError) {
                SetLastError(device.propertyError);
                return FALSE;
            }
            if (!device.hasIds) {
                SetLastError(ERROR_INVALID_DATA);
                return FALSE;
            }
            int grown = device.growthTimes < 0 ? device.sizeAnswers
                                               : std::min(device.sizeAnswers, device.growthTimes);
            content = device.ids + std::string(device.growth * grown, 'x');
            if (type) *type = REG_MULTI_SZ;
        } else if (property == SPDRP_DEVICEDESC) {
            if (!device.hasDescription) {
                SetLastError(ERROR_INVALID_DATA);
                return FALSE;
            }
            content = device.description + '\0';
            if (type) *type = REG_SZ;
        } else {
            SetLastError(ERROR_INVALID_DATA);
            return FALSE;
        }
        if (required) *required = static_cast<DWORD>(content.size());
        if (size < content.size()) {
            ++device.sizeAnswers;
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        memcpy(buffer, content.data(), content.size());
        return TRUE;
    }

    static BOOL WINAPI CallClassInstaller(DI_FUNCTION function, HDEVINFO handle, SP_DEVINFO_DATA* data)
    {
        if (function != DIF_REMOVE || !Find(handle) || !data) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        FakeDevice& device = self->devices[data->DevInst];
        if (device.removeError) {
            SetLastError(device.removeError);
            return FALSE;
        }
        if (device.removals) {
            SetLastError(ERROR_NO_SUCH_DEVINST);
            return FALSE;
        }
        ++device.removals;
        return TRUE;
    }

    static BOOL WINAPI Destroy(HDEVINFO handle)
    {
        if (!Find(handle)) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        ++self->destroyed;
        return TRUE;
    }

    static BOOL WINAPI ClassGuidsFromName(PCSTR name, GUID* guids, DWORD size, DWORD* required)
    {
        if (lstrcmpA(name, "Modem") != 0 || self->classGuidsError) {
            SetLastError(self->classGuidsError ? self->classGuidsError : ERROR_INVALID_CLASS);
            return FALSE;
        }
        if (required) *required = static_cast<DWORD>(self->modemClasses.size());
        if (size < self->modemClasses.size()) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        for (size_t i = 0; i < self->modemClasses.size(); ++i) guids[i] = self->modemClasses[i];
        return TRUE;
    }

    ImportPatch getClassDevs_{"setupapi.dll", "SetupDiGetClassDevsA", reinterpret_cast<void*>(&GetClassDevs)};
    ImportPatch enumDeviceInfo_{"setupapi.dll", "SetupDiEnumDeviceInfo", reinterpret_cast<void*>(&EnumDeviceInfo)};
    ImportPatch getProperty_{"setupapi.dll", "SetupDiGetDeviceRegistryPropertyA",
                             reinterpret_cast<void*>(&GetProperty)};
    ImportPatch callClassInstaller_{"setupapi.dll", "SetupDiCallClassInstaller",
                                    reinterpret_cast<void*>(&CallClassInstaller)};
    ImportPatch destroy_{"setupapi.dll", "SetupDiDestroyDeviceInfoList", reinterpret_cast<void*>(&Destroy)};
    ImportPatch classGuids_{"setupapi.dll", "SetupDiClassGuidsFromNameA",
                            reinterpret_cast<void*>(&ClassGuidsFromName)};
};

using Names = std::vector<std::string>;

// The look-alikes every hardware-id step is run against.
std::vector<FakeDevice> MixedDevices()
{
    FakeDevice noIds = Device("no-ids", {});
    noIds.hasIds = false;
    return {
        Device("rev-and-lower", {"USB\\VID_1B3F&PID_5C13&REV_0001", "usb\\vid_1b3f&pid_5c13"}),
        Device("function-03", {"USB\\VID_1B3F&PID_5C13&MI_03"}),
        Device("longer-pid", {"USB\\VID_1B3F&PID_5C130"}),
        Device("other-bus", {"HID\\VID_1B3F&PID_5C13", "XUSB\\VID_1B3F&PID_5C13"}),
        noIds,
        Device("absent-phone", {"USB\\VID_1B3F&PID_5C13"}, false),
        Device("twice-listed", {"USB\\VID_1B3F&PID_5C13", "Usb\\Vid_1b3f&Pid_5c13"}),
        Device("function-01-absent", {"USB\\vid_1b3f&pid_5c13&mi_01"}, false),
        Device("function-05", {"USB\\VID_1B3F&PID_5C13&Mi_05&REV_0000", "USB\\VID_1B3F&PID_5C13&MI_05"}),
        Device("other-maker", {"USB\\VID_1234&PID_5C13"}),
    };
}

TEST(RemoveUsbDevice, RemovesPresentDevicesListingTheWholeIdInAnyCase)
{
    FakeDeviceList list(MixedDevices());
    BoxRecorder boxes;

    EXPECT_EQ(1, RemoveUsbDevice("VID_1B3F&PID_5C13"));

    EXPECT_EQ((Names{"rev-and-lower", "twice-listed"}), list.Removed());
    EXPECT_EQ(0u, boxes.Count()) << boxes.Describe();
    ASSERT_EQ(1u, list.sets.size());
    EXPECT_FALSE(list.sets[0].hasClass);
    EXPECT_EQ(static_cast<DWORD>(DIGCF_PRESENT | DIGCF_ALLCLASSES), list.sets[0].flags);
    EXPECT_EQ(1, list.destroyed);
    EXPECT_EQ(1, list.devices[6].removals) << "a device listing the id twice is removed once";
}

TEST(RemoveUsbFunctionDevices, RemovesEveryKnownDeviceOfTheFourIds)
{
    FakeDeviceList list(MixedDevices());
    BoxRecorder boxes;

    EXPECT_EQ(1, RemoveUsbFunctionDevices());

    EXPECT_EQ((Names{"rev-and-lower", "function-03", "absent-phone", "twice-listed",
                     "function-01-absent", "function-05"}),
              list.Removed());
    EXPECT_EQ(0u, boxes.Count()) << boxes.Describe();
    ASSERT_EQ(1u, list.sets.size());
    EXPECT_EQ(static_cast<DWORD>(DIGCF_ALLCLASSES), list.sets[0].flags);
    EXPECT_EQ(1, list.destroyed);
}

TEST(RemoveUsbDevice, NothingToRemoveShowsNothing)
{
    for (bool empty : {true, false}) {
        FakeDeviceList list(empty ? std::vector<FakeDevice>{}
                                  : std::vector<FakeDevice>{Device("other", {"USB\\VID_1B3F&PID_5C14"}),
                                                            Device("absent", {"USB\\VID_1B3F&PID_5C13"}, false)});
        BoxRecorder boxes;
        EXPECT_EQ(0, RemoveUsbDevice("VID_1B3F&PID_5C13"));
        EXPECT_EQ(0u, boxes.Count()) << boxes.Describe();
        EXPECT_TRUE(list.Removed().empty());
        EXPECT_EQ(1, list.destroyed);
    }
}

TEST(RemoveUsbDevice, FailedRemovalEndsTheStepWithOneBox)
{
    struct Case {
        const char* name;
        bool firstRemoved;
    };
    for (const Case& c : {Case{"first fails", false}, Case{"second fails", true}}) {
        SCOPED_TRACE(c.name);
        std::vector<FakeDevice> devices = {
            Device("phone-1", {"USB\\VID_1B3F&PID_5C13"}),
            Device("phone-2", {"USB\\VID_1B3F&PID_5C13"}),
            Device("phone-3", {"USB\\VID_1B3F&PID_5C13"}),
        };
        devices[c.firstRemoved ? 1 : 0].removeError = ERROR_ACCESS_DENIED;
        FakeDeviceList list(devices);
        BoxRecorder boxes;

        EXPECT_EQ(c.firstRemoved ? 1 : 0, RemoveUsbDevice("VID_1B3F&PID_5C13"));

        ExpectOneSystemError(boxes, ERROR_ACCESS_DENIED);
        EXPECT_EQ(c.firstRemoved ? Names{"phone-1"} : Names{}, list.Removed())
            << "the devices after the failure are left alone";
        EXPECT_EQ(1, list.destroyed);
    }
}

TEST(RemoveUsbFunctionDevices, PropertyReadFailureEndsTheStepWithOneBox)
{
    std::vector<FakeDevice> devices = {
        Device("phone-1", {"USB\\VID_1B3F&PID_5C13&Mi_01"}),
        Device("broken", {"USB\\VID_1B3F&PID_5C13"}),
        Device("phone-3", {"USB\\VID_1B3F&PID_5C13&Mi_03"}),
    };
    devices[1].propertyError = ERROR_GEN_FAILURE;
    FakeDeviceList list(devices);
    BoxRecorder boxes;

    EXPECT_EQ(1, RemoveUsbFunctionDevices());

    ExpectOneSystemError(boxes, ERROR_GEN_FAILURE);
    EXPECT_EQ(Names{"phone-1"}, list.Removed());
    EXPECT_EQ(1, list.destroyed);
}

TEST(RemoveUsbFunctionDevices, IdListThatGrowsWhileReadIsReadAgain)
{
    FakeDevice growing = Device("growing", {"USB\\VID_1B3F&PID_5C13&MI_05"});
    growing.growth = 40;  // bigger at the second question than at the first
    growing.growthTimes = 1;
    FakeDevice endless = Device("endless", {"USB\\VID_1B3F&PID_5C13"});
    endless.growth = 1000;
    endless.growthTimes = -1;
    {
        FakeDeviceList list({growing});
        BoxRecorder boxes;
        EXPECT_EQ(1, RemoveUsbFunctionDevices());
        EXPECT_EQ(Names{"growing"}, list.Removed());
        EXPECT_EQ(0u, boxes.Count()) << boxes.Describe();
    }
    {
        // A list that never stops growing ends the step instead of looping.
        FakeDeviceList list({endless, growing});
        BoxRecorder boxes;
        EXPECT_EQ(0, RemoveUsbFunctionDevices());
        ExpectOneSystemError(boxes, ERROR_INSUFFICIENT_BUFFER);
        EXPECT_TRUE(list.Removed().empty());
        EXPECT_EQ(1, list.destroyed);
    }
}

TEST(RemoveUsbDevice, SetThatCannotBeBuiltIsShown)
{
    FakeDeviceList list({Device("phone", {"USB\\VID_1B3F&PID_5C13"})});
    list.classDevsError = ERROR_NOT_ENOUGH_MEMORY;
    BoxRecorder boxes;
    EXPECT_EQ(0, RemoveUsbDevice("VID_1B3F&PID_5C13"));
    EXPECT_EQ(0, RemoveUsbFunctionDevices());
    ASSERT_EQ(2u, boxes.Count()) << boxes.Describe();
    for (const RecordedBox& box : boxes.Boxes()) EXPECT_EQ(SystemMessage(ERROR_NOT_ENOUGH_MEMORY), box.text);
    EXPECT_EQ(0, list.destroyed);
}

const GUID modemClass = {0x4D36E96D, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
const GUID otherModemClass = {0x12345678, 0x1234, 0x1234, {0x12, 0x34, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC}};

std::vector<FakeDevice> ModemDevices()
{
    FakeDevice noDescription = Device("no-description", {"USB\\VID_1B3F&PID_5C13&MI_01"});
    FakeDevice noIds = Modem("no-ids", "TV4170K USB Modem", {});
    noIds.hasIds = false;
    return {
        Modem("phone-modem", "TV4170K USB Modem", {"USB\\VID_1B3F&PID_5C13&REV_0000&MI_01"}),
        Modem("lower-description", "tv4170k usb modem", {"USB\\VID_1B3F&PID_5C13&REV_0000&MI_01"}),
        Modem("id-second", "TV4170K USB Modem", {"USB\\VID_1B3F&PID_5C14&MI_01", "USB\\VID_1B3F&PID_5C13"}),
        noDescription,
        noIds,
        Modem("lower-id", "TV4170K USB Modem", {"usb\\vid_1b3f&pid_5c13&mi_01"}),
        Modem("absent-modem", "TV4170K USB Modem", {"USB\\VID_1B3F&PID_5C13&MI_01"}, false),
        Modem("longer-description", "TV4170K USB Modem #2", {"USB\\VID_1B3F&PID_5C13&MI_01"}),
    };
}

TEST(RemoveModemDevices, RemovesExactDescriptionWithThePhoneInTheFirstId)
{
    FakeDeviceList list(ModemDevices());
    list.modemClasses = {modemClass};
    BoxRecorder boxes;

    EXPECT_EQ(1, RemoveModemDevices("TV4170K USB Modem", "VID_1B3F&PID_5C13"));

    EXPECT_EQ((Names{"phone-modem", "lower-id", "absent-modem"}), list.Removed());
    EXPECT_EQ(0u, boxes.Count()) << boxes.Describe();
    ASSERT_EQ(1u, list.sets.size());
    EXPECT_TRUE(list.sets[0].hasClass);
    EXPECT_TRUE(IsEqualGUID(modemClass, list.sets[0].classGuid));
    EXPECT_EQ(static_cast<DWORD>(DIGCF_ALLCLASSES), list.sets[0].flags);
    EXPECT_EQ(1, list.destroyed);
}

TEST(RemoveModemDevices, EachModemClassExaminesTheWholeList)
{
    FakeDeviceList list(ModemDevices());
    list.modemClasses = {modemClass, otherModemClass};
    BoxRecorder boxes;

    EXPECT_EQ(1, RemoveModemDevices("TV4170K USB Modem", "VID_1B3F&PID_5C13"));

    EXPECT_EQ((Names{"phone-modem", "lower-id", "absent-modem"}), list.Removed());
    ASSERT_EQ(2u, list.sets.size());
    EXPECT_TRUE(IsEqualGUID(otherModemClass, list.sets[1].classGuid));
    EXPECT_EQ(2, list.destroyed);
    EXPECT_EQ(0u, boxes.Count()) << boxes.Describe();
}

TEST(RemoveModemDevices, StaysSilentOnEveryFailure)
{
    struct Case {
        const char* name;
        int expected;
        int sets;
        Names removed;
    };
    std::vector<Case> cases = {
        {"no modem class", 1, 0, {}},
        {"class lookup fails", 0, 0, {}},
        {"set cannot be built", 0, 1, {}},
        {"removal fails", 0, 1, {}},
        {"description too long", 0, 1, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<FakeDevice> devices = ModemDevices();
        std::string which = c.name;
        if (which == "removal fails") devices[0].removeError = ERROR_ACCESS_DENIED;
        if (which == "description too long") devices[0].description = std::string(1024, 'T');
        FakeDeviceList list(devices);
        if (which != "no modem class") list.modemClasses = {modemClass};
        if (which == "class lookup fails") list.classGuidsError = ERROR_INVALID_CLASS;
        if (which == "set cannot be built") list.classDevsError = ERROR_NOT_ENOUGH_MEMORY;
        BoxRecorder boxes;

        EXPECT_EQ(c.expected, RemoveModemDevices("TV4170K USB Modem", "VID_1B3F&PID_5C13"));

        EXPECT_EQ(0u, boxes.Count()) << boxes.Describe();
        EXPECT_EQ(c.removed, list.Removed());
        EXPECT_EQ(c.sets, static_cast<int>(list.sets.size()));
        EXPECT_EQ(which == "set cannot be built" ? 0 : c.sets, list.destroyed);
    }
}

// Real device nodes in the prefix's device registry.
class RealDevices : public testing::Test {
protected:
    static constexpr const char* kEnum = "SYSTEM\\CurrentControlSet\\Enum\\USB\\";
    static constexpr const char* kModemClassKey =
        "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}";

    RegistryScratch scratch_{{std::string(kEnum) + "VID_1B3F&PID_5C13", std::string(kEnum) + "VID_1B3F&PID_5C13&MI_01",
                              std::string(kEnum) + "VID_1B3F&PID_5C13&MI_03", std::string(kEnum) + "VID_1B3F&PID_5C14",
                              std::string(kEnum) + "VID_1B3F&PID_5C130", kModemClassKey}};

    // Creates a registered device; empty description: none.
    static bool Create(const std::string& instance, const GUID& classGuid, const std::vector<std::string>& ids,
                       const std::string& description = "")
    {
        HDEVINFO set = SetupDiCreateDeviceInfoList(&classGuid, nullptr);
        if (set == INVALID_HANDLE_VALUE) return false;
        SP_DEVINFO_DATA device = {};
        device.cbSize = sizeof(device);
        bool ok = SetupDiCreateDeviceInfoA(set, instance.c_str(), &classGuid, nullptr, nullptr, 0, &device);
        std::string bytes = Ids(ids);
        if (ok && !ids.empty())
            ok = SetupDiSetDeviceRegistryPropertyA(set, &device, SPDRP_HARDWAREID,
                                                   reinterpret_cast<const BYTE*>(bytes.data()),
                                                   static_cast<DWORD>(bytes.size()));
        if (ok && !description.empty())
            ok = SetupDiSetDeviceRegistryPropertyA(set, &device, SPDRP_DEVICEDESC,
                                                   reinterpret_cast<const BYTE*>(description.c_str()),
                                                   static_cast<DWORD>(description.size() + 1));
        if (ok) ok = SetupDiRegisterDeviceInfo(set, &device, 0, nullptr, nullptr, nullptr);
        SetupDiDestroyDeviceInfoList(set);
        return ok;
    }

    static bool Exists(const std::string& instance) { return reg::KeyExists(std::string(kEnum) + instance); }
};

const GUID portsClass = {0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
const GUID usbClass = {0x36FC9E60, 0xC465, 0x11CF, {0x80, 0x56, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};

TEST_F(RealDevices, FunctionDevicesAreRemovedAndLookAlikesStay)
{
    ASSERT_TRUE(Create("USB\\VID_1B3F&PID_5C13\\7&1&0&1", usbClass, {"USB\\VID_1B3F&PID_5C13&REV_0001", "USB\\VID_1B3F&PID_5C13"}));
    ASSERT_TRUE(Create("USB\\VID_1B3F&PID_5C13&MI_03\\7&1&0&3", portsClass, {"usb\\vid_1b3f&pid_5c13&mi_03"}));
    ASSERT_TRUE(Create("USB\\VID_1B3F&PID_5C14\\7&2&0&1", usbClass, {"USB\\VID_1B3F&PID_5C14", "USB\\VID_1B3F&PID_5C13&REV_0001"}));
    ASSERT_TRUE(Create("USB\\VID_1B3F&PID_5C130\\7&3&0&1", usbClass, {"USB\\VID_1B3F&PID_5C130"}));
    BoxRecorder boxes;

    EXPECT_EQ(1, RemoveUsbFunctionDevices());

    EXPECT_FALSE(Exists("VID_1B3F&PID_5C13\\7&1&0&1"));
    EXPECT_FALSE(Exists("VID_1B3F&PID_5C13&MI_03\\7&1&0&3"));
    EXPECT_TRUE(Exists("VID_1B3F&PID_5C14\\7&2&0&1"));
    EXPECT_TRUE(Exists("VID_1B3F&PID_5C130\\7&3&0&1"));
    EXPECT_EQ(0u, boxes.Count()) << boxes.Describe();

    // Nothing left: the second run finds nothing and says nothing.
    EXPECT_EQ(0, RemoveUsbFunctionDevices());
    EXPECT_EQ(0, RemoveUsbDevice("VID_1B3F&PID_5C13"));
    EXPECT_EQ(0u, boxes.Count()) << boxes.Describe();
}

TEST_F(RealDevices, UsbDeviceStepLeavesTheFunctions)
{
    ASSERT_TRUE(Create("USB\\VID_1B3F&PID_5C13\\7&1&0&1", usbClass, {"USB\\VID_1B3F&PID_5C13"}));
    ASSERT_TRUE(Create("USB\\VID_1B3F&PID_5C13&MI_03\\7&1&0&3", portsClass, {"USB\\VID_1B3F&PID_5C13&MI_03"}));
    BoxRecorder boxes;

    EXPECT_EQ(1, RemoveUsbDevice("VID_1B3F&PID_5C13"));

    EXPECT_FALSE(Exists("VID_1B3F&PID_5C13\\7&1&0&1"));
    EXPECT_TRUE(Exists("VID_1B3F&PID_5C13&MI_03\\7&1&0&3"));
    EXPECT_EQ(0u, boxes.Count()) << boxes.Describe();
}

TEST_F(RealDevices, ModemStepFindsTheModemClassAndMatchesTheDescription)
{
    ASSERT_TRUE(reg::SetString(kModemClassKey, "Class", "Modem"));
    ASSERT_TRUE(Create("USB\\VID_1B3F&PID_5C13&MI_01\\7&1&0&1", modemClass,
                       {"USB\\VID_1B3F&PID_5C13&REV_0000&MI_01", "USB\\VID_1B3F&PID_5C13&MI_01"},
                       "TV4170K USB Modem"));
    ASSERT_TRUE(Create("USB\\VID_1B3F&PID_5C13&MI_01\\7&1&0&2", modemClass, {"USB\\VID_1B3F&PID_5C13&MI_01"},
                       "tv4170k usb modem"));
    ASSERT_TRUE(Create("USB\\VID_1B3F&PID_5C14\\7&2&0&1", modemClass, {"USB\\VID_1B3F&PID_5C14&MI_01"},
                       "TV4170K USB Modem"));
    BoxRecorder boxes;

    EXPECT_EQ(1, RemoveModemDevices("TV4170K USB Modem", "VID_1B3F&PID_5C13"));

    EXPECT_FALSE(Exists("VID_1B3F&PID_5C13&MI_01\\7&1&0&1"));
    EXPECT_TRUE(Exists("VID_1B3F&PID_5C13&MI_01\\7&1&0&2"));
    EXPECT_TRUE(Exists("VID_1B3F&PID_5C14\\7&2&0&1"));
    EXPECT_EQ(0u, boxes.Count()) << boxes.Describe();
}

}  // namespace
