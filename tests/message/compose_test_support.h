// Shared pieces of the composition tests: attachment data handed to a message through
// OnLoadAttachment, bodies added in one call, and deterministic messages of the shapes mail
// software writes (text with HTML alternative, related images, attachments of 0 bytes to 5 MB,
// names in several character sets, uuencoded plain messages).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "core/ixDateUtils.h"
#include "core/ixSysUtils.h"
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

/// Builds message number AIndex (the same message for the same index on every run).
class TMessageGenerator
{
public:
    /// Fills AMessage; attachment data goes to AFiles under the body's file name.
    TMessageGenerator(uint32_t AIndex, TixMailMessage& AMessage, std::map<std::string, std::string>& AFiles)
        : FIndex(AIndex), FRandom(AIndex * 2654435761u + 17), FMessage(AMessage), FFiles(AFiles),
          FCharSet(CharSets[AIndex % std::size(CharSets)])
    {
        Build();
    }

private:
    /// The character sets of the messages, each with letters beyond ASCII that it holds (UTF-8).
    struct TCharSet
    {
        std::string_view Name;
        std::vector<std::string_view> Letters;
    };
    inline static const TCharSet CharSets[] = {
        {"utf-8", {"\xC3\xA9", "\xE2\x82\xAC", "\xE6\x97\xA5", "\xD0\xB6", "\xF0\x9F\x8E\x89"}},
        {"iso-8859-1", {"\xC3\xA9", "\xC3\xBC", "\xC3\x9F", "\xC3\xB1"}},
        {"koi8-r", {"\xD0\x96", "\xD0\xBF", "\xD1\x8F", "\xD1\x91"}},
        {"windows-1251", {"\xD0\x96", "\xD0\xBF", "\xD1\x8F", "\xD1\x91"}},
        {"iso-8859-2", {"\xC5\x82", "\xC5\xBE", "\xC3\xA1"}},
    };

    int32_t Between(int32_t ALow, int32_t AHigh) { return std::uniform_int_distribution<int32_t>(ALow, AHigh)(FRandom); }
    bool Chance(int32_t APercent) { return Between(1, 100) <= APercent; }

    /// A word of 1 to 10 letters; non-ASCII letters only with ANational.
    std::string Word(bool ANational)
    {
        const std::vector<std::string_view>& letters = FCharSet.Letters;
        std::string word;
        for (int32_t n = Between(1, 10); n > 0; --n)
            if (ANational && Chance(30))
                word += letters[static_cast<size_t>(Between(0, static_cast<int32_t>(letters.size()) - 1))];
            else
                word += static_cast<char>('a' + Between(0, 25));
        return word;
    }

    std::string Words(int32_t ACount, bool ANational)
    {
        std::string text;
        for (int32_t i = 0; i < ACount; ++i)
            text += (i ? " " : "") + Word(ANational);
        return text;
    }

    /// Lines of text: short and long ones, lines that look like boundaries, "From " and ".".
    std::string Text(bool ANational)
    {
        static constexpr std::string_view Specials[] = {"--", "From here", ".", "--Mark=_1", "=3D not an escape", "a  b", "blank "};
        std::string text;
        for (int32_t n = Between(1, 12); n > 0; --n) {
            if (Chance(10))
                text += Specials[static_cast<size_t>(Between(0, std::size(Specials) - 1))];
            else
                text += Words(Chance(10) ? Between(20, 60) : Between(1, 12), ANational);
            text += n > 1 ? "\n" : "";
        }
        return text;
    }

    std::string Bytes(int32_t ASize)
    {
        std::string data(static_cast<size_t>(ASize), '\0');
        for (size_t i = 0; i < data.size(); i += 4)
            for (uint32_t bits = FRandom(), n = 0; n < 4 && i + n < data.size(); ++n, bits >>= 8)
                data[i + n] = static_cast<char>(bits);
        return data;
    }

    /// A text file's content: lines ending with LF or CR LF, and at its end nothing, a line
    /// break, a blank or an empty line.
    std::string TextFile()
    {
        static constexpr std::string_view Endings[] = {"", "\n", " ", "\n\n"};
        std::string text = Text(false) + std::string(Endings[static_cast<size_t>(Between(0, 3))]);
        return Chance(50) ? StringReplace(text, "\n", "\r\n") : text;
    }

    /// Attachment sizes: mostly small, one in ten of 10-500 KB, and now and then up to 5 MB.
    int32_t AttachmentSize()
    {
        if (FIndex % 50 == 7 && !FBig) {
            FBig = true;
            return Between(1 << 20, 5 << 20);
        }
        const int32_t kind = Between(1, 10);
        return kind == 1 ? 0 : kind <= 9 ? Between(1, 4000) : Between(10 << 10, 500 << 10);
    }

    std::string FileName(std::string_view AExtension)
    {
        // Long national names need RFC 2231 pieces.
        std::string name = Chance(20) ? Words(Between(6, 10), true) : Word(Chance(60));
        return name + "." + std::string(AExtension);
    }

