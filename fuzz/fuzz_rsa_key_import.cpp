// Arbitrary bytes through every RSA key import: PKCS #1 RSAPrivateKey and RSAPublicKey DER,
// SubjectPublicKeyInfo DER, a modulus with an exponent, and (first byte 0x80 or above) a raw key
// blob; below 0x80 the first byte modulo 4 picks the import. The only failure allowed is
// EixCryptError. A key that imports must export and re-import to the same encoding, must not
// take the data as its own signature, and a private key must sign what its public key verifies.
#include <algorithm>

#include "FuzzInput.h"
#include "crypto/ixCryptSignature.h"

namespace {

/// Imports a key blob as the provider takes it.
void ImportBlob(const ix::TixByteArray& AInput)
{
    ix::os::HCRYPTPROV provider = 0;
    ix::os::HCRYPTKEY handle = 0;
    ix::fuzz::Require(ix::os::CryptAcquireContextA(&provider, nullptr, nullptr, ix::os::PROV_RSA_FULL,
        ix::os::CRYPT_VERIFYCONTEXT));
    const bool taken = ix::os::CryptImportKey(provider, AInput.data(),
        static_cast<ix::os::DWORD>(AInput.size()), 0, ix::os::CRYPT_EXPORTABLE, &handle);
    if (taken)
        ix::os::CryptDestroyKey(handle);
    ix::os::CryptReleaseContext(provider, 0);
}

using TImport = void (*)(ix::TixCryptApiRsaKey&, const ix::TixByteArray&);

/// The imports, picked by the first byte modulo 4; the first one takes a private key.
const TImport Imports[] = {
    [](ix::TixCryptApiRsaKey& AKey, const ix::TixByteArray& AInput) { AKey.SetRsaPrivateKey(AInput); },
    [](ix::TixCryptApiRsaKey& AKey, const ix::TixByteArray& AInput) { AKey.SetRsaPublicKey(AInput); },
    [](ix::TixCryptApiRsaKey& AKey, const ix::TixByteArray& AInput) { AKey.SetPublicKeyInfo(AInput); },
    [](ix::TixCryptApiRsaKey& AKey, const ix::TixByteArray& AInput) {
        // A modulus and an exponent: the first byte tells how many bytes the exponent takes.
        const size_t split = AInput.empty() ? 0 : AInput[0] % 8;
        const auto middle = AInput.begin() + static_cast<ptrdiff_t>(std::min(split, AInput.size()));
        AKey.SetRsaKey(ix::TixByteArray(middle, AInput.end()), ix::TixByteArray(AInput.begin(), middle));
    },
};

void CheckImportedKey(ix::TixCryptApiRsaKey& AKey, uint8_t AKind, const ix::TixByteArray& AInput)
{
    const ix::TixByteArray publicKey = AKey.GetRsaPublicKey();
    ix::TixCryptApiRsaKey again;
    again.Init();
    again.SetPublicKeyInfo(AKey.GetPublicKeyInfo());
    ix::fuzz::Require(again.GetRsaPublicKey() == publicKey);
    ix::TixSignatureRsaSha256 signature;
    signature.Init();
    signature.SetPublicKey(AKey);
    signature.Update(AInput, 0, static_cast<int32_t>(AInput.size()));
    ix::fuzz::Require(!signature.VerifySignature(AInput)); // the data as its own signature
    if (AKind % 4 == 0)
    {
        const ix::TixByteArray privateKey = AKey.GetRsaPrivateKey();
        again.SetRsaPrivateKey(privateKey);
        ix::fuzz::Require(again.GetRsaPrivateKey() == privateKey);
        ix::TixSignatureRsaSha1 signer;
        signer.Init();
        signer.SetPrivateKey(AKey);
        signer.Update(AInput, 0, static_cast<int32_t>(AInput.size()));
        const ix::TixByteArray signed_ = signer.Sign();
        signer.Init();
        signer.SetPublicKey(again);
        signer.Update(AInput, 0, static_cast<int32_t>(AInput.size()));
        ix::fuzz::Require(signer.VerifySignature(signed_));
    }
}

} // namespace

void ix::fuzz::CheckInput(const uint8_t* AData, size_t ASize)
{
    if (ASize == 0)
        return;
    const ix::TixByteArray input(AData + 1, AData + ASize);
    if (AData[0] >= 0x80)
    {
        ImportBlob(input);
        return;
    }
    ix::TixCryptApiRsaKey key;
    if (ix::fuzz::Completes<ix::EixCryptError>([&] {
            key.Init();
            Imports[AData[0] % 4](key, input);
        }))
        CheckImportedKey(key, AData[0], input);
}
