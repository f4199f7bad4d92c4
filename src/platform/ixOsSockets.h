#pragma once
// Windows Sockets over POSIX sockets: the functions, structures, constants and error codes that
// the library calls, with the values and layouts of the Windows headers (address family 23 is
// IPv6, SOCKADDR_IN6 and ADDRINFOA are laid out as there).
//
// A SOCKET is a value of this layer's own socket table, never a file descriptor, so a closed
// socket is refused with WSAENOTSOCK instead of reaching a reused descriptor. Every function
// reports failure through WSAGetLastError (which is GetLastError) with a Windows Sockets code
// mapped from errno.
//
// Network events keep their Windows semantics on top of poll(2): a socket associated with an
// event by WSAEventSelect records its events while a wait polls that event. FD_CONNECT is
// recorded once; FD_READ once until the next recv/recvfrom; FD_WRITE once the connection is
// established (at once for a datagram socket) and again only after a send failed with
// WSAEWOULDBLOCK and the socket became writable; FD_CLOSE once. Each recorded event carries its
// own error slot (iErrorCode[FD_x_BIT]).
//
// The system's socket headers define several of these names as macros with other values
// (AF_INET6, SOL_SOCKET, FIONBIO...): no file includes both them and this header.

#include "platform/ixOsTypes.h"

#include <functional>
#include <string>
#include <vector>