    void AddAttachment(TixMessageBodies& AList)
    {
        static constexpr std::string_view Types[][2] = {
            {"application/pdf", "pdf"}, {"application/octet-stream", "bin"}, {"audio/mpeg", "mp3"}, {"text/plain", "txt"}};
        const auto& type = Types[static_cast<size_t>(Between(0, std::size(Types) - 1))];
        const std::string name = FileName(type[1]);
        FFiles[name] = type[1] == "txt" ? TextFile() : Bytes(AttachmentSize());
        auto& body = test::AddAttachment(AList, name, std::string(type[0]));
        if (Chance(20))
            body.SetContentID("att" + std::to_string(Between(1, 9999)) + "@example.org");
    }

    TixTextBody& AddText(TixMessageBodies& AList, std::string_view AType)
    {
        std::string text = Text(Chance(50));
        if (AType == "text/html")
            text = "<html><body><p>" + text + "</p></body></html>";
        auto& body = test::AddText(AList, text, AType);
        body.SetCharSet(std::string(FCharSet.Name));
        return body;
    }

    void AddPlainAndHtml(TixMessageBodies& AList)
    {
        AddText(AList, "text/plain");
        AddText(AList, "text/html");
    }

    void AddRelated(TixMessageBodies& AList)
    {
        auto& related = AList.Add<TixMultipartBody>();
        related.SetContentType("multipart/related");
        related.SetContentSubType("text/html");
        AddText(related.GetBodies(), "text/html");
        for (int32_t n = Between(1, 2); n > 0; --n) {
            const std::string name = "image" + std::to_string(n) + "_" + Word(false) + ".png";
            FFiles[name] = Bytes(Between(0, 20000));
            test::AddAttachment<TixImageBody>(related.GetBodies(), name, "image/png");
        }
    }

    void BuildHeader()
    {
        FMessage.SetCharSet(std::string(FCharSet.Name));
        FMessage.SetUseHeaderEncodingExtensions(Chance(50));
        const bool national = Chance(60);
        FMessage.SetSubject(Chance(15) ? Words(Between(12, 25), national) : Words(Between(1, 6), national));
        FMessage.GetFrom().SetName(Chance(20) ? "Doe, John \"JD\"" : Words(2, Chance(50)));
        FMessage.GetFrom().SetEmail("sender" + std::to_string(FIndex) + "@example.org");
        for (int32_t n = Between(1, 4); n > 0; --n)
            FMessage.GetToList().AddAddress(Words(1, Chance(30)) + " <to" + std::to_string(n) + "@example.net>");
        if (Chance(40))
            FMessage.GetCCList().AddAddress("cc@example.com");
        if (Chance(30))
            FMessage.SetReplyTo("Replies <replies@example.org>");
        FMessage.SetDate(EncodeDateTime({Between(2000, 2030), Between(1, 12), Between(1, 28), Between(0, 23),
            Between(0, 59), Between(0, 59)}));
        FMessage.SetPriority(static_cast<TixMessagePriority>(Between(mpLow, mpHigh)));
        if (Chance(30)) {
            FMessage.SetInReplyTo("<parent" + std::to_string(FIndex) + "@example.org>");
            FMessage.GetReferences().Add("<root@example.org>");
            FMessage.GetReferences().Add(FMessage.GetInReplyTo());
        }
        if (Chance(50))
            FMessage.SetMailer("ix tests");
        if (Chance(30))
            FMessage.GetExtraFields().Add("X-Generated: message " + std::to_string(FIndex));
    }

    void Build()
    {
        BuildHeader();
        TixMessageBodies& bodies = FMessage.GetBodies();
        switch (FIndex % 6) {
        case 0: // plain text only
            AddText(bodies, "text/plain");
            break;
        case 1: // text and HTML
            FMessage.SetContentType("multipart/alternative");
            AddPlainAndHtml(bodies);
            break;
        case 2: { // alternatives and attachments
            FMessage.SetContentType("multipart/mixed");
            auto& alternative = bodies.Add<TixMultipartBody>();
            alternative.SetContentType("multipart/alternative");
            AddPlainAndHtml(alternative.GetBodies());
            for (int32_t n = Between(1, 3); n > 0; --n)
                AddAttachment(bodies);
            break;
        }
        case 3: // HTML with images, and an attachment
            FMessage.SetContentType("multipart/mixed");
            AddRelated(bodies);
            AddAttachment(bodies);
            break;
        case 4: // a plain message with uuencoded files
            FMessage.SetMessageFormat(mfUUencode);
            FMessage.SetCharSet("utf-8");
            test::AddText(bodies, Text(false));
            for (int32_t n = Between(1, 2); n > 0; --n) {
                const std::string name = Word(false) + ".dat";
                FFiles[name] = Bytes(AttachmentSize());
                test::AddAttachment(bodies, name, "application/octet-stream");
            }
            break;
        default: // one attachment as the whole message
            FMessage.SetContentType("application/octet-stream");
            AddAttachment(bodies);
            break;
        }
    }

    uint32_t FIndex;
    std::mt19937 FRandom;
    TixMailMessage& FMessage;
    std::map<std::string, std::string>& FFiles;
    const TCharSet& FCharSet;
    bool FBig = false;
};

} // namespace ix::test
