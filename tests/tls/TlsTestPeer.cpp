#include "tls/TlsTestPeer.h"

#include "tls/ixTestCertificates.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <map>
#include <stdexcept>
#include <utility>

namespace ix::test {

namespace {

struct TCertFiles
{
    std::map<std::string, std::string> Paths;
    std::string CaPem;
};

const TCertFiles& CertFiles()
{
    static const TCertFiles files = [] {
        TCertFiles result;
        const auto save = [&result](const std::string& AName, const TTestCert& ACert) {
            result.Paths[AName + ".pem"] = WriteTempFile("peer-" + AName + ".pem", ACert.Pem());
            result.Paths[AName + ".key"] = WriteTempFile("peer-" + AName + ".key", ACert.KeyPem());
        };
        const TTestCert ca = MakeCertificate({.CommonName = "ix Test CA", .Organization = "ix tests",
            .Serial = {1}, .NotAfterDays = 3650, .CertificateAuthority = true,
            .ExtendedKeyUsage = ""});
        result.CaPem = ca.Pem();
        save("ca", ca);
        save("server", MakeCertificate({.CommonName = "localhost",
            .AltNames = "DNS:localhost,IP:127.0.0.1", .Serial = {2}}, &ca));
        save("expired", MakeCertificate({.CommonName = "localhost",
            .AltNames = "DNS:localhost,IP:127.0.0.1", .Serial = {3}, .NotBeforeDays = -10,
            .NotAfterDays = -9}, &ca));
        save("other", MakeCertificate({.CommonName = "other.invalid",
            .AltNames = "DNS:other.invalid", .Serial = {4}}, &ca));
        save("client", MakeCertificate({.CommonName = "ix test client",
            .AltNames = "email:client@example.org", .Serial = {5},
            .ExtendedKeyUsage = "clientAuth"}, &ca));
        save("self", MakeCertificate({.CommonName = "localhost", .AltNames = "DNS:localhost",
            .Serial = {6}}));
        return result;
    }();
    return files;
}

void Check(bool AOk, const char* AWhat)
{
    if (!AOk)
        throw std::runtime_error(std::string("test TLS server: ") + AWhat);
}

}  // namespace

std::string TestCertFile(const std::string& AName, const char* AExtension)
{
    return CertFiles().Paths.at(AName + AExtension);
}

const std::string& TestCaPem()
{
    return CertFiles().CaPem;
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
