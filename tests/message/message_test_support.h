// Shared pieces of the message tests: a fixture that loads a message from its lines, a recorder
// of the data the message hands out through its events, the forms in which they compare, and
// bodies added in one call with their attachment data served through OnLoadAttachment.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "message/ixMailMessage.h"
#include "util/ixUtils.h"

namespace ix::test {

/// The bytes of AText in lower-case hexadecimal.
inline std::string Hex(std::string_view AText)
{
    return LowerCase(BytesToHex(AsBytes(AText)));
}

/// The lines of AList.
inline std::vector<std::string> LinesOf(const TStrings& AList)
{
    std::vector<std::string> lines;
    for (int32_t i = 0; i < AList.Count(); ++i)
        lines.push_back(AList[i]);
    return lines;
}

/// "name|address;" per address of AList.
inline std::string Addresses(const TixEmailAddressList& AList)
{
    std::string result;
    for (int32_t i = 0; i < AList.Count(); ++i)
        result += AList[i].GetName() + "|" + AList[i].GetEmail() + ";";
    return result;
}

/// AText, or "-" where it is empty.
inline std::string Dash(const std::string& AText)
{
    return AText.empty() ? "-" : AText;
}

/// One line per body of ABodies, each multipart body followed by the lines of the bodies inside
/// it: ALine makes a body's line from the body and its depth (ADepth for those of ABodies).
inline void DescribeBodies(TixMessageBodies& ABodies, const std::function<std::string(TixMessageBody&, int)>& ALine,
    std::vector<std::string>& ALines, int ADepth = 0)
{
    for (int32_t i = 0; i < ABodies.Count(); ++i) {
        ALines.push_back(ALine(ABodies[i], ADepth));
        if (auto* multipart = dynamic_cast<TixMultipartBody*>(&ABodies[i]))
            DescribeBodies(multipart->GetBodies(), ALine, ALines, ADepth + 1);
    }
}

/// A fresh message and the lines it is loaded from.
class MessageLoadTest : public ::testing::Test
{
protected:
    /// Loads AText into Message.
    void Load(std::string_view AText)
    {
        Source.SetText(AText);
        Message.LoadMessage(Source);
    }

    TixMailMessage Message;
    TStringList Source;
};

/// Gives every attachment a memory stream and keeps what each body's data decoded to.
class TBodyDataRecorder
{
public:
    struct TSaved
    {
        std::string FileName;
        std::string Data;
    };

    explicit TBodyDataRecorder(TixMailMessage& AMessage)
    {
        AMessage.OnSaveAttachment = [this](TObject*, TixMessageBody*, std::string& AFileName,
                                        std::unique_ptr<TStream>& AData, bool&) {
            if (!FRenameTo.empty())
                AFileName = FRenameTo;
            if (FGiveStreams)
                AData = std::make_unique<TMemoryStream>();
        };
        AMessage.OnAttachmentSaved = [this](TObject*, TixMessageBody*, const std::string& AFileName, TStream& AData) {
            Saved.push_back({AFileName, ReadAll(AData)});
        };
        AMessage.OnDataAdded = [this](TObject*, TixMessageBody* ABody, TStream& AData) {
            DataAdded[ABody] += ReadAll(AData);
        };
    }

    /// Whether attachments get a stream (without one their data is not decoded).
    void SetGiveStreams(bool AValue) { FGiveStreams = AValue; }
    /// A file name the save event returns instead of the body's.
    void SetRenameTo(std::string AValue) { FRenameTo = std::move(AValue); }

    static std::string ReadAll(TStream& AStream)
    {
        std::string data(static_cast<size_t>(AStream.Remaining()), '\0');
        AStream.ReadBuffer(data.data(), static_cast<int64_t>(data.size()));
        AStream.Seek(0, soBeginning);
        return data;
    }

    std::vector<TSaved> Saved;
    std::map<const TixMessageBody*, std::string> DataAdded;

private:
    bool FGiveStreams = true;
    std::string FRenameTo;
};

/// Serves attachment data by file name through OnLoadAttachment; names it does not hold go to
/// the file system.
class TAttachmentSource
{
public:
    explicit TAttachmentSource(TixMailMessage& AMessage)
    {
        AMessage.OnLoadAttachment = [this](TObject*, TixMessageBody*, std::string& AFileName,
                                        std::unique_ptr<TStream>& AData, bool& AHandled) {
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
