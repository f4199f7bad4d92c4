// Shared pieces of the composition tests: attachment data handed to a message through
// OnLoadAttachment, and bodies added in one call.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "message/ixMailMessage.h"

namespace ix::test {

/// Serves attachment data by file name through OnLoadAttachment; names it does not hold go to
/// the file system.
class TAttachmentSource
{
public:
    explicit TAttachmentSource(TixMailMessage& AMessage)
    {
        AMessage.OnLoadAttachment = [this](TObject*, TixMessageBody*, std::string& AFileName,
                                        std::unique_ptr<TStream>& AData, bool& AHandled) {
            ++Loads;
            const auto found = Files.find(AFileName);
            if (found == Files.end())
                return;
            auto stream = std::make_unique<TMemoryStream>();
            stream->WriteBuffer(found->second.data(), static_cast<int64_t>(found->second.size()));
            stream->Seek(0, soBeginning);
            AData = std::move(stream);
            AHandled = true;
        };
    }

    std::map<std::string, std::string> Files;
    int Loads = 0;
};

/// A text body of AList with AText (lines separated by "\n").
inline TixTextBody& AddText(TixMessageBodies& AList, std::string_view AText, std::string_view AType = "text/plain")
{
    auto& body = AList.Add<TixTextBody>();
    body.SetContentType(std::string(AType));
    body.GetStrings().SetText(AText);
    return body;
}

/// An attachment body of AList for AFileName (set after the type, as an application would).
template <typename T = TixAttachmentBody>
T& AddAttachment(TixMessageBodies& AList, const std::string& AFileName, const std::string& AType)
{
    auto& body = AList.Add<T>();
    body.SetContentType(AType);
    body.SetFileName(AFileName);
    return body;
}

} // namespace ix::test
