// Composes a message with a text and a file attached, and writes it to OUT.eml (lines ending in
// CR LF, ready for a mail server). Texts are taken in the process's code page (UTF-8 here).
//   usage: compose_message FROM TO SUBJECT FILE OUT.eml
#include "ix.h"

#include <iostream>

int main(int argc, char* argv[])
{
    if (argc != 6)
        return std::cerr << "usage: compose_message FROM TO SUBJECT FILE OUT.eml\n", 2;
    try {
        ix::TixMailMessage message;
        message.GetFrom().SetFullAddress(argv[1]); // "Name <address>" or an address alone
        message.GetToList().AddAddress(argv[2]);
        message.SetSubject(argv[3]); // non-ASCII text goes out as encoded words
        message.SetCharSet("utf-8");
        message.SetDate(ix::Now());
        auto& text = message.GetBodies().Add<ix::TixTextBody>();
        text.SetContentType("text/plain");
        text.GetStrings().SetText("The file is attached.\n");
        auto& file = message.GetBodies().Add<ix::TixAttachmentBody>();
        file.SetContentType("application/octet-stream");
        file.SetFileName(argv[4]); // read when the message is written; the name is sent without the path
        message.SaveToFile(argv[5]);
    } catch (const ix::Exception& E) {
        std::cerr << E.Message() << "\n";
        return 1;
    }
}
