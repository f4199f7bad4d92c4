#include "tls/TlsTestPeer.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <utility>

namespace ix::test {

namespace {

struct TKeyFree
{
    void operator()(EVP_PKEY* AValue) const noexcept { EVP_PKEY_free(AValue); }
};
struct TCertFree
{
    void operator()(X509* AValue) const noexcept { X509_free(AValue); }
};
using TKey = std::unique_ptr<EVP_PKEY, TKeyFree>;
using TCert = std::unique_ptr<X509, TCertFree>;

void Check(bool AOk, const char* AWhat)
{
    if (!AOk)
        throw std::runtime_error(std::string("test certificates: ") + AWhat);
}

void AddExtension(X509* ACert, X509* AIssuer, int ANid, const char* AValue)
{
    X509V3_CTX context;
    X509V3_set_ctx(&context, AIssuer, ACert, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, ANid, AValue);
    Check(extension != nullptr && X509_add_ext(ACert, extension, -1) == 1, "extension");
    X509_EXTENSION_free(extension);
}

struct TCertSpec
{
    const char* CommonName;
    const char* AltNames;      ///< subjectAltName value, or null
    const char* Usage;         ///< extendedKeyUsage value, or null for a certificate authority
    long NotBeforeDays;
    long NotAfterDays;
};

TCert MakeCertificate(const TCertSpec& ASpec, EVP_PKEY* AKey, X509* AIssuer, EVP_PKEY* AIssuerKey,
    long ASerial)
{
    TCert cert(X509_new());
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), ASerial);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), ASpec.NotBeforeDays * 86400);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), ASpec.NotAfterDays * 86400);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
        reinterpret_cast<const unsigned char*>("ix tests"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
        reinterpret_cast<const unsigned char*>(ASpec.CommonName), -1, -1, 0);
    X509* issuer = AIssuer == nullptr ? cert.get() : AIssuer;
    X509_set_issuer_name(cert.get(), X509_get_subject_name(issuer));
    X509_set_pubkey(cert.get(), AKey);
    if (ASpec.Usage == nullptr)
    {
        AddExtension(cert.get(), issuer, NID_basic_constraints, "critical,CA:TRUE");
        AddExtension(cert.get(), issuer, NID_key_usage, "critical,keyCertSign,cRLSign");
    }
    else
    {
        AddExtension(cert.get(), issuer, NID_basic_constraints, "CA:FALSE");
        AddExtension(cert.get(), issuer, NID_ext_key_usage, ASpec.Usage);
    }
    if (ASpec.AltNames != nullptr)
        AddExtension(cert.get(), issuer, NID_subject_alt_name, ASpec.AltNames);
    Check(X509_sign(cert.get(), AIssuerKey == nullptr ? AKey : AIssuerKey, EVP_sha256()) > 0, "sign");
    return cert;
}

void WritePem(const std::string& ABase, X509* ACert, EVP_PKEY* AKey)
{
    FILE* file = std::fopen((ABase + ".pem").c_str(), "w");
    Check(file != nullptr && PEM_write_X509(file, ACert) == 1, "write certificate");
    std::fclose(file);
    file = std::fopen((ABase + ".key").c_str(), "w");
    Check(file != nullptr
            && PEM_write_PrivateKey(file, AKey, nullptr, nullptr, 0, nullptr, nullptr) == 1,
        "write key");
    std::fclose(file);
}

std::string MakeCertificates()
{
    char pattern[] = "/tmp/ix-tls-tests-XXXXXX";
    Check(mkdtemp(pattern) != nullptr, "directory");
    const std::string dir = pattern;
    const auto newKey = [] { return TKey(EVP_EC_gen("P-256")); };
    const TKey caKey = newKey();
    const TCert ca = MakeCertificate({"ix Test CA", nullptr, nullptr, -1, 3650}, caKey.get(),
        nullptr, nullptr, 1);
    WritePem(dir + "/ca", ca.get(), caKey.get());
    const TCertSpec leaves[] = {
        {"localhost", "DNS:localhost,IP:127.0.0.1", "serverAuth", -1, 3650},
        {"localhost", "DNS:localhost,IP:127.0.0.1", "serverAuth", -10, -9},
        {"other.invalid", "DNS:other.invalid", "serverAuth", -1, 3650},
        {"ix test client", "email:client@example.org", "clientAuth", -1, 3650},
    };
    const char* names[] = {"server", "expired", "other", "client"};
    for (size_t i = 0; i < std::size(leaves); ++i)
    {
        const TKey key = newKey();
        const TCert cert = MakeCertificate(leaves[i], key.get(), ca.get(), caKey.get(), long(i) + 2);
        WritePem(dir + "/" + names[i], cert.get(), key.get());
    }
    const TKey selfKey = newKey();
    const TCert self = MakeCertificate({"localhost", "DNS:localhost", "serverAuth", -1, 3650},
        selfKey.get(), nullptr, nullptr, 9);
    WritePem(dir + "/self", self.get(), selfKey.get());
    return dir;
}

}  // namespace

