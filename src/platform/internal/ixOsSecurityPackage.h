#pragma once
// What the security interface's packages share (internal to the platform layer): handle
// tables, memory handed to the caller, and the token buffers of a context step.

#include "platform/internal/ixObjectTable.h"
#include "platform/ixOsSecurity.h"

#include <atomic>
#include <cstdint>
#include <limits>
#include <memory>
#include <span>
#include <vector>

namespace ix::os::internal {

/// Objects behind SecHandle values: dwLower numbers the object, dwUpper tells the kind, so that
/// a context handle given as a credential (or a stale or made-up value) is refused.
template <typename T, ULONG_PTR Kind>
class THandleTable
{
public:
    SecHandle Add(std::shared_ptr<T> AObject)
    {
        const ULONG_PTR id = FLastId.fetch_add(1, std::memory_order_relaxed) + 1;
        FObjects.Add(id, std::move(AObject));
        return {id, Kind};
    }

    /// The object of AHandle; null for a handle that names none.
    std::shared_ptr<T> Find(const SecHandle* AHandle) const
    {
        if (!Names(AHandle))
            return nullptr;
        return FObjects.Find(AHandle->dwLower);
    }

    bool Remove(const SecHandle* AHandle) { return Names(AHandle) && FObjects.Remove(AHandle->dwLower) != nullptr; }

    /// AHandle is of this table's kind (whether or not its object still exists).
    static bool Names(const SecHandle* AHandle) noexcept { return AHandle != nullptr && AHandle->dwUpper == Kind; }

private:
    std::atomic<ULONG_PTR> FLastId{0};
    TObjectTable<T> FObjects;
};

constexpr TimeStamp NeverExpires = std::numeric_limits<TimeStamp>::max();

/// Memory that FreeContextBuffer releases; null when none is left.
void* AllocateContextBuffer(size_t ASize);

/// The buffers of a description; empty for none.
std::span<SecBuffer> BuffersOf(PSecBufferDesc ADesc) noexcept;

/// The received bytes of a context step: the first SECBUFFER_TOKEN buffer (empty without one).
/// False for a token buffer with bytes and no memory.
bool InputToken(PSecBufferDesc AInput, std::span<const uint8_t>& AToken) noexcept;

/// Hands a step's token to the first output buffer: in memory that FreeContextBuffer releases
/// when AAllocate, else copied into the caller's buffer.
SECURITY_STATUS OutputToken(PSecBufferDesc AOutput, bool AAllocate, const std::vector<uint8_t>& AToken);

// ---- the NTLM package (ixOsNtlm.cpp) ---------------------------------------------------------

/// The handle belongs to the NTLM package (a credential or context of its kinds).
bool IsNtlmHandle(const SecHandle* AHandle) noexcept;

SECURITY_STATUS NtlmAcquireCredentialsHandle(ULONG fCredentialUse, void* pAuthData, PCredHandle phCredential,
    PTimeStamp ptsExpiry);
SECURITY_STATUS NtlmFreeCredentialsHandle(PCredHandle phCredential);
SECURITY_STATUS NtlmInitializeSecurityContext(PCredHandle phCredential, PCtxtHandle phContext, ULONG fContextReq,
    PSecBufferDesc pInput, PCtxtHandle phNewContext, PSecBufferDesc pOutput, ULONG* pfContextAttr,
    PTimeStamp ptsExpiry);
SECURITY_STATUS NtlmCompleteAuthToken(PCtxtHandle phContext);
SECURITY_STATUS NtlmDeleteSecurityContext(PCtxtHandle phContext);

} // namespace ix::os::internal
