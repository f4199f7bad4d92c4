#include "platform/ixOsSockets.h"

// The system headers below define several of the Windows names as macros with their own values
// (AF_INET6 is 10 there, SOL_SOCKET 1, FIONBIO 0x5421...). Below them, the bare names are the
// native values; the Windows values are taken here, before the headers, under names of their own.
namespace ix::os::win {
constexpr int Unspec = AF_UNSPEC;
constexpr int Inet = AF_INET;
constexpr int Inet6 = AF_INET6;
constexpr int SolSocket = SOL_SOCKET;
constexpr int SoReuseAddr = SO_REUSEADDR;
constexpr int SoKeepAlive = SO_KEEPALIVE;
constexpr int SoBroadcast = SO_BROADCAST;
constexpr int SoSndBuf = SO_SNDBUF;
constexpr int SoRcvBuf = SO_RCVBUF;
constexpr int SoError = SO_ERROR;
constexpr int SoType = SO_TYPE;
constexpr int TcpNoDelay = TCP_NODELAY;
constexpr LONG FionBio = FIONBIO;
constexpr LONG FionRead = FIONREAD;
constexpr int SoMaxConn = SOMAXCONN;
constexpr ULONG InaddrNone = INADDR_NONE;
constexpr int AiPassive = AI_PASSIVE;
constexpr int AiCanonName = AI_CANONNAME;
constexpr int AiNumericHost = AI_NUMERICHOST;
} // namespace ix::os::win

#include "platform/internal/ixObjectTable.h"
#include "platform/internal/ixOsModuleExports.h"
#include "platform/internal/ixUniqueFd.h"
#include "platform/internal/ixWaitable.h"
#include "platform/ixOsKernel.h"
#include "platform/ixOsMessages.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <list>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace ix::os {

namespace {

using internal::TUniqueFd;

// --- Error codes --------------------------------------------------------------------------

int ErrnoToWsa(int AErrno) noexcept
{
    switch (AErrno)
    {
    case 0: return 0;
    case EAGAIN:
    case EINPROGRESS: return WSAEWOULDBLOCK;
    case EINTR: return WSAEINTR;
    case EBADF:
    case ENOTSOCK: return WSAENOTSOCK;
    case EACCES:
    case EPERM: return WSAEACCES;
    case EFAULT: return WSAEFAULT;
    case EINVAL: return WSAEINVAL;
    case EMFILE:
    case ENFILE: return WSAEMFILE;
    case EALREADY: return WSAEALREADY;
    case EDESTADDRREQ: return WSAEDESTADDRREQ;
    case EMSGSIZE: return WSAEMSGSIZE;
    case EPROTOTYPE: return WSAEPROTOTYPE;
    case ENOPROTOOPT: return WSAENOPROTOOPT;
    case EPROTONOSUPPORT: return WSAEPROTONOSUPPORT;
    case ESOCKTNOSUPPORT: return WSAESOCKTNOSUPPORT;
    case EOPNOTSUPP: return WSAEOPNOTSUPP;
    case EPFNOSUPPORT: return WSAEPFNOSUPPORT;
    case EAFNOSUPPORT: return WSAEAFNOSUPPORT;
    case EADDRINUSE: return WSAEADDRINUSE;
    case EADDRNOTAVAIL: return WSAEADDRNOTAVAIL;
    case ENETDOWN: return WSAENETDOWN;
    case ENETUNREACH: return WSAENETUNREACH;
    case ENETRESET: return WSAENETRESET;
    case ECONNABORTED: return WSAECONNABORTED;
    case ECONNRESET:
    case EPIPE: return WSAECONNRESET;
    case ENOBUFS:
    case ENOMEM: return WSAENOBUFS;
    case EISCONN: return WSAEISCONN;
    case ENOTCONN: return WSAENOTCONN;
    case ESHUTDOWN: return WSAESHUTDOWN;
    case ETOOMANYREFS: return WSAETOOMANYREFS;
    case ETIMEDOUT: return WSAETIMEDOUT;
    case ECONNREFUSED: return WSAECONNREFUSED;
    case ELOOP: return WSAELOOP;
    case ENAMETOOLONG: return WSAENAMETOOLONG;
    case EHOSTDOWN: return WSAEHOSTDOWN;
    case EHOSTUNREACH: return WSAEHOSTUNREACH;
    default: return WSAEINVAL;
    }
}

int GaiToWsa(int AResult, int AErrno) noexcept
{
    switch (AResult)
    {
    case EAI_NONAME: return WSAHOST_NOT_FOUND;
    case EAI_AGAIN: return WSATRY_AGAIN;
    case EAI_NODATA:
    case EAI_ADDRFAMILY: return WSANO_DATA;
    case EAI_FAMILY: return WSAEAFNOSUPPORT;
    case EAI_SOCKTYPE: return WSAESOCKTNOSUPPORT;
    case EAI_SERVICE: return WSATYPE_NOT_FOUND;
    case EAI_BADFLAGS: return WSAEINVAL;
    case EAI_MEMORY: return WSA_NOT_ENOUGH_MEMORY;
    case EAI_SYSTEM: return ErrnoToWsa(AErrno);
    default: return WSANO_RECOVERY;
    }
}

/// Sets the last error and returns AResult.
template <typename T>
T Fail(int AError, T AResult) noexcept
{
    WSASetLastError(AError);
    return AResult;
}

int FailErrno(int AErrno = errno) noexcept
{
    return Fail(ErrnoToWsa(AErrno), SOCKET_ERROR);
}

// --- Socket addresses ---------------------------------------------------------------------

/// A native socket address converted from the Windows layout.
struct TNativeAddress
{
    sockaddr_storage Storage{};
    socklen_t Length = 0;

