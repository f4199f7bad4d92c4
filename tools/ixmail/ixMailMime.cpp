// ixmail mime show|extract: the body tree of a message file, and its attachments as files.
#include "ixMailCommands.h"

#include "core/ixStreams.h"
#include "message/ixMailMessage.h"
#include "util/ixFileNames.h"

#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>

namespace ixmail {

using namespace ix;

namespace {

const char* const MimeUsage =
    "usage: ixmail mime show FILE\n"
    "       ixmail mime extract FILE DIR\n"
    "show prints the body tree (type, character set, encoding, size, name); extract writes the\n"
    "attachments into DIR under safe names (never outside DIR, never over an existing file).\n";

const char* EncodingName(TixEncodeMethod AMethod)
{
    switch (AMethod)
    {
    case cmQuotedPrintable: return "quoted-printable";
    case cmBase64: return "base64";
    case cmUUEncode: return "uuencode";
    case cm8Bit: return "8bit";
    default: return "7bit";
    }
}

/// A message file loaded with every attachment's decoded data kept in memory.
class TLoadedMessage
{
public:
    explicit TLoadedMessage(const std::string& AFile)
    {
        if (!std::filesystem::is_regular_file(AFile))
            throw EixCodedError("Cannot open file \"" + AFile + "\"", 2);
        FMessage.OnSaveAttachment = [](TObject*, TixMessageBody*, std::string&, std::unique_ptr<TStream>& AData,
                                        bool&) { AData = std::make_unique<TMemoryStream>(); };
        FMessage.OnAttachmentSaved = [this](TObject*, TixMessageBody* ABody, const std::string&, TStream& AData) {
            std::string bytes(static_cast<size_t>(AData.GetSize()), '\0');
            AData.ReadBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
            FData[ABody] = std::move(bytes);
        };
        TStringList lines;
        lines.LoadFromFile(AFile);
        FMessage.LoadMessage(lines);
    }

    TixMailMessage& Message() noexcept { return FMessage; }
    const std::string& Data(TixMessageBody* ABody) { return FData[ABody]; }

private:
    std::map<TixMessageBody*, std::string> FData;
    TixMailMessage FMessage;
};

void ShowBodies(TLoadedMessage& AMessage, TixMessageBodies& ABodies, int ADepth)
{
    for (int32_t i = 0; i < ABodies.Count(); ++i)
    {
        TixMessageBody& body = ABodies[i];
        std::cout << std::string(static_cast<size_t>(ADepth) * 2, ' ') << body.GetContentType();
        if (auto* text = dynamic_cast<TixTextBody*>(&body))
            std::cout << " charset=" << text->GetEffectiveCharSet();
        std::cout << " " << EncodingName(body.GetStoredEncoding()) << " " << body.GetEncodedSize() << " bytes";
        if (auto* attachment = dynamic_cast<TixAttachmentBody*>(&body))
            std::cout << " decoded " << AMessage.Data(&body).size() << " bytes name=\"" << attachment->GetFileName()
                      << "\"";
        std::cout << "\n";
        if (auto* multipart = dynamic_cast<TixMultipartBody*>(&body))
            ShowBodies(AMessage, multipart->GetBodies(), ADepth + 1);
    }
}

/// A path inside AFolder for the safe form of AName that names no existing file.
std::filesystem::path FreePath(const std::filesystem::path& AFolder, const std::string& AName)
{
    const std::string safe = SafeFileName(AName);
    std::filesystem::path path = AFolder / safe;
    for (int n = 1; std::filesystem::exists(std::filesystem::symlink_status(path)); ++n)
    {
        const std::filesystem::path name(safe);
        path = AFolder / (name.stem().string() + "-" + std::to_string(n) + name.extension().string());
    }
    return path;
}

int Extract(TLoadedMessage& AMessage, const std::filesystem::path& AFolder)
{
    std::filesystem::create_directories(AFolder);
    const TixAttachmentList& attachments = AMessage.Message().GetAttachmentList();
    for (int32_t i = 0; i < attachments.Count(); ++i)
    {
        TixAttachmentBody& body = attachments[i];
        const std::filesystem::path path = FreePath(AFolder, body.GetFileName());
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file << AMessage.Data(&body);
        if (!file.flush())
            throw EixCodedError("Cannot write " + path.string(), 0);
        std::cout << path.string() << "\n";
    }
    return 0;
}

} // namespace

int MimeCommand(const std::vector<std::string>& AArgs)
{
    const TArgs args(AArgs, {"help"}, {});
    if (args.Has("help"))
    {
        std::cout << MimeUsage;
        return 0;
    }
    const std::vector<std::string>& words = args.Positional();
    if (words.size() == 2 && words[0] == "show")
    {
        TLoadedMessage message(words[1]);
        std::cout << message.Message().GetContentType() << "\n";
        ShowBodies(message, message.Message().GetBodies(), 1);
        return 0;
    }
    if (words.size() == 3 && words[0] == "extract")
    {
        TLoadedMessage message(words[1]);
        return Extract(message, words[2]);
    }
    throw TUsageError("mime needs show FILE or extract FILE DIR (ixmail mime --help)");
}

} // namespace ixmail
