#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "removal/removal.h"
#include "removal_fixtures.h"
#include "support/box_recorder.h"
#include "support/fault.h"

namespace {

// The four driver services in the prefix's real service manager; removed
// before and after each test.
class DriverServices : public testing::Test {
protected:
    void SetUp() override { RemoveAll(); }
    void TearDown() override { RemoveAll(); }

    static void RemoveAll()
    {
        SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        ASSERT_NE(nullptr, manager);
        for (const char* name : driverServiceNames) {
            SC_HANDLE service = OpenServiceA(manager, name, SERVICE_ALL_ACCESS);
            if (!service) continue;
            DeleteService(service);
            CloseServiceHandle(service);
        }
        CloseServiceHandle(manager);
    }

    static bool Install(const char* name)
    {
        SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        if (!manager) return false;
        std::string binary = std::string("system32\\drivers\\") + name + ".sys";
        SC_HANDLE service = CreateServiceA(manager, name, name, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                                           SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, binary.c_str(), nullptr,
                                           nullptr, nullptr, nullptr, nullptr);
        if (service) CloseServiceHandle(service);
        CloseServiceHandle(manager);
        return service != nullptr;
    }

    static bool Installed(const char* name)
    {
        SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
        if (!manager) return false;
        SC_HANDLE service = OpenServiceA(manager, name, SERVICE_QUERY_STATUS);
        if (service) CloseServiceHandle(service);
        CloseServiceHandle(manager);
        return service != nullptr;
    }
};

TEST_F(DriverServices, NoneInstalledShowsNothing)
{
    BoxRecorder boxes;
    for (const char* name : driverServiceNames) EXPECT_NE(0, DeleteDriverService(name)) << name;
    EXPECT_EQ(0u, boxes.Count()) << boxes.Describe();
}

TEST_F(DriverServices, AllFourAreDeleted)
{
    for (const char* name : driverServiceNames) ASSERT_TRUE(Install(name)) << name;
    BoxRecorder boxes;
    for (const char* name : driverServiceNames) EXPECT_NE(0, DeleteDriverService(name)) << name;
    for (const char* name : driverServiceNames) EXPECT_FALSE(Installed(name)) << name;
    EXPECT_EQ(0u, boxes.Count()) << boxes.Describe();
}

TEST_F(DriverServices, ServiceMarkedForDeletionShowsOneBoxAndTheNextIsStillDeleted)
{
    for (const char* name : driverServiceNames) ASSERT_TRUE(Install(name)) << name;
    // A handle held elsewhere keeps TVymdfl marked for deletion: the system
    // refuses the second deletion with 1072.
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(nullptr, manager);
    SC_HANDLE held = OpenServiceA(manager, "TVymdfl", SERVICE_ALL_ACCESS);
    ASSERT_NE(nullptr, held);
    ASSERT_TRUE(DeleteService(held));
    BoxRecorder boxes;

    for (const char* name : driverServiceNames) EXPECT_NE(0, DeleteDriverService(name)) << name;

    ExpectOneSystemError(boxes, ERROR_SERVICE_MARKED_FOR_DELETE);
    EXPECT_FALSE(Installed("TVybus"));
    EXPECT_FALSE(Installed("TVymdm"));
    EXPECT_FALSE(Installed("TVyobex"));
    CloseServiceHandle(held);
    CloseServiceHandle(manager);
}

TEST_F(DriverServices, RefusedDeletionIsShownOnce)
{
    for (const char* name : driverServiceNames) ASSERT_TRUE(Install(name)) << name;
    BoxRecorder boxes;
    {
        // The second deletion (TVymdfl) is refused.
        FAIL_CALL_NAMED(refuse, advapi32.dll, DeleteService, FALSE, ERROR_SERVICE_MARKED_FOR_DELETE, 1, 1);
        for (const char* name : driverServiceNames) EXPECT_NE(0, DeleteDriverService(name)) << name;
        EXPECT_EQ(4, refuse.Calls());
    }
    ExpectOneSystemError(boxes, ERROR_SERVICE_MARKED_FOR_DELETE);
    EXPECT_FALSE(Installed("TVybus"));
    EXPECT_TRUE(Installed("TVymdfl"));
    EXPECT_FALSE(Installed("TVymdm"));
    EXPECT_FALSE(Installed("TVyobex"));
}

TEST_F(DriverServices, ServiceManagerThatCannotBeOpenedIsShown)
{
    ASSERT_TRUE(Install("TVybus"));
    BoxRecorder boxes;
    {
        FAIL_CALL(advapi32.dll, OpenSCManagerA, nullptr, ERROR_ACCESS_DENIED);
        EXPECT_EQ(0, DeleteDriverService("TVybus"));
    }
    ExpectOneSystemError(boxes, ERROR_ACCESS_DENIED);
    EXPECT_TRUE(Installed("TVybus"));
}

}  // namespace