    sockaddr* Get() noexcept { return reinterpret_cast<sockaddr*>(&Storage); }
};

/// Converts a Windows socket address; 0 or the Windows Sockets error.
int ToNative(const SOCKADDR* AAddress, int ALength, TNativeAddress& AResult) noexcept
{
    if (AAddress == nullptr || ALength < static_cast<int>(sizeof(ADDRESS_FAMILY)))
        return WSAEFAULT;
    if (AAddress->sa_family == win::Inet)
    {
        if (ALength < static_cast<int>(sizeof(SOCKADDR_IN)))
            return WSAEFAULT;
        SOCKADDR_IN source;
        std::memcpy(&source, AAddress, sizeof source);
        auto& target = reinterpret_cast<sockaddr_in&>(AResult.Storage);
        target.sin_family = static_cast<sa_family_t>(AF_INET);
        target.sin_port = source.sin_port;
        target.sin_addr.s_addr = source.sin_addr.S_un.S_addr;
        AResult.Length = sizeof(sockaddr_in);
        return 0;
    }
    if (AAddress->sa_family == win::Inet6)
    {
        if (ALength < static_cast<int>(sizeof(SOCKADDR_IN6)))
            return WSAEFAULT;
        SOCKADDR_IN6 source;
        std::memcpy(&source, AAddress, sizeof source);
        auto& target = reinterpret_cast<sockaddr_in6&>(AResult.Storage);
        target.sin6_family = static_cast<sa_family_t>(AF_INET6);
        target.sin6_port = source.sin6_port;
        target.sin6_flowinfo = source.sin6_flowinfo;
        std::memcpy(&target.sin6_addr, source.sin6_addr.u.Byte, 16);
        target.sin6_scope_id = source.sin6_scope_id;
        AResult.Length = sizeof(sockaddr_in6);
        return 0;
    }
    return WSAEAFNOSUPPORT;
}

/// Writes a native address in the Windows layout into AStorage; its length, or 0 for another
/// family.
int FromNative(const sockaddr* AAddress, SOCKADDR_STORAGE& AStorage) noexcept
{
    AStorage = SOCKADDR_STORAGE{};
    if (AAddress->sa_family == AF_INET)
    {
        const auto& source = *reinterpret_cast<const sockaddr_in*>(AAddress);
        auto& target = reinterpret_cast<SOCKADDR_IN&>(AStorage);
        target.sin_family = win::Inet;
        target.sin_port = source.sin_port;
        target.sin_addr.S_un.S_addr = source.sin_addr.s_addr;
        return sizeof(SOCKADDR_IN);
    }
    if (AAddress->sa_family == AF_INET6)
    {
        const auto& source = *reinterpret_cast<const sockaddr_in6*>(AAddress);
        auto& target = reinterpret_cast<SOCKADDR_IN6&>(AStorage);
        target.sin6_family = win::Inet6;
        target.sin6_port = source.sin6_port;
        target.sin6_flowinfo = source.sin6_flowinfo;
        std::memcpy(target.sin6_addr.u.Byte, &source.sin6_addr, 16);
        target.sin6_scope_id = source.sin6_scope_id;
        return sizeof(SOCKADDR_IN6);
    }
    return 0;
}

/// Copies a native address into a caller's Windows buffer; 0 or the Windows Sockets error.
int CopyOut(const TNativeAddress& AAddress, SOCKADDR* ATarget, int* ATargetLength) noexcept
{
    if (ATarget == nullptr)
        return 0;
    if (ATargetLength == nullptr)
        return WSAEFAULT;
    SOCKADDR_STORAGE converted;
    const int length = FromNative(reinterpret_cast<const sockaddr*>(&AAddress.Storage), converted);
    if (length == 0 || *ATargetLength < length)
        return WSAEFAULT;
    std::memcpy(ATarget, &converted, static_cast<size_t>(length));
    *ATargetLength = length;
    return 0;
}

// --- Sockets and their network events -----------------------------------------------------

class TSocketEvent;

enum class TPhase : uint8_t { Idle, Connecting, Connected, Listening };

/// One socket of the table: its descriptor and the state of its network events.
struct TSocketState
{
    TSocketState(int AFd, int AType, bool ANonBlocking) : Fd(AFd), Type(AType), NonBlocking(ANonBlocking) {}

    const TUniqueFd Fd;
    const int Type;
    std::atomic<bool> NonBlocking;
    // Re-enabled by the socket calls; cleared when their event is recorded.
    std::atomic<bool> ReadArmed{true};
    std::atomic<bool> WriteArmed{true};
    std::atomic<bool> AcceptArmed{true};

    std::mutex Lock; // guards the fields below
    TPhase Phase = TPhase::Idle;
    std::weak_ptr<TSocketEvent> Event;
    LONG Mask = 0;
    LONG Recorded = 0;
    int Errors[FD_MAX_EVENTS]{};
    bool CloseReported = false;

    bool IsStream() const noexcept { return Type == SOCK_STREAM; }

    void SetPhase(TPhase APhase)
    {
        std::lock_guard lock(Lock);
        Phase = APhase;
    }

    /// The poll events that the selected, armed network events need. Call under Lock.
    short PollEventsLocked() const noexcept
    {
        if (Mask == 0)
            return 0;
        if (Phase == TPhase::Connecting)
            return POLLOUT;
        if (Phase == TPhase::Listening)
            return (Mask & FD_ACCEPT) != 0 && AcceptArmed ? POLLIN : 0;
        if (IsStream() && Phase != TPhase::Connected)
            return 0;
        short events = 0;
        if ((Mask & FD_READ) != 0 && ReadArmed)
            events |= POLLIN;
        if ((Mask & FD_WRITE) != 0 && WriteArmed)
            events |= POLLOUT;
        // The peer's close is watched while FD_CLOSE is due, and with every read watch: at the
        // end of the stream poll reports POLLIN too, which only bytes make an FD_READ.
        if (IsStream() && (((Mask & FD_CLOSE) != 0 && !CloseReported) || (events & POLLIN) != 0))
            events |= POLLRDHUP;
        return events;
    }

    /// Records the network events that poll's AEvents mean; true when one was recorded.
    bool RecordLocked(short AEvents)
    {
        if (AEvents == 0 || (AEvents & POLLNVAL) != 0)
            return false;
        const LONG before = Recorded;
        if (Phase == TPhase::Connecting)
            RecordConnectLocked(AEvents);
        else if (Phase == TPhase::Listening)
        {
            if ((AEvents & POLLIN) != 0 && AcceptArmed.exchange(false))
                Note(FD_ACCEPT_BIT, 0);
        }
        else
            RecordTransferLocked(AEvents);
        return Recorded != before;
    }

    /// Hands out the recorded events and clears them.
    void Enumerate(WSANETWORKEVENTS& AResult)
    {
        std::lock_guard lock(Lock);
        AResult.lNetworkEvents = Recorded;
        std::copy(std::begin(Errors), std::end(Errors), AResult.iErrorCode);
        ClearRecordLocked();
    }

    void ClearRecordLocked() noexcept
    {
        Recorded = 0;
        std::fill(std::begin(Errors), std::end(Errors), 0);
    }

private:
    void Note(LONG ABit, int AError) noexcept
    {
        if ((Mask & (1 << ABit)) == 0)
            return;
        Recorded |= 1 << ABit;
        Errors[ABit] = AError;
    }