namespace ix::os {

// --- Versions and start-up ----------------------------------------------------------------
inline constexpr int WSADESCRIPTION_LEN = 256;
inline constexpr int WSASYS_STATUS_LEN = 128;

struct WSADATA
{
    WORD wVersion;
    WORD wHighVersion;
    USHORT iMaxSockets;
    USHORT iMaxUdpDg;
    CHAR* lpVendorInfo;
    CHAR szDescription[WSADESCRIPTION_LEN + 1];
    CHAR szSystemStatus[WSASYS_STATUS_LEN + 1];
};
using LPWSADATA = WSADATA*;

constexpr WORD MAKEWORD(BYTE ALow, BYTE AHigh) noexcept
{
    return static_cast<WORD>(ALow | (AHigh << 8));
}

// --- Address families, socket types, protocols --------------------------------------------
inline constexpr int AF_UNSPEC = 0;
inline constexpr int AF_INET = 2;
inline constexpr int AF_INET6 = 23;
inline constexpr int PF_UNSPEC = AF_UNSPEC;
inline constexpr int PF_INET = AF_INET;
inline constexpr int PF_INET6 = AF_INET6;

inline constexpr int SOCK_STREAM = 1;
inline constexpr int SOCK_DGRAM = 2;

inline constexpr int IPPROTO_IP = 0;
inline constexpr int IPPROTO_TCP = 6;
inline constexpr int IPPROTO_UDP = 17;

inline constexpr ULONG INADDR_ANY = 0x00000000;
inline constexpr ULONG INADDR_LOOPBACK = 0x7F000001;
inline constexpr ULONG INADDR_NONE = 0xFFFFFFFF;

// --- Options and controls -----------------------------------------------------------------
inline constexpr int SOL_SOCKET = 0xFFFF;
inline constexpr int SO_REUSEADDR = 0x0004;
inline constexpr int SO_KEEPALIVE = 0x0008;
inline constexpr int SO_BROADCAST = 0x0020;
inline constexpr int SO_SNDBUF = 0x1001;
inline constexpr int SO_RCVBUF = 0x1002;
inline constexpr int SO_ERROR = 0x1007;
inline constexpr int SO_TYPE = 0x1008;
inline constexpr int TCP_NODELAY = 0x0001;

inline constexpr LONG FIONBIO = static_cast<LONG>(0x8004667E);
inline constexpr LONG FIONREAD = 0x4004667F;

inline constexpr int SD_RECEIVE = 0;
inline constexpr int SD_SEND = 1;
inline constexpr int SD_BOTH = 2;

inline constexpr int MSG_PEEK = 0x2;

inline constexpr int SOMAXCONN = 0x7FFFFFFF;

// --- Addresses ----------------------------------------------------------------------------
using ADDRESS_FAMILY = USHORT;

struct IN_ADDR
{
    union
    {
        struct
        {
            BYTE s_b1, s_b2, s_b3, s_b4;
        } S_un_b;
        struct
        {
            USHORT s_w1, s_w2;
        } S_un_w;
        ULONG S_addr;
    } S_un;
};

struct SOCKADDR
{
    ADDRESS_FAMILY sa_family;
    CHAR sa_data[14];
};

/// IPv4 socket address (16 bytes): family, port and address in network order, 8 zero bytes.
struct SOCKADDR_IN
{
    ADDRESS_FAMILY sin_family;
    USHORT sin_port;
    IN_ADDR sin_addr;
    CHAR sin_zero[8];
};

struct IN6_ADDR
{
    union
    {
        BYTE Byte[16];
        USHORT Word[8];
    } u;
};

/// IPv6 socket address (28 bytes).
struct SOCKADDR_IN6
{
    ADDRESS_FAMILY sin6_family;
    USHORT sin6_port;
    ULONG sin6_flowinfo;
    IN6_ADDR sin6_addr;
    ULONG sin6_scope_id;
};

/// Room for any socket address (128 bytes).
struct SOCKADDR_STORAGE
{
    ADDRESS_FAMILY ss_family;
    CHAR ss_pad1[6];
    LONGLONG ss_align;
    CHAR ss_pad2[112];
};

static_assert(sizeof(SOCKADDR_IN) == 16 && sizeof(SOCKADDR_IN6) == 28 && sizeof(SOCKADDR_STORAGE) == 128);

// --- Name resolution ----------------------------------------------------------------------
inline constexpr int AI_PASSIVE = 0x01;
inline constexpr int AI_CANONNAME = 0x02;
inline constexpr int AI_NUMERICHOST = 0x04;

/// One record of a getaddrinfo result, in the field order of the Windows headers.
struct ADDRINFOA
{
    int ai_flags;
    int ai_family;
    int ai_socktype;
    int ai_protocol;
    SIZE_T ai_addrlen;
    CHAR* ai_canonname;
    SOCKADDR* ai_addr;
    ADDRINFOA* ai_next;
};
using PADDRINFOA = ADDRINFOA*;

/// The host entry that WSAAsyncGetHostByName writes at the start of its buffer; every pointer
/// points into that buffer.
struct HOSTENT
{
    CHAR* h_name;
    CHAR** h_aliases;
    SHORT h_addrtype;
    SHORT h_length;
    CHAR** h_addr_list;
};

inline constexpr int MAXGETHOSTSTRUCT = 1024;

/// The lParam of an asynchronous lookup's completion message: buffer length and error.
constexpr LPARAM WSAMAKEASYNCREPLY(WORD ABufLen, WORD AError) noexcept
{
    return static_cast<LPARAM>(static_cast<DWORD>(ABufLen) | (static_cast<DWORD>(AError) << 16));
}
constexpr WORD WSAGETASYNCERROR(LPARAM AParam) noexcept
{
    return static_cast<WORD>((static_cast<DWORD>(AParam) >> 16) & 0xFFFF);
}
constexpr WORD WSAGETASYNCBUFLEN(LPARAM AParam) noexcept
{
    return static_cast<WORD>(static_cast<DWORD>(AParam) & 0xFFFF);
}

// --- Network events -----------------------------------------------------------------------
inline constexpr LONG FD_READ_BIT = 0;
inline constexpr LONG FD_WRITE_BIT = 1;
inline constexpr LONG FD_OOB_BIT = 2;
inline constexpr LONG FD_ACCEPT_BIT = 3;
inline constexpr LONG FD_CONNECT_BIT = 4;
inline constexpr LONG FD_CLOSE_BIT = 5;
inline constexpr LONG FD_MAX_EVENTS = 10;

inline constexpr LONG FD_READ = 1 << FD_READ_BIT;
inline constexpr LONG FD_WRITE = 1 << FD_WRITE_BIT;
inline constexpr LONG FD_OOB = 1 << FD_OOB_BIT;
inline constexpr LONG FD_ACCEPT = 1 << FD_ACCEPT_BIT;
inline constexpr LONG FD_CONNECT = 1 << FD_CONNECT_BIT;
inline constexpr LONG FD_CLOSE = 1 << FD_CLOSE_BIT;

struct WSANETWORKEVENTS
{
    LONG lNetworkEvents;
    int iErrorCode[FD_MAX_EVENTS];
};
using LPWSANETWORKEVENTS = WSANETWORKEVENTS*;

inline const WSAEVENT WSA_INVALID_EVENT = nullptr;
inline constexpr DWORD WSA_WAIT_EVENT_0 = WAIT_OBJECT_0;
inline constexpr DWORD WSA_WAIT_TIMEOUT = WAIT_TIMEOUT;
inline constexpr DWORD WSA_WAIT_FAILED = WAIT_FAILED;
inline constexpr DWORD WSA_INFINITE = INFINITE;

// --- Error codes --------------------------------------------------------------------------
inline constexpr int WSA_INVALID_HANDLE = 6;
inline constexpr int WSA_NOT_ENOUGH_MEMORY = 8;
inline constexpr int WSA_INVALID_PARAMETER = 87;
inline constexpr int WSAEINTR = 10004;
inline constexpr int WSAEBADF = 10009;
inline constexpr int WSAEACCES = 10013;
inline constexpr int WSAEFAULT = 10014;
inline constexpr int WSAEINVAL = 10022;
inline constexpr int WSAEMFILE = 10024;
inline constexpr int WSAEWOULDBLOCK = 10035;
inline constexpr int WSAEINPROGRESS = 10036;
inline constexpr int WSAEALREADY = 10037;
inline constexpr int WSAENOTSOCK = 10038;
inline constexpr int WSAEDESTADDRREQ = 10039;
inline constexpr int WSAEMSGSIZE = 10040;
inline constexpr int WSAEPROTOTYPE = 10041;
inline constexpr int WSAENOPROTOOPT = 10042;
inline constexpr int WSAEPROTONOSUPPORT = 10043;
inline constexpr int WSAESOCKTNOSUPPORT = 10044;
inline constexpr int WSAEOPNOTSUPP = 10045;
inline constexpr int WSAEPFNOSUPPORT = 10046;
inline constexpr int WSAEAFNOSUPPORT = 10047;
inline constexpr int WSAEADDRINUSE = 10048;
inline constexpr int WSAEADDRNOTAVAIL = 10049;
inline constexpr int WSAENETDOWN = 10050;
inline constexpr int WSAENETUNREACH = 10051;
inline constexpr int WSAENETRESET = 10052;
inline constexpr int WSAECONNABORTED = 10053;
inline constexpr int WSAECONNRESET = 10054;
inline constexpr int WSAENOBUFS = 10055;
inline constexpr int WSAEISCONN = 10056;
inline constexpr int WSAENOTCONN = 10057;
inline constexpr int WSAESHUTDOWN = 10058;
inline constexpr int WSAETOOMANYREFS = 10059;
inline constexpr int WSAETIMEDOUT = 10060;
inline constexpr int WSAECONNREFUSED = 10061;
inline constexpr int WSAELOOP = 10062;
inline constexpr int WSAENAMETOOLONG = 10063;
inline constexpr int WSAEHOSTDOWN = 10064;
inline constexpr int WSAEHOSTUNREACH = 10065;
inline constexpr int WSAVERNOTSUPPORTED = 10092;
inline constexpr int WSANOTINITIALISED = 10093;
inline constexpr int WSATYPE_NOT_FOUND = 10109;
inline constexpr int WSAHOST_NOT_FOUND = 11001;
inline constexpr int WSATRY_AGAIN = 11002;
inline constexpr int WSANO_RECOVERY = 11003;
inline constexpr int WSANO_DATA = 11004;

// --- Start-up and errors ------------------------------------------------------------------

/// Starts the library for the caller (counted): 0, or WSAVERNOTSUPPORTED for a version below
/// 1.0. Fills lpWSAData with version 2.2 when given.
int WSAStartup(WORD wVersionRequested, LPWSADATA lpWSAData);
/// Releases one start; the last one waits for the asynchronous lookups still running.
/// SOCKET_ERROR with WSANOTINITIALISED when the library is not started.
int WSACleanup();
/// The calling thread's last error (the same value as GetLastError).
int WSAGetLastError() noexcept;
void WSASetLastError(int iError) noexcept;

// --- Sockets ------------------------------------------------------------------------------

/// A new socket (blocking until WSAEventSelect or FIONBIO makes it non-blocking), or
/// INVALID_SOCKET. Needs a started library (WSANOTINITIALISED otherwise).
SOCKET socket(int af, int type, int protocol);
/// Closes the socket and ends its association with an event.
int closesocket(SOCKET s);
int shutdown(SOCKET s, int how);
/// Connects. On a non-blocking socket a connection that cannot be completed at once fails
/// with WSAEWOULDBLOCK and is reported by FD_CONNECT; a loopback connection that the peer's
/// kernel accepted during the call succeeds at once.
int connect(SOCKET s, const SOCKADDR* name, int namelen);
int bind(SOCKET s, const SOCKADDR* name, int namelen);
int listen(SOCKET s, int backlog);
/// Accepts a pending connection; the new socket inherits the listening socket's blocking mode.
SOCKET accept(SOCKET s, SOCKADDR* addr, int* addrlen);
int getsockname(SOCKET s, SOCKADDR* name, int* namelen);
int getpeername(SOCKET s, SOCKADDR* name, int* namelen);
/// Receives up to len bytes: the count, 0 once the peer has closed, or SOCKET_ERROR.
int recv(SOCKET s, char* buf, int len, int flags);
/// Sends up to len bytes: the count the socket took (possibly fewer), or SOCKET_ERROR.
int send(SOCKET s, const char* buf, int len, int flags);
int recvfrom(SOCKET s, char* buf, int len, int flags, SOCKADDR* from, int* fromlen);
int sendto(SOCKET s, const char* buf, int len, int flags, const SOCKADDR* to, int tolen);
/// SOL_SOCKET options SO_REUSEADDR, SO_KEEPALIVE, SO_BROADCAST, SO_SNDBUF, SO_RCVBUF (32-bit
/// values) and IPPROTO_TCP TCP_NODELAY; others fail with WSAENOPROTOOPT.
int setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen);
/// As setsockopt, plus SO_ERROR and SO_TYPE.
int getsockopt(SOCKET s, int level, int optname, char* optval, int* optlen);
/// FIONBIO (non-zero: non-blocking) and FIONREAD (bytes ready to receive).
int ioctlsocket(SOCKET s, LONG cmd, ULONG* argp);

