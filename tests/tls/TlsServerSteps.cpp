#include "tls/TlsServerSteps.h"

#include <stdexcept>
#include <utility>

namespace ix::test {

TlsServerSteps::TlsServerSteps(int AVersion, const std::string& ACertName,
    bool ARequestClientCertificate)
    : FServer(std::make_shared<TTlsTestServer>(AVersion, ACertName, ARequestClientCertificate))
{
}

Step TlsServerSteps::Handshake(const std::string& ABehindLastFlight) const
{
    return Step::Call([server = FServer, ABehindLastFlight](ScriptIo& AIo) {
        for (;;)
        {
            const std::string input = AIo.TakeSome();
            if (input.empty())
                throw std::runtime_error("the client closed during the handshake");
            std::string output = server->Handshake(input);
            if (server->HandshakeDone())
            {
                AIo.Send(output + server->Write(ABehindLastFlight));
                return;
            }
            if (!output.empty())
                AIo.Send(output);
        }
    });
}

Step TlsServerSteps::SendRecords(std::vector<std::string> ATexts, size_t AHoldBack) const
{
    return Step::Call([server = FServer, texts = std::move(ATexts), AHoldBack](ScriptIo& AIo) {
        std::string records;
        for (const std::string& text : texts)
            records += server->Write(text);
        if (AHoldBack == 0 || AHoldBack >= records.size())
        {
            AIo.Send(records);
            return;
        }
        const size_t cut = records.size() - AHoldBack;
        AIo.Send(records.substr(0, cut));
        AIo.WaitSignal();
        AIo.Send(records.substr(cut));
    });
}

std::string TlsServerSteps::ReadText(TTlsTestServer& AServer, ScriptIo& AIo, size_t ACount)
{
    // Records that came with the client's last handshake bytes are waiting already.
    std::string text = AServer.Read("");
    while (text.size() < ACount)
    {
        const std::string input = AIo.TakeSome();
        if (input.empty())
            throw std::runtime_error("the client closed after " + std::to_string(text.size())
                + " of " + std::to_string(ACount) + " application bytes");
        text += AServer.Read(input);
    }
    return text;
}

Step TlsServerSteps::ExpectText(std::string AText) const
{
    return Step::Call([server = FServer, expected = std::move(AText)](ScriptIo& AIo) {
        const std::string text = ReadText(*server, AIo, expected.size());
        if (text != expected)
            throw std::runtime_error("expected \"" + expected + "\", got \"" + text + "\"");
    });
}

Step TlsServerSteps::ExpectPattern(size_t ACount, std::string APattern) const
{
    return Step::Call([server = FServer, ACount, pattern = std::move(APattern)](ScriptIo& AIo) {
        const std::string text = ReadText(*server, AIo, ACount);
        if (text.size() != ACount)
            throw std::runtime_error("got " + std::to_string(text.size()) + " bytes, expected "
                + std::to_string(ACount));
        for (size_t i = 0; i < text.size(); ++i)
            if (text[i] != pattern[i % pattern.size()])
                throw std::runtime_error("application byte " + std::to_string(i) + " differs");
    });
}

Step TlsServerSteps::SendClose() const
{
    return Step::Call([server = FServer](ScriptIo& AIo) { AIo.Send(server->Close()); });
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

}  // namespace ix::test
