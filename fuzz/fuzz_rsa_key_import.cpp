// Arbitrary bytes through every RSA key import: PKCS #1 RSAPrivateKey and RSAPublicKey DER,
// SubjectPublicKeyInfo DER, a modulus with an exponent, and (first byte 0x80 or above) a raw key
// blob; below 0x80 the first byte modulo 4 picks the import. The only failure allowed is
// EixCryptError. A key that imports must export and re-import to the same encoding, must not
// take the data as its own signature, and a private key must sign what its public key verifies.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "crypto/ixCryptSignature.h"

namespace {

/// Imports a key blob as the provider takes it.
void ImportBlob(const ix::TixByteArray& AInput)
{
    ix::os::HCRYPTPROV provider = 0;
    ix::os::HCRYPTKEY handle = 0;
    if (!ix::os::CryptAcquireContextA(&provider, nullptr, nullptr, ix::os::PROV_RSA_FULL,
            ix::os::CRYPT_VERIFYCONTEXT))
        std::abort();
    const bool taken = ix::os::CryptImportKey(provider, AInput.data(),
        static_cast<ix::os::DWORD>(AInput.size()), 0, ix::os::CRYPT_EXPORTABLE, &handle);
    if (taken)
        ix::os::CryptDestroyKey(handle);
    ix::os::CryptReleaseContext(provider, 0);
}

/// Sets the key from AInput by the import AKind selects.
void Import(ix::TixCryptApiRsaKey& AKey, uint8_t AKind, const ix::TixByteArray& AInput)
{
    switch (AKind % 4)
    {
    case 0:
        AKey.SetRsaPrivateKey(AInput);
        break;
    case 1:
        AKey.SetRsaPublicKey(AInput);
        break;
    case 2:
        AKey.SetPublicKeyInfo(AInput);
        break;
    default:
    {
        // A modulus and an exponent: the first byte tells how many bytes the exponent takes.
        const size_t split = AInput.empty() ? 0 : AInput[0] % 8;
        const auto middle = AInput.begin() + static_cast<ptrdiff_t>(std::min(split, AInput.size()));
        AKey.SetRsaKey(ix::TixByteArray(middle, AInput.end()), ix::TixByteArray(AInput.begin(), middle));
        break;
    }
    }
}

void CheckImportedKey(ix::TixCryptApiRsaKey& AKey, uint8_t AKind, const ix::TixByteArray& AInput)
{
    const ix::TixByteArray publicKey = AKey.GetRsaPublicKey();
    ix::TixCryptApiRsaKey again;
    again.Init();
    again.SetPublicKeyInfo(AKey.GetPublicKeyInfo());
    if (again.GetRsaPublicKey() != publicKey)
        std::abort();
    ix::TixSignatureRsaSha256 signature;
    signature.Init();
    signature.SetPublicKey(AKey);
    signature.Update(AInput, 0, static_cast<int32_t>(AInput.size()));
    if (signature.VerifySignature(AInput))
        std::abort();   // the data as its own signature
    if (AKind % 4 == 0)
    {
        const ix::TixByteArray privateKey = AKey.GetRsaPrivateKey();
        again.SetRsaPrivateKey(privateKey);
        if (again.GetRsaPrivateKey() != privateKey)
            std::abort();
        ix::TixSignatureRsaSha1 signer;
        signer.Init();
        signer.SetPrivateKey(AKey);
        signer.Update(AInput, 0, static_cast<int32_t>(AInput.size()));
        const ix::TixByteArray signed_ = signer.Sign();
        signer.Init();
        signer.SetPublicKey(again);
        signer.Update(AInput, 0, static_cast<int32_t>(AInput.size()));
        if (!signer.VerifySignature(signed_))
            std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize)
{
    if (ASize == 0)
        return 0;
    const ix::TixByteArray input(AData + 1, AData + ASize);
    if (AData[0] >= 0x80)
    {
        ImportBlob(input);
        return 0;
    }
    ix::TixCryptApiRsaKey key;
    try
    {
        key.Init();
        Import(key, AData[0], input);
    }
    catch (const ix::EixCryptError&)
    {
        return 0;
    }
    CheckImportedKey(key, AData[0], input);
    return 0;
}
