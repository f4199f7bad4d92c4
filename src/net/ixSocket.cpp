#include "net/ixSocket.h"

#include "core/ixSysUtils.h"
#include "net/ixWinSock2.h"
#include "platform/ixOsKernel.h"
#include "platform/ixOsMessages.h"
#include "util/ixSecret.h"
#include "util/ixTranslator.h"

#include <algorithm>
#include <exception>
#include <new>
#include <utility>

namespace ix {

namespace {

/// One stream read takes in this many batches, or this many bytes when that is more (so that
/// small batches do not wait once every few kilobytes), before it returns to its caller.
constexpr int32_t MaxBatchesPerRead = 8;
constexpr int64_t MinBytesPerRead = 128 * 1024;

/// The Windows Sockets errors of a send after which the peer counts as gone.
bool IsConnectionLost(int AError) noexcept
{
    return AError >= os::WSAENETDOWN && AError <= os::WSAECONNRESET;
}

/// Raises the error of an event's slot when it is not zero.
void CheckEventError(const os::WSANETWORKEVENTS& AEvents, os::LONG ABit)
{
    if (const int error = AEvents.iErrorCode[ABit])
        RaiseSocketError(error);
}

bool Has(const os::WSANETWORKEVENTS& AEvents, os::LONG AEvent) noexcept
{
    return (AEvents.lNetworkEvents & AEvent) != 0;
}

/// A transfer buffer of ASize bytes; raises the socket error when there is no memory.
std::unique_ptr<char[]> AllocateBuffer(int32_t ASize)
{
    try
    {
        return std::make_unique_for_overwrite<char[]>(static_cast<size_t>(ASize));
    }
    catch (const std::bad_alloc&)
    {
        RaiseSocketError(os::WSA_NOT_ENOUGH_MEMORY);
    }
}

/// The transfer buffer of one write; zeroed before release when the bytes carry a secret.
class TWriteBuffer
{
public:
    TWriteBuffer(int32_t ASize, bool ASecret) : FSecret(ASecret) { Resize(ASize); }
    ~TWriteBuffer() { Wipe(); }
    TWriteBuffer(const TWriteBuffer&) = delete;
    TWriteBuffer& operator=(const TWriteBuffer&) = delete;

    char* Data() const noexcept { return FData.get(); }
    int32_t Capacity() const noexcept { return FCapacity; }
    void Resize(int32_t ASize)
    {
        Wipe();
        FData = AllocateBuffer(ASize);
        FCapacity = ASize;
    }

private:
    void Wipe() noexcept
    {
        if (FSecret && FData)
            os::SecureZeroMemory(FData.get(), static_cast<size_t>(FCapacity));
    }

