#include "platform/ixOsMessages.h"

#include "platform/internal/ixObjectTable.h"
#include "platform/internal/ixOsFail.h"
#include "platform/internal/ixWaitable.h"
#include "platform/ixOsKernel.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <deque>
#include <optional>
#include <thread>
#include <unordered_map>

namespace ix::os {

namespace internal {

UINT_PTR NextHandleValue() noexcept
{
    static std::atomic<UINT_PTR> next{0};
    return (next.fetch_add(1, std::memory_order_relaxed) + 1) * 4;
}

namespace {

TObjectTable<TWaitable>& Handles()
{
    static auto* table = new TObjectTable<TWaitable>; // never destroyed: usable during process exit
    return *table;
}

} // namespace

HANDLE RegisterHandle(std::shared_ptr<TWaitable> AObject)
{
    if (!AObject)
        return nullptr;
    const UINT_PTR value = NextHandleValue();
    Handles().Add(value, std::move(AObject));
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<TWaitable> LookupHandle(HANDLE AHandle)
{
    return Handles().Find(reinterpret_cast<UINT_PTR>(AHandle));
}

bool UnregisterHandle(HANDLE AHandle)
{
    return Handles().Remove(reinterpret_cast<UINT_PTR>(AHandle)) != nullptr;
}

DWORD ErrnoToSystemError(int AErrno) noexcept
{
    switch (AErrno)
    {
    case 0: return ERROR_SUCCESS;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case EBADF: return ERROR_INVALID_HANDLE;
    case EACCES:
    case EPERM: return ERROR_ACCESS_DENIED;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ETIMEDOUT: return ERROR_TIMEOUT;
    case ENOSYS: return ERROR_CALL_NOT_IMPLEMENTED;
    case EOPNOTSUPP: return ERROR_NOT_SUPPORTED;
    default: return ERROR_INVALID_PARAMETER;
    }
}

// --- TEventWaitable ------------------------------------------------------------------------

TEventWaitable::TEventWaitable(bool AManualReset, bool AInitialState)
    : FManualReset(AManualReset), FFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
{
    if (AInitialState)
        Set();
}

void TEventWaitable::AddPollFds(std::vector<pollfd>& AFds)
{
    AFds.push_back(pollfd{FFd.Get(), POLLIN, 0});
}

bool TEventWaitable::TryAcquire(const pollfd* /*AFirst*/, std::size_t /*ACount*/)
{
    // The flag is the truth; the eventfd only wakes poll.
    std::lock_guard lock(FLock);
    if (!FSignaled)
        return false;
    if (!FManualReset)
        ClearLocked();
    return true;
}

bool TEventWaitable::Set()
{
    std::lock_guard lock(FLock);
    if (!FSignaled)
    {
        const eventfd_t one = 1;
        if (::eventfd_write(FFd.Get(), one) != 0)
            return false;
        FSignaled = true;
    }
    return true;
}

bool TEventWaitable::Reset()
{
    std::lock_guard lock(FLock);
    ClearLocked();
    return true;
}

bool TEventWaitable::IsSet() const
{
    std::lock_guard lock(FLock);
    return FSignaled;
}

void TEventWaitable::ClearLocked()
{
    if (!FSignaled)
        return;
    eventfd_t value = 0;
    (void)::eventfd_read(FFd.Get(), &value); // drains the counter; cannot block (EFD_NONBLOCK)
    FSignaled = false;
}

} // namespace internal

namespace {

using internal::Fail;
using internal::TObjectTable;
using internal::TUniqueFd;
using internal::TWaitable;
using TClock = std::chrono::steady_clock;
using TPollFds = std::vector<pollfd>;

constexpr std::size_t MaxPostedMessages = 10000;
constexpr DWORD PostedMask = QS_POSTMESSAGE | QS_ALLPOSTMESSAGE;
constexpr DWORD ToolkitMask = QS_INPUT | QS_PAINT | QS_HOTKEY | QS_RAWINPUT | QS_SENDMESSAGE;
constexpr UINT MinTimerElapse = 10;
constexpr UINT MaxTimerElapse = 0x7FFFFFFF;

HWND InvalidWindowFilter()
{
    return reinterpret_cast<HWND>(static_cast<intptr_t>(-1));
}

/// Which messages a PeekMessageA call asks for.
struct TMessageFilter
{
    HWND Window;
    UINT Min;
    UINT Max;

