// CryptoAPI Ed25519 keys over OpenSSL's libcrypto: their blobs (a BLOBHEADER and the 32-byte key
// of RFC 8032, section 5.1.5), generation, and PureEdDSA signatures of hash values.
#include "platform/internal/ixOsCryptEd25519.h"

#include "platform/internal/ixOsCryptContext.h"

#include <openssl/err.h>

#include <cstring>

namespace ix::os::internal {

namespace {

using TMdCtxPtr = std::unique_ptr<EVP_MD_CTX, TEvpMdCtxFree>;

/// The blob of AType holding AKey's 32 bytes.
TSecretBytes MakeBlob(BYTE AType, const BYTE* AKey)
{
    const BLOBHEADER header{AType, CUR_BLOB_VERSION, 0, CALG_ED25519};
    TSecretBytes blob(sizeof(header) + ED25519_KEY_SIZE);
    std::memcpy(blob.data(), &header, sizeof(header));
    std::memcpy(blob.data() + sizeof(header), AKey, ED25519_KEY_SIZE);
    return blob;
}

/// Fills AKey's fields for the OpenSSL key AOpenSslKey, private or not.
DWORD MakeKey(EVP_PKEY* AOpenSslKey, bool APrivate, TCryptKey& AKey)
{
    std::shared_ptr<EVP_PKEY> owner(AOpenSslKey, EVP_PKEY_free);
    BYTE publicKey[ED25519_KEY_SIZE];
    size_t size = sizeof(publicKey);
    if (EVP_PKEY_get_raw_public_key(AOpenSslKey, publicKey, &size) != 1 || size != sizeof(publicKey)) {
        ERR_clear_error();
        return NTE_BAD_KEY;
    }
    const TSecretBytes blob = MakeBlob(PUBLICKEYBLOB, publicKey);
    AKey.Algid = CALG_ED25519;
    AKey.Key = std::move(owner);
    AKey.Private = APrivate;
    AKey.Exportable = false;
    AKey.PublicBlob.assign(blob.begin(), blob.end());
    AKey.Contexts = std::make_shared<TSignatureContexts>();
    return ERROR_SUCCESS;
}

/// A digest-sign or digest-verify context of AKey (Ed25519 takes no digest of its own).
TMdCtxPtr SignatureContext(const TCryptKey& AKey, bool ASign)
{
    TMdCtxPtr context(EVP_MD_CTX_new());
    if (context
        && (ASign ? EVP_DigestSignInit_ex(context.get(), nullptr, nullptr, nullptr, nullptr, AKey.Key.get(), nullptr)
                  : EVP_DigestVerifyInit_ex(context.get(), nullptr, nullptr, nullptr, nullptr, AKey.Key.get(), nullptr))
            != 1)
        context.reset();
    return context;
}

} // namespace

bool IsEd25519Blob(std::span<const BYTE> ABlob) noexcept
{
    BLOBHEADER header{};
    if (ABlob.size() < sizeof(header))
        return false;
    std::memcpy(&header, ABlob.data(), sizeof(header));
    return header.aiKeyAlg == CALG_ED25519;
}

DWORD Ed25519BlobToKey(std::span<const BYTE> ABlob, TCryptKey& AKey)
{
    BLOBHEADER header{};
    if (ABlob.size() != sizeof(header) + ED25519_KEY_SIZE)
        return NTE_BAD_DATA;
    std::memcpy(&header, ABlob.data(), sizeof(header));
    if (header.bType != PUBLICKEYBLOB && header.bType != PRIVATEKEYBLOB)
        return NTE_BAD_TYPE;
    if (header.bVersion != CUR_BLOB_VERSION)
        return NTE_BAD_VER;
    const bool isPrivate = header.bType == PRIVATEKEYBLOB;
    const BYTE* key = ABlob.data() + sizeof(header);
    EVP_PKEY* made = isPrivate ? EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, key, ED25519_KEY_SIZE)
                               : EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, key, ED25519_KEY_SIZE);
    ERR_clear_error();
    return made == nullptr ? NTE_BAD_KEY : MakeKey(made, isPrivate, AKey);
}

DWORD GenerateEd25519Key(TCryptKey& AKey)
{
    EVP_PKEY* made = EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519");
    ERR_clear_error();
    return made == nullptr ? NTE_NO_MEMORY : MakeKey(made, true, AKey);
}

size_t Ed25519PrivateBlobSize() noexcept
{
    return sizeof(BLOBHEADER) + ED25519_KEY_SIZE;
}

DWORD Ed25519PrivateBlob(const TCryptKey& AKey, TSecretBytes& ABlob)
{
    TSecretBytes key(ED25519_KEY_SIZE);
    size_t size = key.size();
    if (!AKey.Private || EVP_PKEY_get_raw_private_key(AKey.Key.get(), key.data(), &size) != 1 || size != key.size()) {
        ERR_clear_error();
        return NTE_BAD_KEY_STATE;
    }
    ABlob = MakeBlob(PRIVATEKEYBLOB, key.data());
    return ERROR_SUCCESS;
}

DWORD Ed25519PublicKeyInfoToBlob(std::span<const BYTE> APublicKey, TSecretBytes& ABlob)
{
    if (APublicKey.size() != ED25519_KEY_SIZE)
        return NTE_BAD_KEY;
    ABlob = MakeBlob(PUBLICKEYBLOB, APublicKey.data());
    return ERROR_SUCCESS;
}

DWORD Ed25519Sign(const TCryptKey& AKey, std::span<const BYTE> AData, std::vector<BYTE>& ASignature)
{
    const TMdCtxPtr context = SignatureContext(AKey, true);
    ASignature.resize(ED25519_SIGNATURE_SIZE);
    size_t size = ASignature.size();
    const bool signed_ = context && EVP_DigestSign(context.get(), ASignature.data(), &size, AData.data(), AData.size()) == 1;
    ERR_clear_error();
    return signed_ && size == ED25519_SIGNATURE_SIZE ? ERROR_SUCCESS : NTE_BAD_KEY;
}

bool Ed25519Verify(const TCryptKey& AKey, std::span<const BYTE> AData, std::span<const BYTE> ASignature)
{
    const TMdCtxPtr context = SignatureContext(AKey, false);
    const bool verified = context && ASignature.size() == ED25519_SIGNATURE_SIZE
        && EVP_DigestVerify(context.get(), ASignature.data(), ASignature.size(), AData.data(), AData.size()) == 1;
    ERR_clear_error();
    return verified;
}

} // namespace ix::os::internal