const std::string& TestCertDir()
{
    static const std::string dir = MakeCertificates();
    return dir;
}

std::string TestCertFile(const std::string& AName, const char* AExtension)
{
    return TestCertDir() + "/" + AName + AExtension;
}

struct TTlsTestServer::TImpl
{
    SSL_CTX* Context = nullptr;
    SSL* Ssl = nullptr;
    BIO* In = nullptr;
    BIO* Out = nullptr;
    std::string Held;

    std::string Drain()
    {
        std::string bytes(BIO_ctrl_pending(Out), '\0');
        if (!bytes.empty())
            BIO_read(Out, bytes.data(), static_cast<int>(bytes.size()));
        return std::exchange(Held, std::string()) + bytes;
    }

    void Feed(const std::string& AInput)
    {
        if (!AInput.empty())
            BIO_write(In, AInput.data(), static_cast<int>(AInput.size()));
    }
};

TTlsTestServer::TTlsTestServer(int AMaxVersion, const std::string& ACertName,
    bool ARequestClientCertificate)
    : FImpl(std::make_unique<TImpl>())
{
    FImpl->Context = SSL_CTX_new(TLS_server_method());
    Check(SSL_CTX_use_certificate_chain_file(FImpl->Context, TestCertFile(ACertName).c_str()) == 1
            && SSL_CTX_use_PrivateKey_file(FImpl->Context, TestCertFile(ACertName, ".key").c_str(),
                   SSL_FILETYPE_PEM) == 1,
        "server certificate");
    SSL_CTX_set_max_proto_version(FImpl->Context, AMaxVersion == 12 ? TLS1_2_VERSION : TLS1_3_VERSION);
    if (ARequestClientCertificate)
        SSL_CTX_set_verify(FImpl->Context, SSL_VERIFY_PEER, [](int, X509_STORE_CTX*) { return 1; });
    FImpl->Ssl = SSL_new(FImpl->Context);
    FImpl->In = BIO_new(BIO_s_mem());
    FImpl->Out = BIO_new(BIO_s_mem());
    SSL_set_bio(FImpl->Ssl, FImpl->In, FImpl->Out);
    SSL_set_accept_state(FImpl->Ssl);
}

TTlsTestServer::~TTlsTestServer()
{
    SSL_free(FImpl->Ssl);
    SSL_CTX_free(FImpl->Context);
}

std::string TTlsTestServer::Handshake(const std::string& AInput)
{
    FImpl->Feed(AInput);
    SSL_do_handshake(FImpl->Ssl);
    ERR_clear_error();
    return FImpl->Drain();
}

void TTlsTestServer::Finish(const std::string& AInput)
{
    FImpl->Held = Handshake(AInput);
}

bool TTlsTestServer::HandshakeDone() const
{
    return SSL_is_init_finished(FImpl->Ssl) == 1;
}

std::string TTlsTestServer::ServerName() const
{
    const char* name = SSL_get_servername(FImpl->Ssl, TLSEXT_NAMETYPE_host_name);
    return name == nullptr ? std::string() : std::string(name);
}

bool TTlsTestServer::ClientSentCertificate() const
{
    return SSL_get0_peer_certificate(FImpl->Ssl) != nullptr;
}

int TTlsTestServer::Version() const
{
    return SSL_version(FImpl->Ssl) == TLS1_3_VERSION ? 13 : 12;
}

std::string TTlsTestServer::Write(const std::string& AText)
{
    if (!AText.empty())
        SSL_write(FImpl->Ssl, AText.data(), static_cast<int>(AText.size()));
    return FImpl->Drain();
}

std::string TTlsTestServer::Read(const std::string& AInput)
{
    FImpl->Feed(AInput);
    std::string text;
    char buffer[4096];
    int count;
    while ((count = SSL_read(FImpl->Ssl, buffer, sizeof(buffer))) > 0)
        text.append(buffer, static_cast<size_t>(count));
    ERR_clear_error();
    return text;
}

std::string TTlsTestServer::KeyUpdate()
{
    SSL_key_update(FImpl->Ssl, SSL_KEY_UPDATE_REQUESTED);
    SSL_do_handshake(FImpl->Ssl);
    return FImpl->Drain();
}

std::string TTlsTestServer::Close()
{
    SSL_shutdown(FImpl->Ssl);
    return FImpl->Drain();
}

bool TTlsTestServer::PeerClosed() const
{
    return (SSL_get_shutdown(FImpl->Ssl) & SSL_RECEIVED_SHUTDOWN) != 0;
}

}  // namespace ix::test
