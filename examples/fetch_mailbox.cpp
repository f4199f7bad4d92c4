// Saves every message of a POP3 mailbox as FOLDER/N.eml, byte for byte, over TLS from the
// first byte (POP3S). The server's certificate must verify against the system's trust store
// (or the file SSL_CERT_FILE names); a certificate that fails is refused.
//   usage: POP3_PASSWORD=... fetch_mailbox HOST PORT USER FOLDER
#include "ix.h"

#include <cstdlib>
#include <fstream>
#include <iostream>

int main(int argc, char* argv[])
{
    const char* password = std::getenv("POP3_PASSWORD");
    if (argc != 5 || password == nullptr)
        return std::cerr << "usage: POP3_PASSWORD=... fetch_mailbox HOST PORT USER FOLDER\n", 2;
    try {
        ix::TixPop3 pop3;
        pop3.SetServer(argv[1]);
        pop3.SetPort(std::atoi(argv[2]));
        pop3.SetUseTLS(ix::ctImplicit);
        pop3.SetUserName(argv[3]);
        pop3.SetPassword(password);
        pop3.SetDisableGuiProcessing(true); // no window whose messages need dispatching
        pop3.OnVerifyServer = [](ix::TObject*, ix::TixCertificate*, const std::string& AText, int32_t, bool& AVerified) {
            if (!AVerified) // the system's verdict; setting it to true accepts the certificate
                std::cerr << "certificate refused: " << AText << "\n";
        };
        pop3.Open();
        for (int32_t n = 1; n <= pop3.GetMessageCount(); ++n) {
            pop3.Retrieve(n, nullptr);
            std::ofstream file(std::string(argv[4]) + "/" + std::to_string(n) + ".eml", std::ios::binary);
            if (!(file << pop3.GetResponse().GetText()).flush())
                return std::cerr << "cannot write message " << n << "\n", 1;
        }
        pop3.Close();
    } catch (const ix::EixCodedError& E) {
        std::cerr << E.Message() << " (code " << E.ErrorCode() << ")\n";
        return 1;
    }
}
