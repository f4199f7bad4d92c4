#pragma once
// Dispatching the calling thread's window messages in tests, as an application's message loop
// does, until a condition holds.

#include "platform/ixOsKernel.h"
#include "platform/ixOsMessages.h"

#include <functional>

namespace ix::test {

/// Waits for the calling thread's messages and dispatches them until ADone holds or ten seconds
/// pass; returns ADone().
inline bool PumpMessagesUntil(const std::function<bool()>& ADone)
{
    const os::ULONGLONG deadline = os::GetTickCount64() + 10000;
    while (!ADone() && os::GetTickCount64() < deadline)
        if (os::MsgWaitForMultipleObjects(0, nullptr, os::FALSE, 20, os::QS_ALLEVENTS) == os::WAIT_OBJECT_0)
            os::DispatchPendingMessages();
    return ADone();
}

} // namespace ix::test
