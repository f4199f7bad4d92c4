// Certificates made by the tests with OpenSSL: a test authority, server and client
// certificates, expired ones, ones for other hosts, and revocation lists; a trust store made of
// exactly the certificates a test names; and a fixed set of them in files, for TLS servers.
#pragma once

#include "platform/ixOsCrypt.h"
#include "tls/ixCertificate.h"

#include <openssl/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ix::test {

/// What a certificate made by MakeCertificate holds.
struct TCertSpec
{
    std::string CommonName{};
    std::string Organization{};
    /// The subject's e-mail attribute; none when empty.
    std::string EmailAttribute{};
    /// Subject alternative names in OpenSSL's notation ("DNS:a.test,IP:127.0.0.1,email:x@a.test").
    std::string AltNames{};
    uint64_t Serial = 1;
    /// Validity relative to now, in days.
    long NotBeforeDays = -1;
    long NotAfterDays = 365;
    bool CertificateAuthority = false;
    /// Extended key usage in OpenSSL's notation ("serverAuth,clientAuth"); none when empty.
    std::string ExtendedKeyUsage = "serverAuth";
    bool SubjectKeyIdentifier = true;
};

/// A certificate with its private key.
class TTestCert
{
public:
    TTestCert(X509* ACert, EVP_PKEY* AKey);   // takes both over

    X509* Cert() const noexcept { return FCert.get(); }
    EVP_PKEY* Key() const noexcept { return FKey.get(); }
    std::vector<uint8_t> Der() const;
    std::string Pem() const;
    /// The private key in PEM; encrypted with AES-128 when APassword is given.
    std::string KeyPem(const char* APassword = nullptr) const;

private:
    std::unique_ptr<X509, void (*)(X509*)> FCert;
    std::unique_ptr<EVP_PKEY, void (*)(EVP_PKEY*)> FKey;
};

/// Makes a certificate signed by AIssuer, or self-signed when AIssuer is null. Leaf keys are
/// RSA 2048 bits (one key for all of them), authorities' keys EC P-256.
TTestCert MakeCertificate(const TCertSpec& ASpec, const TTestCert* AIssuer = nullptr);

/// A revocation list of AIssuer that lists the serial numbers of ARevoked, PEM-encoded.
std::string MakeCrlPem(const TTestCert& AIssuer, const std::vector<const TTestCert*>& ARevoked);

struct TContextFree
{
    void operator()(os::PCCERT_CONTEXT AContext) const noexcept { os::CertFreeCertificateContext(AContext); }
};
/// An owned certificate context.
using TContextPtr = std::unique_ptr<const os::CERT_CONTEXT, TContextFree>;

/// A certificate context of ACert.
TContextPtr ContextOf(const TTestCert& ACert);

/// Writes AText to AName in this process's temporary directory; returns the path.
std::string WriteTempFile(const std::string& AName, const std::string& AText);

/// Makes OpenSSL's default verify paths trust exactly ATrustedPem (certificates and lists):
/// SSL_CERT_FILE names a file holding it, SSL_CERT_DIR an empty directory.
void TrustOnly(const std::string& ATrustedPem);

/// The path of a test certificate's file: AName + AExtension, where AExtension is ".pem" (the
/// certificate) or ".key" (its private key). Names: "ca" (the test authority), "server" (signed
/// by ca, for localhost and 127.0.0.1), "expired" (like server, expired), "other" (signed by ca,
/// for other.invalid only), "self" (self-signed, for localhost), "client" (signed by ca, for
/// client authentication). They are made on first use, and from then on the test authority is
/// the only one trusted (TrustOnly).
std::string TestCertFile(const std::string& AName, const char* AExtension = ".pem");

/// The test authority (the "ca" of TestCertFile) with its key, to issue more certificates.
const TTestCert& TestAuthority();

/// A certificate with its private key from a PEM certificate and key file pair; null (and a
/// failed test) when they cannot be read.
std::unique_ptr<TixCertificate> LoadPemCertificate(const std::string& ACertFile,
    const std::string& AKeyFile);

/// The test certificate AName of TestCertFile with its key.
std::unique_ptr<TixCertificate> LoadTestCertificate(const std::string& AName);

} // namespace ix::test