    bool Matches(HWND AWindow, UINT AMessage) const
    {
        const bool windowMatches = Window == nullptr
            || (Window == InvalidWindowFilter() ? AWindow == nullptr : AWindow == Window);
        const bool rangeMatches = (Min == 0 && Max == 0) || (AMessage >= Min && AMessage <= Max);
        return windowMatches && rangeMatches;
    }
};

MSG MakeMessage(HWND AWindow, UINT AMessage, WPARAM AWParam, LPARAM ALParam)
{
    return MSG{AWindow, AMessage, AWParam, ALParam, GetTickCount(), POINT{0, 0}};
}

struct TTimer
{
    HWND Window;
    UINT_PTR Id;
    TClock::duration Period;
    TIMERPROC Proc;
    TClock::time_point Due;
};

/// A thread's message queue. Posting, timers and purging are thread-safe; retrieval and the
/// toolkit hook belong to the owning thread. An eventfd is readable while messages are queued
/// and a timerfd expires when the earliest timer falls due; an epoll set of both serves
/// applications that watch the queue from their own event loop.
class TMessageQueue
{
public:
    TMessageQueue()
        : FPostFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)),
          FTimerFd(::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC)),
          FEpollFd(::epoll_create1(EPOLL_CLOEXEC))
    {
        if (IsValid() && !(Watch(FPostFd) && Watch(FTimerFd)))
            FEpollFd.Reset();
    }

    bool IsValid() const { return FPostFd.IsValid() && FTimerFd.IsValid() && FEpollFd.IsValid(); }
    int Fd() const { return FEpollFd.Get(); }

    bool Post(const MSG& AMessage)
    {
        std::lock_guard lock(FLock);
        if (FPosted.size() >= MaxPostedMessages)
            return false;
        if (FPosted.empty())
            (void)::eventfd_write(FPostFd.Get(), 1);
        FPosted.push_back(AMessage);
        return true;
    }

    void PurgeWindow(HWND AWindow)
    {
        std::lock_guard lock(FLock);
        std::erase_if(FPosted, [AWindow](const MSG& m) { return m.hwnd == AWindow; });
        if (FPosted.empty())
            DrainPostFdLocked();
        std::erase_if(FTimers, [AWindow](const TTimer& t) { return t.Window == AWindow; });
        ArmTimerFdLocked();
    }

    void SetTimer(HWND AWindow, UINT_PTR AId, UINT AElapse, TIMERPROC AProc)
    {
        const auto period = std::chrono::milliseconds(std::clamp(AElapse, MinTimerElapse, MaxTimerElapse));
        std::lock_guard lock(FLock);
        std::erase_if(FTimers, [&](const TTimer& t) { return t.Window == AWindow && t.Id == AId; });
        FTimers.push_back(TTimer{AWindow, AId, period, AProc, TClock::now() + period});
        ArmTimerFdLocked();
    }

    bool KillTimer(HWND AWindow, UINT_PTR AId)
    {
        std::lock_guard lock(FLock);
        const auto removed =
            std::erase_if(FTimers, [&](const TTimer& t) { return t.Window == AWindow && t.Id == AId; });
        ArmTimerFdLocked();
        return removed > 0;
    }

    bool HasTimerProc(HWND AWindow, UINT_PTR AId, TIMERPROC AProc)
    {
        std::lock_guard lock(FLock);
        return std::any_of(FTimers.begin(), FTimers.end(),
            [&](const TTimer& t) { return t.Window == AWindow && t.Id == AId && t.Proc == AProc; });
    }