    std::unique_ptr<char[]> FData;
    int32_t FCapacity = 0;
    bool FSecret;
};

/// Runs ABody; then, also when it raises, AFinally (whose own exception wins).
template <typename TBody, typename TFinally>
void TryFinally(TBody&& ABody, TFinally&& AFinally)
{
    try
    {
        ABody();
    }
    catch (...)
    {
        AFinally();
        throw;
    }
    AFinally();
}

} // namespace

// === TixSocket ============================================================================

TixSocket::~TixSocket()
{
    TixSocket::Close();
}

void TixSocket::Close()
{
    if (FHandle != os::INVALID_SOCKET)
    {
        (void)os::shutdown(FHandle, os::SD_BOTH);
        (void)os::closesocket(FHandle);
        FHandle = os::INVALID_SOCKET;
    }
    FAddressFamily = 0;
}

void TixSocket::Assign(os::SOCKET AHandle, int32_t AFamily)
{
    // Never lose a handle: one that is replaced is closed (an accepted socket replaces the
    // listening one, a new connect the socket of a failed one).
    if (FHandle != os::INVALID_SOCKET && FHandle != AHandle)
        (void)os::closesocket(FHandle);
    FHandle = AHandle;
    FAddressFamily = AFamily;
}

// === TixNetworkStream =====================================================================

TixNetworkStream::TixNetworkStream() : FThrottleEvent(CreateAutoResetEvent())
{
}

TixNetworkStream::~TixNetworkStream() = default;

void TixNetworkStream::SetNextAction(uint8_t AValue) noexcept
{
    if (FNextAction == naNone)
        FNextAction = AValue;
}

void TixNetworkStream::SetLocalIP(const std::string& AValue)
{
    FLocalIP = AValue;
    if (FConnection != nullptr)
        FConnection->SetLocalIP(AValue);
}

void TixNetworkStream::SetLocalPort(int32_t AValue)
{
    FLocalPort = AValue;
    if (FConnection != nullptr)
        FConnection->SetLocalPort(AValue);
}

void TixNetworkStream::SetPeerIP(const std::string& AValue)
{
    FPeerIP = AValue;
    if (FConnection != nullptr)
        FConnection->SetPeerIP(AValue);
}

void TixNetworkStream::SetPeerPort(int32_t AValue)
{
    FPeerPort = AValue;
    if (FConnection != nullptr)
        FConnection->SetPeerPort(AValue);
}

bool TixNetworkStream::NeedStop()
{
    return FConnection->GetIsAborted() || IsProceedLimit();
}

void TixNetworkStream::ThrottleTransfer(int32_t ASize)
{
    const int32_t bitsPerSec = FConnection->GetBitsPerSec();
    if (bitsPerSec <= 0 || ASize <= 0)
        return;
    // 64-bit: a batch above 268 KB would overflow 32 bits (ASize * 8000).
    const int64_t delay = std::min<int64_t>(int64_t{ASize} * 8 * 1000 / bitsPerSec, os::INFINITE - 1);
    const auto delayMs = static_cast<os::DWORD>(delay);
    // Without GUI processing the messages are left queued; the wait must then not wake for
    // them (here queued input wakes every wait, not only new input as on Windows).
    const bool dispatch = !FConnection->GetDisableGuiProcessing();
    const os::DWORD mask = dispatch ? os::QS_ALLEVENTS : 0;
    const int savedError = os::WSAGetLastError();
    const os::DWORD start = os::GetTickCount();
    const os::HANDLE handle = FThrottleEvent.Get();
    const auto elapsed = [start] { return os::GetTickCount() - start; };
    for (;;)
    {
        const os::DWORD result = os::MsgWaitForMultipleObjects(1, &handle, os::FALSE, delayMs, mask);
        if (result == os::WAIT_OBJECT_0 || result == os::WAIT_TIMEOUT || result == os::WAIT_FAILED)
            break;
        os::MSG msg;
        while (elapsed() <= delayMs && os::PeekMessageA(&msg, nullptr, 0, 0, os::PM_REMOVE))
        {
            os::TranslateMessage(&msg);
            os::DispatchMessageA(&msg);
        }
        if (elapsed() > delayMs)
            break;
    }
    os::WSASetLastError(savedError);
}

int32_t TixNetworkStream::GetBatchSize()
{
    const int32_t batchSize = FConnection->GetBatchSize();
    if (batchSize < 1)
        RaiseSocketError(SocketErrorInvalidBatchSize);
    const int64_t limit = FConnection->GetBytesToProceed();
    if (limit > -1 && limit >= FProceeded && batchSize > limit - FProceeded)
        return static_cast<int32_t>(limit - FProceeded);
    return batchSize;
}

void TixNetworkStream::SetConnection(TixConnection* AConnection)
{
    FConnection = AConnection;
}

void TixNetworkStream::Assign(const TixNetworkStream& ASource)
{
    SetPeerIP(ASource.FPeerIP);
    SetPeerPort(ASource.FPeerPort);
    SetLocalIP(ASource.FLocalIP);
    SetLocalPort(ASource.FLocalPort);
    FReadPending = ASource.FReadPending;
}

bool TixNetworkStream::Connect(TixIPAddress& AAddress, int32_t APort)
{
    FPeerClosed = false;
    ClearNextAction();
    OpenClientSession();
    AAddress.SetPort(APort);
    bool connected = true;
    if (ix::connect(Handle(), AAddress.GetSockAddr(), AAddress.GetSockAddrLen()) == os::SOCKET_ERROR)
    {
        const int error = os::WSAGetLastError();
        if (error != os::WSAEWOULDBLOCK)
            RaiseSocketError(error);
        connected = false;
    }
    SetPeer(AAddress);
    return connected;
}

void TixNetworkStream::ConnectCompleted()
{
    RefreshLocalAddress();
}

void TixNetworkStream::Bind(TixIPAddress& AAddress, int32_t APort)
{
    AAddress.SetPort(APort);
    if (ix::bind(Handle(), AAddress.GetSockAddr(), AAddress.GetSockAddrLen()) == os::SOCKET_ERROR)
        RaiseSocketError(os::WSAGetLastError());
}

void TixNetworkStream::BindRange(TixIPAddress& AAddress, int32_t AMinPort, int32_t AMaxPort)
{
    if (AMinPort < 1 || AMinPort > AMaxPort)
        RaiseSocketError(SocketErrorInvalidPort);
    for (int32_t port = AMinPort;; ++port)
    {
        AAddress.SetPort(port);
        if (ix::bind(Handle(), AAddress.GetSockAddr(), AAddress.GetSockAddrLen()) != os::SOCKET_ERROR)
            return;
        const int error = os::WSAGetLastError();
        if ((error != os::WSAEADDRINUSE && error != os::WSAEACCES) || port >= AMaxPort)
            RaiseSocketError(error);
    }
}

void TixNetworkStream::EnableBroadcast()
{
    if (FConnection->GetSocket().GetAddressFamily() == os::AF_INET6)
        RaiseSocketError(SocketErrorInvalidFamily);
    const int32_t enable = 1;
    if (os::setsockopt(Handle(), os::SOL_SOCKET, os::SO_BROADCAST, reinterpret_cast<const char*>(&enable),
            sizeof enable)
        == os::SOCKET_ERROR)
        RaiseSocketError(os::WSAGetLastError());
}

void TixNetworkStream::Listen()
{
    FPeerClosed = false;
    ClearNextAction();
    os::ULONG nonBlocking = 1;
    if (os::ioctlsocket(Handle(), os::FIONBIO, &nonBlocking) == os::SOCKET_ERROR
        || os::listen(Handle(), 1) == os::SOCKET_ERROR)
        RaiseSocketError(os::WSAGetLastError());
    const auto address = TixIPAddress::CreateEmpty(FConnection->GetSocket().GetAddressFamily());
    int length = address->GetSockAddrLen();
    if (ix::getsockname(Handle(), address->GetSockAddr(), &length) == os::SOCKET_ERROR)
        RaiseSocketError(os::WSAGetLastError());
    SetLocalPort(address->GetPort());
}

void TixNetworkStream::Accept()
{
    FPeerClosed = false;
    ClearNextAction();
    OpenServerSession();
    TixSocket& socket = FConnection->GetSocket();
    const int32_t family = socket.GetAddressFamily();
    const auto address = TixIPAddress::CreateEmpty(family);
    int length = address->GetSockAddrLen();
    const os::SOCKET accepted = ix::accept(Handle(), address->GetSockAddr(), &length);
    if (accepted == os::INVALID_SOCKET)
        RaiseSocketError(os::WSAGetLastError());
    socket.Assign(accepted, family);
    SetPeer(*address);
}

void TixNetworkStream::AcceptCompleted()
{
    RefreshLocalAddress();
}

void TixNetworkStream::CloseStream(bool /*ANotifyPeer*/)
{
    ClearNextAction();
}

void TixNetworkStream::BeforeSocketClose()
{
}

void TixNetworkStream::StreamReady()
{
    FConnection->DoReady();
}

bool TixNetworkStream::Read(TStream* AData)
{
    ClearNextAction();
    if (AData == nullptr)
        return true;
    std::unique_ptr<char[]> buffer;
    int32_t capacity = 0;
    // What is immediately available is taken, but a sender that keeps the socket full does not
    // keep one call here for a whole transfer: the caller sees (and reports) the data in steps.
    // Once the peer has closed, everything it sent is taken, because the connection closes
    // after this read.
    int64_t taken = 0;
    const int64_t enough =
        std::max(int64_t{MaxBatchesPerRead} * FConnection->GetBatchSize(), MinBytesPerRead);
    const bool draining = FConnection->PeerClosed();
    for (;;)
    {
        const int32_t size = GetReadBatchSize();
        if (size < 1) // the read limit is reached: a zero-byte recv would look like a close
            return true;
        if (size > capacity)
        {
            buffer = AllocateBuffer(size);
            capacity = size;
        }
        const int32_t received = ReadBuffer(buffer.get(), size);
        if (received == os::SOCKET_ERROR)
        {
            const int error = os::WSAGetLastError();
            if (error != os::WSAEWOULDBLOCK)
                RaiseSocketError(error);
            return false;
        }
        if (received == 0)
        {
            FPeerClosed = true;
            return true;
        }
        AData->WriteBuffer(buffer.get(), received);
        UpdateProgress(received);
        taken += received;
        if (NeedStop())
            return true;
        // A short receive emptied the socket: asking again would only hear WSAEWOULDBLOCK.
        if (!draining && (received < size || taken >= enough))
            return true;
    }
}

bool TixNetworkStream::Write(TStream* AData)
{
    if (AData == nullptr || AData->Remaining() <= 0)
        return true;
    return WriteCount(AData, -1);
}

bool TixNetworkStream::WriteCount(TStream* AData, int64_t ACount)
{
    ClearNextAction();
    if (ACount == 0 || AData == nullptr)
        return true;
    const int64_t remaining = AData->Remaining();
    if (remaining <= 0)
        return true;
    if (ACount < 0 || ACount > remaining)
        ACount = remaining;
    const int32_t size = GetWriteBatchSize();
    if (size < 1)
        return true;
    TWriteBuffer buffer(size, FConnection->GetSecretWrite());
    int64_t sent = 0;
    for (;;)
    {
        const int32_t chunk = static_cast<int32_t>(std::min<int64_t>(GetWriteBatchSize(), ACount - sent));
        if (chunk > buffer.Capacity())
            buffer.Resize(chunk);
        AData->ReadBuffer(buffer.Data(), chunk);
        const int32_t written = WriteBuffer(buffer.Data(), chunk);
        const int error = os::WSAGetLastError();
        if (written == os::SOCKET_ERROR)
        {
            AData->Seek(-chunk, soCurrent);
            if (error == os::WSAEWOULDBLOCK)
                return false;
            if (IsConnectionLost(error))
                FPeerClosed = true;
            RaiseSocketError(error);
        }
        sent += written;
        if (written < chunk)
            AData->Seek(written - chunk, soCurrent);
        UpdateProgress(written);
        if (sent >= ACount || NeedStop())
            return true;
    }
}

bool TixNetworkStream::ReadFrom(TStream* AData, TixIPAddress& AAddress, int32_t& APort)
{
    ClearNextAction();
    const int32_t size = GetReadBatchSize();
    if (AData != nullptr && size > 0)
    {
        const std::unique_ptr<char[]> buffer = AllocateBuffer(size);
        int length = AAddress.GetSockAddrLen();
        const int received = ix::recvfrom(Handle(), buffer.get(), size, 0, AAddress.GetSockAddr(), &length);
        ThrottleTransfer(size);
        if (received == os::SOCKET_ERROR)
        {
            const int error = os::WSAGetLastError();
            if (error != os::WSAEWOULDBLOCK)
                RaiseSocketError(error);
            return false;
        }
        if (received > 0)
        {
            AData->WriteBuffer(buffer.get(), received);
            UpdateProgress(received);
        }
    }
    RefreshLocalAddress();
    SetPeer(AAddress);
    APort = FPeerPort;
    return true;
}

bool TixNetworkStream::WriteTo(TStream* AData, TixIPAddress& AAddress, int32_t APort)
{
    ClearNextAction();
    const int32_t size = GetWriteBatchSize();
    if (AData == nullptr || AData->Remaining() <= 0 || size < 1)
        return true;
    AAddress.SetPort(APort);
    const auto chunk = static_cast<int32_t>(std::min<int64_t>(size, AData->Remaining()));
    const std::unique_ptr<char[]> buffer = AllocateBuffer(chunk);
    AData->ReadBuffer(buffer.get(), chunk);
    const int sent = ix::sendto(Handle(), buffer.get(), chunk, 0, AAddress.GetSockAddr(), AAddress.GetSockAddrLen());
    ThrottleTransfer(chunk);
    bool result = true;
    if (sent == os::SOCKET_ERROR)
    {
        const int error = os::WSAGetLastError();
        AData->Seek(-chunk, soCurrent);
        if (error != os::WSAEWOULDBLOCK)
            RaiseSocketError(error);
        result = false;
    }
    else
    {
        AData->Seek(sent - chunk, soCurrent);
        UpdateProgress(sent);
    }
    RefreshLocalAddress();
    SetPeer(AAddress);
    return result;
}

int32_t TixNetworkStream::ReadBuffer(void* ABuffer, int32_t ASize)
{
    const int result = os::recv(Handle(), static_cast<char*>(ABuffer), ASize, 0);
    ThrottleTransfer(ASize);
    return result;
}

int32_t TixNetworkStream::WriteBuffer(const void* ABuffer, int32_t ASize)
{
    const int result = os::send(Handle(), static_cast<const char*>(ABuffer), ASize, 0);
    ThrottleTransfer(ASize);
    return result;
}

int32_t TixNetworkStream::GetReadBatchSize()
{
    return GetBatchSize();
}

int32_t TixNetworkStream::GetWriteBatchSize()
{
    return GetBatchSize();
}

bool TixNetworkStream::IsProceedLimit()
{
    const int64_t limit = FConnection->GetBytesToProceed();
    return limit >= 0 && limit <= FProceeded;
}

void TixNetworkStream::ResetProceed()
{
    FProceeded = 0;
}

void TixNetworkStream::UpdateProgress(int64_t ADelta)
{
    FProceeded += ADelta;
    FConnection->AddProgress(ADelta);
}

void TixNetworkStream::OpenClientSession()
{
}

void TixNetworkStream::OpenServerSession()
{
}

os::SOCKET TixNetworkStream::Handle() const
{
    return FConnection->GetSocket().GetHandle();
}

void TixNetworkStream::RefreshLocalAddress()
{
    if (!FConnection->GetActive())
        return;
    const auto address = TixIPAddress::CreateEmpty(FConnection->GetSocket().GetAddressFamily());
    int length = address->GetSockAddrLen();
    if (ix::getsockname(Handle(), address->GetSockAddr(), &length) == os::SOCKET_ERROR)
        RaiseSocketError(os::WSAGetLastError());
    SetLocalIP(address->GetText());
    SetLocalPort(address->GetPort());
}

void TixNetworkStream::SetPeer(const TixIPAddress& AAddress)
{
    SetPeerIP(AAddress.GetText());
    SetPeerPort(AAddress.GetPort());
}

// === TixConnection ========================================================================

TixConnection::TixConnection() : FSocket(std::make_unique<TixSocket>())
{
}

TixConnection::~TixConnection()
{
    CloseQuietly();
}

TixNetworkStream* TixConnection::GetNetworkStream() const
{
    if (!FNetworkStream)
        RaiseSocketError(SocketErrorNoNetworkStream);
    return FNetworkStream.get();
}

void TixConnection::SetNetworkStream(std::unique_ptr<TixNetworkStream> AValue)
{
    if (AValue.get() == FNetworkStream.get())
    {
        (void)AValue.release(); // the same object: owned already
        return;
    }
    if (FNetworkStream && AValue)
        AValue->Assign(*FNetworkStream);
    FNetworkStream = std::move(AValue);
    if (FNetworkStream)
        FNetworkStream->SetConnection(this);
}

void TixConnection::InitProgress(int64_t ABytesProceed, int64_t ATotalBytes)
{
    FBytesProceed = ABytesProceed;
    if (FNetworkStream)
        FNetworkStream->ResetProceed();
    FTotalBytes = ATotalBytes;
}

void TixConnection::AddProgress(int64_t ADelta)
{
    FBytesProceed += ADelta;
    DoProgress(FBytesProceed, FTotalBytes);
}

void TixConnection::WriteString(const std::string& AText, const std::string& ACharSet, bool ASecret)
{
    TixByteArray bytes = TixTranslator::GetBytes(AText, ACharSet);
    const TWipeOnExit wipeBytes(bytes.data(), bytes.size(), ASecret);
    TMemoryStream stream;
    if (!bytes.empty())
        stream.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    const TWipeOnExit wipeStream(stream.Memory(), bytes.size(), ASecret);
    stream.SetPosition(0);
    FSecretWrite = ASecret;
    try
    {
        WriteData(&stream);
    }
    catch (...)
    {
        FSecretWrite = false;
        throw;
    }
    FSecretWrite = false;
}

void TixConnection::CreateSocket(int32_t AFamily, int32_t AType, int32_t AProtocol)
{
    FIsAborted = false;
    const os::SOCKET handle = os::socket(AFamily, AType, AProtocol);
    FSocket->Assign(handle, AFamily);
    if (handle == os::INVALID_SOCKET)
        RaiseSocketError(os::WSAGetLastError());
}

bool TixConnection::PeerClosed()
{
    return FNetworkStream && FNetworkStream->GetPeerClosed();
}

void TixConnection::ReleaseResources()
{
    FSocket.reset();
    FNetworkStream.reset();
}

void TixConnection::DoProgress(int64_t ABytesProceed, int64_t ATotalBytes)
{
    CallEvent(OnProgress, this, ABytesProceed, ATotalBytes);
}

void TixConnection::DoReady()
{
    CallEvent(OnReady, this);
}

void TixConnection::SetActive(bool AValue)
{
    FActive = AValue;
}

void TixConnection::Close(bool ANotifyPeer)
{
    std::exception_ptr error;
    try
    {
        ShutdownStream(ANotifyPeer);
    }
    catch (...)
    {
        error = std::current_exception();
    }
    const bool pending = !error && FActive && ANotifyPeer && FNetworkStream && FNetworkStream->GetNextAction() != naNone;
    if (!pending && FSocket)
    {
        if (FActive && FNetworkStream)
            FNetworkStream->BeforeSocketClose();
        SetActive(false);
        FSocket->Close();
    }
    if (error)
        std::rethrow_exception(error);
}

void TixConnection::ShutdownStream(bool ANotifyPeer)
{
    if (FActive && FNetworkStream)
        FNetworkStream->CloseStream(ANotifyPeer);
    if (ANotifyPeer)
        ProcessNextAction();
}

void TixConnection::ProcessNextAction()
{
}

void TixConnection::Abort()
{
    FIsAborted = true;
}

void TixConnection::CloseQuietly() noexcept
{
    try
    {
        Close(false);
    }
    catch (...) // a destructor reports nothing
    {
    }
}

// === TixSyncConnection ====================================================================

TixSyncConnection::TixSyncConnection()
    : FNetworkEvent(ix::WSACreateEvent()), FAbortEvent(CreateAutoResetEvent())
{
    if (!FNetworkEvent.IsValid())
        RaiseSocketError(os::WSAGetLastError());
}

TixSyncConnection::~TixSyncConnection()
{
    CloseQuietly();
    TixSyncConnection::ReleaseResources();
}

void TixSyncConnection::SelectEvents(int32_t AMask)
{
    if (ix::WSAEventSelect(GetSocket().GetHandle(), FNetworkEvent.Get(), AMask) == os::SOCKET_ERROR)
        RaiseSocketError(os::WSAGetLastError());
}

void TixSyncConnection::MarkStartTick() noexcept
{
    FStartTick = os::GetTickCount();
}

void TixSyncConnection::ReleaseResources()
{
    FNetworkEvent.Reset();
    FAbortEvent.Reset();
    TixConnection::ReleaseResources();
}

void TixSyncConnection::Abort()
{
    TixConnection::Abort();
    if (FAbortEvent.IsValid())
        (void)os::SetEvent(FAbortEvent.Get());
}

std::string TixSyncConnection::ResolveHost(const std::string& AHost)
{
    // An Abort of an earlier operation (every Close aborts) must not end this one.
    FIsAborted = false;
    (void)os::ResetEvent(FAbortEvent.Get());
    MarkStartTick();
    std::string result;
    TixHostResolver::ResolveHost(AHost, GetUseIpV6(), result, [this](os::HANDLE ADone) {
        while (!WaitForNetworkEvent(ADone, FAbortEvent.Get(), FStartTick, GetDisableGuiProcessing(), FTimeOut))
            if (FIsAborted)
                return false;
        return true;
    });
    return result;
}

bool TixSyncConnection::WaitForEvent(int32_t ATimeOut)
{
    return WaitForNetworkEvent(FNetworkEvent.Get(), FAbortEvent.Get(), FStartTick, GetDisableGuiProcessing(), ATimeOut);
}

os::WSANETWORKEVENTS TixSyncConnection::EnumNetworkEvents()
{
    os::WSANETWORKEVENTS events{};
    if (ix::WSAEnumNetworkEvents(GetSocket().GetHandle(), FNetworkEvent.Get(), &events) == os::SOCKET_ERROR)
        RaiseSocketError(os::WSAGetLastError());
    return events;
}

void TixSyncConnection::BindLocal(int32_t AFamily)
{
    if (Trim(FLocalBinding).empty())
        return;
    const auto address = TixIPAddress::CreateBindingAddress(FLocalBinding, AFamily);
    GetNetworkStream()->Bind(*address, 0);
}

// === TixTcpConnection =====================================================================

bool TixTcpConnection::PeerClosed()
{
    return FClosedByPeer || TixConnection::PeerClosed();
}

void TixTcpConnection::SetActive(bool AValue)
{
    TixConnection::SetActive(AValue);
    if (AValue)
        FClosedByPeer = false;
}

void TixTcpConnection::ReadData(TStream* AData)
{
    const int64_t start = AData != nullptr ? AData->GetPosition() : 0;
    ReadPass(AData);
    FollowNextActions(
        [&] {
            // A stream layer asks for another read while its message is incomplete (the rest
            // of a TLS record). Once bytes were delivered the caller has its batch, and the
            // next read brings the rest.
            if (AData != nullptr && AData->GetPosition() > start)
                GetNetworkStream()->ClearNextAction();
            else
                ReadPass(AData);
        },
        [this] { WriteData(nullptr); });
}

template <typename TOnRead, typename TOnWrite>
void TixTcpConnection::FollowNextActions(TOnRead&& AOnRead, TOnWrite&& AOnWrite)
{
    for (;;)
    {
        const uint8_t action = GetNetworkStream()->GetNextAction();
        if (action == naRead)
            AOnRead();
        else if (action == naWrite)
            AOnWrite();
        else
            break;
    }
}

void TixTcpConnection::ReadPass(TStream* AData)
{
    MarkStartTick();
    TixNetworkStream& stream = *GetNetworkStream();
    TryFinally(
        [&] {
            // Pending bytes are read without a wait when they can be delivered, or when a write
            // took the socket's read event. Bytes a stream holds for a destination are no reason
            // for a read without one (the rest of a record) to skip its wait.
            const bool eventTaken = std::exchange(FReadEventTaken, false);
            if (stream.GetReadPending() && (AData != nullptr || eventTaken))
            {
                stream.SetReadPending(false);
                stream.Read(AData);
                if (!stream.GetPeerClosed() && !GetActive())
                    stream.ClearNextAction();
                return;
            }
            for (;;)
            {
                if (!GetActive())
                    RaiseSocketError(os::WSAENOTSOCK);
                if (stream.GetPeerClosed())
                    return;
                if (WaitForEvent(GetTimeOut()))
                {
                    const os::WSANETWORKEVENTS events = EnumNetworkEvents();
                    if (Has(events, os::FD_CLOSE))
                    {
                        CheckEventError(events, os::FD_CLOSE_BIT);
                        FClosedByPeer = true;
                    }
                    if (Has(events, os::FD_READ))
                    {
                        CheckEventError(events, os::FD_READ_BIT);
                        stream.Read(AData);
                        return;
                    }
                    if (FClosedByPeer)
                        return;
                }
                if (stream.NeedStop())
                    return;
            }
        },
        [&] {
            if (PeerClosed())
                Close(false);
        });
}

void TixTcpConnection::WriteData(TStream* AData)
{
    WritePass(AData);
    FollowNextActions([this] { ReadData(nullptr); }, [this] { WritePass(nullptr); });
}

void TixTcpConnection::WritePass(TStream* AData)
{
    MarkStartTick();
    if (!GetActive())
        RaiseSocketError(os::WSAENOTSOCK);
    TixNetworkStream& stream = *GetNetworkStream();
    if (stream.GetPeerClosed())
    {
        Close(false);
        return;
    }
    try
    {
        if (!stream.Write(AData))
            WaitAndWrite(stream, AData);
    }
    catch (...)
    {
        if (stream.GetPeerClosed())
            Close(false);
        throw;
    }
}

void TixTcpConnection::WaitAndWrite(TixNetworkStream& AStream, TStream* AData)
{
    for (;;)
    {
        if (WaitForEvent(GetTimeOut()))
        {
            const os::WSANETWORKEVENTS events = EnumNetworkEvents();
            if (Has(events, os::FD_READ))
            {
                CheckEventError(events, os::FD_READ_BIT);
                AStream.SetReadPending(true);
                FReadEventTaken = true;
            }
            if (Has(events, os::FD_WRITE))
            {
                CheckEventError(events, os::FD_WRITE_BIT);
                MarkStartTick();
                if (AStream.Write(AData))
                    return;
            }
            if (Has(events, os::FD_CLOSE))
            {
                CheckEventError(events, os::FD_CLOSE_BIT);
                Close(false);
                return;
            }
        }
        if (AStream.GetPeerClosed())
        {
            Close(false);
            return;
        }
        if (AStream.NeedStop())
            return;
    }
}

void TixTcpConnection::ProcessNextAction()
{
    if (!HasNetworkStream()) // nothing to drive (a connection closed before it had a stream)
        return;
    const uint8_t action = GetNetworkStream()->GetNextAction();
    if (action == naRead)
        ReadData(nullptr);
    else if (action == naWrite)
        WriteData(nullptr);
}

// === TixTcpClientConnection ===============================================================

void TixTcpClientConnection::Connect(const std::string& AIP, int32_t APort)
{
    const auto address = TixIPAddress::CreateIpAddress(AIP);
    TixNetworkStream& stream = *GetNetworkStream();
    CreateSocket(address->GetFamily(), os::SOCK_STREAM, os::IPPROTO_TCP);
    SelectEvents(os::FD_CONNECT);
    BindLocal(address->GetFamily());
    if (!stream.Connect(*address, APort))
        WaitForConnect();
    SelectEvents(os::FD_READ | os::FD_WRITE | os::FD_CLOSE);
    if (FIsAborted)
    {
        Close(false);
        return;
    }
    SetActive(true);
    ProcessNextAction();
    if (!GetActive())
        RaiseSocketError(SocketErrorNotActive);
    stream.ConnectCompleted();
    stream.StreamReady();
}

void TixTcpClientConnection::WaitForConnect()
{
    MarkStartTick();
    const int32_t limit = FConnectTimeOut != 0 ? FConnectTimeOut : GetTimeOut();
    do
    {
        if (WaitForEvent(limit))
        {
            const os::WSANETWORKEVENTS events = EnumNetworkEvents();
            if (Has(events, os::FD_CONNECT))
            {
                CheckEventError(events, os::FD_CONNECT_BIT);
                return;
            }
        }
    } while (!FIsAborted);
}

void TixTcpClientConnection::BeginSession()
{
    if (!GetActive())
        RaiseSocketError(SocketErrorNotActive);
    TixNetworkStream& stream = *GetNetworkStream();
    stream.OpenClientSession();
    if (FIsAborted)
    {
        Close(false);
        return;
    }
    ProcessNextAction();
    stream.StreamReady();
}

// === TixUdpConnection =====================================================================

void TixUdpConnection::ReadData(TStream* AData)
{
    MarkStartTick();
    TixNetworkStream& stream = *GetNetworkStream();
    const auto address = TixIPAddress::CreateEmpty(GetSocket().GetAddressFamily());
    int32_t port = 0;
    if (stream.GetReadPending())
    {
        stream.SetReadPending(false);
        stream.ReadFrom(AData, *address, port);
        return;
    }
    do
    {
        if (!GetActive())
            RaiseSocketError(os::WSAENOTSOCK);
        if (WaitForEvent(GetTimeOut()))
        {
            const os::WSANETWORKEVENTS events = EnumNetworkEvents();
            if (Has(events, os::FD_READ))
            {
                CheckEventError(events, os::FD_READ_BIT);
                stream.ReadFrom(AData, *address, port);
                return;
            }
        }
    } while (!stream.NeedStop());
}

void TixUdpConnection::WriteData(TStream* AData)
{
    TixNetworkStream& stream = *GetNetworkStream();
    if (!GetActive())
        RaiseSocketError(os::WSAENOTSOCK);
    const auto address = TixIPAddress::CreateIpAddress(stream.GetPeerIP());
    MarkStartTick();
    if (stream.WriteTo(AData, *address, stream.GetPeerPort()))
        return;
    do
    {
        if (WaitForEvent(GetTimeOut()))
        {
            const os::WSANETWORKEVENTS events = EnumNetworkEvents();
            if (Has(events, os::FD_READ))
            {
                CheckEventError(events, os::FD_READ_BIT);
                stream.SetReadPending(true);
            }
            if (Has(events, os::FD_WRITE))
            {
                CheckEventError(events, os::FD_WRITE_BIT);
                MarkStartTick();
                if (stream.WriteTo(AData, *address, stream.GetPeerPort()))
                    return;
            }
        }
    } while (!stream.NeedStop());
}

// === TixUdpClientConnection ===============================================================

void TixUdpClientConnection::Connect(const std::string& AIP, int32_t APort)
{
    const auto address = TixIPAddress::CreateIpAddress(AIP);
    TixNetworkStream& stream = *GetNetworkStream();
    CreateSocket(address->GetFamily(), os::SOCK_DGRAM, os::IPPROTO_UDP);
    BindLocal(address->GetFamily());
    stream.SetPeerIP(AIP);
    stream.SetPeerPort(APort);
    SelectEvents(os::FD_READ | os::FD_WRITE);
    SetActive(true);
    stream.StreamReady();
}

} // namespace ix
