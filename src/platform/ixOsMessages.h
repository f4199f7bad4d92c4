#pragma once
// Events, waits, per-thread message queues, hidden windows and their timers, and the hook
// through which an application's own toolkit is serviced while the library waits.
//
// Every thread has its own message queue, made on first use and destroyed (with the windows
// the thread still owns) when the thread ends. A hidden window belongs to the thread that
// created it: its messages and timers are retrieved and dispatched only on that thread, while
// PostMessageA, SetTimer, KillTimer and DestroyWindow may be called from any thread.

#include "platform/ixOsTypes.h"

#include <functional>
#include <mutex>
#include <vector>

namespace ix::os {

/// A window procedure. User data is whatever the callable captures.
using TWindowProc = std::function<LRESULT(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam)>;
/// A timer callback, called by DispatchMessageA for the timer's WM_TIMER message.
using TIMERPROC = void (*)(HWND hwnd, UINT uMsg, UINT_PTR idEvent, DWORD dwTime);

/// The message that the toolkit hook's pending work is retrieved as (hwnd is null);
/// DispatchMessageA of it runs the hook's ProcessEvents.
inline constexpr UINT WM_GUIHOOK = 0xC0DE;

// --- Events and waits ---------------------------------------------------------------------

/// Makes an unnamed event. Named events are not supported (ERROR_NOT_SUPPORTED); the security
/// attributes are ignored. Returns null on failure with the last error set.
HANDLE CreateEventA(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset, BOOL bInitialState,
    LPCSTR lpName);
/// Signals an event (wakes every wait on a manual-reset event, one wait on an auto-reset event).
BOOL SetEvent(HANDLE hEvent);
/// Makes an event non-signalled.
BOOL ResetEvent(HANDLE hEvent);
/// Closes a handle of the handle table; ERROR_INVALID_HANDLE when it is not open.
BOOL CloseHandle(HANDLE hObject);

/// Waits until hHandle is signalled or dwMilliseconds (INFINITE) pass.
DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);

/// Waits until any of the nCount (1..64) handles is signalled: WAIT_OBJECT_0 + the lowest
/// index signalled, WAIT_TIMEOUT, or WAIT_FAILED with the last error set (ERROR_INVALID_HANDLE
/// for a closed or unknown handle, ERROR_INVALID_PARAMETER for a bad count or bWaitAll, which is
/// not supported).
DWORD WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll, DWORD dwMilliseconds);

/// As WaitForMultipleObjects (nCount 0..63), and also returns WAIT_OBJECT_0 + nCount when the
/// calling thread has input that dwWakeMask selects: a posted message (QS_POSTMESSAGE), a timer
/// that has fallen due (QS_TIMER), or work for the toolkit hook (QS_INPUT, QS_PAINT, QS_HOTKEY,
/// QS_RAWINPUT, QS_SENDMESSAGE). Unlike Windows, input already queued counts even when
/// PeekMessageA has seen it before. Signalled handles take precedence over input.
DWORD MsgWaitForMultipleObjects(DWORD nCount, const HANDLE* pHandles, BOOL fWaitAll,
    DWORD dwMilliseconds, DWORD dwWakeMask);

// --- Windows and messages -----------------------------------------------------------------

/// Makes a hidden message window owned by the calling thread. Thread-safe. Returns null on
/// failure with the last error set.
HWND CreateHiddenWindow(TWindowProc AWindowProc);
/// Destroys a window from any thread; its queued messages and its timers are removed. The
/// procedure is not called (no WM_DESTROY), so destructors may destroy their windows safely.
/// ERROR_INVALID_WINDOW_HANDLE for a window that does not exist.
BOOL DestroyWindow(HWND hWnd);
/// True while hWnd exists.
BOOL IsWindow(HWND hWnd);
/// The default window procedure: does nothing and returns 0.
LRESULT DefWindowProcA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);

/// The process-wide lock that serialises the making and destroying of hidden windows by the
/// library's helpers. CreateHiddenWindow and DestroyWindow do not take it (they are
/// thread-safe on their own), so a caller may hold it around them.
std::mutex& WindowCreationLock();

/// Queues a message for hWnd's thread (from any thread) and wakes that thread's waits. A null
/// hWnd posts to the calling thread's queue. ERROR_INVALID_WINDOW_HANDLE for a destroyed window,
/// ERROR_NOT_ENOUGH_QUOTA when 10000 messages are already queued there.
BOOL PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);

/// Retrieves the calling thread's next message for hWnd (null: any; (HWND)-1: those posted
/// with a null window) within [wMsgFilterMin, wMsgFilterMax] (0, 0: all), in the order posted
/// messages, toolkit hook work, WM_TIMER of a due timer. PM_REMOVE removes it (a timer then
/// restarts its period). Returns FALSE when there is none.
BOOL PeekMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg);
/// No keyboard input exists: always FALSE.
BOOL TranslateMessage(const MSG* lpMsg);
/// Calls the window procedure of lpMsg->hwnd (a window of the calling thread), the timer
/// callback of a WM_TIMER, or the toolkit hook for WM_GUIHOOK; returns the procedure's result.
/// An exception thrown by the procedure passes through to the caller.
LRESULT DispatchMessageA(const MSG* lpMsg);

/// Starts or restarts timer nIDEvent of hWnd: WM_TIMER falls due every uElapse ms (clamped to
/// 10..0x7FFFFFFF), at most one pending per timer, retrieved after posted messages. Returns
/// nIDEvent, or 0 with ERROR_INVALID_WINDOW_HANDLE (thread timers without a window are not
/// supported).
UINT_PTR SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC lpTimerFunc);
/// Stops a timer; FALSE when hWnd has no such timer.
BOOL KillTimer(HWND hWnd, UINT_PTR uIDEvent);

// --- The application's toolkit ------------------------------------------------------------

/// How the library services an application's own event loop while it waits with a non-zero
/// wake mask on the thread that installed the hook.
struct TGuiHook
{
    /// Runs the toolkit's pending events (for example QCoreApplication::processEvents).
    std::function<void()> ProcessEvents;
    /// Descriptors whose readability means the toolkit has work.
    std::vector<int> Fds;
    /// The longest time (ms) a wait goes without running ProcessEvents; 0: only for Fds.
    DWORD MaxIntervalMs = 0;
};

/// Installs AHook for the calling thread (replacing any earlier one). While installed, a
/// MsgWaitForMultipleObjects with a mask selecting input also ends (WAIT_OBJECT_0 + count)
/// when one of the hook's descriptors is readable or MaxIntervalMs have passed since
/// ProcessEvents last ran; PeekMessageA then yields a WM_GUIHOOK message.
void SetGuiHook(TGuiHook AHook);
/// Removes the calling thread's hook.
void RemoveGuiHook();

/// A descriptor that is readable while the calling thread has a posted message queued or a
/// timer due: an application in its own event loop watches it and then calls
/// DispatchPendingMessages. Valid until the thread ends; -1 when it could not be made.
int GetMessageQueueFd();
/// Dispatches the calling thread's messages that are queued and timers that are due now
/// (messages posted meanwhile wait for the next call).
void DispatchPendingMessages();

} // namespace ix::os
