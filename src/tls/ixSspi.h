#pragma once
// The binding to the system's security interface (SSPI): loading the security library, its
// function table, the security error and the mapping of security status codes. Shared by the
// TLS context (ixSspiTls) and the NTLM login.

#include "core/ixSysUtils.h"
#include "platform/ixOsModules.h"
#include "platform/ixOsSecurity.h"

#include <cstdint>
#include <string>

namespace ix {

/// A failure of the security interface. ErrorCode is a library code (negative, or 20) or a
/// security status, certificate policy error or system error number.
class EixSSPIError : public EixCodedError
{
public:
    /// Takes a message and an error code.
    using EixCodedError::EixCodedError;
};

/// Outcome of a security context operation (shared with the TLS stream).
enum TixSspiStatus : uint8_t
{
    tsOk,                 ///< done (SEC_E_OK)
    tsError,              ///< a handshake step ended on a success code that is not handled
    tsRenegotiate,        ///< SEC_I_RENEGOTIATE: the peer asks for a new handshake
    tsSendToken,          ///< a handshake token is in the output stream and must be sent
    tsWaitToken,          ///< waiting for the peer's next handshake token
    tsNeedMoreToken,      ///< the peer's handshake token is incomplete
    tsCompleteNeeded,     ///< SEC_I_COMPLETE_NEEDED; also: a close notification token was made
    tsContinueNeeded,     ///< SEC_I_CONTINUE_NEEDED
    tsContextExpired,     ///< SEC_I_CONTEXT_EXPIRED: the peer closed the TLS session
    tsIncompleteMessage,  ///< SEC_E_INCOMPLETE_MESSAGE: a record is incomplete
    tsExtraData,          ///< handshake finished and bytes after it remain in the input
    tsPartialMessage,     ///< some records were decrypted and an incomplete one remains
    tsNeedCredentials,    ///< the peer asked for a certificate and none is available
};

/// The message of ACode: a library code's own text, else the system's text without trailing
/// blanks, control characters and dots, else "The unknown error was occured: %x" (AFound false).
std::string GetSspiErrorText(int32_t ACode, bool& AFound);
/// The message of ACode (see above).
std::string GetSspiErrorText(int32_t ACode);

/// Raises EixSSPIError with ErrorCode ACode and ACode's text, or AFallbackCode's text when the
/// system has none for ACode.
[[noreturn]] void RaiseSspiError(int32_t ACode, int32_t AFallbackCode);
/// Raises EixSSPIError with ErrorCode ACode and its text.
[[noreturn]] void RaiseSspiError(int32_t ACode);

/// Maps the success codes the contexts handle to their TixSspiStatus; any other value raises
/// RaiseSspiError(AStatus, AFallbackCode).
TixSspiStatus CheckStatus(os::SECURITY_STATUS AStatus, int32_t AFallbackCode);
/// CheckStatus with no fallback code of the library's own.
TixSspiStatus CheckStatus(os::SECURITY_STATUS AStatus);

/// The security library and its function table, loaded on first use; each object loads the
/// library for itself and frees it when destroyed.
class TixSspi
{
public:
    TixSspi() = default;
    virtual ~TixSspi();
    TixSspi(const TixSspi&) = delete;
    TixSspi& operator=(const TixSspi&) = delete;

    /// The function table, loading the library first. Raises EixSSPIError -1 (no library),
    /// -2 (no InitSecurityInterfaceA) or -3 (no table).
    os::PSecurityFunctionTableA GetFunctionTable();

private:
    os::HMODULE FModule = nullptr;
    os::PSecurityFunctionTableA FFunctionTable = nullptr;
};

/// Memory that the security interface allocated for the caller; released with the table's
/// FreeContextBuffer when this owner goes.
class TixContextBuffer
{
public:
    /// An empty owner that frees through ATable.
    explicit TixContextBuffer(os::PSecurityFunctionTableA ATable) noexcept : FTable(ATable) {}
    ~TixContextBuffer();
    TixContextBuffer(const TixContextBuffer&) = delete;
    TixContextBuffer& operator=(const TixContextBuffer&) = delete;

    /// Where the interface stores the address of its memory.
    void** Receive() noexcept { return &FMemory; }
    /// The memory received; null when none.
    void* Get() const noexcept { return FMemory; }

private:
    os::PSecurityFunctionTableA FTable;
    void* FMemory = nullptr;
};

}  // namespace ix
