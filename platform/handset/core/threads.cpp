// Kernel functions for time, threads, events, waits, handles and the last error.
#include <map>
#include <mutex>
#include <vector>

#include "platform/handset/core/faults.h"
#include "platform/handset/core/kernel.h"
#include "platform/handset/core/process.h"
#include "platform/winbase.h"

using namespace handset;

namespace {

thread_local DWORD t_last_error = ERROR_SUCCESS;

const HANDLE kCurrentThreadPseudo = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-2));

std::shared_ptr<ThreadObject> thread_of(HANDLE handle) {
    if (handle == kCurrentThreadPseudo) return current_thread();
    return object_as<ThreadObject>(handle);
}

long long deadline_after(DWORD ms) {
    return ms == INFINITE ? kNoDeadline : handset::clock().now_ms() + ms;
}

}  // namespace

void Sleep(DWORD ms) {
    if (ms == INFINITE) {
        std::unique_lock lock(kernel_lock());
        handset::clock().wait(lock, {}, false, kNoDeadline);
        return;
    }
    handset::clock().sleep_ms(ms);
}

DWORD GetTickCount() { return static_cast<DWORD>(handset::clock().now_ms()); }

DWORD GetLastError() { return t_last_error; }

void SetLastError(DWORD code) { t_last_error = code; }

HANDLE CreateThread(void*, DWORD, LPTHREAD_START_ROUTINE start, LPVOID param, DWORD, LPDWORD thread_id) {
    if (!start) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (fault_active(Fault::KernelThread)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    auto thread = start_thread([start, param] { return start(param); });
    if (thread_id) *thread_id = thread->id;
    return make_handle(thread);
}

HANDLE GetCurrentThread() { return kCurrentThreadPseudo; }

DWORD GetCurrentThreadId() { return current_thread()->id; }

DWORD GetCurrentProcessId() { return current_process()->pid; }

int GetThreadPriority(HANDLE handle) {
    auto thread = thread_of(handle);
    if (!thread) {
        SetLastError(ERROR_INVALID_HANDLE);
        return THREAD_PRIORITY_ERROR_RETURN;
    }
    std::lock_guard lock(kernel_lock());
    return thread->priority;
}

BOOL SetThreadPriority(HANDLE handle, int priority) {
    auto thread = thread_of(handle);
    if (!thread) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (priority < THREAD_PRIORITY_TIME_CRITICAL || priority > THREAD_PRIORITY_IDLE) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::lock_guard lock(kernel_lock());
    thread->priority = priority;
    return TRUE;
}

BOOL GetExitCodeThread(HANDLE handle, LPDWORD code) {
    auto thread = thread_of(handle);
    if (!thread || !code) {
        SetLastError(thread ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::lock_guard lock(kernel_lock());
    *code = thread->exit_code();
    return TRUE;
}

BOOL GetExitCodeProcess(HANDLE handle, LPDWORD code) {
    auto process = object_as<RunnableObject>(handle);
    if (!process || !code) {
        SetLastError(process ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::lock_guard lock(kernel_lock());
    *code = process->exit_code();
    return TRUE;
}

HANDLE CreateEventW(void*, BOOL manual_reset, BOOL initial_state, LPCWSTR name) {
    if (fault_active(Fault::KernelEvent)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    // A name is shared within this host (its processes); a second create opens the same
    // event, keeping its state, and says so.
    static std::mutex names_mu;
    static std::map<std::u16string, std::weak_ptr<EventObject>> names;
    std::shared_ptr<EventObject> event;
    bool existed = false;
    if (name && *name) {
        std::lock_guard lock(names_mu);
        std::weak_ptr<EventObject>& slot = names[std::u16string(name)];
        event = slot.lock();
        existed = event != nullptr;
        if (!event) slot = event = std::make_shared<EventObject>(manual_reset != FALSE, initial_state != FALSE);
    } else {
        event = std::make_shared<EventObject>(manual_reset != FALSE, initial_state != FALSE);
    }
    SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return make_handle(std::move(event));
}

BOOL SetEvent(HANDLE handle) {
    auto event = object_as<EventObject>(handle);
    if (!event) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::lock_guard lock(kernel_lock());
    event->set();
    handset::clock().wake_waiters();
    return TRUE;
}

BOOL ResetEvent(HANDLE handle) {
    auto event = object_as<EventObject>(handle);
    if (!event) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::lock_guard lock(kernel_lock());
    event->reset();
    return TRUE;
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL wait_all, DWORD ms) {
    if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || !handles) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    std::vector<std::shared_ptr<KernelObject>> objects;  // keeps them alive during the wait
    std::vector<Waitable*> waitables;
    for (DWORD i = 0; i < count; ++i) {
        auto object = handles[i] == kCurrentThreadPseudo ? current_thread() : object_of(handles[i]);
        if (!object || !object->waitable()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
        waitables.push_back(object.get());
        objects.push_back(std::move(object));
    }
    const long long deadline = deadline_after(ms);
    std::unique_lock lock(kernel_lock());
    const int result = handset::clock().wait(lock, waitables, wait_all != FALSE, deadline);
    return result == kWaitTimeout ? WAIT_TIMEOUT : WAIT_OBJECT_0 + static_cast<DWORD>(result);
}

DWORD WaitForSingleObject(HANDLE handle, DWORD ms) { return WaitForMultipleObjects(1, &handle, FALSE, ms); }

BOOL CloseHandle(HANDLE handle) {
    if (handle == kCurrentThreadPseudo) return TRUE;
    if (!close_handle(handle)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}
