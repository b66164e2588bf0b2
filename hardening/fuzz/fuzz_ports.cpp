// The port-name number parse (ReadPortNumber), the ComDB bit release
// (ReleaseComDbPort) and the whole port release of one device
// (ReleaseDevicePorts), on any PortName bytes, any ComDB bytes, any port
// number, any names of port settings, optionally with one registry call
// failing.
// Invariants: the number is what an atol-like reading of the name behind its
// first three bytes gives (clamped at 0x7FFFFFFF); only port N's bit of
// ComDB is cleared, and only when it lies inside the value, whose length
// and type stay; an over-long value is refused with one box; the release
// deletes only settings whose names hold the port name (digit rule), never
// another bit of ComDB; at most one box per failing call; every key closed.
#include "fuzz/regpurge_common.h"
#include "regpurge/registry_accessor.h"
#include "regpurge/registry_purger.h"
#include "resources/ids.h"

namespace {

const std::string kDevice = "SYSTEM\\ControlSet001\\Enum\\USB\\VID_1B3F&PID_5C13&Mi_03";
const std::string kArbiter = "SYSTEM\\ControlSet001\\Control\\COM Name Arbiter";
const std::string kPorts = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Ports";

long AtolClamped(const std::string& text)
{
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > 0x7FFFFFFFLL) value = 0x7FFFFFFFLL;
    }
    return static_cast<long>(negative ? -value : value);
}

// The text ReadPortName leaves: the bytes up to the first NUL.
std::string AsText(const std::string& bytes) { return bytes.substr(0, bytes.find('\0')); }

void CheckReadPortNumber(const std::string& portName, DWORD type)
{
    StandinRegSetValue(kDevice + "\\7&1\\Device Parameters", "PortName", type, portName);
    HKEY device = nullptr;
    RegOpenKeyExA(HKEY_LOCAL_MACHINE, kDevice.c_str(), 0, KEY_READ, &device);
    RegistryAccessor accessor(12);
    long number = -12345;
    int result = accessor.ReadPortNumber(device, "7&1", &number);
    RegCloseKey(device);
    CHECK(StandinOpenKeys() == 0, "keys left open");
    if (portName.size() > 260) {
        CHECK(result == 0 && number == 0 && StandinBoxes().size() == 1, "a %zu-byte name gave %d, %ld",
              portName.size(), result, number);
        return;
    }
    std::string text = AsText(portName);
    long expected = text.size() <= 3 ? 0 : AtolClamped(text.substr(3));
    CHECK(result == 1 && StandinBoxes().empty(), "result %d", result);
    CHECK(number == expected, "\"%s\" read as %ld, expected %ld", Hex(text).c_str(), number, expected);
}

void CheckReleaseComDbPort(const std::string& comDb, DWORD type, long port)
{
    StandinRegSetValue(kArbiter, "ComDB", type, comDb);
    RegistryPurger purger(12);
    int result = purger.ReleaseComDbPort(HKEY_LOCAL_MACHINE, IDS_CONTROL, port);
    CHECK(StandinOpenKeys() == 0, "keys left open");
    DWORD typeAfter = 0;
    std::string after;
    CHECK(StandinRegGetValue(kArbiter, "ComDB", &typeAfter, &after), "ComDB is gone");
    CHECK(typeAfter == type && after.size() == comDb.size(), "type or length changed");
    std::string expected = comDb;
    if (comDb.size() > 260) {
        CHECK(result == 0 && StandinBoxes().size() == 1, "over-long ComDB gave %d", result);
    } else {
        CHECK(result == 1 && StandinBoxes().empty(), "result %d", result);
        if (port >= 1 && static_cast<unsigned long>(port - 1) / 8 < comDb.size())
            expected[(port - 1) / 8] = static_cast<char>(expected[(port - 1) / 8] & ~(1 << ((port - 1) % 8)));
    }
    CHECK(after == expected, "port %ld: ComDB changed wrongly", port);
}