    /// The socket's pending error (clears it).
    int TakeError() const noexcept
    {
        int error = 0;
        socklen_t length = sizeof error;
        if (::getsockopt(Fd.Get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0)
            return errno;
        return error;
    }

    int BytesReady() const noexcept
    {
        int count = 0;
        return ::ioctl(Fd.Get(), FIONREAD, &count) == 0 ? count : 0;
    }

    void RecordConnectLocked(short AEvents)
    {
        if ((AEvents & (POLLOUT | POLLERR | POLLHUP)) == 0)
            return;
        const int error = TakeError();
        Phase = error == 0 ? TPhase::Connected : TPhase::Idle;
        Note(FD_CONNECT_BIT, ErrnoToWsa(error));
    }

    void RecordTransferLocked(short AEvents)
    {
        const LONG before = Recorded;
        const bool hangup = IsStream() && (AEvents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
        if ((AEvents & POLLIN) != 0 && ReadArmed.exchange(false) && (!hangup || BytesReady() > 0))
            Note(FD_READ_BIT, 0);
        if ((AEvents & POLLOUT) != 0 && WriteArmed.exchange(false))
            Note(FD_WRITE_BIT, 0);
        if (hangup && !CloseReported && (Mask & FD_CLOSE) != 0)
        {
            CloseReported = true;
            Note(FD_CLOSE_BIT, ErrnoToWsa((AEvents & POLLERR) != 0 ? TakeError() : 0));
        }
        // A dead socket stays readable or in error for good: stop watching it until a socket
        // call re-enables an event, so that waits do not spin on it.
        if (Recorded == before && (AEvents & (POLLHUP | POLLERR)) != 0)
        {
            ReadArmed = false;
            WriteArmed = false;
        }
    }
};

using TSocketPtr = std::shared_ptr<TSocketState>;

/// A Windows Sockets event: a manual-reset event that is also signalled when a socket
/// associated with it records a network event during a wait.
class TSocketEvent final : public internal::TEventWaitable
{
public:
    TSocketEvent() : TEventWaitable(true, false) {}

    void Attach(const TSocketPtr& ASocket)
    {
        std::lock_guard lock(FLock);
        FSockets.push_back(ASocket);
    }

    void Detach(const TSocketState* ASocket)
    {
        std::lock_guard lock(FLock);
        std::erase_if(FSockets, [ASocket](const TSocketPtr& AItem) { return AItem.get() == ASocket; });
        // A wait may be between poll and TryAcquire: keep the positions, drop the reference.
        for (TSocketPtr& polled : FPolled)
            if (polled.get() == ASocket)
                polled.reset();
    }

    /// True when a socket of this event has events that were not enumerated yet.
    bool AnyRecorded()
    {
        std::lock_guard lock(FLock);
        return std::any_of(FSockets.begin(), FSockets.end(), [](const TSocketPtr& AItem) {
            std::lock_guard itemLock(AItem->Lock);
            return AItem->Recorded != 0;
        });
    }

    void AddPollFds(std::vector<pollfd>& AFds) override
    {
        TEventWaitable::AddPollFds(AFds);
        std::lock_guard lock(FLock);
        FPolled.clear();
        for (const TSocketPtr& item : FSockets)
        {
            std::lock_guard itemLock(item->Lock);
            if (const short events = item->PollEventsLocked(); events != 0)
            {
                AFds.push_back(pollfd{item->Fd.Get(), events, 0});
                FPolled.push_back(item);
            }
        }
    }

    bool TryAcquire(const pollfd* AFirst, std::size_t ACount) override
    {
        if (AFirst != nullptr && ACount > 1 && RecordPolled(AFirst + 1, ACount - 1))
            Set();
        return TEventWaitable::TryAcquire(AFirst, AFirst != nullptr ? 1 : 0);
    }

private:
    bool RecordPolled(const pollfd* AFds, std::size_t ACount)
    {
        bool recorded = false;
        std::lock_guard lock(FLock);
        for (std::size_t i = 0; i < ACount && i < FPolled.size(); ++i)
            if (FPolled[i])
            {
                std::lock_guard itemLock(FPolled[i]->Lock);
                recorded = FPolled[i]->RecordLocked(AFds[i].revents) || recorded;
            }
        return recorded;
    }

    std::mutex FLock;
    std::vector<TSocketPtr> FSockets;
    std::vector<TSocketPtr> FPolled; // the sockets of the last AddPollFds, in order
};

/// The sockets of the process by their SOCKET value (never reused).
internal::TObjectTable<TSocketState>& Sockets()
{
    static auto* table = new internal::TObjectTable<TSocketState>; // never destroyed: usable during process exit
    return *table;
}

/// Adds a descriptor to the table.
SOCKET AddSocket(int AFd, int AType, bool ANonBlocking, TPhase APhase)
{
    auto state = std::make_shared<TSocketState>(AFd, AType, ANonBlocking);
    state->Phase = APhase;
    const SOCKET value = internal::NextHandleValue();
    Sockets().Add(value, std::move(state));
    return value;
}

/// Associates (or, with a null event or mask 0, dissociates) a socket and an event.
void Associate(const TSocketPtr& ASocket, const std::shared_ptr<TSocketEvent>& AEvent, LONG AMask)
{
    std::shared_ptr<TSocketEvent> previous;
    {
        std::lock_guard lock(ASocket->Lock);
        previous = ASocket->Event.lock();
        ASocket->Event = AMask != 0 ? AEvent : nullptr;
        ASocket->Mask = AMask != 0 && AEvent ? AMask : 0;
        ASocket->ClearRecordLocked();
    }
    if (previous)
        previous->Detach(ASocket.get());
    if (AMask != 0 && AEvent)
        AEvent->Attach(ASocket);
}

bool SetNonBlocking(const TSocketState& ASocket, bool AValue) noexcept
{
    const int flags = ::fcntl(ASocket.Fd.Get(), F_GETFL);
    if (flags < 0)
        return false;
    return ::fcntl(ASocket.Fd.Get(), F_SETFL, AValue ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK)) == 0;
}

// --- Library start-up and asynchronous lookups --------------------------------------------

/// One pending WSAAsyncGetHostByName.
struct TLookupTask
{
    HANDLE Handle = nullptr;
    HWND Window = nullptr;
    UINT Message = 0;
    std::string Name;
    char* Buffer = nullptr;
    int BufferLength = 0;