    /// Whether input that AMask selects is waiting; marks the hook's work when it is due.
    bool HasInput(DWORD AMask)
    {
        const auto now = TClock::now();
        if ((AMask & ToolkitMask) && FHook && FHook->MaxIntervalMs > 0
            && now - FHookLastRun >= std::chrono::milliseconds(FHook->MaxIntervalMs))
            FHookPending = true;
        if ((AMask & ToolkitMask) && FHookPending)
            return true;
        std::lock_guard lock(FLock);
        return ((AMask & PostedMask) && !FPosted.empty())
            || ((AMask & QS_TIMER) && FirstDueLocked(now, TMessageFilter{}) != FTimers.end());
    }

    /// Appends the descriptors that signal input AMask selects; returns how many.
    std::size_t AddPollFds(TPollFds& AFds, DWORD AMask) const
    {
        const std::size_t first = AFds.size();
        if (AMask & PostedMask)
            AFds.push_back(pollfd{FPostFd.Get(), POLLIN, 0});
        if (AMask & QS_TIMER)
            AFds.push_back(pollfd{FTimerFd.Get(), POLLIN, 0});
        if ((AMask & ToolkitMask) && FHook)
            for (const int fd : FHook->Fds)
                AFds.push_back(pollfd{fd, POLLIN, 0});
        return AFds.size() - first;
    }

    /// After poll: a readable hook descriptor means the toolkit has work.
    void NoteHookFds(const pollfd* AFirst, std::size_t ACount, DWORD AMask)
    {
        if (!(AMask & ToolkitMask) || !FHook)
            return;
        const std::size_t own = std::size_t((AMask & PostedMask) != 0) + std::size_t((AMask & QS_TIMER) != 0);
        for (std::size_t i = own; i < ACount; ++i)
            if (AFirst[i].revents != 0)
                FHookPending = true;
    }

    /// When the hook next falls due, if it has an interval.
    std::optional<TClock::time_point> NextHookDue(DWORD AMask) const
    {
        if (!(AMask & ToolkitMask) || !FHook || FHook->MaxIntervalMs == 0)
            return std::nullopt;
        return FHookLastRun + std::chrono::milliseconds(FHook->MaxIntervalMs);
    }

    bool Peek(MSG& AMessage, const TMessageFilter& AFilter, bool ARemove)
    {
        return PeekPosted(AMessage, AFilter, ARemove) || PeekHook(AMessage, AFilter, ARemove)
            || PeekTimer(AMessage, AFilter, ARemove);
    }

    /// How many messages are waiting now (posted, hook work, due timers).
    std::size_t PendingCount()
    {
        const auto now = TClock::now();
        std::lock_guard lock(FLock);
        const auto due = std::count_if(FTimers.begin(), FTimers.end(), [now](const TTimer& t) { return t.Due <= now; });
        return FPosted.size() + std::size_t(FHookPending) + std::size_t(due);
    }

    void SetHook(TGuiHook AHook)
    {
        FHook = std::move(AHook);
        FHookPending = false;
        FHookLastRun = TClock::now();
    }

    void RemoveHook()
    {
        FHook.reset();
        FHookPending = false;
    }

    std::function<void()> HookProcessEvents() const
    {
        return FHook ? FHook->ProcessEvents : nullptr;
    }

private:
    bool Watch(const TUniqueFd& AFd)
    {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = AFd.Get();
        return ::epoll_ctl(FEpollFd.Get(), EPOLL_CTL_ADD, AFd.Get(), &event) == 0;
    }

    void DrainPostFdLocked()
    {
        eventfd_t value = 0;
        (void)::eventfd_read(FPostFd.Get(), &value);
    }

    /// Arms the timerfd for the earliest due time (an expired one fires at once), or disarms it.
    void ArmTimerFdLocked()
    {
        itimerspec due{};
        const auto earliest = std::min_element(FTimers.begin(), FTimers.end(),
            [](const TTimer& a, const TTimer& b) { return a.Due < b.Due; });
        if (earliest != FTimers.end())
        {
            const auto ns =
                std::chrono::duration_cast<std::chrono::nanoseconds>(earliest->Due.time_since_epoch()).count();
            due.it_value.tv_sec = static_cast<time_t>(ns / 1000000000);
            due.it_value.tv_nsec = static_cast<long>(ns % 1000000000);
            if (due.it_value.tv_sec == 0 && due.it_value.tv_nsec == 0)
                due.it_value.tv_nsec = 1; // zero would disarm
        }
        (void)::timerfd_settime(FTimerFd.Get(), TFD_TIMER_ABSTIME, &due, nullptr);
    }

