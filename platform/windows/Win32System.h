#pragma once
// The names, types, constants and system basics of the Win32 subset on Windows: <windows.h>'s
// own, brought into namespace win so that headers can write win::DWORD and calling code finds
// every name through `using namespace win;`. Most constants are macros there and stay
// unqualified. Include platform/Win32.h, not this file.

#include <windows.h>
// After <windows.h>:
#include <dbt.h>
#include <objbase.h>
#include <setupapi.h>

namespace win {

using ::BOOL;
using ::BYTE;
using ::DWORD;
using ::FARPROC;
using ::HANDLE;
using ::HDEVINFO;
using ::HINSTANCE;
using ::HMODULE;
using ::HRESULT;
using ::HWND;
using ::INT_PTR;
using ::LONG;
using ::LONG_PTR;
using ::LPARAM;
using ::LPBYTE;
using ::LPCOLESTR;
using ::LPCSTR;
using ::LPCVOID;
using ::LPDWORD;
using ::LPSECURITY_ATTRIBUTES;
using ::LPSTR;
using ::LPVOID;
using ::LRESULT;
using ::PBYTE;
using ::PCSTR;
using ::PDWORD;
using ::PVOID;
using ::SECURITY_ATTRIBUTES;
using ::SIZE_T;
using ::UINT;
using ::UINT_PTR;
using ::ULONG;
using ::ULONG_PTR;
using ::WORD;
using ::WPARAM;

using ::CLSID;
using ::COMMTIMEOUTS;
using ::COMSTAT;
using ::CRITICAL_SECTION;
using ::DCB;
using ::DEV_BROADCAST_HDR;
using ::GUID;
using ::LPCLSID;
using ::LPCOMMTIMEOUTS;
using ::LPCOMSTAT;
using ::LPCRITICAL_SECTION;
using ::LPDCB;
using ::LPGUID;
using ::LPOVERLAPPED;
using ::LPTHREAD_START_ROUTINE;
using ::OVERLAPPED;
using ::PDEV_BROADCAST_HDR;
using ::PSP_DEVINFO_DATA;
using ::SP_DEVINFO_DATA;

// The system basics.
using ::CLSIDFromString;
using ::CreateEventA;
using ::CreateThread;
using ::DeleteCriticalSection;
using ::EnterCriticalSection;
using ::FormatMessageA;
using ::GetCurrentThreadId;
using ::GetExitCodeThread;
using ::GetLastError;
using ::GetThreadPriority;
using ::GetTickCount;
using ::InitializeCriticalSection;
using ::LeaveCriticalSection;
using ::ResetEvent;
using ::ResumeThread;
using ::SetEvent;
using ::SetLastError;
using ::SetThreadPriority;
using ::Sleep;
using ::TryEnterCriticalSection;
using ::WaitForMultipleObjects;
using ::WaitForSingleObject;

}  // namespace win
