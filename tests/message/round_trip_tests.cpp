// Round trips: generated messages are composed and written to files (composition_tests.cpp
// checks that line lists get the same lines), then read back by LoadMessage and, every fifth
// one, by Python's email package (mime_reader.py); each reader must see the header properties
// (LoadMessage) and the part tree, types, file names, Content-IDs and decoded bytes the message
// was composed from. A corpus of messages as other programs write them (corpus/make_corpus.py)
// is read by LoadMessage as Python's email package reads it, where the library's rules allow.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "core/ixDateUtils.h"
#include "core/ixSysUtils.h"
#include "crypto/ixCryptHash.h"
#include "message/ixMailMessage.h"
#include "message_test_support.h"
#include "support/AnsiCodePageScope.h"
#include "support/ProgramRun.h"
#include "util/ixUtils.h"

using namespace ix;
using namespace ix::test;

namespace {

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

constexpr uint32_t MessageCount = 500;
constexpr uint32_t BatchSize = 50;
/// Every fifth generated message (all shapes, every character set) goes to Python too.
constexpr uint32_t ReaderStep = 5;

/// One line per part as the reader scripts print them (see mime_reader.py).
using TTree = std::vector<std::string>;
/// The decoded data of a leaf body.
using TDataOf = std::function<std::string(TixMessageBody&)>;

std::string Md5(std::string_view AData)
{
    return AData.empty() ? "d41d8cd98f00b204e9800998ecf8427e" : Md5Hex(AData);
}

/// A text body's text as lines ending with LF, the last one without it.
std::string PlainText(TixMessageBody& ABody)
{
    std::string text = StringReplace(dynamic_cast<TixTextBody&>(ABody).GetStrings().GetText(), "\r", "");
    if (text.ends_with('\n'))
        text.pop_back();
    return text;
}

TTree Tree(TixMailMessage& AMessage, const TDataOf& AData)
{
    TTree tree;
    const bool typed = AMessage.GetMessageFormat() != mfUUencode;
    const bool parts = typed && AMessage.IsMultipart();
    if (parts)
        tree.push_back("0\t" + LowerCase(AMessage.GetContentType()) + "\t-\t-\t" + Dash(AMessage.GetContentSubType()));
    const auto line = [&](TixMessageBody& ABody, int ADepth) {
        // A plain (non-MIME) message states no types.
        const std::string start = std::to_string(ADepth) + "\t" + (typed ? Dash(LowerCase(ABody.GetContentType())) : "-") + "\t";
        if (auto* multipart = dynamic_cast<TixMultipartBody*>(&ABody))
            return start + "-\t-\t" + Dash(multipart->GetContentSubType());
        auto* attachment = dynamic_cast<TixAttachmentBody*>(&ABody);
        const std::string name = attachment ? attachment->GetComposeName() : "";
        return start + (name.empty() ? "-" : Hex(name)) + "\t" + Md5(AData(ABody)) + "\t" +
            (attachment ? Dash(attachment->GetContentID()) : "-");
    };
    DescribeBodies(AMessage.GetBodies(), line, tree, parts ? 1 : 0);
    return tree;
}

/// The trees in AOutput of a reader, by the names of its "== NAME" lines.
std::map<std::string, TTree> ReadTrees(const std::string& AOutput)
{
    std::map<std::string, TTree> trees;
    std::istringstream stream(AOutput);
    TTree* current = nullptr;
    for (std::string line; std::getline(stream, line);)
        if (line.starts_with("== "))
            current = &trees[line.substr(3)];
        else if (current)
            current->push_back(line);
    return trees;
}

void ExpectSameHeader(TixMailMessage& ALoaded, TixMailMessage& AOriginal)
{
    EXPECT_EQ(ALoaded.GetSubject(), AOriginal.GetSubject());
    EXPECT_EQ(ALoaded.GetFrom().GetFullAddress(), AOriginal.GetFrom().GetFullAddress());
    EXPECT_EQ(Addresses(ALoaded.GetToList()), Addresses(AOriginal.GetToList()));
    EXPECT_EQ(Addresses(ALoaded.GetCCList()), Addresses(AOriginal.GetCCList()));
    EXPECT_EQ(ALoaded.GetReplyTo(), AOriginal.GetReplyTo());
    EXPECT_LT(std::abs(ALoaded.GetDate() - AOriginal.GetDate()), 0.5 / 86400);
    EXPECT_EQ(ALoaded.GetPriority(), AOriginal.GetPriority());
    EXPECT_EQ(ALoaded.GetMessageID(), AOriginal.GetMessageID());
    EXPECT_EQ(ALoaded.GetInReplyTo(), AOriginal.GetInReplyTo());
    EXPECT_EQ(ALoaded.GetReferences().GetText(), AOriginal.GetReferences().GetText());
    EXPECT_EQ(ALoaded.GetMailer(), AOriginal.GetMailer());
    // The fields of a single part's header come back among the message's own.
    TStringList extra;
    for (int32_t i = 0; i < ALoaded.GetExtraFields().Count(); ++i)
        if (!StartsText("Content-", ALoaded.GetExtraFields()[i]))
            extra.Add(ALoaded.GetExtraFields()[i]);
    EXPECT_EQ(extra.GetText(), AOriginal.GetExtraFields().GetText());
}

class GeneratedMessages : public ::testing::TestWithParam<uint32_t>
{
protected:
    /// Composes and writes message AIndex, loads it back and compares; keeps the file of every
    /// fifth MIME message, with its tree, for Python.
    void RoundTrip(uint32_t AIndex)
    {
        SCOPED_TRACE("message " + std::to_string(AIndex));
        TixMailMessage original;
        TAttachmentSource files(original);
        TMessageGenerator(AIndex, original, files.Files);
        const std::string name = "message" + std::to_string(AIndex) + ".eml";
        const std::filesystem::path path = FScratch.Path() / name;
        original.SaveToFile(path.string());
        TStringList lines;
        lines.LoadFromFile(path.string());
        for (int32_t i = 0; i < lines.Count(); ++i)
            ASSERT_LE(lines[i].size(), 998u) << "line " << i;
        TixMailMessage loaded;
        TBodyDataRecorder recorder(loaded);
        loaded.SetCharSet("us-ascii"); // the message states its own
        loaded.LoadMessage(lines);

        ExpectSameHeader(loaded, original);
        EXPECT_EQ(loaded.GetMessageFormat() == mfUUencode, original.GetMessageFormat() == mfUUencode);
        const TTree expected = Tree(original, [&](TixMessageBody& ABody) {
            auto* attachment = dynamic_cast<TixAttachmentBody*>(&ABody);
            return attachment ? files.Files[attachment->GetFileName()] : PlainText(ABody);
        });
        EXPECT_EQ(Tree(loaded, [&](TixMessageBody& ABody) {
            return dynamic_cast<TixAttachmentBody*>(&ABody) ? recorder.DataAdded[&ABody] : PlainText(ABody);
        }), expected);
        // Python does not read a plain message's uuencoded blocks: it splits out uuencoded data
        // only for a part whose transfer encoding says x-uuencode.
        if (AIndex % ReaderStep != 0 || original.GetMessageFormat() == mfUUencode) {
            std::filesystem::remove(path);
            return;
        }
        FFileList += " '" + path.string() + "'";
        FExpected[name] = expected;
    }

