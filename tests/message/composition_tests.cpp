// Composing bodies (part headers, boundaries, encodings, uuencoded blocks) and writing whole
// messages, checked on the lines written and by loading them back.
#include "message/ixMailMessage.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "compose_test_support.h"
#include "message_test_support.h"
#include "support/AnsiCodePageScope.h"

using namespace ix;
using namespace ix::test;

namespace {

std::vector<std::string> LinesOf(const TStrings& ALines)
{
    std::vector<std::string> result;
    for (int32_t i = 0; i < ALines.Count(); ++i)
        result.push_back(ALines[i]);
    return result;
}

class Composition : public ::testing::Test
{
protected:
    std::vector<std::string> Compose()
    {
        TStringList lines;
        Message.ComposeBodies(lines);
        return LinesOf(lines);
    }
    std::vector<std::string> Save(bool AIncludeBcc = false)
    {
        TStringList lines;
        Message.SaveToStrings(lines, AIncludeBcc);
        return LinesOf(lines);
    }
    /// The part header lines of the composed parts that hold AText.
    static bool Holds(const std::vector<std::string>& ALines, std::string_view AText)
    {
        for (const std::string& line : ALines)
            if (line.find(AText) != std::string::npos)
                return true;
        return false;
    }

    const TAnsiCodePageScope FUtf8{os::CP_UTF8}; // the texts here are UTF-8
    TixMailMessage Message;
    TAttachmentSource Files{Message};
};

TEST_F(Composition, TwoTextBodiesComposeBetweenBoundaryLines)
{
    Message.SetBoundary("b1");
    AddText(Message.GetBodies(), "one");
    AddText(Message.GetBodies(), "two\nlines", "text/html");
    const std::vector<std::string> expected = {"--b1", "Content-Type: text/plain; charset=\"iso-8859-1\"",
        "Content-Transfer-Encoding: 7bit", "", "one", "", "--b1", "Content-Type: text/html; charset=\"iso-8859-1\"",
        "Content-Transfer-Encoding: 7bit", "", "two", "lines", "", "--b1--"};
    EXPECT_EQ(Compose(), expected);
}

TEST_F(Composition, NonMimeAttachmentIsAUuencodedBlockWithoutBoundaries)
{
    Files.Files["C:\\docs\\cat.txt"] = "Cat";
    Message.SetMessageFormat(mfUUencode);
    AddText(Message.GetBodies(), "see the file");
    AddAttachment(Message.GetBodies(), "C:\\docs\\cat.txt", "text/plain");
    const std::vector<std::string> expected = {"see the file", "begin 644 cat.txt", "#0V%T", "end"};
    EXPECT_EQ(Compose(), expected);
    const std::vector<std::string> saved = Save();
    EXPECT_FALSE(Holds(saved, "MIME-Version") || Holds(saved, "Content-Type")) << "non-MIME: no content fields";
}

struct EncodingCase
{
    std::string_view Name;
    std::string Text;
    int32_t CharsPerLine;
    TixEncodeMethod Expected;
    std::string_view Written;
};

class TextEncoding : public Composition, public ::testing::WithParamInterface<EncodingCase>
{
};

// The last three cases are data that 7bit would not carry unchanged, at a folding width that
// lets the line lengths pass.
const EncodingCase EncodingCases[] = {
    {"Ascii", "plain words and more", 76, cmNone, "7bit"},
    {"Accented", "caf\xC3\xA9 au lait", 76, cmQuotedPrintable, "quoted-printable"},
    {"Tab", "a\tb", 76, cmBase64, "base64"},
    {"LineOver998", std::string(1200, 'x'), 2000, cmQuotedPrintable, "quoted-printable"},
    {"BareCr", "one\rtwo", 76, cmQuotedPrintable, "quoted-printable"},
    {"Nul", std::string("a\0b", 3), 76, cmBase64, "base64"},
};

INSTANTIATE_TEST_SUITE_P(Composition, TextEncoding, ::testing::ValuesIn(EncodingCases),
    [](const auto& AInfo) { return std::string(AInfo.param.Name); });

TEST_P(TextEncoding, FollowsTheTextAndIsWrittenInThePartHeader)
{
    Message.SetCharsPerLine(GetParam().CharsPerLine);
    Message.SetCharSet("utf-8");
    AddText(Message.GetBodies(), "first");
    auto& body = Message.GetBodies().Add<TixTextBody>();
    body.GetStrings().Add(GetParam().Text);
    EXPECT_EQ(body.GetStoredEncoding(), GetParam().Expected);
    EXPECT_TRUE(Holds(Compose(), "Content-Transfer-Encoding: " + std::string(GetParam().Written)));

    TStringList lines;
    Message.SaveToStrings(lines);
    TixMailMessage loaded;
    loaded.LoadMessage(lines);
    ASSERT_EQ(loaded.GetBodies().Count(), 2);
    auto& text = dynamic_cast<TixTextBody&>(loaded.GetBodies()[1]);
    // Lines hold text: NUL arrives as a blank, a bare CR ends a line.
    std::string expected = GetParam().Text;
    std::replace(expected.begin(), expected.end(), '\0', ' ');
    TStringList split;
    split.SetText(expected);
    EXPECT_EQ(text.GetStrings().GetText(), split.GetText());
}

TEST_F(Composition, EightBitTextThatCannotTravelAsItStandsIsQuotedPrintable)
{
    Message.SetCharSet("iso-2022-jp"); // 8bit for the message
    Message.SetCharsPerLine(2000);
    AddText(Message.GetBodies(), std::string(1000, 'y'));
    const std::vector<std::string> lines = Save();
    EXPECT_TRUE(Holds(lines, "Content-Transfer-Encoding: quoted-printable"));
    for (const std::string& line : lines)
        EXPECT_LE(line.size(), 998u);
}

TEST_F(Composition, AttachmentPartHeaders)
{
    Files.Files["/home/u/R\xC3\xA9sum\xC3\xA9 2024.pdf"] = std::string(300, '\x01');
    Files.Files["pic.png"] = "\x89PNG";
    Message.SetCharSet("utf-8");
    Message.SetUseHeaderEncodingExtensions(true);
    auto& attachment = AddAttachment(Message.GetBodies(), "/home/u/R\xC3\xA9sum\xC3\xA9 2024.pdf", "application/pdf");
    attachment.SetContentID("a1@x");
    AddAttachment<TixImageBody>(Message.GetBodies(), "pic.png", "image/png").SetContentID("p1@x");
    const std::vector<std::string> lines = Compose();

    EXPECT_TRUE(Holds(lines, "Content-Disposition: attachment;"));
    EXPECT_TRUE(Holds(lines, "filename*=utf-8''R%C3%A9sum%C3%A9%202024.pdf"));
    EXPECT_TRUE(Holds(lines, "name*=utf-8''R%C3%A9sum%C3%A9%202024.pdf"));
    EXPECT_FALSE(Holds(lines, "/home/u")) << "no path in any item";
    EXPECT_TRUE(Holds(lines, "Content-ID: <a1@x>"));
    EXPECT_TRUE(Holds(lines, "Content-Transfer-Encoding: base64"));
    // The image: a name, but neither a disposition nor a filename, and no "*" forms.
    EXPECT_TRUE(Holds(lines, "\tname=\"pic.png\""));
    EXPECT_FALSE(Holds(lines, "filename=\"pic.png\""));
    EXPECT_TRUE(Holds(lines, "Content-ID: <p1@x>"));
}

TEST_F(Composition, ControlCharactersNeverReachTheHeader)
{
    Files.Files["evil\x01name\x1B.txt"] = "x";
    AddText(Message.GetBodies(), "t");
    AddAttachment(Message.GetBodies(), "evil\x01name\x1B.txt", "text/plain");
    Message.SetSubject("a\x07subject");
    Message.GetExtraFields().Add("X-Note: bell\x07here");
    for (const std::string& line : Save())
        for (const char c : line)
            EXPECT_FALSE(static_cast<uint8_t>(c) < ' ' && c != '\t') << line;
}

TEST_F(Composition, EveryCompositionOfAMultipartWritesANewBoundary)
{
    auto& alternative = Message.GetBodies().Add<TixMultipartBody>();
    alternative.SetContentType("multipart/alternative");
    AddText(alternative.GetBodies(), "plain");
    AddText(alternative.GetBodies(), "<b>html</b>", "text/html");
    AddText(Message.GetBodies(), "after");
    const std::regex boundary("Mark=_[0-9]+");
    std::set<std::string> seen;
    for (int i = 0; i < 3; ++i) {
        const std::vector<std::string> lines = Compose();
        ASSERT_GE(lines.size(), 2u);
        seen.insert(alternative.GetBoundary());
        EXPECT_TRUE(std::regex_match(alternative.GetBoundary(), boundary)) << alternative.GetBoundary();
        EXPECT_TRUE(Holds(lines, "--" + alternative.GetBoundary() + "--"));
    }
    EXPECT_EQ(seen.size(), 3u);
}

TEST_F(Composition, ABoundaryThatBeginsALineOfAPartIsReplaced)
{
    Message.SetBoundary("Mark=_1");
    AddText(Message.GetBodies(), "--Mark=_1--\nquoted from another message");
    AddText(Message.GetBodies(), "second");
    TStringList lines;
    Message.SaveToStrings(lines);
    EXPECT_NE(Message.GetBoundary(), "Mark=_1");
    TixMailMessage loaded;
    loaded.LoadMessage(lines);
    ASSERT_EQ(loaded.GetBodies().Count(), 2);
    EXPECT_EQ(dynamic_cast<TixTextBody&>(loaded.GetBodies()[0]).GetStrings()[0], "--Mark=_1--");
}

TEST_F(Composition, GeneratedBoundariesDifferEvenWithinAMillisecond)
{
    std::set<std::string> seen;
    for (int i = 0; i < 50; ++i) {
        Message.GenerateBoundary();
        seen.insert(Message.GetBoundary());
    }
    EXPECT_EQ(seen.size(), 50u);
}

class AttachmentFile : public Composition
{
protected:
    void SetUp() override
    {
        Path = std::filesystem::temp_directory_path() / ("ix_compose_" + std::to_string(::getpid()) + ".bin");
        std::ofstream(Path, std::ios::binary) << std::string(5000, '\xFE');
    }
    void TearDown() override { std::filesystem::remove(Path); }
    std::filesystem::path Path;
};

TEST_F(AttachmentFile, ComposesFromTheFileAndLeavesItFree)
{
    AddText(Message.GetBodies(), "see attachment");
    auto& attachment = AddAttachment(Message.GetBodies(), Path.string(), "application/octet-stream");
    EXPECT_EQ(attachment.GetStoredEncoding(), cmBase64) << "chosen from the file when its name is set";
    int64_t progress = 0;
    Message.OnEncodingProgress = [&](TObject*, TixMessageBody* ABody, int64_t, int64_t ATotal) {
        if (ABody == &attachment)
            progress = ATotal;
    };
    TStringList lines;
    Message.SaveToStrings(lines);
    EXPECT_GT(progress, 0);
    // Nothing holds the file: it can be rewritten and removed.
    std::ofstream(Path, std::ios::binary | std::ios::trunc) << "new";
    EXPECT_TRUE(std::filesystem::remove(Path));

    TixMailMessage loaded;
    TBodyDataRecorder recorder(loaded);
    loaded.LoadMessage(lines);
    ASSERT_EQ(recorder.Saved.size(), 1u);
    EXPECT_EQ(recorder.Saved[0].Data, std::string(5000, '\xFE'));
    EXPECT_EQ(recorder.Saved[0].FileName, Path.filename().string());
}

TEST_F(AttachmentFile, AFileThatCannotBeOpenedIsAnErrorNamingIt)
{
    const std::string missing = Path.string() + ".missing";
    AddText(Message.GetBodies(), "text");
    auto& attachment = AddAttachment(Message.GetBodies(), missing, "application/pdf"); // no error yet
    EXPECT_EQ(attachment.GetStoredEncoding(), cmNone);
    TStringList lines;
    try {
        Message.SaveToStrings(lines);
        FAIL() << "composed without the file";
    } catch (const EFOpenError& AError) {
        EXPECT_NE(std::string(AError.what()).find(missing), std::string::npos) << AError.what();
    }
    attachment.SetFileName(std::filesystem::temp_directory_path().string());
    EXPECT_THROW(Message.SaveToStrings(lines), EFOpenError) << "a folder is no file";
}

TEST_F(Composition, WholeMessageHeaderFields)
{
    Message.GetFrom().SetFullAddress("J\xC3\xBCrgen <j@example.org>");
    Message.SetCharSet("utf-8");
    Message.GetToList().AddAddress("a@example.org");
    Message.GetBCCList().AddAddress("hidden@example.org");
    Message.SetSubject("Hello");
    Message.SetPriority(mpHigh);
    AddText(Message.GetBodies(), "body");
    const std::vector<std::string> lines = Save();

    EXPECT_TRUE(Holds(lines, "From: =?utf-8?Q?J=C3=BCrgen?= <j@example.org>"));
    EXPECT_TRUE(Holds(lines, "MIME-Version: 1.0"));
    EXPECT_TRUE(Holds(lines, "Content-Type: text/plain; charset=\"utf-8\""));
    EXPECT_TRUE(Holds(lines, "X-Priority: 1"));
    EXPECT_FALSE(Holds(lines, "Bcc:"));
    EXPECT_TRUE(Holds(Save(true), "Bcc: hidden@example.org"));
    EXPECT_TRUE(std::regex_match(Message.GetMessageID(), std::regex("<[0-9A-F]{32}@example\\.org>")));
    EXPECT_TRUE(Holds(lines, "Message-ID: " + Message.GetMessageID())) << "generated once, then kept";
    const std::regex date("Date: (Mon|Tue|Wed|Thu|Fri|Sat|Sun), [0-9]{1,2} [A-Z][a-z]{2} [0-9]{4} "
                          "[0-9]{2}:[0-9]{2}:[0-9]{2} [+-][0-9]{4}");
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const std::string& ALine) { return std::regex_match(ALine, date); }));
}

TEST_F(Composition, StreamAndFileGetTheLinesOfTheLineList)
{
    Files.Files["data.bin"] = std::string(1000, '\x80');
    Message.GetFrom().SetFullAddress("a@example.org");
    AddText(Message.GetBodies(), "text\nwith lines\n");
    AddAttachment(Message.GetBodies(), "data.bin", "application/octet-stream");
    TStringList lines;
    Message.SaveToStrings(lines);
    TMemoryStream stream;
    Message.SaveToStream(stream);
    std::string written(static_cast<size_t>(stream.GetSize()), '\0');
    stream.Seek(0, soBeginning);
    stream.ReadBuffer(written.data(), stream.GetSize());
    // The boundaries are new in every composition.
    const std::regex mark("Mark=_[0-9]+");
    EXPECT_EQ(std::regex_replace(written, mark, "B"), std::regex_replace(lines.GetText(), mark, "B"));
}

} // namespace
