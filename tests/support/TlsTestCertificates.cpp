#include "support/TlsTestCertificates.h"

#include <gtest/gtest.h>

#include <openssl/bio.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>
#include <unistd.h>
#include <utility>

namespace ix::test {

namespace {

void Check(bool AOk, const char* AWhat)
{
    if (!AOk)
        throw std::runtime_error(std::string("test certificate: ") + AWhat);
}

EVP_PKEY* SharedKey(bool AAuthority)
{
    static EVP_PKEY* const leafKey = EVP_RSA_gen(2048);
    static EVP_PKEY* const authorityKey = EVP_EC_gen("P-256");
    EVP_PKEY* key = AAuthority ? authorityKey : leafKey;
    Check(key != nullptr && EVP_PKEY_up_ref(key) == 1, "key");
    return key;
}

void AddName(X509_NAME* AName, const char* AField, const std::string& AValue)
{
    if (!AValue.empty())
        Check(X509_NAME_add_entry_by_txt(AName, AField, MBSTRING_UTF8,
                  reinterpret_cast<const unsigned char*>(AValue.c_str()), -1, -1, 0) == 1, AField);
}

void AddExtension(X509* ACert, X509* AIssuer, int ANid, const std::string& AValue)
{
    if (AValue.empty())
        return;
    X509V3_CTX context;
    X509V3_set_ctx(&context, AIssuer, ACert, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, ANid, AValue.c_str());
    Check(extension != nullptr && X509_add_ext(ACert, extension, -1) == 1, AValue.c_str());
    X509_EXTENSION_free(extension);
}

const std::filesystem::path& TempDir()
{
    static const std::filesystem::path dir = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "ix-certs-XXXXXX").string();
        Check(mkdtemp(pattern.data()) != nullptr, "temporary directory");
        return std::filesystem::path(pattern);
    }();
    return dir;
}

template <typename T, typename TWrite>
std::string ToPem(T* AValue, TWrite AWrite)
{
    BIO* bio = BIO_new(BIO_s_mem());
    AWrite(bio, AValue);
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    std::string text(data, static_cast<size_t>(size));
    BIO_free(bio);
    return text;
}

} // namespace

TTestCert::TTestCert(X509* ACert, EVP_PKEY* AKey) : FCert(ACert, X509_free), FKey(AKey, EVP_PKEY_free) {}

std::vector<uint8_t> TTestCert::Der() const
{
    unsigned char* der = nullptr;
    const int size = i2d_X509(FCert.get(), &der);
    std::vector<uint8_t> result(der, der + size);
    OPENSSL_free(der);
    return result;
}

std::string TTestCert::Pem() const
{
    return ToPem(FCert.get(), PEM_write_bio_X509);
}

std::string TTestCert::KeyPem(const char* APassword) const
{
    return ToPem(FKey.get(), [APassword](BIO* ABio, EVP_PKEY* AKey) {
        return APassword == nullptr ? PEM_write_bio_PrivateKey(ABio, AKey, nullptr, nullptr, 0, nullptr, nullptr)
                                    : PEM_write_bio_PKCS8PrivateKey(ABio, AKey, EVP_aes_128_cbc(), nullptr, 0,
                                          nullptr, const_cast<char*>(APassword));
    });
}

TTestCert MakeCertificate(const TCertSpec& ASpec, const TTestCert* AIssuer)
{
    X509* cert = X509_new();
    EVP_PKEY* key = SharedKey(ASpec.CertificateAuthority);
    X509_set_version(cert, 2);
    ASN1_INTEGER_set_uint64(X509_get_serialNumber(cert), ASpec.Serial);
    X509_gmtime_adj(X509_getm_notBefore(cert), ASpec.NotBeforeDays * 86400);
    X509_gmtime_adj(X509_getm_notAfter(cert), ASpec.NotAfterDays * 86400);
    X509_NAME* name = X509_get_subject_name(cert);
    AddName(name, "CN", ASpec.CommonName);
    AddName(name, "O", ASpec.Organization);
    AddName(name, "emailAddress", ASpec.EmailAttribute);
    X509* issuer = AIssuer != nullptr ? AIssuer->Cert() : cert;
    X509_set_issuer_name(cert, X509_get_subject_name(issuer));
    X509_set_pubkey(cert, key);
    AddExtension(cert, issuer, NID_basic_constraints, ASpec.CertificateAuthority ? "critical,CA:TRUE" : "CA:FALSE");
    AddExtension(cert, issuer, NID_key_usage,
        ASpec.CertificateAuthority ? "critical,keyCertSign,cRLSign" : "digitalSignature,keyEncipherment");
    AddExtension(cert, issuer, NID_ext_key_usage, ASpec.ExtendedKeyUsage);
    AddExtension(cert, issuer, NID_subject_alt_name, ASpec.AltNames);
    AddExtension(cert, issuer, NID_subject_key_identifier, ASpec.SubjectKeyIdentifier ? "hash" : "");
    AddExtension(cert, issuer, NID_authority_key_identifier, AIssuer != nullptr ? "keyid:always" : "");
    Check(X509_sign(cert, AIssuer != nullptr ? AIssuer->Key() : key, EVP_sha256()) > 0, "signature");
    return TTestCert(cert, key);
}