    std::mutex Lock; // guards Cancelled and Completed
    bool Cancelled = false;
    bool Completed = false;
    std::atomic<bool> Finished{false}; // the worker has nothing left to do
};

using TLookupPtr = std::shared_ptr<TLookupTask>;

/// The addresses and name of a lookup, laid out as a HOSTENT in a buffer at ABase.
struct THostEntryImage
{
    std::vector<char> Bytes;
    WORD Error = 0;
    WORD Needed = 0;
};

/// The resolver of the asynchronous lookups while a test replaces the system's.
struct THostLookupHookSlot
{
    std::mutex Lock;
    THostLookupHook Hook;
};

THostLookupHookSlot& HostLookupHook()
{
    static auto* slot = new THostLookupHookSlot; // never destroyed: workers may outlive main
    return *slot;
}

/// The system's IPv4 addresses of AName.
THostLookupResult SystemHostLookup(const std::string& AName)
{
    THostLookupResult result;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* list = nullptr;
    const int status = ::getaddrinfo(AName.c_str(), nullptr, &hints, &list);
    if (status != 0)
    {
        result.Error = GaiToWsa(status, errno);
        return result;
    }
    if (list->ai_canonname != nullptr)
        result.CanonicalName = list->ai_canonname;
    for (const addrinfo* item = list; item != nullptr; item = item->ai_next)
        result.Addresses.push_back(reinterpret_cast<const sockaddr_in*>(item->ai_addr)->sin_addr.s_addr);
    ::freeaddrinfo(list);
    return result;
}

/// The test's lookup hook; empty when none is set.
THostLookupHook CurrentHostLookupHook()
{
    THostLookupHookSlot& slot = HostLookupHook();
    std::lock_guard lock(slot.Lock);
    return slot.Hook;
}

/// Looks AName up with the test's hook when one is set, else with the system's resolver.
THostLookupResult LookupHostIPv4(const std::string& AName)
{
    const THostLookupHook hook = CurrentHostLookupHook();
    return hook ? hook(AName) : SystemHostLookup(AName);
}

THostEntryImage BuildHostEntry(const TLookupTask& ATask)
{
    THostEntryImage image;
    const THostLookupResult found = LookupHostIPv4(ATask.Name);
    if (found.Error != 0)
    {
        image.Error = static_cast<WORD>(found.Error);
        return image;
    }
    const std::vector<ULONG>& addresses = found.Addresses;
    const std::string& name = found.CanonicalName.empty() ? ATask.Name : found.CanonicalName;
    if (addresses.empty())
    {
        image.Error = WSANO_DATA;
        return image;
    }

    // [HOSTENT][address pointers, null][alias pointers: null][addresses][name, NUL]
    const size_t listOffset = sizeof(HOSTENT);
    const size_t aliasOffset = listOffset + (addresses.size() + 1) * sizeof(char*);
    const size_t addressOffset = aliasOffset + sizeof(char*);
    const size_t nameOffset = addressOffset + addresses.size() * 4;
    const size_t needed = nameOffset + name.size() + 1;
    image.Needed = static_cast<WORD>(std::min<size_t>(needed, 0xFFFF));
    if (needed > static_cast<size_t>(ATask.BufferLength))
    {
        image.Error = WSAENOBUFS;
        return image;
    }
    image.Bytes.assign(needed, 0);
    char* const base = ATask.Buffer;
    std::vector<char*> pointers;
    for (size_t i = 0; i < addresses.size(); ++i)
    {
        std::memcpy(image.Bytes.data() + addressOffset + i * 4, &addresses[i], 4);
        pointers.push_back(base + addressOffset + i * 4);
    }
    pointers.push_back(nullptr);
    std::memcpy(image.Bytes.data() + listOffset, pointers.data(), pointers.size() * sizeof(char*));
    std::memcpy(image.Bytes.data() + nameOffset, name.c_str(), name.size() + 1);
    const HOSTENT entry{base + nameOffset, reinterpret_cast<CHAR**>(base + aliasOffset), win::Inet, 4,
        reinterpret_cast<CHAR**>(base + listOffset)};
    std::memcpy(image.Bytes.data(), &entry, sizeof entry);
    return image;
}

void RunLookup(const TLookupPtr& ATask)
{
    const THostEntryImage image = BuildHostEntry(*ATask);
    {
        std::lock_guard lock(ATask->Lock);
        if (!ATask->Cancelled)
        {
            if (image.Error == 0)
                std::memcpy(ATask->Buffer, image.Bytes.data(), image.Bytes.size());
            ATask->Completed = true;
            (void)PostMessageA(ATask->Window, ATask->Message, reinterpret_cast<WPARAM>(ATask->Handle),
                WSAMAKEASYNCREPLY(image.Needed, image.Error));
        }
    }
    ATask->Finished = true;
}

/// The library's start count and the threads of its asynchronous lookups.
class TLibrary
{
public:
    int Startup()
    {
        std::lock_guard lock(FLock);
        ++FStartCount;
        return 0;
    }

    int Cleanup()
    {
        std::list<TWorker> workers;
        {
            std::lock_guard lock(FLock);
            if (FStartCount == 0)
                return Fail(WSANOTINITIALISED, SOCKET_ERROR);
            if (--FStartCount == 0)
                workers.swap(FWorkers);
        }
        for (TWorker& worker : workers)
            worker.Thread.join();
        return 0;
    }

    bool IsStarted()
    {
        std::lock_guard lock(FLock);
        return FStartCount > 0;
    }

    HANDLE StartLookup(TLookupPtr ATask)
    {
        std::list<TWorker> finished;
        std::lock_guard lock(FLock);
        if (FStartCount == 0)
            return Fail(WSANOTINITIALISED, HANDLE{});
        ReapLocked(finished);
        ATask->Handle = reinterpret_cast<HANDLE>(internal::NextHandleValue());
        FWorkers.push_back(TWorker{ATask, std::thread(RunLookup, ATask)});
        return ATask->Handle;
    }

    TLookupPtr FindLookup(HANDLE AHandle)
    {
        std::lock_guard lock(FLock);
        for (const TWorker& worker : FWorkers)
            if (worker.Task->Handle == AHandle)
                return worker.Task;
        return nullptr;
    }

private:
    struct TWorker
    {
        TLookupPtr Task;
        std::thread Thread;
    };

    /// Moves the workers that have finished into AFinished and joins them (quick: they are done).
    void ReapLocked(std::list<TWorker>& AFinished)
    {
        for (auto it = FWorkers.begin(); it != FWorkers.end();)
        {
            const auto next = std::next(it);
            if (it->Task->Finished)
            {
                it->Thread.join();
                AFinished.splice(AFinished.end(), FWorkers, it);
            }
            it = next;
        }
    }

