// Events, waits, critical sections, threads and process facts with the platform's
// semantics: an auto-reset event releases exactly one waiter; a manual-reset event
// stays signalled until reset; a wait on several handles reports the lowest signalled
// index. Handles are closed with CloseHandle.
#pragma once

#include <memory>

#include "media/contract/wintypes.h"

constexpr DWORD INFINITE = 0xFFFFFFFF;
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_ABANDONED = 0x80;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;
constexpr DWORD MAXIMUM_WAIT_OBJECTS = 64;
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1)))

HANDLE CreateEvent(void* security, BOOL manualReset, BOOL initialState, LPCSTR name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);
BOOL PulseEvent(HANDLE event);
DWORD WaitForSingleObject(HANDLE h, DWORD timeoutMs);
DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD timeoutMs);
BOOL CloseHandle(HANDLE h);
// A second handle to the same object.
BOOL DuplicateHandle(HANDLE h, HANDLE* out);

using LPTHREAD_START_ROUTINE = DWORD (*)(void* param);
// The handle becomes signalled when the thread ends; GetExitCodeThread reads its result.
HANDLE CreateThread(void* security, SIZE_T stackSize, LPTHREAD_START_ROUTINE start, void* param, DWORD flags,
                    DWORD* threadId);
constexpr DWORD STILL_ACTIVE = 259;
BOOL GetExitCodeThread(HANDLE thread, DWORD* exitCode);
BOOL SetThreadPriority(HANDLE thread, int priority);
constexpr int THREAD_PRIORITY_NORMAL = 0;
constexpr int THREAD_PRIORITY_ABOVE_NORMAL = 1;
constexpr int THREAD_PRIORITY_HIGHEST = 2;
constexpr int THREAD_PRIORITY_BELOW_NORMAL = -1;
DWORD GetCurrentThreadId();
DWORD GetCurrentProcessId();
void Sleep(DWORD ms);
DWORD GetTickCount();
ULONGLONG GetTickCount64();
DWORD timeGetTime();
BOOL QueryPerformanceCounter(LARGE_INTEGER* count);
BOOL QueryPerformanceFrequency(LARGE_INTEGER* freq);
DWORD GetLastError();
void SetLastError(DWORD err);

LONG InterlockedIncrement(volatile LONG* v);
LONG InterlockedDecrement(volatile LONG* v);
LONG InterlockedExchange(volatile LONG* v, LONG value);
LONG InterlockedCompareExchange(volatile LONG* v, LONG exchange, LONG comparand);

// A recursive lock. Storage is opaque; Initialize/Delete pair it.
struct CRITICAL_SECTION {
  alignas(16) unsigned char storage[64];
};
void InitializeCriticalSection(CRITICAL_SECTION* cs);
void DeleteCriticalSection(CRITICAL_SECTION* cs);
void EnterCriticalSection(CRITICAL_SECTION* cs);
BOOL TryEnterCriticalSection(CRITICAL_SECTION* cs);
void LeaveCriticalSection(CRITICAL_SECTION* cs);
