// The certificate context object behind PCCERT_CONTEXT and the helpers the CryptoAPI sources
// share (internal: not installed).
#pragma once

#include "platform/internal/ixOsCryptFlat.h"
#include "platform/internal/ixOsCryptInternal.h"
#include "platform/ixOsCrypt.h"

#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace ix::os::internal {

struct TX509Free
{
    void operator()(X509* AValue) const noexcept { X509_free(AValue); }
};
using TX509Ptr = std::unique_ptr<X509, TX509Free>;

struct TEvpPkeyFree
{
    void operator()(EVP_PKEY* AValue) const noexcept { EVP_PKEY_free(AValue); }
};
using TEvpPkeyPtr = std::unique_ptr<EVP_PKEY, TEvpPkeyFree>;

/// Deleter for an OpenSSL object freed by Free.
template <typename T, void (*Free)(T*)>
struct TOpenSslFree
{
    void operator()(T* AValue) const noexcept { Free(AValue); }
};

/// The DER encoding of an OpenSSL object (empty for null or on failure).
template <typename T>
std::vector<BYTE> ToDer(const T* AValue, int (*AEncode)(const T*, unsigned char**))
{
    std::vector<BYTE> der;
    const int size = AValue == nullptr ? 0 : AEncode(AValue, nullptr);
    if (size <= 0)
        return der;
    der.resize(static_cast<size_t>(size));
    unsigned char* out = der.data();
    AEncode(AValue, &out);
    return der;
}

/// Takes a new reference to AValue.
TX509Ptr UpRef(X509* AValue) noexcept;

/// The set of live objects of one kind, so that a handle or pointer handed in by a caller is
/// checked before it is used.
class TLiveSet
{
public:
    void Add(const void* AItem)
    {
        std::lock_guard lock(FLock);
        FItems.insert(AItem);
    }
    void Remove(const void* AItem)
    {
        std::lock_guard lock(FLock);
        FItems.erase(AItem);
    }
    bool Contains(const void* AItem) const
    {
        std::lock_guard lock(FLock);
        return FItems.contains(AItem);
    }

private:
    mutable std::mutex FLock;
    std::unordered_set<const void*> FItems;
};

/// Certificates that travel with a context: the chain a peer sent, or the chain of a client
/// certificate. HCERTSTORE names one of these; unknown values are refused.
class TCertStore
{
public:
    TCertStore();
    ~TCertStore();
    TCertStore(const TCertStore&) = delete;
    TCertStore& operator=(const TCertStore&) = delete;

    std::vector<TX509Ptr> Certificates;
};

/// Finds the store that AHandle names; null when it names none.
TCertStore* FindCertStore(HCERTSTORE AHandle) noexcept;

/// A certificate context: the public CERT_CONTEXT with the encoded certificate and its decoded
/// CERT_INFO, the OpenSSL certificate, the private key (if any), the store and the properties.
/// Duplicates share the object (reference count), so properties set on one are seen by all.
class TCertContext : public CERT_CONTEXT
{
public:
    TCertContext(TX509Ptr ACert, std::vector<BYTE> AEncoded, std::shared_ptr<TCertStore> AStore);
    ~TCertContext();
    TCertContext(const TCertContext&) = delete;
    TCertContext& operator=(const TCertContext&) = delete;

    X509* Certificate() const noexcept { return FCert.get(); }
    EVP_PKEY* PrivateKey() const noexcept { return FKey.get(); }
    void SetPrivateKey(TEvpPkeyPtr AKey) noexcept { FKey = std::move(AKey); }
    const std::shared_ptr<TCertStore>& Store() const noexcept { return FStore; }

    void AddRef() noexcept { FRefCount.fetch_add(1, std::memory_order_relaxed); }
    /// Drops one reference; true when it was the last.
    bool Release() noexcept { return FRefCount.fetch_sub(1, std::memory_order_acq_rel) == 1; }

    /// A stored property; false when absent.
    bool GetProperty(DWORD AId, TCryptFlatBlock& AValue) const;
    /// Stores (or, with a null AValue, removes) a property.
    void SetProperty(DWORD AId, const TCryptFlatBlock* AValue);

private:
    std::atomic<int> FRefCount{1};
    TX509Ptr FCert;
    TEvpPkeyPtr FKey;
    std::shared_ptr<TCertStore> FStore;
    std::vector<BYTE> FEncoded;
    std::vector<BYTE> FInfo;
    mutable std::mutex FPropertyLock;
    std::map<DWORD, TCryptFlatBlock> FProperties;
};

/// The context behind AContext; null (last error E_INVALIDARG) for a value that is not a live
/// context.
TCertContext* FindCertContext(PCCERT_CONTEXT AContext) noexcept;

/// Makes a context of ACert with the given store; null with the last error set on failure.
TCertContext* NewCertContext(TX509Ptr ACert, std::shared_ptr<TCertStore> AStore);

/// The last error for a failed DER decoding (CRYPT_E_ASN1_BADTAG or CRYPT_E_ASN1_CORRUPT);
/// empties OpenSSL's error queue.
DWORD DecodeError();

/// The dotted text of an object identifier.
std::string OidText(const ASN1_OBJECT* AObject);

/// UTF-8 to UTF-16 and back (invalid sequences become U+FFFD).
std::u16string Utf8ToUtf16(std::string_view AText);
std::string Utf16ToUtf8(std::u16string_view AText);

/// The text of an ASN.1 string as UTF-16 (empty when it cannot be converted).
std::u16string Asn1StringToUtf16(const ASN1_STRING* AValue);

/// A DER element: tag, definite length, content.
std::vector<BYTE> DerElement(BYTE ATag, const std::vector<BYTE>& AContent);

/// The bytes of a blob (empty for a null one).
std::vector<BYTE> BlobBytes(const BYTE* AData, DWORD ASize);

/// The DER SubjectPublicKeyInfo of a CERT_PUBLIC_KEY_INFO; empty when its identifier is bad.
std::vector<BYTE> EncodePublicKeyInfo(const CERT_PUBLIC_KEY_INFO& AInfo);

/// Lays out a CERT_ALT_NAME_INFO of ANames at the start of ABlock.
void BuildAltNameInfo(TCryptFlatBlock& ABlock, const GENERAL_NAMES* ANames);

/// Lays out a CERT_ENHKEY_USAGE of AUsage at the start of ABlock.
void BuildEnhKeyUsage(TCryptFlatBlock& ABlock, const EXTENDED_KEY_USAGE* AUsage);

} // namespace ix::os::internal