    std::vector<TTimer>::iterator FirstDueLocked(TClock::time_point ANow, const TMessageFilter& AFilter)
    {
        auto first = FTimers.end();
        for (auto it = FTimers.begin(); it != FTimers.end(); ++it)
            if (it->Due <= ANow && AFilter.Matches(it->Window, WM_TIMER)
                && (first == FTimers.end() || it->Due < first->Due))
                first = it;
        return first;
    }

    bool PeekPosted(MSG& AMessage, const TMessageFilter& AFilter, bool ARemove)
    {
        std::lock_guard lock(FLock);
        const auto it = std::find_if(FPosted.begin(), FPosted.end(),
            [&](const MSG& m) { return AFilter.Matches(m.hwnd, m.message); });
        if (it == FPosted.end())
            return false;
        AMessage = *it;
        if (ARemove)
        {
            FPosted.erase(it);
            if (FPosted.empty())
                DrainPostFdLocked();
        }
        return true;
    }

    bool PeekHook(MSG& AMessage, const TMessageFilter& AFilter, bool ARemove)
    {
        if (!FHookPending || !AFilter.Matches(nullptr, WM_GUIHOOK) || AFilter.Window != nullptr)
            return false;
        AMessage = MakeMessage(nullptr, WM_GUIHOOK, 0, 0);
        if (ARemove)
        {
            FHookPending = false;
            FHookLastRun = TClock::now();
        }
        return true;
    }

    bool PeekTimer(MSG& AMessage, const TMessageFilter& AFilter, bool ARemove)
    {
        const auto now = TClock::now();
        std::lock_guard lock(FLock);
        const auto timer = FirstDueLocked(now, AFilter);
        if (timer == FTimers.end())
            return false;
        AMessage = MakeMessage(timer->Window, WM_TIMER, timer->Id, reinterpret_cast<LPARAM>(timer->Proc));
        if (ARemove)
        {
            timer->Due = now + timer->Period;
            ArmTimerFdLocked();
        }
        return true;
    }

    std::mutex FLock;
    std::deque<MSG> FPosted;
    std::vector<TTimer> FTimers;
    TUniqueFd FPostFd;
    TUniqueFd FTimerFd;
    TUniqueFd FEpollFd;
    // Owner thread only:
    std::optional<TGuiHook> FHook;
    bool FHookPending = false;
    TClock::time_point FHookLastRun;
};

struct TWindow
{
    HWND Handle;
    TWindowProc Proc;
    std::shared_ptr<TMessageQueue> Queue;
    std::thread::id Owner;
};

TObjectTable<TWindow>& Windows()
{
    static auto* table = new TObjectTable<TWindow>; // never destroyed: usable during process exit
    return *table;
}

std::shared_ptr<TWindow> FindWindow(HWND AWindow)
{
    return Windows().Find(reinterpret_cast<UINT_PTR>(AWindow));
}

/// The calling thread's queue; its windows die with the thread.
struct TThreadQueue
{
    std::shared_ptr<TMessageQueue> Queue;

    ~TThreadQueue()
    {
        if (Queue)
            (void)Windows().RemoveIf([this](const TWindow& AWindow) { return AWindow.Queue == Queue; });
    }
};

thread_local TThreadQueue ThreadQueue;

/// The calling thread's queue, made on first use; null (last error set) when it cannot be made.
std::shared_ptr<TMessageQueue> CurrentQueue()
{
    if (!ThreadQueue.Queue)
    {
        auto queue = std::make_shared<TMessageQueue>();
        if (!queue->IsValid())
            return Fail(internal::ErrnoToSystemError(errno), nullptr);
        ThreadQueue.Queue = std::move(queue);
    }
    return ThreadQueue.Queue;
}

