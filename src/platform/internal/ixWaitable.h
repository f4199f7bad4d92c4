#pragma once
// The handle model of the platform layer (internal: not installed, may include POSIX headers).
//
// Every object a HANDLE can name for a wait (an event from CreateEventA, a Windows Sockets event
// from WSACreateEvent) derives from TWaitable and is registered in one process-wide handle
// table. The wait functions (WaitForSingleObject, WaitForMultipleObjects,
// MsgWaitForMultipleObjects) resolve every handle through the table first: a closed or unknown
// value fails the wait with WAIT_FAILED and ERROR_INVALID_HANDLE. The table holds shared
// ownership, so an object closed by another thread stays alive until a running wait returns.
//
// Contract of a wait over the objects O[0..n) (wait for any):
//   1. O[i]->TryAcquire(nullptr, 0) for each i in order: an object that is already signalled
//      (from its recorded state, without looking at descriptors) returns true and the wait ends
//      with WAIT_OBJECT_0 + i.
//   2. Each O[i]->AddPollFds(fds) appends the descriptors it needs watched (with POLLIN/POLLOUT
//      as its state requires); the entries an object appended are handed back to it, in the
//      same order, after poll(2) returns.
//   3. After poll, O[i]->TryAcquire(&fds[first_i], count_i) for each i in order: the object
//      looks at its revents, records what happened (a socket event records its network events)
//      and returns whether it is signalled now. The first object that returns true ends the wait.
// TryAcquire must be atomic with respect to other threads: returning true *consumes* the
// signal of an auto-reset object, so of two threads waiting on one auto-reset event exactly one
// is released. It is called only from the waiting thread and must not block.

#include "platform/internal/ixUniqueFd.h"
#include "platform/ixOsTypes.h"

#include <poll.h>

#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

namespace ix::os::internal {

/// An object that a wait can be made on.
class TWaitable
{
public:
    virtual ~TWaitable() = default;

    /// Appends the descriptors to watch during the next poll.
    virtual void AddPollFds(std::vector<pollfd>& AFds) = 0;

    /// Returns true when signalled, consuming the signal of an auto-reset object. AFirst points
    /// to the entries this object appended (after poll), or is null with ACount 0 (before poll).
    virtual bool TryAcquire(const pollfd* AFirst, std::size_t ACount) = 0;

    /// SetEvent on this object; false (ERROR_INVALID_HANDLE) for objects that are no events.
    virtual bool Set() { return false; }

    /// ResetEvent on this object; false (ERROR_INVALID_HANDLE) for objects that are no events.
    virtual bool Reset() { return false; }
};

/// An event: manual-reset (stays signalled until Reset) or auto-reset (a successful wait
/// consumes the signal). An eventfd is readable while the event is signalled, so that poll
/// wakes for a SetEvent made by another thread. Derive from it to build an event whose signal
/// also comes from elsewhere (a Windows Sockets event is a manual-reset event).
class TEventWaitable : public TWaitable
{
public:
    TEventWaitable(bool AManualReset, bool AInitialState);

    /// False when the eventfd could not be made (errno tells why).
    bool IsValid() const noexcept { return FFd.IsValid(); }

    void AddPollFds(std::vector<pollfd>& AFds) override;
    bool TryAcquire(const pollfd* AFirst, std::size_t ACount) override;
    bool Set() override;
    bool Reset() override;

    /// The signalled state, without consuming it.
    bool IsSet() const;

private:
    void ClearLocked();

    mutable std::mutex FLock;
    const bool FManualReset;
    bool FSignaled = false;
    TUniqueFd FFd;
};

/// A fresh value for a handle or a window: a multiple of 4, never reused.
UINT_PTR NextHandleValue() noexcept;

/// Registers AObject and returns its new handle (never null, never reused). Null AObject: null.
HANDLE RegisterHandle(std::shared_ptr<TWaitable> AObject);

/// The object of AHandle, or null when the handle is closed or unknown.
std::shared_ptr<TWaitable> LookupHandle(HANDLE AHandle);

/// The object of AHandle when it is a T, else null.
template <typename T>
std::shared_ptr<T> LookupHandleAs(HANDLE AHandle)
{
    return std::dynamic_pointer_cast<T>(LookupHandle(AHandle));
}

/// Removes AHandle from the table (the object dies with its last user); false when unknown.
bool UnregisterHandle(HANDLE AHandle);

/// Maps an errno value to the nearest system error code (ERROR_NOT_ENOUGH_MEMORY...).
DWORD ErrnoToSystemError(int AErrno) noexcept;

} // namespace ix::os::internal
