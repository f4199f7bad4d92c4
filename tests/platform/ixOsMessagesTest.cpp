#include "platform/ixOsMessages.h"

#include "platform/ixOsKernel.h"
#include "support/MessagePump.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

using namespace ix::os;
using ix::test::PumpMessagesUntil;

namespace {

/// Generous cap for waits that must end well before it.
constexpr DWORD Cap = 10000;

/// An event handle closed at scope end.
struct TEventCloser
{
    void operator()(HANDLE AHandle) const { CloseHandle(AHandle); }
};
using TEventHandle = std::unique_ptr<void, TEventCloser>;

TEventHandle Event(bool AManualReset, bool AInitialState)
{
    return TEventHandle(CreateEventA(nullptr, AManualReset ? TRUE : FALSE, AInitialState ? TRUE : FALSE, nullptr));
}

/// A hidden window that records the messages its procedure receives; destroyed at scope end.
class TRecordingWindow
{
public:
    TRecordingWindow()
        : FHandle(CreateHiddenWindow([this](HWND, UINT AMsg, WPARAM AWParam, LPARAM) -> LRESULT {
              Received.push_back({AMsg, AWParam});
              return 0;
          }))
    {
    }
    ~TRecordingWindow() { DestroyWindow(FHandle); }
    TRecordingWindow(const TRecordingWindow&) = delete;
    TRecordingWindow& operator=(const TRecordingWindow&) = delete;
    HWND Get() const { return FHandle; }

    std::vector<std::pair<UINT, WPARAM>> Received;

private:
    HWND FHandle;
};

} // namespace

