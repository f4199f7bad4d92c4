// RSA-SHA256 signatures per second with a 2048-bit key, the way DKIM uses them: per message
// Init, SetPublicKey (or SetPrivateKey), Update and VerifySignature (or Sign) through
// TixSignatureRsaSha256, beside a bare OpenSSL loop over the same key and message (one-shot
// SHA-256 digest and EVP_PKEY_verify/EVP_PKEY_sign on a prepared context). Medians of several
// runs. Build with -DCMAKE_BUILD_TYPE=Release for meaningful figures.
#include "crypto/ixCryptSignature.h"

#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <vector>

using namespace ix;

namespace {

constexpr int Runs = 5;
constexpr double RunSeconds = 0.4;
constexpr size_t MessageSize = 2048;

[[noreturn]] void Fail(const char* AWhat)
{
    std::fprintf(stderr, "rsa_bench: %s\n", AWhat);
    std::exit(1);
}

/// Operations per second of AOperation over a run of about RunSeconds; the median of Runs.
double MedianRate(const std::function<void()>& AOperation)
{
    std::vector<double> rates;
    for (int run = 0; run < Runs; ++run)
    {
        const auto start = std::chrono::steady_clock::now();
        int count = 0;
        std::chrono::duration<double> elapsed{};
        do
        {
            AOperation();
            ++count;
            elapsed = std::chrono::steady_clock::now() - start;
        } while (elapsed.count() < RunSeconds);
        rates.push_back(count / elapsed.count());
    }
    std::sort(rates.begin(), rates.end());
    return rates[rates.size() / 2];
}

struct TPkeyFree
{
    void operator()(EVP_PKEY* AKey) const noexcept { EVP_PKEY_free(AKey); }
};
struct TPkeyCtxFree
{
    void operator()(EVP_PKEY_CTX* AContext) const noexcept { EVP_PKEY_CTX_free(AContext); }
};
using TPkeyPtr = std::unique_ptr<EVP_PKEY, TPkeyFree>;
using TPkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, TPkeyCtxFree>;

/// The bare OpenSSL side: the key loaded once, one prepared context per direction.
class TBareRsa
{
public:
    TBareRsa(const TixByteArray& APrivateDer, const TixByteArray& APublicInfo)
    {
        const unsigned char* next = APrivateDer.data();
        FPrivate.reset(d2i_PrivateKey(EVP_PKEY_RSA, nullptr, &next, static_cast<long>(APrivateDer.size())));
        next = APublicInfo.data();
        FPublic.reset(d2i_PUBKEY(nullptr, &next, static_cast<long>(APublicInfo.size())));
        if (!FPrivate || !FPublic)
            Fail("OpenSSL cannot read the key");
        FSign = Prepare(FPrivate.get(), true);
        FVerify = Prepare(FPublic.get(), false);
    }

    TixByteArray Sign(const TixByteArray& AMessage)
    {
        const TixByteArray digest = Digest(AMessage);
        TixByteArray signature(static_cast<size_t>(EVP_PKEY_get_size(FPrivate.get())));
        size_t size = signature.size();
        if (EVP_PKEY_sign(FSign.get(), signature.data(), &size, digest.data(), digest.size()) != 1)
            Fail("EVP_PKEY_sign failed");
        return signature;
    }

    bool Verify(const TixByteArray& AMessage, const TixByteArray& ASignature)
    {
        const TixByteArray digest = Digest(AMessage);
        return EVP_PKEY_verify(FVerify.get(), ASignature.data(), ASignature.size(), digest.data(),
                   digest.size())
            == 1;
    }

private:
    static TPkeyCtxPtr Prepare(EVP_PKEY* AKey, bool ASign)
    {
        TPkeyCtxPtr context(EVP_PKEY_CTX_new(AKey, nullptr));
        if (!context || (ASign ? EVP_PKEY_sign_init(context.get()) : EVP_PKEY_verify_init(context.get())) != 1
            || EVP_PKEY_CTX_set_rsa_padding(context.get(), RSA_PKCS1_PADDING) != 1
            || EVP_PKEY_CTX_set_signature_md(context.get(), EVP_sha256()) != 1)
            Fail("OpenSSL context set-up failed");
        return context;
    }

    static TixByteArray Digest(const TixByteArray& AMessage)
    {
        TixByteArray digest(EVP_MAX_MD_SIZE);
        unsigned int size = 0;
        if (EVP_Digest(AMessage.data(), AMessage.size(), digest.data(), &size, EVP_sha256(), nullptr) != 1)
            Fail("EVP_Digest failed");
        digest.resize(size);
        return digest;
    }

    TPkeyPtr FPrivate;
    TPkeyPtr FPublic;
    TPkeyCtxPtr FSign;
    TPkeyCtxPtr FVerify;
};

} // namespace

int main()
{
    TixCryptApiRsaKey key;
    key.Init();
    key.SetKeyLength(2048);
    key.GenerateKey();
    TixByteArray message(MessageSize);
    for (size_t index = 0; index < message.size(); ++index)
        message[index] = static_cast<uint8_t>('a' + index % 26);
    const auto count = static_cast<int32_t>(message.size());

    TixSignatureRsaSha256 signature;
    const auto sign = [&] {
        signature.Init();
        signature.SetPrivateKey(key);
        signature.Update(message, 0, count);
        return signature.Sign();
    };
    const TixByteArray signed_ = sign();
    const auto verify = [&] {
        signature.Init();
        signature.SetPublicKey(key);
        signature.Update(message, 0, count);
        if (!signature.VerifySignature(signed_))
            Fail("the signature does not verify");
    };
    TBareRsa bare(key.GetRsaPrivateKey(), key.GetPublicKeyInfo());
    if (!bare.Verify(message, signed_) || bare.Sign(message) != signed_)
        Fail("OpenSSL disagrees with the signature");

    const double ixVerify = MedianRate(verify);
    const double bareVerify = MedianRate([&] {
        if (!bare.Verify(message, signed_))
            Fail("bare verify failed");
    });
    const double ixSign = MedianRate([&] { sign(); });
    const double bareSign = MedianRate([&] { bare.Sign(message); });

    std::printf("RSA-SHA256, 2048-bit key, %zu-byte message, median of %d runs\n", MessageSize, Runs);
    std::printf("%-8s %14s %14s %8s\n", "", "TixSignature/s", "bare EVP/s", "ratio");
    std::printf("%-8s %14.0f %14.0f %7.0f%%\n", "verify", ixVerify, bareVerify, 100 * ixVerify / bareVerify);
    std::printf("%-8s %14.0f %14.0f %7.0f%%\n", "sign", ixSign, bareSign, 100 * ixSign / bareSign);
    return 0;
}
