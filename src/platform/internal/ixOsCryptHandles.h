// The objects behind CryptoAPI provider, hash and key handles, shared by the CryptoAPI sources
// (internal: not installed).
#pragma once

#include "platform/ixOsCrypt.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace ix::os::internal {

/// The last handle value given out; values are never reused and never shared between tables.
inline std::atomic<ULONG_PTR> LastCryptHandle{0x1000};

/// Objects named by integer handles; unknown or released handles are refused, not dereferenced.
template <typename T>
class THandleTable
{
public:
    ULONG_PTR Add(std::unique_ptr<T> AItem)
    {
        const ULONG_PTR handle = ++LastCryptHandle;
        std::lock_guard lock(FLock);
        FItems.emplace(handle, std::move(AItem));
        return handle;
    }

    T* Find(ULONG_PTR AHandle)
    {
        std::lock_guard lock(FLock);
        const auto found = FItems.find(AHandle);
        return found == FItems.end() ? nullptr : found->second.get();
    }

    bool Remove(ULONG_PTR AHandle)
    {
        std::unique_ptr<T> item;
        std::lock_guard lock(FLock);
        const auto found = FItems.find(AHandle);
        if (found == FItems.end())
            return false;
        item = std::move(found->second);
        FItems.erase(found);
        return true;
    }

private:
    std::mutex FLock;
    std::unordered_map<ULONG_PTR, std::unique_ptr<T>> FItems;
};

/// Frees like std::allocator, wiping the memory first: for private key material.
template <typename T>
struct TWipingAllocator
{
    using value_type = T;
    TWipingAllocator() = default;
    template <typename U>
    TWipingAllocator(const TWipingAllocator<U>&) noexcept
    {
    }
    T* allocate(size_t ACount) { return std::allocator<T>().allocate(ACount); }
    void deallocate(T* AData, size_t ACount) noexcept
    {
        OPENSSL_cleanse(AData, ACount * sizeof(T));
        std::allocator<T>().deallocate(AData, ACount);
    }
    friend bool operator==(const TWipingAllocator&, const TWipingAllocator&) noexcept { return true; }
};

using TSecretBytes = std::vector<BYTE, TWipingAllocator<BYTE>>;

struct TEvpPkeyCtxFree
{
    void operator()(EVP_PKEY_CTX* AValue) const noexcept { EVP_PKEY_CTX_free(AValue); }
};
using TEvpPkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, TEvpPkeyCtxFree>;

/// The signing and verifying contexts of one key, kept prepared for their digest and reused:
/// preparing one costs about a tenth of verifying with a 2048-bit key.
class TSignatureContexts
{
public:
    /// An idle context prepared for ADigest and ASign (signing, else verifying); null when
    /// there is none.
    TEvpPkeyCtxPtr Take(const EVP_MD* ADigest, bool ASign)
    {
        const int id = Id(ADigest, ASign);
        std::lock_guard lock(FLock);
        for (auto idle = FIdle.begin(); idle != FIdle.end(); ++idle)
        {
            if (idle->Id == id)
            {
                TEvpPkeyCtxPtr context = std::move(idle->Context);
                FIdle.erase(idle);
                return context;
            }
        }
        return nullptr;
    }

    /// Keeps AContext, prepared for ADigest and ASign, for a later Take.
    void Give(TEvpPkeyCtxPtr AContext, const EVP_MD* ADigest, bool ASign)
    {
        std::lock_guard lock(FLock);
        if (AContext && FIdle.size() < MaxIdle)
            FIdle.push_back({Id(ADigest, ASign), std::move(AContext)});
    }

private:
    static constexpr size_t MaxIdle = 8;

    static int Id(const EVP_MD* ADigest, bool ASign) { return EVP_MD_get_type(ADigest) * 2 + (ASign ? 1 : 0); }

    struct TIdle
    {
        int Id;
        TEvpPkeyCtxPtr Context;
    };

    std::mutex FLock;
    std::vector<TIdle> FIdle;
};

/// An RSA or Ed25519 key as a provider holds it. Copies share the OpenSSL key and its contexts.
struct TCryptKey
{
    ALG_ID Algid = 0;                  ///< CALG_RSA_KEYX, CALG_RSA_SIGN or CALG_ED25519.
    std::shared_ptr<EVP_PKEY> Key;
    bool Private = false;
    bool Exportable = false;
    std::vector<BYTE> PublicBlob;      ///< The key's PUBLICKEYBLOB.
    std::shared_ptr<TSignatureContexts> Contexts;
};

struct TCryptProvider
{
    DWORD Type = 0;
    /// The user keys (AT_KEYEXCHANGE, AT_SIGNATURE) that generating or importing a private key
    /// leaves in the provider's ephemeral container.
    std::shared_ptr<const TCryptKey> ExchangeKey;
    std::shared_ptr<const TCryptKey> SignatureKey;
};

struct TEvpMdCtxFree
{
    void operator()(EVP_MD_CTX* AValue) const noexcept { EVP_MD_CTX_free(AValue); }
};

struct TCryptHash
{
    ALG_ID Algid = 0;
    HCRYPTPROV Provider = 0;
    std::unique_ptr<EVP_MD_CTX, TEvpMdCtxFree> Context{EVP_MD_CTX_new()};
    std::vector<BYTE> Value;   ///< Set by the first read of the value; the hash is then closed.
    bool Finished = false;
};

THandleTable<TCryptProvider>& CryptProviders();
THandleTable<TCryptHash>& CryptHashes();

/// Closes the hash and keeps its value (once; later calls keep the first value).
bool FinishHash(TCryptHash& AHash);

} // namespace ix::os::internal
