// Kernel object cases: named and abandoned mutexes, manual and automatic events, waits
// on one and on several objects with and without timeouts, handles closed twice, and
// the thread's last error.
#include "harness.h"

namespace conformance {
namespace {

constexpr DWORD kErrorNotOwner = 288;

// Runs `body` on a thread of its own and waits for it to end; returns its exit code.
DWORD on_thread(DWORD (*body)(LPVOID), LPVOID param) {
    HANDLE thread = CreateThread(nullptr, 0, body, param, 0, nullptr);
    WaitForSingleObject(thread, INFINITE);
    DWORD code = 0;
    GetExitCodeThread(thread, &code);
    CloseHandle(thread);
    return code;
}

Case mutex_new() {
    return {"mutex_new_name_clears_last_error", "CreateMutexW GetLastError", [](Check& c) {
                SetLastError(1234);
                HANDLE m = CreateMutexW(nullptr, FALSE, TEXT("QuillonConformanceNew"));
                c.is("handle", m != nullptr);
                c.eq("last error", GetLastError(), DWORD(0));
                CloseHandle(m);
            }};
}

Case mutex_existing() {
    return {"mutex_existing_name", "CreateMutexW GetLastError", [](Check& c) {
                HANDLE first = CreateMutexW(nullptr, TRUE, TEXT("QuillonConformanceTwice"));
                HANDLE second = CreateMutexW(nullptr, FALSE, TEXT("QuillonConformanceTwice"));
                c.eq("last error", GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
                c.is("another handle", second != nullptr && second != first);
                CloseHandle(second);
                ReleaseMutex(first);
                CloseHandle(first);
            }};
}

Case mutex_recursive() {
    return {"mutex_owner_waits_again_and_releases_each", "CreateMutexW WaitForSingleObject ReleaseMutex",
            [](Check& c) {
                HANDLE m = CreateMutexW(nullptr, TRUE, nullptr);
                c.eq("owner waits", WaitForSingleObject(m, 0), WAIT_OBJECT_0);
                c.eq("first release", ReleaseMutex(m), TRUE);
                c.eq("second release", ReleaseMutex(m), TRUE);
                SetLastError(0);
                c.eq("third release", ReleaseMutex(m), FALSE);
                c.eq("error", GetLastError(), kErrorNotOwner);
                CloseHandle(m);
            }};
}

Case mutex_other_owner() {
    return {"mutex_held_by_another_thread", "CreateMutexW WaitForSingleObject ReleaseMutex", [](Check& c) {
                static HANDLE m;
                m = CreateMutexW(nullptr, TRUE, nullptr);
                const DWORD seen = on_thread(
                    [](LPVOID) -> DWORD {
                        const DWORD wait = WaitForSingleObject(m, 0);
                        const BOOL released = ReleaseMutex(m);
                        return wait * 10 + static_cast<DWORD>(released);
                    },
                    nullptr);
                c.eq("other thread: timeout, release refused", seen, WAIT_TIMEOUT * 10);
                ReleaseMutex(m);
                CloseHandle(m);
            }};
}

Case mutex_abandoned() {
    return {"abandoned_mutex", "CreateMutexW WaitForSingleObject", [](Check& c) {
                static HANDLE m;
                m = CreateMutexW(nullptr, FALSE, nullptr);
                on_thread([](LPVOID) -> DWORD { return WaitForSingleObject(m, 0); }, nullptr);
                c.eq("first wait after the owner ended", WaitForSingleObject(m, 0), WAIT_ABANDONED);
                c.eq("owned now", ReleaseMutex(m), TRUE);
                c.eq("next wait", WaitForSingleObject(m, 0), WAIT_OBJECT_0);
                ReleaseMutex(m);
                CloseHandle(m);
            }};
}

Case manual_event() {
    return {"manual_event_stays_set", "CreateEventW SetEvent ResetEvent WaitForSingleObject", [](Check& c) {
                HANDLE e = CreateEventW(nullptr, TRUE, FALSE, nullptr);
                c.eq("unset", WaitForSingleObject(e, 0), WAIT_TIMEOUT);
                SetEvent(e);
                c.eq("first", WaitForSingleObject(e, 0), WAIT_OBJECT_0);
                c.eq("second", WaitForSingleObject(e, 0), WAIT_OBJECT_0);
                ResetEvent(e);
                c.eq("after reset", WaitForSingleObject(e, 0), WAIT_TIMEOUT);
                CloseHandle(e);
            }};
}

Case auto_event() {
    return {"automatic_event_releases_one_wait", "CreateEventW WaitForSingleObject", [](Check& c) {
                HANDLE e = CreateEventW(nullptr, FALSE, TRUE, nullptr);
                c.eq("first", WaitForSingleObject(e, 0), WAIT_OBJECT_0);
                c.eq("second", WaitForSingleObject(e, 0), WAIT_TIMEOUT);
                SetEvent(e);
                SetEvent(e);
                c.eq("set twice, one wait", WaitForSingleObject(e, 0), WAIT_OBJECT_0);
                c.eq("then none", WaitForSingleObject(e, 0), WAIT_TIMEOUT);
                CloseHandle(e);
            }};
}

Case named_event() {
    return {"named_event_shared", "CreateEventW GetLastError", [](Check& c) {
                HANDLE a = CreateEventW(nullptr, TRUE, FALSE, TEXT("QuillonConformanceEvent"));
                HANDLE b = CreateEventW(nullptr, TRUE, FALSE, TEXT("QuillonConformanceEvent"));
                c.eq("second create", GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
                SetEvent(a);
                c.eq("seen through the other", WaitForSingleObject(b, 0), WAIT_OBJECT_0);
                CloseHandle(a);
                CloseHandle(b);
            }};
}

Case timed_wait() {
    return {"wait_times_out_after_its_time", "WaitForSingleObject GetTickCount", [](Check& c) {
                HANDLE e = CreateEventW(nullptr, TRUE, FALSE, nullptr);
                const DWORD start = GetTickCount();
                c.eq("result", WaitForSingleObject(e, 200), WAIT_TIMEOUT);
                const DWORD elapsed = GetTickCount() - start;
                c.is("waited its time", elapsed >= 180 && elapsed < 5000);
                CloseHandle(e);
            }};
}

Case wait_for_thread() {
    return {"thread_signals_at_its_end", "CreateThread WaitForSingleObject GetExitCodeThread", [](Check& c) {
                c.eq("exit code", on_thread([](LPVOID) -> DWORD { return 42; }, nullptr), DWORD(42));
            }};
}

Case wait_any() {
    return {"wait_any_gives_lowest_signalled", "WaitForMultipleObjects", [](Check& c) {
                HANDLE e[3] = {CreateEventW(nullptr, FALSE, FALSE, nullptr), CreateEventW(nullptr, FALSE, TRUE, nullptr),
                               CreateEventW(nullptr, FALSE, TRUE, nullptr)};
                c.eq("first", WaitForMultipleObjects(3, e, FALSE, 0), WAIT_OBJECT_0 + 1);
                c.eq("second", WaitForMultipleObjects(3, e, FALSE, 0), WAIT_OBJECT_0 + 2);
                c.eq("none left", WaitForMultipleObjects(3, e, FALSE, 0), WAIT_TIMEOUT);
                for (HANDLE h : e) CloseHandle(h);
            }};
}

Case wait_all() {
    return {"wait_all_takes_all_or_nothing", "WaitForMultipleObjects", [](Check& c) {
                HANDLE e[2] = {CreateEventW(nullptr, FALSE, TRUE, nullptr), CreateEventW(nullptr, FALSE, FALSE, nullptr)};
                c.eq("one of two", WaitForMultipleObjects(2, e, TRUE, 0), WAIT_TIMEOUT);
                c.eq("first kept its signal", WaitForSingleObject(e[0], 0), WAIT_OBJECT_0);
                SetEvent(e[0]);
                SetEvent(e[1]);
                c.eq("both", WaitForMultipleObjects(2, e, TRUE, 0), WAIT_OBJECT_0);
                c.eq("both consumed", WaitForMultipleObjects(2, e, FALSE, 0), WAIT_TIMEOUT);
                for (HANDLE h : e) CloseHandle(h);
            }};
}

Case wait_all_later() {
    return {"wait_all_until_another_thread_sets", "WaitForMultipleObjects SetEvent", [](Check& c) {
                static HANDLE e[2];
                e[0] = CreateEventW(nullptr, TRUE, TRUE, nullptr);
                e[1] = CreateEventW(nullptr, TRUE, FALSE, nullptr);
                HANDLE thread = CreateThread(
                    nullptr, 0,
                    [](LPVOID) -> DWORD {
                        Sleep(50);
                        SetEvent(e[1]);
                        return 0;
                    },
                    nullptr, 0, nullptr);
                c.eq("result", WaitForMultipleObjects(2, e, TRUE, 10000), WAIT_OBJECT_0);
                WaitForSingleObject(thread, INFINITE);
                CloseHandle(thread);
                for (HANDLE h : e) CloseHandle(h);
            }};
}

Case wait_many_timeout() {
    return {"wait_any_times_out", "WaitForMultipleObjects", [](Check& c) {
                HANDLE e[2] = {CreateEventW(nullptr, TRUE, FALSE, nullptr), CreateEventW(nullptr, TRUE, FALSE, nullptr)};
                c.eq("result", WaitForMultipleObjects(2, e, FALSE, 30), WAIT_TIMEOUT);
                for (HANDLE h : e) CloseHandle(h);
            }};
}

Case close_twice() {
    return {"close_handle_twice", "CloseHandle GetLastError", [](Check& c) {
                HANDLE e = CreateEventW(nullptr, TRUE, FALSE, nullptr);
                c.eq("first", CloseHandle(e), TRUE);
                SetLastError(0);
                c.eq("second", CloseHandle(e), FALSE);
                c.eq("error", GetLastError(), DWORD(ERROR_INVALID_HANDLE));
            }};
}

Case wait_closed() {
    return {"wait_on_closed_handle", "WaitForSingleObject GetLastError", [](Check& c) {
                HANDLE e = CreateEventW(nullptr, TRUE, TRUE, nullptr);
                CloseHandle(e);
                SetLastError(0);
                c.eq("result", WaitForSingleObject(e, 0), WAIT_FAILED);
                c.eq("error", GetLastError(), DWORD(ERROR_INVALID_HANDLE));
            }};
}

Case set_closed() {
    return {"set_closed_event", "SetEvent GetLastError", [](Check& c) {
                HANDLE e = CreateEventW(nullptr, TRUE, FALSE, nullptr);
                CloseHandle(e);
                SetLastError(0);
                c.eq("result", SetEvent(e), FALSE);
                c.eq("error", GetLastError(), DWORD(ERROR_INVALID_HANDLE));
            }};
}

Case last_error_success() {
    return {"success_keeps_last_error", "SetEvent GetLastError", [](Check& c) {
                HANDLE e = CreateEventW(nullptr, TRUE, FALSE, nullptr);
                SetLastError(1234);
                c.eq("set", SetEvent(e), TRUE);
                c.eq("last error", GetLastError(), DWORD(1234));
                CloseHandle(e);
            }};
}

Case last_error_per_thread() {
    return {"last_error_is_per_thread", "SetLastError GetLastError", [](Check& c) {
                SetLastError(77);
                const DWORD other = on_thread(
                    [](LPVOID) -> DWORD {
                        const DWORD fresh = GetLastError();
                        SetLastError(5);
                        return fresh;
                    },
                    nullptr);
                c.eq("a new thread starts at", other, DWORD(0));
                c.eq("ours", GetLastError(), DWORD(77));
            }};
}

Case exit_code_running() {
    return {"exit_code_while_running", "CreateThread GetExitCodeThread", [](Check& c) {
                static HANDLE go;
                go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
                HANDLE thread = CreateThread(
                    nullptr, 0, [](LPVOID) -> DWORD { return WaitForSingleObject(go, INFINITE) == WAIT_OBJECT_0 ? 3 : 4; },
                    nullptr, 0, nullptr);
                DWORD code = 0;
                GetExitCodeThread(thread, &code);
                c.eq("running", code, STILL_ACTIVE);
                SetEvent(go);
                WaitForSingleObject(thread, INFINITE);
                GetExitCodeThread(thread, &code);
                c.eq("ended", code, DWORD(3));
                CloseHandle(thread);
                CloseHandle(go);
            }};
}

}  // namespace

Table kernel_table() {
    return {"kernel",
            {mutex_new(), mutex_existing(), mutex_recursive(), mutex_other_owner(), mutex_abandoned(), manual_event(),
             auto_event(), named_event(), timed_wait(), wait_for_thread(), wait_any(), wait_all(), wait_all_later(),
             wait_many_timeout(), close_twice(), wait_closed(), set_closed(), last_error_success(),
             last_error_per_thread(), exit_code_running()}};
}

}  // namespace conformance