/// Resolves every handle; false (ERROR_INVALID_HANDLE) when one is not open.
bool ResolveHandles(DWORD ACount, const HANDLE* AHandles, std::vector<std::shared_ptr<TWaitable>>& AObjects)
{
    AObjects.reserve(ACount);
    for (DWORD i = 0; i < ACount; ++i)
    {
        auto object = internal::LookupHandle(AHandles[i]);
        if (!object)
            return Fail(ERROR_INVALID_HANDLE, false);
        AObjects.push_back(std::move(object));
    }
    return true;
}

/// poll(2) time-out in ms until the earlier of two instants (rounded up), -1 for none.
int PollTimeout(std::optional<TClock::time_point> ADeadline, std::optional<TClock::time_point> AHookDue)
{
    std::optional<TClock::time_point> wake = ADeadline;
    if (AHookDue && (!wake || *AHookDue < *wake))
        wake = AHookDue;
    if (!wake)
        return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*wake - TClock::now()).count();
    return static_cast<int>(std::clamp<decltype(left)>(left, 0, INT_MAX));
}

/// One wait for any of AObjects, or input AMask selects on AQueue (null: none).
class TWait
{
public:
    TWait(std::vector<std::shared_ptr<TWaitable>> AObjects, TMessageQueue* AQueue, DWORD AMask)
        : FObjects(std::move(AObjects)), FQueue(AQueue), FMask(AQueue ? AMask : 0), FFirst(FObjects.size() + 1)
    {
    }

    DWORD Run(DWORD AMilliseconds)
    {
        std::optional<TClock::time_point> deadline;
        if (AMilliseconds != INFINITE)
            deadline = TClock::now() + std::chrono::milliseconds(AMilliseconds);
        for (;;)
        {
            if (const auto ready = Ready(nullptr))
                return *ready;
            BuildPollFds();
            const auto hookDue = FQueue ? FQueue->NextHookDue(FMask) : std::nullopt;
            const int polled = ::poll(FFds.data(), FFds.size(), PollTimeout(deadline, hookDue));
            if (polled < 0 && errno != EINTR)
                return Fail(internal::ErrnoToSystemError(errno), WAIT_FAILED);
            if (polled > 0)
                if (const auto ready = Ready(FFds.data()))
                    return *ready;
            if (deadline && TClock::now() >= *deadline)
                return WAIT_TIMEOUT;
        }
    }

private:
    /// The wait's result when an object is signalled or input is waiting. AFds: poll's results.
    std::optional<DWORD> Ready(const pollfd* AFds)
    {
        for (std::size_t i = 0; i < FObjects.size(); ++i)
        {
            const std::size_t count = AFds ? FFirst[i + 1] - FFirst[i] : 0;
            if (FObjects[i]->TryAcquire(AFds ? AFds + FFirst[i] : nullptr, count))
                return WAIT_OBJECT_0 + static_cast<DWORD>(i);
        }
        if (!FQueue)
            return std::nullopt;
        if (AFds)
            FQueue->NoteHookFds(AFds + FFirst.back(), FFds.size() - FFirst.back(), FMask);
        if (FQueue->HasInput(FMask))
            return WAIT_OBJECT_0 + static_cast<DWORD>(FObjects.size());
        return std::nullopt;
    }

    void BuildPollFds()
    {
        FFds.clear();
        for (std::size_t i = 0; i < FObjects.size(); ++i)
        {
            FFirst[i] = FFds.size();
            FObjects[i]->AddPollFds(FFds);
        }
        FFirst.back() = FFds.size();
        if (FQueue)
            FQueue->AddPollFds(FFds, FMask);
    }

    std::vector<std::shared_ptr<TWaitable>> FObjects;
    TMessageQueue* FQueue;
    DWORD FMask;
    std::vector<std::size_t> FFirst; // FFirst[i]: first entry of object i; back(): the queue's
    TPollFds FFds;
};