TContextPtr ContextOf(const TTestCert& ACert)
{
    const std::vector<uint8_t> der = ACert.Der();
    return TContextPtr(os::CertCreateCertificateContext(os::X509_ASN_ENCODING | os::PKCS_7_ASN_ENCODING,
        der.data(), static_cast<os::DWORD>(der.size())));
}

std::string MakeCrlPem(const TTestCert& AIssuer, const std::vector<const TTestCert*>& ARevoked)
{
    X509_CRL* crl = X509_CRL_new();
    X509_CRL_set_version(crl, 1);
    X509_CRL_set_issuer_name(crl, X509_get_subject_name(AIssuer.Cert()));
    ASN1_TIME* now = X509_gmtime_adj(nullptr, -3600);
    ASN1_TIME* next = X509_gmtime_adj(nullptr, 86400);
    X509_CRL_set1_lastUpdate(crl, now);
    X509_CRL_set1_nextUpdate(crl, next);
    for (const TTestCert* revoked : ARevoked)
    {
        X509_REVOKED* entry = X509_REVOKED_new();
        X509_REVOKED_set_serialNumber(entry, X509_get_serialNumber(revoked->Cert()));
        X509_REVOKED_set_revocationDate(entry, now);
        X509_CRL_add0_revoked(crl, entry);
    }
    X509_CRL_sort(crl);
    Check(X509_CRL_sign(crl, AIssuer.Key(), EVP_sha256()) > 0, "revocation list");
    std::string pem = ToPem(crl, PEM_write_bio_X509_CRL);
    ASN1_TIME_free(now);
    ASN1_TIME_free(next);
    X509_CRL_free(crl);
    return pem;
}

std::string WriteTempFile(const std::string& AName, const std::string& AText)
{
    const std::filesystem::path path = TempDir() / AName;
    std::ofstream(path, std::ios::binary) << AText;
    return path.string();
}

void TrustOnly(const std::string& ATrustedPem)
{
    const std::filesystem::path empty = TempDir() / "empty-cert-dir";
    std::filesystem::create_directories(empty);
    setenv("SSL_CERT_FILE", WriteTempFile("trusted.pem", ATrustedPem).c_str(), 1);
    setenv("SSL_CERT_DIR", empty.c_str(), 1);
}

namespace {

struct TCertFiles
{
    std::map<std::string, std::string> Paths;
    TTestCert Authority;
};

const TCertFiles& CertFiles()
{
    static const TCertFiles files = [] {
        std::map<std::string, std::string> paths;
        const auto save = [&paths](const std::string& AName, const TTestCert& ACert) {
            paths[AName + ".pem"] = WriteTempFile("peer-" + AName + ".pem", ACert.Pem());
            paths[AName + ".key"] = WriteTempFile("peer-" + AName + ".key", ACert.KeyPem());
        };
        TTestCert ca = MakeCertificate({.CommonName = "ix Test CA", .Organization = "ix tests",
            .Serial = 1, .NotAfterDays = 3650, .CertificateAuthority = true,
            .ExtendedKeyUsage = ""});
        save("ca", ca);
        save("server", MakeCertificate({.CommonName = "localhost",
            .AltNames = "DNS:localhost,IP:127.0.0.1", .Serial = 2}, &ca));
        save("expired", MakeCertificate({.CommonName = "localhost",
            .AltNames = "DNS:localhost,IP:127.0.0.1", .Serial = 3, .NotBeforeDays = -10,
            .NotAfterDays = -9}, &ca));
        save("other", MakeCertificate({.CommonName = "other.invalid",
            .AltNames = "DNS:other.invalid", .Serial = 4}, &ca));
        save("client", MakeCertificate({.CommonName = "ix test client",
            .AltNames = "DNS:client.example.org,email:client@example.org", .Serial = 5,
            .ExtendedKeyUsage = "clientAuth"}, &ca));
        save("self", MakeCertificate({.CommonName = "localhost", .AltNames = "DNS:localhost",
            .Serial = 6}));
        TrustOnly(ca.Pem());
        return TCertFiles{std::move(paths), std::move(ca)};
    }();
    return files;
}

} // namespace

std::string TestCertFile(const std::string& AName, const char* AExtension)
{
    return CertFiles().Paths.at(AName + AExtension);
}

const TTestCert& TestAuthority()
{
    return CertFiles().Authority;
}

std::unique_ptr<TixCertificate> LoadPemCertificate(const std::string& ACertFile,
    const std::string& AKeyFile)
{
    const TContextPtr context(os::CertCreateContextFromPemFile(ACertFile.c_str(), AKeyFile.c_str(), nullptr));
    EXPECT_NE(context, nullptr) << ACertFile;
    return context == nullptr ? nullptr : std::make_unique<TixCertificate>(context.get());
}

std::unique_ptr<TixCertificate> LoadTestCertificate(const std::string& AName)
{
    return LoadPemCertificate(TestCertFile(AName), TestCertFile(AName, ".key"));
}

} // namespace ix::test
