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

// ---- Codes of EixDkimError (-10 .. -29; their texts are beside the class in dkim/ixDkimUtils.h)

inline constexpr int32_t DkimInvalidFormatCode = -10;    ///< "The format of the DKIM-Signature header field is ivalid"
inline constexpr int32_t DkimSignatureParamsCode = -11;  ///< "There are errors in signature parameters"
inline constexpr int32_t DkimInvalidAlgorithmCode = -12; ///< "The SignatureAlgorithm is invalid"
inline constexpr int32_t DkimBodyHashCode = -13;         ///< "Body hash values differ"
inline constexpr int32_t DkimUnknownVersionCode = -14;   ///< "The version of the DKIM-Signature is unknown"
inline constexpr int32_t DkimKeyRequiredCode = -15;      ///< "The key is required to complete the operation"
inline constexpr int32_t DkimKeyRevokedCode = -18;       ///< "The key is revoked"
inline constexpr int32_t DkimInvalidKeyCode = -19;       ///< "The publik key is invalid or has wrong parameters"
/// Codes of the library's own for the checks of a verifier (RFC 6376 section 6.1.1, RFC 8301):
inline constexpr int32_t DkimFromNotSignedCode = -20;  ///< "The From header field is not signed"
inline constexpr int32_t DkimIdentityDomainCode = -21; ///< "The identity is not in the signing domain"
/// "The key does not allow an identity in a subdomain of the signing domain" (key flag t=s).
inline constexpr int32_t DkimStrictIdentityCode = -22;
inline constexpr int32_t DkimExpiredCode = -23;     ///< "The signature has expired"
inline constexpr int32_t DkimKeyTooShortCode = -24; ///< "The RSA key is shorter than 1024 bits"
inline constexpr int32_t DkimKeyRecordCode = -25;   ///< "The format of the DKIM key record is invalid"

/// The codes of EixDkimError.
inline constexpr std::array DkimErrorCodes{DkimInvalidFormatCode, DkimSignatureParamsCode,
    DkimInvalidAlgorithmCode, DkimBodyHashCode, DkimUnknownVersionCode, DkimKeyRequiredCode,
    DkimKeyRevokedCode, DkimInvalidKeyCode, DkimFromNotSignedCode, DkimIdentityDomainCode,
    DkimStrictIdentityCode, DkimExpiredCode, DkimKeyTooShortCode, DkimKeyRecordCode};

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