DWORD WaitAny(DWORD ACount, const HANDLE* AHandles, BOOL AWaitAll, DWORD AMilliseconds, DWORD AMask, DWORD AMaxCount)
{
    if (AWaitAll || ACount > AMaxCount || (ACount > 0 && AHandles == nullptr))
        return Fail(ERROR_INVALID_PARAMETER, WAIT_FAILED);
    std::vector<std::shared_ptr<TWaitable>> objects;
    if (!ResolveHandles(ACount, AHandles, objects))
        return WAIT_FAILED;
    std::shared_ptr<TMessageQueue> queue;
    if (AMask != 0 && !(queue = CurrentQueue()))
        return WAIT_FAILED;
    return TWait(std::move(objects), queue.get(), AMask).Run(AMilliseconds);
}

} // namespace

// --- Events and waits ---------------------------------------------------------------------

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES /*lpEventAttributes*/, BOOL bManualReset, BOOL bInitialState, LPCSTR lpName)
{
    if (lpName != nullptr)
        return Fail<HANDLE>(ERROR_NOT_SUPPORTED, nullptr);
    auto event = std::make_shared<internal::TEventWaitable>(bManualReset != FALSE, bInitialState != FALSE);
    if (!event->IsValid())
        return Fail<HANDLE>(internal::ErrnoToSystemError(errno), nullptr);
    return internal::RegisterHandle(std::move(event));
}

BOOL SetEvent(HANDLE hEvent)
{
    const auto object = internal::LookupHandle(hEvent);
    return object && object->Set() ? TRUE : Fail(ERROR_INVALID_HANDLE, FALSE);
}

BOOL ResetEvent(HANDLE hEvent)
{
    const auto object = internal::LookupHandle(hEvent);
    return object && object->Reset() ? TRUE : Fail(ERROR_INVALID_HANDLE, FALSE);
}

BOOL CloseHandle(HANDLE hObject)
{
    return internal::UnregisterHandle(hObject) ? TRUE : Fail(ERROR_INVALID_HANDLE, FALSE);
}

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds)
{
    return WaitAny(1, &hHandle, FALSE, dwMilliseconds, 0, 1);
}

DWORD WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll, DWORD dwMilliseconds)
{
    if (nCount == 0)
        return Fail(ERROR_INVALID_PARAMETER, WAIT_FAILED);
    return WaitAny(nCount, lpHandles, bWaitAll, dwMilliseconds, 0, MAXIMUM_WAIT_OBJECTS);
}

DWORD MsgWaitForMultipleObjects(DWORD nCount, const HANDLE* pHandles, BOOL fWaitAll, DWORD dwMilliseconds,
    DWORD dwWakeMask)
{
    return WaitAny(nCount, pHandles, fWaitAll, dwMilliseconds, dwWakeMask, MAXIMUM_WAIT_OBJECTS - 1);
}

// --- Windows and messages -----------------------------------------------------------------

HWND CreateHiddenWindow(TWindowProc AWindowProc)
{
    auto queue = CurrentQueue();
    if (!queue)
        return nullptr;
    const UINT_PTR value = internal::NextHandleValue();
    const HWND handle = reinterpret_cast<HWND>(value);
    auto window = std::make_shared<TWindow>(
        TWindow{handle, std::move(AWindowProc), std::move(queue), std::this_thread::get_id()});
    Windows().Add(value, std::move(window));
    return handle;
}

BOOL DestroyWindow(HWND hWnd)
{
    const auto window = Windows().Remove(reinterpret_cast<UINT_PTR>(hWnd));
    if (!window)
        return Fail(ERROR_INVALID_WINDOW_HANDLE, FALSE);
    window->Queue->PurgeWindow(hWnd);
    return TRUE;
}

BOOL IsWindow(HWND hWnd)
{
    return FindWindow(hWnd) ? TRUE : FALSE;
}

LRESULT DefWindowProcA(HWND /*hWnd*/, UINT /*Msg*/, WPARAM /*wParam*/, LPARAM /*lParam*/)
{
    return 0;
}

std::mutex& WindowCreationLock()
{
    static auto* lock = new std::mutex; // never destroyed: usable during process exit
    return *lock;
}

