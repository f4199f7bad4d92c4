#include "support/TlsTestServer.h"

#include "support/TlsTestCertificates.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <stdexcept>
#include <utility>

namespace ix::test {

struct TTlsTestServer::TImpl
{
    SSL_CTX* Context = nullptr;
    SSL* Ssl = nullptr;
    BIO* In = nullptr;
    BIO* Out = nullptr;

    std::string Drain()
    {
        std::string bytes(BIO_ctrl_pending(Out), '\0');
        if (!bytes.empty())
            BIO_read(Out, bytes.data(), static_cast<int>(bytes.size()));
        return bytes;
    }

    void Feed(const std::string& AInput)
    {
        if (!AInput.empty())
            BIO_write(In, AInput.data(), static_cast<int>(AInput.size()));
    }
};

TTlsTestServer::TTlsTestServer(int AMaxVersion, const std::string& ACertName)
    : FImpl(std::make_unique<TImpl>())
{
    FImpl->Context = SSL_CTX_new(TLS_server_method());
    if (SSL_CTX_use_certificate_chain_file(FImpl->Context, TestCertFile(ACertName).c_str()) != 1
        || SSL_CTX_use_PrivateKey_file(FImpl->Context, TestCertFile(ACertName, ".key").c_str(), SSL_FILETYPE_PEM) != 1)
        throw std::runtime_error("test TLS server: no server certificate " + ACertName);
    SSL_CTX_set_max_proto_version(FImpl->Context, AMaxVersion == 12 ? TLS1_2_VERSION : TLS1_3_VERSION);
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

bool TTlsTestServer::HandshakeDone() const
{
    return SSL_is_init_finished(FImpl->Ssl) == 1;
}

std::string TTlsTestServer::ServerName() const
{
    const char* name = SSL_get_servername(FImpl->Ssl, TLSEXT_NAMETYPE_host_name);
    return name == nullptr ? std::string() : std::string(name);
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

std::string TTlsTestServer::Close()
{
    SSL_shutdown(FImpl->Ssl);
    return FImpl->Drain();
}

bool TTlsTestServer::PeerClosed() const
{
    return (SSL_get_shutdown(FImpl->Ssl) & SSL_RECEIVED_SHUTDOWN) != 0;
}

// ---- steps ------------------------------------------------------------------------------------


TlsServerSteps::TlsServerSteps(int AVersion, const std::string& ACertName)
    : FServer(std::make_shared<TTlsTestServer>(AVersion, ACertName))
{
}

namespace {

/// Sends ABytes; with AHoldBack > 0 the last AHoldBack bytes go in a second send after the
/// test's Signal.
void SendHoldingBack(ScriptIo& AIo, const std::string& ABytes, size_t AHoldBack)
{
    if (AHoldBack == 0 || AHoldBack >= ABytes.size())
    {
        AIo.Send(ABytes);
        return;
    }
    const size_t cut = ABytes.size() - AHoldBack;
    AIo.Send(ABytes.substr(0, cut));
    AIo.WaitSignal();
    AIo.Send(ABytes.substr(cut));
}

std::string RecordsOf(TTlsTestServer& AServer, const std::vector<std::string>& ATexts)
{
    std::string records;
    for (const std::string& text : ATexts)
        records += AServer.Write(text);
    return records;
}

}  // namespace

Step TlsServerSteps::Handshake(std::vector<std::string> ABehindLastFlight, size_t AHoldBack) const
{
    return Step::Call([server = FServer, behind = std::move(ABehindLastFlight), AHoldBack](ScriptIo& AIo) {
        for (;;)
        {
            const std::string input = AIo.TakeSome();
            if (input.empty())
                throw std::runtime_error("the client closed during the handshake");
            std::string output = server->Handshake(input);
            if (server->HandshakeDone())
            {
                SendHoldingBack(AIo, output + RecordsOf(*server, behind), AHoldBack);
                return;
            }
            if (!output.empty())
                AIo.Send(output);
        }
    });
}

Step TlsServerSteps::SendRecords(std::vector<std::string> ATexts, TRecordsSend AHow) const
{
    return Step::Call([server = FServer, texts = std::move(ATexts), AHow](ScriptIo& AIo) {
        std::string bytes = RecordsOf(*server, texts);
        if (AHow.Tamper)
            bytes.back() = static_cast<char>(bytes.back() ^ 0x20);
        if (AHow.Close)
            bytes += server->Close();
        SendHoldingBack(AIo, bytes, AHow.HoldBack);
    });
}

Step TlsServerSteps::ExpectText(std::string AText) const
{
    return Step::Call([server = FServer, expected = std::move(AText)](ScriptIo& AIo) {
        // Records that came with the client's last handshake bytes are waiting already.
        std::string text = server->Read("");
        while (text.size() < expected.size())
        {
            const std::string input = AIo.TakeSome();
            if (input.empty())
                throw std::runtime_error("the client closed after " + std::to_string(text.size()) + " of "
                    + std::to_string(expected.size()) + " application bytes");
            text += server->Read(input);
        }
        if (text != expected)
            throw std::runtime_error("expected " + std::to_string(expected.size())
                + " bytes \"" + expected.substr(0, 40) + "\", got \"" + text.substr(0, 40) + "\"");
    });
}

Step TlsServerSteps::ExpectClose() const
{
    return Step::Call([server = FServer](ScriptIo& AIo) {
        (void)server->Read("");
        while (!server->PeerClosed())
        {
            const std::string input = AIo.TakeSome();
            if (input.empty())
                throw std::runtime_error("the client closed without a close notification");
            (void)server->Read(input);
        }
    });
}

// ---- the client's side --------------------------------------------------------------------------

void Fill(TMemoryStream& AStream, const std::string& ABytes)
{
    AStream.Clear();
    AStream.WriteText(ABytes);
    AStream.SetPosition(0);
}

std::string Text(const TMemoryStream& AStream)
{
    return std::string(AStream.View().substr(static_cast<size_t>(AStream.Position())));
}

void AimTls(TixTcpClientTls& AClient, int32_t APort, const std::string& AHost)
{
    AClient.SetServer(AHost);
    AClient.SetPort(APort);
    AClient.SetUseTLS(ctImplicit);
    AClient.SetTimeOut(10000);
}

TixTlsNetworkStream& TlsStreamOf(TixTcpClientTls& AClient)
{
    auto* stream = dynamic_cast<TixTlsNetworkStream*>(AClient.GetConnection()->GetNetworkStream());
    if (stream == nullptr)
        throw std::runtime_error("the client's stream is not a TLS stream");
    return *stream;
}

}  // namespace ix::test