void CheckReleaseDevicePorts(const std::string& portName, const std::string& comDb,
                             const std::vector<std::string>& settings, int failAt)
{
    StandinRegSetValue(kDevice + "\\7&1\\Device Parameters", "PortName", REG_SZ, portName);
    StandinRegCreateKey(kDevice + "\\7&2");
    StandinRegSetValue(kArbiter, "ComDB", REG_BINARY, comDb);
    for (const std::string& name : settings) StandinRegSetValue(kPorts, name, REG_SZ, "9600,n,8,1");
    const std::vector<std::string> before = StandinRegValueNames(kPorts);

    StandinFailRegistryCall(failAt, ERROR_ACCESS_DENIED);
    RegistryPurger purger(12);
    purger.ReleaseDevicePorts(HKEY_LOCAL_MACHINE, IDS_ENUM_USB, "VID_1B3F&PID_5C13&Mi_03", IDS_CONTROL);
    bool injected = failAt >= 0 && StandinRegistryCallsSeen() > failAt;
    StandinFailRegistryCall(-1, 0);

    CHECK(StandinOpenKeys() == 0, "%d keys left open", StandinOpenKeys());
    size_t allowed = (injected ? 1 : 0) + (portName.size() > 260 ? 2 : 0) + (comDb.size() > 260 ? 1 : 0);
    for (const std::string& name : before) allowed += name.size() > 260 ? 1 : 0;
    CHECK(StandinBoxes().size() <= allowed, "%zu boxes, %zu allowed", StandinBoxes().size(), allowed);

    std::string text = AsText(portName);
    long port = text.size() <= 3 ? 0 : AtolClamped(text.substr(3));
    std::string pattern = UpperAscii(text);
    const std::vector<std::string> after = StandinRegValueNames(kPorts);
    for (const std::string& name : before) {
        bool kept = std::find(after.begin(), after.end(), name) != after.end();
        CHECK(kept || (port > 0 && Matches(name, pattern, true)), "\"%s\" deleted for port name \"%s\"",
              Hex(name).c_str(), Hex(text).c_str());
    }
    std::string comDbAfter;
    StandinRegGetValue(kArbiter, "ComDB", nullptr, &comDbAfter);
    CHECK(comDbAfter.size() == comDb.size(), "ComDB length changed");
    for (size_t i = 0; i < comDb.size(); ++i) {
        BYTE mask = 0xFF;
        if (port >= 1 && static_cast<unsigned long>(port - 1) / 8 == i) mask = static_cast<BYTE>(~(1 << ((port - 1) % 8)));
        CHECK((comDbAfter[i] & mask) == (comDb[i] & mask) && (comDbAfter[i] & ~comDb[i]) == 0,
              "ComDB byte %zu changed for port %ld", i, port);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static bool started = (NormalStart(), true);
    (void)started;
    FuzzInput input(data, size, 8);
    const int mode = static_cast<int>(input.Byte(0) % 3);
    const long port = static_cast<long>(static_cast<int32_t>(input.Word(1) | input.Word(3) << 16));
    const DWORD type = input.Byte(5) % 8;
    const int failAt = input.Byte(6) < 80 ? static_cast<int>(input.Byte(6)) : -1;
    std::string portName = input.Text();
    std::string comDb = input.Text();
    if (portName.size() > 400 || comDb.size() > 400) return 0;
    std::vector<std::string> settings;
    for (std::string name = input.Text(); !name.empty() && settings.size() < 40; name = input.Text())
        settings.push_back(name);

    StandinRegClear();
    StandinClearBoxes();
    if (mode == 0) CheckReadPortNumber(portName, type);
    if (mode == 1) CheckReleaseComDbPort(comDb, type, port);
    if (mode == 2) CheckReleaseDevicePorts(portName, comDb, settings, failAt);
    return 0;
}