BOOL PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    std::shared_ptr<TMessageQueue> queue;
    if (hWnd == nullptr)
        queue = CurrentQueue();
    else if (const auto window = FindWindow(hWnd))
        queue = window->Queue;
    else
        return Fail(ERROR_INVALID_WINDOW_HANDLE, FALSE);
    if (!queue)
        return FALSE;
    return queue->Post(MakeMessage(hWnd, Msg, wParam, lParam)) ? TRUE : Fail(ERROR_NOT_ENOUGH_QUOTA, FALSE);
}

BOOL PeekMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg)
{
    if (lpMsg == nullptr)
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    if (hWnd != nullptr && hWnd != InvalidWindowFilter() && !IsWindow(hWnd))
        return Fail(ERROR_INVALID_WINDOW_HANDLE, FALSE);
    const auto queue = CurrentQueue();
    if (!queue)
        return FALSE;
    const TMessageFilter filter{hWnd, wMsgFilterMin, wMsgFilterMax};
    return queue->Peek(*lpMsg, filter, (wRemoveMsg & PM_REMOVE) != 0) ? TRUE : FALSE;
}

BOOL TranslateMessage(const MSG* /*lpMsg*/)
{
    return FALSE;
}

LRESULT DispatchMessageA(const MSG* lpMsg)
{
    if (lpMsg == nullptr)
        return Fail<LRESULT>(ERROR_INVALID_PARAMETER, 0);
    if (lpMsg->hwnd == nullptr)
    {
        if (lpMsg->message == WM_GUIHOOK && ThreadQueue.Queue)
            if (const auto processEvents = ThreadQueue.Queue->HookProcessEvents())
                processEvents();
        return 0;
    }
    const auto window = FindWindow(lpMsg->hwnd);
    if (!window)
        return Fail<LRESULT>(ERROR_INVALID_WINDOW_HANDLE, 0);
    if (window->Owner != std::this_thread::get_id())
        return Fail<LRESULT>(ERROR_ACCESS_DENIED, 0);
    if (lpMsg->message == WM_TIMER && lpMsg->lParam != 0)
    {
        const auto proc = reinterpret_cast<TIMERPROC>(lpMsg->lParam);
        if (window->Queue->HasTimerProc(lpMsg->hwnd, lpMsg->wParam, proc))
            proc(lpMsg->hwnd, WM_TIMER, lpMsg->wParam, GetTickCount());
        return 0;
    }
    return window->Proc ? window->Proc(lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam) : 0;
}

UINT_PTR SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC lpTimerFunc)
{
    const auto window = FindWindow(hWnd);
    if (!window)
        return Fail<UINT_PTR>(ERROR_INVALID_WINDOW_HANDLE, 0);
    window->Queue->SetTimer(hWnd, nIDEvent, uElapse, lpTimerFunc);
    return nIDEvent != 0 ? nIDEvent : 1;
}

BOOL KillTimer(HWND hWnd, UINT_PTR uIDEvent)
{
    const auto window = FindWindow(hWnd);
    if (!window)
        return Fail(ERROR_INVALID_WINDOW_HANDLE, FALSE);
    return window->Queue->KillTimer(hWnd, uIDEvent) ? TRUE : Fail(ERROR_INVALID_PARAMETER, FALSE);
}

// --- The application's toolkit ------------------------------------------------------------

void SetGuiHook(TGuiHook AHook)
{
    if (const auto queue = CurrentQueue())
        queue->SetHook(std::move(AHook));
}

void RemoveGuiHook()
{
    if (ThreadQueue.Queue)
        ThreadQueue.Queue->RemoveHook();
}

int GetMessageQueueFd()
{
    const auto queue = CurrentQueue();
    return queue ? queue->Fd() : -1;
}

void DispatchPendingMessages()
{
    const auto queue = CurrentQueue();
    if (!queue)
        return;
    MSG message{};
    for (std::size_t left = queue->PendingCount(); left > 0 && PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE); --left)
        DispatchMessageA(&message);
}

} // namespace ix::os
