// Verifies every DKIM-Signature of a message file, the keys fetched from DNS (the name servers
// of /etc/resolv.conf, or SERVER and PORT), and prints one line per signature.
//   usage: verify_dkim FILE.eml [SERVER [PORT]]
// Exit status 0 when every signature verified (and there is one), 1 otherwise.
#include "ix.h"

#include <cstdlib>
#include <iostream>

int main(int argc, char* argv[])
{
    if (argc < 2 || argc > 4)
        return std::cerr << "usage: verify_dkim FILE.eml [SERVER [PORT]]\n", 2;
    try {
        ix::TixDkim dkim;
        dkim.SetVerifyMode(ix::dvmVerifyAll); // every signature, not only up to the first failure
        ix::TixDnsQuery& dns = dkim.GetDnsQuery();
        dns.SetDisableGuiProcessing(true);
        if (argc > 2)
            dns.SetServer(argv[2]);
        if (argc > 3)
            dns.SetPort(std::atoi(argv[3]));
        // The message runs its verifier after loading; Verify(lines) alone works as well.
        ix::TixMailMessage message;
        message.SetDkim(&dkim);
        ix::TStringList lines;
        lines.LoadFromFile(argv[1]);
        message.LoadMessage(lines);
        int verified = 0;
        for (int32_t i = 0; i < dkim.GetSignatures().Count(); ++i) {
            const ix::TixDkimSignature& signature = *dkim.GetSignatures()[i];
            const ix::TixDkimSignatureVerifyStatus& status = signature.VerifyStatus;
            std::cout << "d=" << signature.Domain << " s=" << signature.Selector << ": ";
            if (status.GetStatus() == ix::TixDkimSignatureVerifyStatus::Verified && ++verified)
                std::cout << "pass\n";
            else
                std::cout << "fail: " << status.GetStatusText() << " (code " << status.GetErrorCode() << ")\n";
        }
        return verified > 0 && verified == dkim.GetSignatures().Count() ? 0 : 1;
    } catch (const ix::Exception& E) {
        std::cerr << E.Message() << "\n";
        return 1;
    }
}
