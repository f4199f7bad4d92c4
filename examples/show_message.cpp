// Loads a message file, prints its sender, subject and body tree, and saves its attachments
// into FOLDER as N-NAME, NAME made safe for a file name (the sender chose it).
//   usage: show_message FILE.eml FOLDER
#include "ix.h"

#include <iostream>
#include <memory>

namespace {

void PrintBodies(ix::TixMessageBodies& ABodies, int ADepth)
{
    for (int32_t i = 0; i < ABodies.Count(); ++i) {
        ix::TixMessageBody& body = ABodies[i];
        std::cout << std::string(ADepth * 2, ' ') << body.GetContentType();
        if (auto* text = dynamic_cast<ix::TixTextBody*>(&body))
            std::cout << " charset=" << text->GetEffectiveCharSet() << ", " << text->GetStrings().Count() << " lines";
        if (auto* attachment = dynamic_cast<ix::TixAttachmentBody*>(&body))
            std::cout << " \"" << attachment->GetFileName() << "\"";
        std::cout << "\n";
        if (auto* multipart = dynamic_cast<ix::TixMultipartBody*>(&body))
            PrintBodies(multipart->GetBodies(), ADepth + 1);
    }
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 3)
        return std::cerr << "usage: show_message FILE.eml FOLDER\n", 2;
    try {
        ix::TixMailMessage message;
        int saved = 0;
        // Each attachment's decoded data goes into the stream that this handler gives.
        message.OnSaveAttachment = [&](ix::TObject*, ix::TixMessageBody*, std::string& AFileName,
                                       std::unique_ptr<ix::TStream>& AData, bool&) {
            const std::string name = ix::SafeFileName(AFileName, ix::MaxSafeFileNameLength - 8); // no "..", no "/"
            const std::string path = std::string(argv[2]) + "/" + std::to_string(++saved) + "-" + name;
            AData = std::make_unique<ix::TFileStream>(path, ix::fmCreate);
        };
        ix::TStringList lines;
        lines.LoadFromFile(argv[1]);
        message.LoadMessage(lines);
        std::cout << "From: " << message.GetFrom().GetFullAddress() << "\nSubject: " << message.GetSubject()
                  << "\n" << message.GetContentType() << "\n";
        PrintBodies(message.GetBodies(), 1);
    } catch (const ix::Exception& E) {
        std::cerr << E.Message() << "\n";
        return 1;
    }
}