    std::mutex FLock;
    int FStartCount = 0;
    std::list<TWorker> FWorkers;
};

TLibrary& Library()
{
    static auto* library = new TLibrary; // never destroyed: usable during process exit
    return *library;
}

// --- getaddrinfo records ------------------------------------------------------------------

/// One record of a getaddrinfo result with room for its address; freed by freeaddrinfo.
struct TAddrInfoRecord
{
    ADDRINFOA Info;
    SOCKADDR_STORAGE Address;
};
static_assert(std::is_standard_layout_v<TAddrInfoRecord>);

int MapFamilyToNative(int AFamily) noexcept
{
    switch (AFamily)
    {
    case win::Unspec: return AF_UNSPEC;
    case win::Inet: return AF_INET;
    case win::Inet6: return AF_INET6;
    default: return -1;
    }
}

int MapAiFlagsToNative(int AFlags) noexcept
{
    return ((AFlags & win::AiPassive) != 0 ? AI_PASSIVE : 0) | ((AFlags & win::AiCanonName) != 0 ? AI_CANONNAME : 0)
        | ((AFlags & win::AiNumericHost) != 0 ? AI_NUMERICHOST : 0);
}

/// Builds the Windows records of a native list. Without a socket type or protocol in the
/// hints, each address appears once (as on Windows), with type and protocol 0.
ADDRINFOA* ConvertAddrInfo(const addrinfo* AList, const ADDRINFOA& AHints)
{
    const bool onePerAddress = AHints.ai_socktype == 0 && AHints.ai_protocol == 0;
    ADDRINFOA* head = nullptr;
    ADDRINFOA** tail = &head;
    std::vector<std::string> seen;
    for (const addrinfo* item = AList; item != nullptr; item = item->ai_next)
    {
        auto* record = new TAddrInfoRecord{};
        const int length = FromNative(item->ai_addr, record->Address);
        const std::string key(reinterpret_cast<const char*>(&record->Address), static_cast<size_t>(length));
        if (length == 0 || (onePerAddress && std::find(seen.begin(), seen.end(), key) != seen.end()))
        {
            delete record;
            continue;
        }
        seen.push_back(key);
        ADDRINFOA& info = record->Info;
        info.ai_flags = AHints.ai_flags;
        info.ai_family = record->Address.ss_family;
        info.ai_socktype = onePerAddress ? 0 : item->ai_socktype;
        info.ai_protocol = onePerAddress ? 0 : item->ai_protocol;
        info.ai_addrlen = static_cast<SIZE_T>(length);
        info.ai_addr = reinterpret_cast<SOCKADDR*>(&record->Address);
        if (item->ai_canonname != nullptr)
        {
            const size_t size = std::strlen(item->ai_canonname) + 1;
            info.ai_canonname = new char[size];
            std::memcpy(info.ai_canonname, item->ai_canonname, size);
        }
        *tail = &info;
        tail = &info.ai_next;
    }
    return head;
}

// --- Module exports -----------------------------------------------------------------------

template <typename F>
FARPROC Proc(F* AFunction) noexcept
{
    return reinterpret_cast<FARPROC>(AFunction);
}

std::atomic<bool> ResolverHidden{false};

} // namespace

// === Start-up and errors ==================================================================

int WSAStartup(WORD wVersionRequested, LPWSADATA lpWSAData)
{
    if ((wVersionRequested & 0xFF) < 1)
        return WSAVERNOTSUPPORTED;
    if (lpWSAData != nullptr)
    {
        *lpWSAData = WSADATA{};
        lpWSAData->wVersion = MAKEWORD(2, 2);
        lpWSAData->wHighVersion = MAKEWORD(2, 2);
        std::strcpy(lpWSAData->szDescription, "WinSock 2.0");
        std::strcpy(lpWSAData->szSystemStatus, "Running");
    }
    return Library().Startup();
}

int WSACleanup()
{
    return Library().Cleanup();
}

int WSAGetLastError() noexcept
{
    return static_cast<int>(GetLastError());
}

void WSASetLastError(int iError) noexcept
{
    SetLastError(static_cast<DWORD>(iError));
}

// === Sockets ==============================================================================

SOCKET socket(int af, int type, int protocol)
{
    if (!Library().IsStarted())
        return Fail(WSANOTINITIALISED, INVALID_SOCKET);
    const int family = MapFamilyToNative(af);
    if (family <= 0)
        return Fail(WSAEAFNOSUPPORT, INVALID_SOCKET);
    if (type != SOCK_STREAM && type != SOCK_DGRAM)
        return Fail(WSAESOCKTNOSUPPORT, INVALID_SOCKET);
    const int fd = ::socket(family, type | SOCK_CLOEXEC, protocol);
    if (fd < 0)
        return Fail(ErrnoToWsa(errno), INVALID_SOCKET);
    return AddSocket(fd, type, false, TPhase::Idle);
}

int closesocket(SOCKET s)
{
    const TSocketPtr state = Sockets().Remove(s);
    if (!state)
        return Fail(WSAENOTSOCK, SOCKET_ERROR);
    Associate(state, nullptr, 0);
    return 0; // the descriptor closes with the last reference, normally this one
}

int shutdown(SOCKET s, int how)
{
    const TSocketPtr state = Sockets().Find(s);
    if (!state)
        return Fail(WSAENOTSOCK, SOCKET_ERROR);
    if (how < SD_RECEIVE || how > SD_BOTH)
        return Fail(WSAEINVAL, SOCKET_ERROR);
    return ::shutdown(state->Fd.Get(), how) == 0 ? 0 : FailErrno();
}

int connect(SOCKET s, const SOCKADDR* name, int namelen)
{
    const TSocketPtr state = Sockets().Find(s);
    if (!state)
        return Fail(WSAENOTSOCK, SOCKET_ERROR);
    TNativeAddress address;
    if (const int error = ToNative(name, namelen, address))
        return Fail(error, SOCKET_ERROR);
    if (::connect(state->Fd.Get(), address.Get(), address.Length) == 0)
    {
        state->SetPhase(TPhase::Connected);
        return 0;
    }
    if (errno != EINPROGRESS)
        return FailErrno();
    // A loopback peer's kernel completes the handshake inside the call: report that at once.
    pollfd probe{state->Fd.Get(), POLLOUT, 0};
    if (::poll(&probe, 1, 0) == 1 && probe.revents == POLLOUT)
    {
        state->SetPhase(TPhase::Connected);
        return 0;
    }
    state->SetPhase(TPhase::Connecting);
    return Fail(WSAEWOULDBLOCK, SOCKET_ERROR);
}

int bind(SOCKET s, const SOCKADDR* name, int namelen)
{
    const TSocketPtr state = Sockets().Find(s);
    if (!state)
        return Fail(WSAENOTSOCK, SOCKET_ERROR);
    TNativeAddress address;
    if (const int error = ToNative(name, namelen, address))
        return Fail(error, SOCKET_ERROR);
    return ::bind(state->Fd.Get(), address.Get(), address.Length) == 0 ? 0 : FailErrno();
}

int listen(SOCKET s, int backlog)
{
    const TSocketPtr state = Sockets().Find(s);
    if (!state)
        return Fail(WSAENOTSOCK, SOCKET_ERROR);
    if (::listen(state->Fd.Get(), backlog == win::SoMaxConn ? SOMAXCONN : backlog) != 0)
        return FailErrno();
    state->SetPhase(TPhase::Listening);
    return 0;
}

SOCKET accept(SOCKET s, SOCKADDR* addr, int* addrlen)
{
    const TSocketPtr state = Sockets().Find(s);
    if (!state)
        return Fail(WSAENOTSOCK, INVALID_SOCKET);
    TNativeAddress peer;
    peer.Length = sizeof peer.Storage;
    const bool nonBlocking = state->NonBlocking;
    const int fd = ::accept4(state->Fd.Get(), peer.Get(), &peer.Length, SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0));
    state->AcceptArmed = true;
    if (fd < 0)
        return Fail(ErrnoToWsa(errno), INVALID_SOCKET);
    if (const int error = CopyOut(peer, addr, addrlen))
    {
        ::close(fd);
        return Fail(error, INVALID_SOCKET);
    }
    const SOCKET accepted = AddSocket(fd, state->Type, nonBlocking, TPhase::Connected);
    // The accepted socket reports to the listening socket's event, for the same events.
    std::shared_ptr<TSocketEvent> event;
    LONG mask = 0;
    {
        std::lock_guard lock(state->Lock);
        event = state->Event.lock();
        mask = state->Mask;
    }
    if (event)
        Associate(Sockets().Find(accepted), event, mask);
    return accepted;
}

