#include "platform/internal/ixWaitable.h"
#include "platform/ixOsKernel.h"

#include <sys/eventfd.h>

#include <atomic>
#include <cerrno>
#include <unordered_map>

namespace ix::os {

namespace internal {

namespace {

/// Handle and window values: multiples of 4, like Windows handles, never reused.
UINT_PTR NextHandleValue() noexcept
{
    static std::atomic<UINT_PTR> next{0};
    return (next.fetch_add(1, std::memory_order_relaxed) + 1) * 4;
}

class THandleTable
{
public:
    HANDLE Add(std::shared_ptr<TWaitable> AObject)
    {
        const UINT_PTR value = NextHandleValue();
        std::lock_guard lock(FLock);
        FObjects.emplace(value, std::move(AObject));
        return reinterpret_cast<HANDLE>(value);
    }

    std::shared_ptr<TWaitable> Find(HANDLE AHandle) const
    {
        std::lock_guard lock(FLock);
        const auto it = FObjects.find(reinterpret_cast<UINT_PTR>(AHandle));
        return it == FObjects.end() ? nullptr : it->second;
    }

    bool Remove(HANDLE AHandle)
    {
        std::shared_ptr<TWaitable> removed; // dies after the lock is released
        std::lock_guard lock(FLock);
        const auto it = FObjects.find(reinterpret_cast<UINT_PTR>(AHandle));
        if (it == FObjects.end())
            return false;
        removed = std::move(it->second);
        FObjects.erase(it);
        return true;
    }

private:
    mutable std::mutex FLock;
    std::unordered_map<UINT_PTR, std::shared_ptr<TWaitable>> FObjects;
};

THandleTable& Handles()
{
    static auto* table = new THandleTable; // never destroyed: usable during process exit
    return *table;
}

} // namespace

HANDLE RegisterHandle(std::shared_ptr<TWaitable> AObject)
{
    return AObject ? Handles().Add(std::move(AObject)) : nullptr;
}

std::shared_ptr<TWaitable> LookupHandle(HANDLE AHandle)
{
    return Handles().Find(AHandle);
}

bool UnregisterHandle(HANDLE AHandle)
{
    return Handles().Remove(AHandle);
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

} // namespace ix::os
