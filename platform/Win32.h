#pragma once
// The Win32 subset that serial/ and discovery/ call, in namespace win: names, types, constants
// and functions as <windows.h> (with setupapi.h, dbt.h and objbase.h) spells them.
//
// The names, types, constants and system basics (last error, events and waits, critical sections,
// threads, time, FormatMessageA, CLSIDFromString) are on Windows the system's own, brought into
// namespace win; on POSIX systems platform/ implements them with Win32 semantics and error codes.
// The functions declared here belong to this layer on every system: they answer the handles,
// windows and modules that the layer hands out itself (files of a device world, message targets,
// built-in modules) and send the device functions to the device world chosen for the process.
// Where there is a system behind the layer (Windows), CloseHandle, the window messages and the
// module functions give a handle, window or module they do not know to the system; the comm
// functions never do, so a handle of the system's never reaches a device world. What the project
// adds of its own lives in platform/Additions.h, not here.
//
// Calling code writes `using namespace win;` inside its .cpp files and then reads like Win32 code.
// <windows.h> declares the functions below in the global namespace too, so calls to them are
// written win::CloseHandle, win::CreateFileA and so on. Constants stay unqualified: <windows.h>
// makes most of them macros. Headers name types as win::HANDLE, win::DWORD and so on.

#if defined(_WIN32)
#include "platform/windows/Win32System.h"
#else
#include "platform/Win32Posix.h"
#endif

namespace win {

// ---------------------------------------------------------------------------------------------
// Handles

// Closes any handle: events, threads and opened files (ending their pending I/O). After the close
// every call on the file fails with ERROR_INVALID_HANDLE, also one that found the file just
// before it, and none starts I/O. Pending reads and writes end with ERROR_OPERATION_ABORTED (on
// Windows an event wait too). The bench and host worlds end them before CloseHandle returns; the
// system (Windows) ends them asynchronously, soon after. Either way each record is completed
// exactly once, its event set after its status, and the record must live until then.
BOOL CloseHandle(HANDLE handle);

// ---------------------------------------------------------------------------------------------
// Library loading: over a registry of built-in modules. A name with no built-in module is the
// system's library when the device world is the system itself (Windows); otherwise
// ERROR_MOD_NOT_FOUND.

HMODULE LoadLibraryA(LPCSTR fileName);
FARPROC GetProcAddress(HMODULE module, LPCSTR procName);
BOOL FreeLibrary(HMODULE module);

// ---------------------------------------------------------------------------------------------
// Window messages to message targets (platform/Additions.h)

// On the owning thread: runs the window procedure at once. From another thread: queues the
// message and waits until the owning thread has run it. 0 with ERROR_INVALID_WINDOW_HANDLE
// (1400) for an unknown window (on Windows: a window that is no target goes to the system).
LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Queues the message on the target's queue. FALSE with ERROR_INVALID_WINDOW_HANDLE for an
// unknown window.
BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Shows the box through the application's message-box hook (platform/Additions.h).
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);

// ---------------------------------------------------------------------------------------------
// Serial communications (dispatched to the device world)

// Paths are "\\.\NAME" or "\\?\NAME". Access GENERIC_READ | GENERIC_WRITE, share mode 0 for an
// exclusive open, OPEN_EXISTING, FILE_FLAG_OVERLAPPED or FILE_ATTRIBUTE_NORMAL.
HANDLE CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode,
                   LPSECURITY_ATTRIBUTES attributes, DWORD creationDisposition,
                   DWORD flagsAndAttributes, HANDLE templateFile);

BOOL GetCommState(HANDLE file, LPDCB dcb);
BOOL SetCommState(HANDLE file, LPDCB dcb);
BOOL SetupComm(HANDLE file, DWORD inQueue, DWORD outQueue);
BOOL GetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts);
BOOL SetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts);
BOOL GetCommMask(HANDLE file, LPDWORD mask);
// Ends a pending WaitCommEvent with mask 0.
BOOL SetCommMask(HANDLE file, DWORD mask);

// Overlapped calls (a handle opened with FILE_FLAG_OVERLAPPED and an OVERLAPPED with an event):
// the call resets the event, then either completes at once (TRUE, event set) or returns FALSE
// with ERROR_IO_PENDING and completes later exactly once: Internal and InternalHigh are filled,
// then the event is set. Without FILE_FLAG_OVERLAPPED the calls block until done.
BOOL WaitCommEvent(HANDLE file, LPDWORD eventMask, LPOVERLAPPED overlapped);
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped);
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written,
               LPOVERLAPPED overlapped);
// FALSE with ERROR_IO_INCOMPLETE when still pending and wait is FALSE; FALSE with the operation's
// Win32 error (ERROR_OPERATION_ABORTED for a cancelled one) when it failed, whoever completed
// the record and also after the file was closed.
BOOL GetOverlappedResult(HANDLE file, LPOVERLAPPED overlapped, LPDWORD transferred, BOOL wait);
// Cancels the calling thread's pending operations on the file.
BOOL CancelIo(HANDLE file);
// Cancels one operation (or all of the file's when overlapped is null): FALSE with
// ERROR_NOT_FOUND when none was pending. As for a close: the bench and host worlds complete the
// cancelled operation before returning, the system soon after.
BOOL CancelIoEx(HANDLE file, LPOVERLAPPED overlapped);

BOOL ClearCommError(HANDLE file, LPDWORD errors, LPCOMSTAT status);
// PURGE_RXABORT / PURGE_TXABORT end pending reads / writes with ERROR_OPERATION_ABORTED.
BOOL PurgeComm(HANDLE file, DWORD flags);
BOOL EscapeCommFunction(HANDLE file, DWORD function);
BOOL GetCommModemStatus(HANDLE file, LPDWORD modemStatus);

// ---------------------------------------------------------------------------------------------
// Device setup (dispatched to the device world); the design reaches them through the
// "SetupApi.dll" that LoadLibraryA loads

// Windows' results: a class name with no class gives TRUE and required size 0; an index past
// the end gives ERROR_NO_MORE_ITEMS; a property the device does not have gives ERROR_INVALID_DATA
// without touching the type word; a buffer too small gives ERROR_INSUFFICIENT_BUFFER with the
// type and the required size filled in.
BOOL SetupDiClassGuidsFromNameA(PCSTR className, LPGUID guidList, DWORD guidListSize,
                                PDWORD requiredSize);
HDEVINFO SetupDiGetClassDevsA(const GUID* classGuid, PCSTR enumerator, HWND parent, DWORD flags);
BOOL SetupDiEnumDeviceInfo(HDEVINFO list, DWORD memberIndex, PSP_DEVINFO_DATA data);
BOOL SetupDiGetDeviceRegistryPropertyA(HDEVINFO list, PSP_DEVINFO_DATA data, DWORD property,
                                       PDWORD propertyRegDataType, PBYTE propertyBuffer,
                                       DWORD propertyBufferSize, PDWORD requiredSize);
BOOL SetupDiDestroyDeviceInfoList(HDEVINFO list);

}  // namespace win

#if !defined(_WIN32)
namespace win {
// <windows.h> spells these as macros for the ANSI functions.
inline LRESULT SendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return SendMessageA(window, message, wParam, lParam);
}
inline BOOL PostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return PostMessageA(window, message, wParam, lParam);
}
}  // namespace win
#endif