namespace {

using TNameFunction = int (*)(int, sockaddr*, socklen_t*);

int GetName(SOCKET s, SOCKADDR* name, int* namelen, TNameFunction AFunction)
{
    const TSocketPtr state = Sockets().Find(s);
    if (!state)
        return Fail(WSAENOTSOCK, SOCKET_ERROR);
    if (name == nullptr || namelen == nullptr)
        return Fail(WSAEFAULT, SOCKET_ERROR);
    TNativeAddress address;
    address.Length = sizeof address.Storage;
    if (AFunction(state->Fd.Get(), address.Get(), &address.Length) != 0)
        return FailErrno();
    if (const int error = CopyOut(address, name, namelen))
        return Fail(error, SOCKET_ERROR);
    return 0;
}

/// One receive: recv and recvfrom. A datagram longer than the buffer fills it and fails with
/// WSAEMSGSIZE, as on Windows. A connected stream has no source address per read: as on
/// Windows, from and fromlen are left alone there (the bytes must not be lost to a failed copy).
int Receive(SOCKET s, char* buf, int len, int flags, SOCKADDR* from, int* fromlen)
{
    const TSocketPtr state = Sockets().Find(s);
    if (!state)
        return Fail(WSAENOTSOCK, SOCKET_ERROR);
    if ((flags & ~MSG_PEEK) != 0)
        return Fail(WSAEOPNOTSUPP, SOCKET_ERROR);
    if (len < 0 || (buf == nullptr && len > 0))
        return Fail(WSAEFAULT, SOCKET_ERROR);
    const bool datagram = !state->IsStream();
    if (!datagram)
        from = nullptr;
    const int nativeFlags = ((flags & MSG_PEEK) != 0 ? ::MSG_PEEK : 0) | (datagram ? ::MSG_TRUNC : 0);
    TNativeAddress source;
    source.Length = sizeof source.Storage;
    const ssize_t received = ::recvfrom(state->Fd.Get(), buf, static_cast<size_t>(len), nativeFlags,
        from != nullptr ? source.Get() : nullptr, from != nullptr ? &source.Length : nullptr);
    const int error = errno;
    state->ReadArmed = true;
    if (received < 0)
        return FailErrno(error);
    if (from != nullptr)
        if (const int copyError = CopyOut(source, from, fromlen))
            return Fail(copyError, SOCKET_ERROR);
    if (datagram && received > len)
        return Fail(WSAEMSGSIZE, SOCKET_ERROR);
    return static_cast<int>(received);
}

int Send(SOCKET s, const char* buf, int len, int flags, const SOCKADDR* to, int tolen)
{
    const TSocketPtr state = Sockets().Find(s);
    if (!state)
        return Fail(WSAENOTSOCK, SOCKET_ERROR);
    if (flags != 0)
        return Fail(WSAEOPNOTSUPP, SOCKET_ERROR);
    if (len < 0 || (buf == nullptr && len > 0))
        return Fail(WSAEFAULT, SOCKET_ERROR);
    TNativeAddress target;
    if (to != nullptr)
        if (const int error = ToNative(to, tolen, target))
            return Fail(error, SOCKET_ERROR);
    const ssize_t sent = ::sendto(state->Fd.Get(), buf, static_cast<size_t>(len), MSG_NOSIGNAL,
        to != nullptr ? target.Get() : nullptr, to != nullptr ? target.Length : 0);
    if (sent >= 0)
        return static_cast<int>(sent);
    const int error = errno;
    if (error == EAGAIN)
        state->WriteArmed = true;
    return FailErrno(error);
}

/// The native level and name of a Windows socket option; false when it is not served.
bool MapOption(int ALevel, int AName, int& ANativeLevel, int& ANativeName) noexcept
{
    struct TOption
    {
        int Level, Name, NativeLevel, NativeName;
    };
    static constexpr TOption Options[] = {
        {win::SolSocket, win::SoReuseAddr, SOL_SOCKET, SO_REUSEADDR},
        {win::SolSocket, win::SoKeepAlive, SOL_SOCKET, SO_KEEPALIVE},
        {win::SolSocket, win::SoBroadcast, SOL_SOCKET, SO_BROADCAST},
        {win::SolSocket, win::SoSndBuf, SOL_SOCKET, SO_SNDBUF},
        {win::SolSocket, win::SoRcvBuf, SOL_SOCKET, SO_RCVBUF},
        {win::SolSocket, win::SoError, SOL_SOCKET, SO_ERROR},
        {win::SolSocket, win::SoType, SOL_SOCKET, SO_TYPE},
        {IPPROTO_TCP, win::TcpNoDelay, IPPROTO_TCP, TCP_NODELAY},
    };
    for (const TOption& option : Options)
        if (option.Level == ALevel && option.Name == AName)
        {
            ANativeLevel = option.NativeLevel;
            ANativeName = option.NativeName;
            return true;
        }
    return false;
}

} // namespace

int getsockname(SOCKET s, SOCKADDR* name, int* namelen)
{
    return GetName(s, name, namelen, ::getsockname);
}

int getpeername(SOCKET s, SOCKADDR* name, int* namelen)
{
    return GetName(s, name, namelen, ::getpeername);
}

int recv(SOCKET s, char* buf, int len, int flags)
{
    return Receive(s, buf, len, flags, nullptr, nullptr);
}

int send(SOCKET s, const char* buf, int len, int flags)
{
    return Send(s, buf, len, flags, nullptr, 0);
}

int recvfrom(SOCKET s, char* buf, int len, int flags, SOCKADDR* from, int* fromlen)
{
    return Receive(s, buf, len, flags, from, fromlen);
}

int sendto(SOCKET s, const char* buf, int len, int flags, const SOCKADDR* to, int tolen)
{
    if (to == nullptr)
        return Fail(WSAEFAULT, SOCKET_ERROR);
    return Send(s, buf, len, flags, to, tolen);
}

int setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen)
{
    const TSocketPtr state = Sockets().Find(s);
    if (!state)
        return Fail(WSAENOTSOCK, SOCKET_ERROR);
    int nativeLevel = 0;
    int nativeName = 0;
    if (!MapOption(level, optname, nativeLevel, nativeName) || optname == win::SoError || optname == win::SoType)
        return Fail(WSAENOPROTOOPT, SOCKET_ERROR);
    if (optval == nullptr || optlen < static_cast<int>(sizeof(int)))
        return Fail(WSAEFAULT, SOCKET_ERROR);
    int value = 0;
    std::memcpy(&value, optval, sizeof value);
    return ::setsockopt(state->Fd.Get(), nativeLevel, nativeName, &value, sizeof value) == 0 ? 0 : FailErrno();
}