// --- Byte order and address texts ---------------------------------------------------------
USHORT htons(USHORT hostshort) noexcept;
USHORT ntohs(USHORT netshort) noexcept;
ULONG htonl(ULONG hostlong) noexcept;
ULONG ntohl(ULONG netlong) noexcept;
/// The address of a dotted text in network order (every form inet_aton accepts: "10.1",
/// "0x7f.1"...), or INADDR_NONE (also for a text with white space in it).
ULONG inet_addr(const char* cp) noexcept;
/// The dotted text of an address, in a buffer of the calling thread valid until its next call.
char* inet_ntoa(IN_ADDR in) noexcept;

/// Resolves a host name or numeric text into a list of records (one per address: the socket
/// type and protocol of the hints) to be released with freeaddrinfo. Returns 0 or a Windows
/// Sockets code (WSAHOST_NOT_FOUND, WSATRY_AGAIN, WSANO_RECOVERY, WSAEAFNOSUPPORT...).
int getaddrinfo(const char* pNodeName, const char* pServiceName, const ADDRINFOA* pHints, PADDRINFOA* ppResult);
void freeaddrinfo(PADDRINFOA pAddrInfo) noexcept;

// --- Events -------------------------------------------------------------------------------

/// A manual-reset, non-signalled event that sockets can report to; WSA_INVALID_EVENT on failure.
WSAEVENT WSACreateEvent();
BOOL WSACloseEvent(WSAEVENT hEvent);
BOOL WSAResetEvent(WSAEVENT hEvent);
BOOL WSASetEvent(WSAEVENT hEvent);
/// Associates s with hEventObject for lNetworkEvents (0: ends the association), clears its
/// recorded events and makes it non-blocking.
int WSAEventSelect(SOCKET s, WSAEVENT hEventObject, LONG lNetworkEvents);
/// Hands out and clears the events recorded for s; resets hEventObject when given.
int WSAEnumNetworkEvents(SOCKET s, WSAEVENT hEventObject, LPWSANETWORKEVENTS lpNetworkEvents);
/// WaitForMultipleObjects over events (fAlertable is ignored).
DWORD WSAWaitForMultipleEvents(DWORD cEvents, const WSAEVENT* lphEvents, BOOL fWaitAll, DWORD dwTimeout,
    BOOL fAlertable);