    /// Python's email package reads the kept files as they were composed.
    void ExpectSameTreesInPython()
    {
        const std::string script = (std::filesystem::path(IX_MESSAGE_TEST_DIR) / "mime_reader.py").string();
        const TProgramRun run = RunProgram("/usr/bin/python3 '" + script + "'", FFileList, FScratch.Path());
        const std::map<std::string, TTree> trees = ReadTrees(run.Out);
        ASSERT_EQ(trees.size(), FExpected.size()) << "Python must run: " << run.Err;
        for (const auto& [name, expected] : FExpected) {
            const auto found = trees.find(name);
            ASSERT_NE(found, trees.end()) << name;
            EXPECT_EQ(found->second, expected) << name;
        }
    }

    const TAnsiCodePageScope FUtf8{os::CP_UTF8}; // generated texts are UTF-8
    const TScratch FScratch{"round-trip-" + std::to_string(GetParam())};
    std::string FFileList;
    std::map<std::string, TTree> FExpected;
};

TEST_P(GeneratedMessages, ReadBackAsComposedByThisLibraryAndPython)
{
    for (uint32_t i = GetParam(); i < GetParam() + BatchSize; ++i)
        RoundTrip(i);
    ExpectSameTreesInPython();
}

INSTANTIATE_TEST_SUITE_P(Batches, GeneratedMessages, ::testing::Range(0u, MessageCount, BatchSize));

TEST(MessageCorpus, BodyTreesMatchPythonsEmailPackage)
{
    const TScratch dir("corpus");
    const std::string script = (std::filesystem::path(IX_MESSAGE_TEST_DIR) / "corpus" / "make_corpus.py").string();
    const TProgramRun run = RunProgram("/usr/bin/python3", script + " " + dir.Path().string(), dir.Path());
    ASSERT_EQ(run.Status, 0) << run.Err;
    TStringList manifest;
    manifest.LoadFromFile((dir.Path() / "manifest.txt").string());
    const std::map<std::string, TTree> corpus = ReadTrees(manifest.Join("\n"));
    ASSERT_GE(corpus.size(), 500u);
    for (const auto& [name, expected] : corpus) {
        SCOPED_TRACE(name);
        TStringList source;
        source.LoadFromFile((dir.Path() / name).string());
        TixMailMessage message;
        TBodyDataRecorder recorder(message);
        message.LoadMessage(source);
        EXPECT_EQ(Tree(message, [&](TixMessageBody& ABody) {
            // The text around the blocks of a uuencoded message comes in pieces: its lines count.
            auto* text = dynamic_cast<TixTextBody*>(&ABody);
            return text && message.GetMessageFormat() == mfUUencode ? text->GetStrings().Join("\r\n") : recorder.DataAdded[&ABody];
        }), expected);
        // Taken without a handler, the decoder writes into the lines itself while the source
        // lines are freed behind it: every text body gets the same lines.
        TStringList taken;
        taken.Assign(source);
        TixMailMessage unwatched;
        unwatched.TakeMessage(taken);
        EXPECT_EQ(taken.Count(), 0);
        const auto lines = [](TixMessageBody& ABody) {
            auto* text = dynamic_cast<TixTextBody*>(&ABody);
            return text ? text->GetStrings().Join("|") : std::string();
        };
        EXPECT_EQ(Tree(unwatched, lines), Tree(message, lines));
    }
}

} // namespace
