// Errors of the crypto provider and the pieces the digest and MAC classes share: provider
// contexts and hash objects as owned handles, and reading a hash value.
#pragma once

#include "core/ixClasses.h"
#include "core/ixSysUtils.h"
#include "crypto/ixCryptAPI.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace ix {

/// A failed call of the crypto provider; ErrorCode is the system error code.
class EixCryptError : public EixCodedError
{
public:
    /// The message and the system error code.
    using EixCodedError::EixCodedError;
};

/// The system's text for ACode (at most 256 characters, trailing control characters, blanks
/// and dots removed); empty when the system has none.
std::string GetCryptErrorText(os::DWORD ACode);

/// Raises EixCryptError with the calling thread's last error: its text, or "%s error - %d" with
/// AFunctionName and the code when the system has no text.
[[noreturn]] void RaiseCryptError(std::string_view AFunctionName);

/// Raises (RaiseCryptError) when AResult is FALSE.
inline void CheckCrypt(os::BOOL AResult, std::string_view AFunctionName)
{
    if (AResult == os::FALSE)
        RaiseCryptError(AFunctionName);
}

/// Clips (AIndex, ACount) to the bytes of a buffer of ASize bytes; a negative or empty range
/// gives ACount 0.
std::pair<size_t, size_t> ClipRange(size_t ASize, int32_t AIndex, int32_t ACount) noexcept;

/// An owned CryptoAPI handle, released by Close.
template <typename THandle, void (*Close)(THandle) noexcept>
class TixCryptHandle
{
public:
    TixCryptHandle() noexcept = default;
    /// Takes ownership of AHandle.
    explicit TixCryptHandle(THandle AHandle) noexcept : FHandle(AHandle) {}
    /// Takes AOther's handle; AOther holds none afterwards.
    TixCryptHandle(TixCryptHandle&& AOther) noexcept : FHandle(std::exchange(AOther.FHandle, 0)) {}
    /// Releases the owned handle, then takes AOther's; AOther holds none afterwards.
    TixCryptHandle& operator=(TixCryptHandle&& AOther) noexcept
    {
        Reset(std::exchange(AOther.FHandle, 0));
        return *this;
    }
    ~TixCryptHandle() { Reset(); }

    /// The handle, still owned here; 0 when none.
    THandle Get() const noexcept { return FHandle; }
    /// True when a handle is owned.
    bool IsValid() const noexcept { return FHandle != 0; }
    /// Releases the owned handle, if any, and takes AHandle.
    void Reset(THandle AHandle = 0) noexcept
    {
        if (FHandle != 0)
            Close(FHandle);
        FHandle = AHandle;
    }

private:
    THandle FHandle = 0;
};

/// Releases a provider context (CryptReleaseContext); failures are ignored.
void ReleaseCryptProvider(os::HCRYPTPROV AHandle) noexcept;
/// Destroys a hash object (CryptDestroyHash); failures are ignored.
void ReleaseCryptHash(os::HCRYPTHASH AHandle) noexcept;
/// Destroys a key (CryptDestroyKey); failures are ignored.
void ReleaseCryptKey(os::HCRYPTKEY AHandle) noexcept;
/// An owned provider context.
using TixCryptProvider = TixCryptHandle<os::HCRYPTPROV, ReleaseCryptProvider>;
/// An owned hash object.
using TixCryptHashHandle = TixCryptHandle<os::HCRYPTHASH, ReleaseCryptHash>;
/// An owned key.
using TixCryptKeyHandle = TixCryptHandle<os::HCRYPTKEY, ReleaseCryptKey>;

/// Overwrites ABytes with zeros in a way the compiler keeps, then empties it: for key material.
void WipeBytes(TixByteArray& ABytes) noexcept;

/// Bytes holding private key material, wiped when released.
class TixSecretBytes
{
public:
    TixSecretBytes() = default;
    /// Takes ABytes (moved, so no copy of them is left behind).
    explicit TixSecretBytes(TixByteArray ABytes) noexcept : Bytes(std::move(ABytes)) {}
    TixSecretBytes(const TixSecretBytes&) = delete;
    TixSecretBytes& operator=(const TixSecretBytes&) = delete;
    ~TixSecretBytes() { WipeBytes(Bytes); }

    /// The key material; wiped by the destructor.
    TixByteArray Bytes;
};

/// A zero-terminated copy of a provider name, made on first use; none (null) when the name is
/// empty after trimming.
class TixProviderNameCopy
{
public:
    /// The copy, made from AName on the first call after construction or Clear; later calls
    /// return it whatever AName. Valid until Clear or destruction.
    const char* Get(const std::string& AName);
    /// Drops the copy; the next Get makes a new one.
    void Clear() noexcept { FName.reset(); }

private:
    std::optional<std::string> FName;
};

/// Acquires a context of AProviderName (null: the type's default) and AType without a key
/// container. Raises EixCryptError naming "CryptAcquireContext".
TixCryptProvider AcquireVerifyContext(const char* AProviderName, os::DWORD AType);

/// ACount bytes from the system's cryptographic random generator. Raises EixCryptError naming
/// "CryptAcquireContext" or "CryptGenRandom".
TixByteArray GenerateRandomBytes(size_t ACount);

/// Creates a hash object of AAlgorithm without a key. Raises naming "CryptCreateHash".
TixCryptHashHandle CreateHash(const TixCryptProvider& AProvider, os::ALG_ID AAlgorithm);

/// Hashes ACount bytes of AData. Raises naming "CryptHashData".
void HashData(const TixCryptHashHandle& AHash, const uint8_t* AData, size_t ACount);

/// The hash value read into a buffer of ASize bytes, cut to the length the provider reports.
/// Raises naming "CryptGetHashParam".
TixByteArray ReadHashValue(const TixCryptHashHandle& AHash, size_t ASize);

} // namespace ix