// --- Asynchronous IPv4 lookup -------------------------------------------------------------

/// Looks name up on a worker thread. When done (and not cancelled), writes a HOSTENT with its
/// IPv4 addresses into buf and posts wMsg to hWnd with wParam = the task handle and lParam =
/// WSAMAKEASYNCREPLY(needed length, error): 0, WSAHOST_NOT_FOUND, WSANO_DATA, WSATRY_AGAIN,
/// WSANO_RECOVERY, or WSAENOBUFS when buflen is too small. Returns the task handle, or null.
HANDLE WSAAsyncGetHostByName(HWND hWnd, UINT wMsg, const char* name, char* buf, int buflen);
/// Cancels a lookup: nothing is written or posted afterwards. SOCKET_ERROR with WSAEALREADY
/// when it has completed, WSAEINVAL for an unknown handle.
int WSACancelAsyncRequest(HANDLE hAsyncTaskHandle);

// --- For tests ----------------------------------------------------------------------------

/// Makes "ws2_32.dll" export neither "getaddrinfo" nor "freeaddrinfo" (a system without the
/// protocol-independent resolver) while AHidden is true. Takes effect at its next load.
void SetResolverExportsHidden(bool AHidden) noexcept;

/// The outcome of one IPv4 host lookup: a Windows Sockets error (0: found) and, when found, the
/// addresses (network byte order) and the canonical name (empty: the name that was asked for).
struct THostLookupResult
{
    int Error = 0;
    std::vector<ULONG> Addresses;
    std::string CanonicalName;
};
using THostLookupHook = std::function<THostLookupResult(const std::string& AName)>;

/// Replaces the system resolver that WSAAsyncGetHostByName's worker threads and getaddrinfo
/// (for names that are not numeric addresses; IPv4 answers only) call with AHook (empty: the
/// system's again), so that a lookup can block until a test releases it, or fail with a chosen
/// error. Lookups already running keep the resolver they started with.
void SetHostLookupHookForTests(THostLookupHook AHook);

} // namespace ix::os
