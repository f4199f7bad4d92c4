#pragma once
// Every error code that the library raises on its own account, in one place.
//
// Adding a code: take the next free number below the last entry of "Codes of the library's own"
// (never reuse one, never a number above -100), name it here with a one-line comment giving its
// exception class and message, and append the name to LibraryOwnErrorCodes at the end of this
// file. The core tests fail when two codes of this header are equal.
//
// Positive codes are system error numbers (Windows Sockets, SSPI, CryptoAPI), shown with the
// system's text. The encoder, SSPI, CryptoAPI and DKIM errors carry small fixed negative codes of
// their own class (-1 .. -99), documented with those classes.

#include <array>
#include <cstdint>

namespace ix {

// ---- Fixed codes of the socket error family (EixSocketError and its descendants) --------------

inline constexpr int32_t SocketErrorTimeout = -1;          ///< "Timeout error occured"
inline constexpr int32_t SocketErrorInvalidHost = -2;      ///< "Invalid host address"
inline constexpr int32_t SocketErrorInvalidPort = -3;      ///< "Invalid port number"
inline constexpr int32_t SocketErrorInvalidBatchSize = -4; ///< "Invalid Batch Size"
inline constexpr int32_t SocketErrorNoNetworkStream = -5;  ///< "NetworkStream is required"
inline constexpr int32_t SocketErrorNotActive = -6;        ///< "The connection to the server is not active"
inline constexpr int32_t SocketErrorInvalidFamily = -7;    ///< "Invalid address family"
/// EixTcpClientError "Unsupported firewall type".
inline constexpr int32_t TcpClientErrorUnsupportedFirewall = -101;
/// EixTcpClientError "Unable to logon to the server using Secure Password Authentication".
inline constexpr int32_t TcpClientErrorSecureLogon = -400;

// ---- Codes of the library's own ----------------------------------------------------------------

/// EixTcpClientError "The command contains a line break".
inline constexpr int32_t CommandLineBreakCode = -102;
/// EixSocksFirewallError: a request value the SOCKS request cannot carry (zero byte, port,
/// non-IPv4 destination for SOCKS 4).
inline constexpr int32_t SocksInvalidRequestValueCode = -103;
/// EixSocksFirewallError: a name or credential longer than its field, or a request longer than
/// the request buffer.
inline constexpr int32_t SocksRequestTooLongCode = -104;
/// EixTcpClientError: a reply line longer than the command client's MaxLineLength or
/// MaxBodyLineLength.
inline constexpr int32_t ReplyLineTooLongCode = -105;
/// EixTcpClientError: a reply larger than the command client's MaxReplySize (or the size a
/// POP3 server listed for the message).
inline constexpr int32_t ReplyTooLargeCode = -106;

/// The fixed codes of the socket error family above.
inline constexpr std::array FixedErrorCodes{SocketErrorTimeout, SocketErrorInvalidHost,
    SocketErrorInvalidPort, SocketErrorInvalidBatchSize, SocketErrorNoNetworkStream,
    SocketErrorNotActive, SocketErrorInvalidFamily, TcpClientErrorUnsupportedFirewall,
    TcpClientErrorSecureLogon};

/// The codes of the library's own, in the order of their numbers.
inline constexpr std::array LibraryOwnErrorCodes{
    CommandLineBreakCode,
    SocksInvalidRequestValueCode,
    SocksRequestTooLongCode,
    ReplyLineTooLongCode,
    ReplyTooLargeCode,
};

} // namespace ix