TEST(PlatformWaits, EventsReleaseWaitsAsWindowsEventsDo)
{
    const TEventHandle autoReset = Event(false, false);
    const TEventHandle manual = Event(true, false);
    EXPECT_EQ(WaitForSingleObject(autoReset.get(), 0), WAIT_TIMEOUT);
    ASSERT_TRUE(SetEvent(autoReset.get()));
    ASSERT_TRUE(SetEvent(autoReset.get())); // setting twice still releases one wait
    ASSERT_TRUE(SetEvent(manual.get()));
    EXPECT_EQ(WaitForSingleObject(autoReset.get(), Cap), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(autoReset.get(), 0), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(manual.get(), 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(manual.get(), 0), WAIT_OBJECT_0);
    // A wait for any of several gives the lowest signalled index.
    const TEventHandle third = Event(true, true);
    const HANDLE handles[] = {autoReset.get(), manual.get(), third.get()};
    EXPECT_EQ(WaitForMultipleObjects(3, handles, FALSE, Cap), WAIT_OBJECT_0 + 1);
    ASSERT_TRUE(ResetEvent(manual.get()));
    EXPECT_EQ(WaitForSingleObject(manual.get(), 0), WAIT_TIMEOUT);
}

TEST(PlatformWaits, BadHandlesFailWithInvalidHandleAndUnsupportedArgumentsWithInvalidParameter)
{
    const HANDLE closed = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    ASSERT_TRUE(CloseHandle(closed));
    EXPECT_FALSE(CloseHandle(closed));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

    for (const HANDLE bad : {closed, reinterpret_cast<HANDLE>(0x12345), HANDLE(nullptr), INVALID_HANDLE_VALUE})
    {
        SetLastError(0);
        EXPECT_EQ(WaitForSingleObject(bad, Cap), WAIT_FAILED);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        EXPECT_FALSE(SetEvent(bad));
    }
    const TEventHandle good = Event(true, true);
    const HANDLE mixed[] = {good.get(), closed};
    EXPECT_EQ(MsgWaitForMultipleObjects(2, mixed, FALSE, Cap, QS_ALLEVENTS), WAIT_FAILED);
    const HANDLE handles[] = {good.get()};
    EXPECT_EQ(WaitForMultipleObjects(1, handles, TRUE, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(WaitForMultipleObjects(0, handles, FALSE, 0), WAIT_FAILED);
    EXPECT_EQ(MsgWaitForMultipleObjects(MAXIMUM_WAIT_OBJECTS, handles, FALSE, 0, 0), WAIT_FAILED);
    EXPECT_EQ(CreateEventA(nullptr, TRUE, FALSE, "named"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
}

TEST(PlatformMessages, SignalledHandleTakesPrecedenceOverWaitingMessagesWhichAZeroMaskIgnores)
{
    const TEventHandle event = Event(true, true);
    TRecordingWindow window;
    ASSERT_TRUE(PostMessageA(window.Get(), WM_USER, 1, 0));
    const HANDLE handles[] = {event.get()};
    EXPECT_EQ(MsgWaitForMultipleObjects(1, handles, FALSE, Cap, QS_ALLEVENTS), WAIT_OBJECT_0);
    ASSERT_TRUE(ResetEvent(event.get()));
    EXPECT_EQ(MsgWaitForMultipleObjects(1, handles, FALSE, Cap, QS_ALLEVENTS), WAIT_OBJECT_0 + 1);
    // A zero mask ignores the waiting message.
    EXPECT_EQ(MsgWaitForMultipleObjects(1, handles, FALSE, 20, 0), WAIT_TIMEOUT);
    DispatchPendingMessages();
    EXPECT_EQ(window.Received, (std::vector<std::pair<UINT, WPARAM>>{{WM_USER, 1}}));
}

TEST(PlatformMessages, TimerFiresInsideMessageWaitOnItsWindowOrThroughItsCallback)
{
    TRecordingWindow window;
    ASSERT_EQ(SetTimer(window.Get(), 7, 20, nullptr), 7u);
    ASSERT_TRUE(PumpMessagesUntil([&] { return window.Received.size() >= 2; }));
    EXPECT_EQ(window.Received[0], std::make_pair(WM_TIMER, WPARAM(7)));
    EXPECT_EQ(window.Received[1], std::make_pair(WM_TIMER, WPARAM(7)));
    ASSERT_TRUE(KillTimer(window.Get(), 7));
    EXPECT_FALSE(KillTimer(window.Get(), 7));
    static std::atomic<int> calls{0};
    // A timer with a callback calls it instead of sending the window a message.
    window.Received.clear();
    ASSERT_TRUE(SetTimer(window.Get(), 3, 10, [](HWND, UINT, UINT_PTR AId, DWORD) { calls += AId == 3 ? 1 : 100; }));
    ASSERT_TRUE(PumpMessagesUntil([&] { return calls.load() > 0; }));
    EXPECT_EQ(calls.load(), 1);
    EXPECT_TRUE(window.Received.empty());
}

// A message posted from another thread wakes the wait: the asynchronous host lookup's tests
// meet that.
TEST(PlatformMessages, MessagesReachTheirWindowInOrderOrByFilter)
{
    TRecordingWindow target;
    TRecordingWindow other;
    ASSERT_TRUE(PostMessageA(target.Get(), WM_USER + 1, 1, 0));
    ASSERT_TRUE(PostMessageA(other.Get(), WM_USER + 2, 2, 0));
    ASSERT_TRUE(PostMessageA(target.Get(), WM_USER + 3, 3, 0));
    MSG msg{};
    ASSERT_TRUE(PeekMessageA(&msg, other.Get(), 0, 0, PM_NOREMOVE));
    EXPECT_EQ(msg.message, WM_USER + 2);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_USER + 3, WM_USER + 3, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 3u);
    DispatchPendingMessages();
    EXPECT_EQ(target.Received, (std::vector<std::pair<UINT, WPARAM>>{{WM_USER + 1, 1}}));
    EXPECT_EQ(other.Received, (std::vector<std::pair<UINT, WPARAM>>{{WM_USER + 2, 2}}));
}

TEST(PlatformMessages, DestroyedWindowOrOneWhoseThreadEndedLosesItsMessagesAndTimersAndRefusesNewOnes)
{
    HWND hwnd = CreateHiddenWindow([](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; });
    ASSERT_NE(hwnd, nullptr);
    ASSERT_TRUE(PostMessageA(hwnd, WM_USER, 0, 0));
    ASSERT_TRUE(SetTimer(hwnd, 1, 10, nullptr));
    ASSERT_TRUE(DestroyWindow(hwnd));
    EXPECT_FALSE(IsWindow(hwnd));
    MSG msg{};
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_FALSE(PostMessageA(hwnd, WM_USER, 0, 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
    EXPECT_EQ(SetTimer(hwnd, 1, 10, nullptr), 0u);
    EXPECT_FALSE(DestroyWindow(hwnd));
    const TEventHandle never = Event(false, false);
    const HANDLE handles[] = {never.get()};
    EXPECT_EQ(MsgWaitForMultipleObjects(1, handles, FALSE, 40, QS_ALLEVENTS), WAIT_TIMEOUT);
    // The windows of a thread die with it.
    hwnd = nullptr;
    std::thread owner([&] { hwnd = CreateHiddenWindow(nullptr); });
    owner.join();
    ASSERT_NE(hwnd, nullptr);
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_FALSE(PostMessageA(hwnd, WM_USER, 0, 0));
}

TEST(PlatformToolkitHook, ReadableHookDescriptorEndsTheWaitAndDispatchRunsTheHook)
{
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    int runs = 0;
    SetGuiHook(TGuiHook{[&] {
                            char byte;
                            ASSERT_EQ(::read(fds[0], &byte, 1), 1);
                            ++runs;
                        },
        {fds[0]}, 0});
    ASSERT_EQ(::write(fds[1], "x", 1), 1);
    const TEventHandle never = Event(false, false);
    const HANDLE handles[] = {never.get()};
    EXPECT_EQ(MsgWaitForMultipleObjects(1, handles, FALSE, Cap, QS_ALLEVENTS), WAIT_OBJECT_0 + 1);
    MSG msg{};
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, WM_GUIHOOK);
    DispatchMessageA(&msg);
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(MsgWaitForMultipleObjects(1, handles, FALSE, 30, QS_ALLEVENTS), WAIT_TIMEOUT);
    RemoveGuiHook();
    ::close(fds[0]);
    ::close(fds[1]);
}
