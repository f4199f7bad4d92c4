#pragma once
// The messages and computations of the NTLM package, client side, NTLMv2 (internal to the
// platform layer; the tests and the fuzz target reach them here).

#include "platform/ixOsTypes.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace ix::os::internal {

using TNtlmBytes = std::vector<uint8_t>;
using TNtlmKey = std::array<uint8_t, 16>;

// Negotiate flags.
constexpr DWORD NTLMSSP_NEGOTIATE_UNICODE = 0x00000001;
constexpr DWORD NTLMSSP_NEGOTIATE_OEM = 0x00000002;
constexpr DWORD NTLMSSP_REQUEST_TARGET = 0x00000004;
constexpr DWORD NTLMSSP_NEGOTIATE_SIGN = 0x00000010;
constexpr DWORD NTLMSSP_NEGOTIATE_SEAL = 0x00000020;
constexpr DWORD NTLMSSP_NEGOTIATE_NTLM = 0x00000200;
constexpr DWORD NTLMSSP_NEGOTIATE_ALWAYS_SIGN = 0x00008000;
constexpr DWORD NTLMSSP_NEGOTIATE_EXTENDED_SESSIONSECURITY = 0x00080000;
constexpr DWORD NTLMSSP_NEGOTIATE_TARGET_INFO = 0x00800000;
constexpr DWORD NTLMSSP_NEGOTIATE_VERSION = 0x02000000;
constexpr DWORD NTLMSSP_NEGOTIATE_128 = 0x20000000;
constexpr DWORD NTLMSSP_NEGOTIATE_KEY_EXCH = 0x40000000;
constexpr DWORD NTLMSSP_NEGOTIATE_56 = 0x80000000;

/// The flags of the NEGOTIATE message.
constexpr DWORD NtlmClientFlags = NTLMSSP_NEGOTIATE_UNICODE | NTLMSSP_NEGOTIATE_OEM | NTLMSSP_REQUEST_TARGET
    | NTLMSSP_NEGOTIATE_SIGN | NTLMSSP_NEGOTIATE_SEAL | NTLMSSP_NEGOTIATE_NTLM | NTLMSSP_NEGOTIATE_ALWAYS_SIGN
    | NTLMSSP_NEGOTIATE_EXTENDED_SESSIONSECURITY | NTLMSSP_NEGOTIATE_TARGET_INFO | NTLMSSP_NEGOTIATE_VERSION
    | NTLMSSP_NEGOTIATE_128 | NTLMSSP_NEGOTIATE_KEY_EXCH | NTLMSSP_NEGOTIATE_56;

/// MD4 (RFC 1320) of ABytes.
TNtlmKey Md4(std::span<const uint8_t> ABytes);

/// The parts of a CHALLENGE message that the answer needs.
struct TNtlmChallenge
{
    DWORD Flags = 0;
    std::array<uint8_t, 8> ServerChallenge{};
    /// The AV pairs as the server sent them; empty when it sent none.
    TNtlmBytes TargetInfo;
    /// The server's MsvAvTimestamp (FILETIME), when its target information holds one.
    bool HasTimestamp = false;
    uint64_t Timestamp = 0;
};

/// Reads a CHALLENGE message. False for anything malformed: a wrong signature or type, a
/// message shorter than its fixed part, a field whose offset and length reach past the end,
/// AV pairs that run past their field.
bool ParseNtlmChallenge(std::span<const uint8_t> AMessage, TNtlmChallenge& AChallenge);

/// The user's side of the answer. Texts are 8-bit in the ANSI code page.
struct TNtlmUser
{
    std::string User;
    std::string Domain;
    /// MD4 of the password in UTF-16LE.
    TNtlmKey NtHash{};
};

/// What the client chooses for one answer.
struct TNtlmClientValues
{
    std::array<uint8_t, 8> ClientChallenge{};
    /// The random session key sent encrypted when key exchange is negotiated.
    TNtlmKey SessionKey{};
    /// FILETIME of the answer; the server's MsvAvTimestamp replaces it when present.
    uint64_t Time = 0;
    std::string Workstation;
    std::array<uint8_t, 8> Version{};
};

/// The NEGOTIATE message with NtlmClientFlags and AVersion.
TNtlmBytes BuildNtlmNegotiate(const std::array<uint8_t, 8>& AVersion);

/// The AUTHENTICATE message answering AChallenge with an NTLMv2 response.
TNtlmBytes BuildNtlmAuthenticate(const TNtlmChallenge& AChallenge, const TNtlmUser& AUser,
    const TNtlmClientValues& AValues);

/// The NT hash of a password given in the ANSI code page.
TNtlmKey NtlmPasswordHash(const std::string& APassword);

} // namespace ix::os::internal
