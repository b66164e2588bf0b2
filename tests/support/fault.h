// Makes an imported system function fail with a chosen result and last
// error, for the scope of a test:
//
//   FAIL_CALL(advapi32.dll, RegDeleteKeyA, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED);
//
// The first `skip` calls go through to the system; the next `times` calls
// (every one when times < 0) fail. Calls() and Failures() count what happened.
#pragma once
#include <windows.h>

#include <gtest/gtest.h>

#include "support/import_patch.h"

template <int Tag, typename Signature>
class CallFault;

template <int Tag, typename R, typename... Args>
class CallFault<Tag, R(WINAPI*)(Args...)> {
public:
    CallFault(const char* dll, const char* function, R result, DWORD error, int skip = 0,
              int times = -1)
        : patch_(dll, function, reinterpret_cast<void*>(&Replacement))
    {
        EXPECT_TRUE(patch_.Applied()) << function << " is not imported from " << dll;
        state_ = State{reinterpret_cast<R(WINAPI*)(Args...)>(patch_.Original()), result, error,
                       skip, times, 0, 0};
    }
    ~CallFault() { state_.original = nullptr; }

    int Calls() const { return state_.calls; }
    int Failures() const { return state_.failures; }

private:
    struct State {
        R(WINAPI* original)(Args...);
        R result;
        DWORD error;
        int skip;
        int times;
        int calls;
        int failures;
    };

    static R WINAPI Replacement(Args... args)
    {
        int n = state_.calls++;
        if (n >= state_.skip && (state_.times < 0 || n < state_.skip + state_.times)) {
            ++state_.failures;
            SetLastError(state_.error);
            return state_.result;
        }
        return state_.original(args...);
    }

    static inline State state_{};
    ImportPatch patch_;
};

#define QUELLIN_CONCAT2(a, b) a##b
#define QUELLIN_CONCAT(a, b) QUELLIN_CONCAT2(a, b)
#define FAIL_CALL(dll, fn, ...)                                                              \
    CallFault<__COUNTER__, decltype(&fn)> QUELLIN_CONCAT(fault_##fn##_, __LINE__)(#dll, #fn, \
                                                                                 __VA_ARGS__)
// Same, with a name to ask for Calls() and Failures().
#define FAIL_CALL_NAMED(var, dll, fn, ...) \
    CallFault<__COUNTER__, decltype(&fn)> var(#dll, #fn, __VA_ARGS__)