int getsockopt(SOCKET s, int level, int optname, char* optval, int* optlen)
{
    const TSocketPtr state = Sockets().Find(s);
    if (!state)
        return Fail(WSAENOTSOCK, SOCKET_ERROR);
    int nativeLevel = 0;
    int nativeName = 0;
    if (!MapOption(level, optname, nativeLevel, nativeName))
        return Fail(WSAENOPROTOOPT, SOCKET_ERROR);
    if (optval == nullptr || optlen == nullptr || *optlen < static_cast<int>(sizeof(int)))
        return Fail(WSAEFAULT, SOCKET_ERROR);
    int value = 0;
    socklen_t length = sizeof value;
    if (::getsockopt(state->Fd.Get(), nativeLevel, nativeName, &value, &length) != 0)
        return FailErrno();
    if (optname == win::SoError)
        value = ErrnoToWsa(value);
    std::memcpy(optval, &value, sizeof value);
    *optlen = sizeof value;
    return 0;
}

int ioctlsocket(SOCKET s, LONG cmd, ULONG* argp)
{
    const TSocketPtr state = Sockets().Find(s);
    if (!state)
        return Fail(WSAENOTSOCK, SOCKET_ERROR);
    if (argp == nullptr)
        return Fail(WSAEFAULT, SOCKET_ERROR);
    if (cmd == win::FionRead)
    {
        int count = 0;
        if (::ioctl(state->Fd.Get(), FIONREAD, &count) != 0)
            return FailErrno();
        *argp = static_cast<ULONG>(count);
        return 0;
    }
    if (cmd != win::FionBio)
        return Fail(WSAEINVAL, SOCKET_ERROR);
    const bool nonBlocking = *argp != 0;
    {
        std::lock_guard lock(state->Lock);
        if (!nonBlocking && state->Mask != 0) // an event selection needs a non-blocking socket
            return Fail(WSAEINVAL, SOCKET_ERROR);
    }
    if (!SetNonBlocking(*state, nonBlocking))
        return FailErrno();
    state->NonBlocking = nonBlocking;
    return 0;
}

// === Byte order and address texts ========================================================

USHORT(htons)(USHORT hostshort) noexcept
{
    return ::htons(hostshort);
}

USHORT(ntohs)(USHORT netshort) noexcept
{
    return ::ntohs(netshort);
}

ULONG(htonl)(ULONG hostlong) noexcept
{
    return ::htonl(hostlong);
}

ULONG(ntohl)(ULONG netlong) noexcept
{
    return ::ntohl(netlong);
}

ULONG inet_addr(const char* cp) noexcept
{
    // inet_aton stops at white space and ignores what follows; an address text has none.
    if (cp == nullptr || std::strpbrk(cp, " \t\r\n\v\f") != nullptr)
        return win::InaddrNone;
    return ::inet_addr(cp);
}

char* inet_ntoa(IN_ADDR in) noexcept
{
    thread_local char text[16];
    const BYTE* bytes = &in.S_un.S_un_b.s_b1;
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", bytes[0], bytes[1], bytes[2], bytes[3]);
    return text;
}

namespace {

/// getaddrinfo's answer from a test hook's IPv4 result.
int HookedAddrInfo(const THostLookupResult& AFound, const ADDRINFOA& AHints, PADDRINFOA* ppResult)
{
    if (AFound.Error != 0)
        return Fail(AFound.Error, AFound.Error);
    std::vector<sockaddr_in> addresses(AFound.Addresses.size());
    std::vector<addrinfo> records(AFound.Addresses.size());
    for (size_t i = 0; i < records.size(); ++i)
    {
        addresses[i].sin_family = AF_INET;
        addresses[i].sin_addr.s_addr = AFound.Addresses[i];
        records[i].ai_family = AF_INET;
        records[i].ai_socktype = SOCK_STREAM;
        records[i].ai_addrlen = sizeof(sockaddr_in);
        records[i].ai_addr = reinterpret_cast<sockaddr*>(&addresses[i]);
        records[i].ai_next = i + 1 < records.size() ? &records[i + 1] : nullptr;
    }
    *ppResult = ConvertAddrInfo(records.empty() ? nullptr : records.data(), AHints);
    if (*ppResult == nullptr)
        return Fail(WSANO_DATA, WSANO_DATA);
    return 0;
}

} // namespace

int getaddrinfo(const char* pNodeName, const char* pServiceName, const ADDRINFOA* pHints, PADDRINFOA* ppResult)
{
    if (ppResult == nullptr)
        return Fail(WSAEINVAL, WSAEINVAL);
    *ppResult = nullptr;
    if (pNodeName == nullptr && pServiceName == nullptr)
        return Fail(WSAHOST_NOT_FOUND, WSAHOST_NOT_FOUND);
    const ADDRINFOA hints = pHints != nullptr ? *pHints : ADDRINFOA{};
    addrinfo native{};
    native.ai_family = MapFamilyToNative(hints.ai_family);
    if (native.ai_family < 0)
        return Fail(WSAEAFNOSUPPORT, WSAEAFNOSUPPORT);
    native.ai_flags = MapAiFlagsToNative(hints.ai_flags);
    native.ai_socktype = hints.ai_socktype;
    native.ai_protocol = hints.ai_protocol;
    const THostLookupHook hook = CurrentHostLookupHook();
    if (hook && pNodeName != nullptr && (hints.ai_flags & AI_NUMERICHOST) == 0)
        return HookedAddrInfo(hook(pNodeName), hints, ppResult);
    addrinfo* list = nullptr;
    const int result = ::getaddrinfo(pNodeName, pServiceName, &native, &list);
    if (result != 0)
    {
        const int error = GaiToWsa(result, errno);
        return Fail(error, error);
    }
    *ppResult = ConvertAddrInfo(list, hints);
    ::freeaddrinfo(list);
    if (*ppResult == nullptr)
        return Fail(WSANO_DATA, WSANO_DATA);
    return 0;
}

void freeaddrinfo(PADDRINFOA pAddrInfo) noexcept
{
    while (pAddrInfo != nullptr)
    {
        ADDRINFOA* next = pAddrInfo->ai_next;
        delete[] pAddrInfo->ai_canonname;
        delete reinterpret_cast<TAddrInfoRecord*>(pAddrInfo); // Info is the record's first member
        pAddrInfo = next;
    }
}

// === Events ===============================================================================

WSAEVENT WSACreateEvent()
{
    auto event = std::make_shared<TSocketEvent>();
    if (!event->IsValid())
        return Fail(WSA_NOT_ENOUGH_MEMORY, WSA_INVALID_EVENT);
    return internal::RegisterHandle(std::move(event));
}

