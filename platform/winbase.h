// Kernel functions of the handset's platform API: time, threads, events, waits,
// mutexes, handles, last error, files, module paths and debug output.
//
// Every wait goes through the handset clock, so a program written against these
// functions runs the same under the real clock and under the virtual one.
#pragma once

#include "platform/wintypes.h"

using LPTHREAD_START_ROUTINE = DWORD (*)(LPVOID);

// Time.
void Sleep(DWORD ms);
DWORD GetTickCount();

// Threads.
HANDLE CreateThread(void* security, DWORD stack_size, LPTHREAD_START_ROUTINE start, LPVOID param,
                    DWORD flags, LPDWORD thread_id);
HANDLE GetCurrentThread();  // a pseudo handle for the calling thread
DWORD GetCurrentThreadId();
DWORD GetCurrentProcessId();
int GetThreadPriority(HANDLE thread);
BOOL SetThreadPriority(HANDLE thread, int priority);
BOOL GetExitCodeThread(HANDLE thread, LPDWORD code);

// Events and waits.
HANDLE CreateEventW(void* security, BOOL manual_reset, BOOL initial_state, LPCWSTR name);
#define CreateEvent CreateEventW
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);
DWORD WaitForSingleObject(HANDLE handle, DWORD ms);
DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL wait_all, DWORD ms);
BOOL CloseHandle(HANDLE handle);

// Named mutexes, visible to every process of the device.
HANDLE CreateMutexW(void* security, BOOL initial_owner, LPCWSTR name);
BOOL ReleaseMutex(HANDLE mutex);

// Last error of the calling thread.
DWORD GetLastError();
void SetLastError(DWORD code);

// Processes and modules. GetModuleFileNameW with a null module gives this process's
// executable path; with a process handle from OpenProcess, that process's.
HANDLE OpenProcess(DWORD access, BOOL inherit, DWORD process_id);
DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size);
BOOL GetExitCodeProcess(HANDLE process, LPDWORD code);

// Files of the device's file system. Paths are device paths ("\Windows\StartUp\...").
HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD share, void* security, DWORD disposition,
                   DWORD attributes, HANDLE template_file);
BOOL DeleteFileW(LPCWSTR path);
// INVALID_FILE_ATTRIBUTES when the path is missing (last error: its file or its folder).
DWORD GetFileAttributesW(LPCWSTR path);

// Debug output: the device's debug.log and the `debug` event. NKDbgPrintfW formats
// with %s (UTF-16 text), %d, %u, %x, %X, %c and %%.
void OutputDebugStringW(LPCWSTR text);
void NKDbgPrintfW(LPCWSTR format, ...);

// Formats like NKDbgPrintfW into `buffer` (at most 1024 code units with the
// terminator); returns the number of code units written without the terminator.
int wsprintfW(LPWSTR buffer, LPCWSTR format, ...);
