#pragma once
// Binding of the Windows Sockets library. Most functions are called directly (namespace ix::os);
// the event functions and the protocol-independent resolver are bound at run time from
// "ws2_32.dll" (the resolver only when the library has it), and the address-taking functions
// from "wsock32.dll". Each bound function has a wrapper of the same name here that loads its
// library on first use (once per process, under one lock) and calls through the pointer.
//
// Call the wrappers qualified (ix::connect): the same names exist in ix::os.

#include "platform/ixOsSockets.h"

namespace ix {

// --- "ws2_32.dll" -------------------------------------------------------------------------
// A failed load or a missing required function raises Exception with the system's text.

/// Makes a manual-reset event for WSAEventSelect; null on failure (WSAGetLastError).
os::WSAEVENT WSACreateEvent();
/// Resets hEvent.
os::BOOL WSAResetEvent(os::WSAEVENT hEvent);
/// Closes hEvent.
os::BOOL WSACloseEvent(os::WSAEVENT hEvent);
/// Lets socket s report the events lNetworkEvents to hEventObject (non-blocking from then on).
int WSAEventSelect(os::SOCKET s, os::WSAEVENT hEventObject, os::LONG lNetworkEvents);
/// Waits for one or all of the cEvents events, or dwTimeout ms.
os::DWORD WSAWaitForMultipleEvents(os::DWORD cEvents, const os::WSAEVENT* lphEvents, os::BOOL fWaitAll,
    os::DWORD dwTimeout, os::BOOL fAlertable);
/// Collects the events recorded for s and resets hEventObject.
int WSAEnumNetworkEvents(os::SOCKET s, os::WSAEVENT hEventObject, os::LPWSANETWORKEVENTS lpNetworkEvents);

/// Returns WSANO_RECOVERY (11003) without calling anything when the library lacks getaddrinfo.
int getaddrinfo(const char* pNodeName, const char* pServiceName, const os::ADDRINFOA* pHints,
    os::PADDRINFOA* ppResult);
/// Does nothing for a null list or when the library lacks freeaddrinfo.
void freeaddrinfo(os::PADDRINFOA pAddrInfo);

/// True when "ws2_32.dll" has both getaddrinfo and freeaddrinfo (loads it first).
bool IsIpV6Available();

// --- "wsock32.dll" ------------------------------------------------------------------------

/// Connects s to the address name (non-blocking: WSAEWOULDBLOCK while under way).
int connect(os::SOCKET s, const os::SOCKADDR* name, int namelen);
/// The local address of s.
int getsockname(os::SOCKET s, os::SOCKADDR* name, int* namelen);
/// Binds s to the address name.
int bind(os::SOCKET s, const os::SOCKADDR* name, int namelen);
/// Accepts a connection on the listening s; addr receives the peer's address.
os::SOCKET accept(os::SOCKET s, os::SOCKADDR* addr, int* addrlen);
/// Receives one datagram into buf; from receives the sender's address.
int recvfrom(os::SOCKET s, char* buf, int len, int flags, os::SOCKADDR* from, int* fromlen);
/// Sends one datagram of len bytes to the address to.
int sendto(os::SOCKET s, const char* buf, int len, int flags, const os::SOCKADDR* to, int tolen);

/// Unloads both libraries (the unit's finalisation); the next wrapper call loads them again.
void FreeWinSockLibraries() noexcept;

} // namespace ix