BOOL WSACloseEvent(WSAEVENT hEvent)
{
    if (!internal::LookupHandleAs<TSocketEvent>(hEvent) || !internal::UnregisterHandle(hEvent))
        return Fail(WSA_INVALID_HANDLE, FALSE);
    return TRUE;
}

BOOL WSAResetEvent(WSAEVENT hEvent)
{
    return ResetEvent(hEvent);
}

BOOL WSASetEvent(WSAEVENT hEvent)
{
    return SetEvent(hEvent);
}

int WSAEventSelect(SOCKET s, WSAEVENT hEventObject, LONG lNetworkEvents)
{
    const TSocketPtr state = Sockets().Find(s);
    if (!state)
        return Fail(WSAENOTSOCK, SOCKET_ERROR);
    auto event = internal::LookupHandleAs<TSocketEvent>(hEventObject);
    if (!event && lNetworkEvents != 0)
        return Fail(WSAEINVAL, SOCKET_ERROR);
    if (!SetNonBlocking(*state, true))
        return FailErrno();
    state->NonBlocking = true;
    Associate(state, event, lNetworkEvents);
    return 0;
}

int WSAEnumNetworkEvents(SOCKET s, WSAEVENT hEventObject, LPWSANETWORKEVENTS lpNetworkEvents)
{
    const TSocketPtr state = Sockets().Find(s);
    if (!state)
        return Fail(WSAENOTSOCK, SOCKET_ERROR);
    if (lpNetworkEvents == nullptr)
        return Fail(WSAEFAULT, SOCKET_ERROR);
    std::shared_ptr<TSocketEvent> event;
    if (hEventObject != nullptr)
    {
        event = internal::LookupHandleAs<TSocketEvent>(hEventObject);
        if (!event)
            return Fail(WSA_INVALID_HANDLE, SOCKET_ERROR);
    }
    state->Enumerate(*lpNetworkEvents);
    if (event)
    {
        event->Reset();
        if (event->AnyRecorded()) // another socket of this event still has news
            event->Set();
    }
    return 0;
}

DWORD WSAWaitForMultipleEvents(DWORD cEvents, const WSAEVENT* lphEvents, BOOL fWaitAll, DWORD dwTimeout,
    BOOL /*fAlertable*/)
{
    return WaitForMultipleObjects(cEvents, lphEvents, fWaitAll, dwTimeout);
}

// === Asynchronous lookup ==================================================================

HANDLE WSAAsyncGetHostByName(HWND hWnd, UINT wMsg, const char* name, char* buf, int buflen)
{
    if (name == nullptr || buf == nullptr || buflen <= 0)
        return Fail(WSAEFAULT, HANDLE{});
    auto task = std::make_shared<TLookupTask>();
    task->Window = hWnd;
    task->Message = wMsg;
    task->Name = name;
    task->Buffer = buf;
    task->BufferLength = buflen;
    try
    {
        return Library().StartLookup(std::move(task));
    }
    catch (const std::system_error&) // no thread could be started
    {
        return Fail(WSAENOBUFS, HANDLE{});
    }
}

int WSACancelAsyncRequest(HANDLE hAsyncTaskHandle)
{
    const TLookupPtr task = Library().FindLookup(hAsyncTaskHandle);
    if (!task)
        return Fail(WSAEINVAL, SOCKET_ERROR);
    std::lock_guard lock(task->Lock);
    if (task->Completed || task->Cancelled)
        return Fail(WSAEALREADY, SOCKET_ERROR);
    task->Cancelled = true;
    return 0;
}

// === Modules ==============================================================================

void SetResolverExportsHidden(bool AHidden) noexcept
{
    ResolverHidden = AHidden;
}

void SetHostLookupHookForTests(THostLookupHook AHook)
{
    THostLookupHookSlot& slot = HostLookupHook();
    std::lock_guard lock(slot.Lock);
    slot.Hook = std::move(AHook);
}

namespace internal {

std::span<const TModuleExport> WinSock2ModuleExports() noexcept
{
    // The resolver comes last, so that hiding it is a shorter view of the same table.
    static const TModuleExport exports[] = {
        {"WSAStartup", Proc(&WSAStartup)},
        {"WSACleanup", Proc(&WSACleanup)},
        {"WSAGetLastError", Proc(&WSAGetLastError)},
        {"WSACreateEvent", Proc(&WSACreateEvent)},
        {"WSAResetEvent", Proc(&WSAResetEvent)},
        {"WSASetEvent", Proc(&WSASetEvent)},
        {"WSACloseEvent", Proc(&WSACloseEvent)},
        {"WSAEventSelect", Proc(&WSAEventSelect)},
        {"WSAWaitForMultipleEvents", Proc(&WSAWaitForMultipleEvents)},
        {"WSAEnumNetworkEvents", Proc(&WSAEnumNetworkEvents)},
        {"socket", Proc(&socket)},
        {"closesocket", Proc(&closesocket)},
        {"connect", Proc(&connect)},
        {"bind", Proc(&bind)},
        {"listen", Proc(&listen)},
        {"accept", Proc(&accept)},
        {"getsockname", Proc(&getsockname)},
        {"recv", Proc(&recv)},
        {"send", Proc(&send)},
        {"recvfrom", Proc(&recvfrom)},
        {"sendto", Proc(&sendto)},
        {"getaddrinfo", Proc(&getaddrinfo)},
        {"freeaddrinfo", Proc(&freeaddrinfo)},
    };
    const std::span<const TModuleExport> all(exports);
    return ResolverHidden ? all.first(all.size() - 2) : all;
}

std::span<const TModuleExport> WinSockModuleExports() noexcept
{
    static const TModuleExport exports[] = {
        {"WSAStartup", Proc(&WSAStartup)},
        {"WSACleanup", Proc(&WSACleanup)},
        {"WSAGetLastError", Proc(&WSAGetLastError)},
        {"WSAAsyncGetHostByName", Proc(&WSAAsyncGetHostByName)},
        {"WSACancelAsyncRequest", Proc(&WSACancelAsyncRequest)},
        {"socket", Proc(&socket)},
        {"closesocket", Proc(&closesocket)},
        {"shutdown", Proc(&shutdown)},
        {"connect", Proc(&connect)},
        {"bind", Proc(&bind)},
        {"listen", Proc(&listen)},
        {"accept", Proc(&accept)},
        {"getsockname", Proc(&getsockname)},
        {"recv", Proc(&recv)},
        {"send", Proc(&send)},
        {"recvfrom", Proc(&recvfrom)},
        {"sendto", Proc(&sendto)},
        {"setsockopt", Proc(&setsockopt)},
        {"ioctlsocket", Proc(&ioctlsocket)},
        {"htons", Proc(&htons)},
        {"ntohs", Proc(&ntohs)},
        {"inet_addr", Proc(&inet_addr)},
        {"inet_ntoa", Proc(&inet_ntoa)},
    };
    return exports;
}

} // namespace internal

} // namespace ix::os
