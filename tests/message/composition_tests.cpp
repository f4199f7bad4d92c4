// Composing bodies (part headers, boundaries, encodings, uuencoded blocks) and writing whole
// messages into line lists, checked on the lines written and by loading them back. Generated
// messages are written to files and go through every reader in round_trip_tests.cpp.
#include "message/ixMailMessage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "message_test_support.h"
#include "support/AnsiCodePageScope.h"
#include "support/ProgramRun.h"

using namespace ix;
using namespace ix::test;

namespace {

using TLines = std::vector<std::string>;

class Composition : public ::testing::Test
{
protected:
    TLines Compose()
    {
        TStringList lines;
        Message.ComposeBodies(lines);
        return LinesOf(lines);
    }
    TLines Save(bool AIncludeBcc = false)
    {
        Message.SaveToStrings(Saved, AIncludeBcc);
        return LinesOf(Saved);
    }
    /// Loads what Save wrote.
    TixMessageBodies& LoadBack()
    {
        Loaded.LoadMessage(Saved);
        return Loaded.GetBodies();
    }
    static bool Holds(const TLines& ALines, std::string_view AText)
    {
        return std::any_of(ALines.begin(), ALines.end(), [&](const std::string& ALine) { return ALine.find(AText) != std::string::npos; });
    }

    const TAnsiCodePageScope FUtf8{os::CP_UTF8}; // the texts here are UTF-8
    TixMailMessage Message;
    TAttachmentSource Files{Message};
    TStringList Saved;
    TixMailMessage Loaded;
    TBodyDataRecorder Recorder{Loaded};
};

TEST_F(Composition, TwoTextBodiesComposeBetweenBoundaryLines)
{
    Message.SetBoundary("b1");
    AddText(Message.GetBodies(), "one");
    AddText(Message.GetBodies(), "two\nlines", "text/html");
    const TLines expected = {"--b1", "Content-Type: text/plain; charset=\"iso-8859-1\"", "Content-Transfer-Encoding: 7bit", "",
        "one", "", "--b1", "Content-Type: text/html; charset=\"iso-8859-1\"", "Content-Transfer-Encoding: 7bit", "", "two",
        "lines", "", "--b1--"};
    EXPECT_EQ(Compose(), expected);
}

TEST_F(Composition, NonMimeAttachmentIsAUuencodedBlockWithoutBoundaries)
{
    Files.Files["C:\\docs\\cat.txt"] = "Cat";
    Message.SetMessageFormat(mfUUencode);
    AddText(Message.GetBodies(), "see the file");
    AddAttachment(Message.GetBodies(), "C:\\docs\\cat.txt", "text/plain");
    EXPECT_EQ(Compose(), (TLines{"see the file", "begin 644 cat.txt", "#0V%T", "end"}));
    const TLines saved = Save();
    EXPECT_FALSE(Holds(saved, "MIME-Version") || Holds(saved, "Content-Type")) << "non-MIME: no content fields";
}

struct EncodingCase
{
    std::string_view Name;
    std::string_view CharSet;
    std::string Text;
    int32_t CharsPerLine;
    TixEncodeMethod Selected; // when the text is set
    std::string_view Written; // when the message is composed
};

class TextEncoding : public Composition, public ::testing::WithParamInterface<EncodingCase>
{
};

// From "LineOver998" on: data that 7bit or 8bit would not carry unchanged, at a folding width
// that lets the line lengths pass.
const EncodingCase EncodingCases[] = {
    {"Ascii", "utf-8", "plain words and more", 76, cmNone, "7bit"},
    {"Accented", "utf-8", "caf\xC3\xA9 au lait", 76, cmQuotedPrintable, "quoted-printable"},
    {"Tab", "utf-8", "a\tb", 76, cmBase64, "base64"},
    {"LineOver998", "utf-8", std::string(1200, 'x'), 2000, cmQuotedPrintable, "quoted-printable"},
    {"BareCr", "utf-8", "one\rtwo", 76, cmQuotedPrintable, "quoted-printable"},
    {"Nul", "utf-8", std::string("a\0b", 3), 76, cmBase64, "base64"},
    {"EightBitLineOver998", "iso-2022-jp", std::string(1000, 'y'), 2000, cm8Bit, "quoted-printable"},
};

INSTANTIATE_TEST_SUITE_P(Composition, TextEncoding, ::testing::ValuesIn(EncodingCases),
    [](const auto& AInfo) { return std::string(AInfo.param.Name); });

TEST_P(TextEncoding, FollowsTheTextAndIsWrittenInThePartHeader)
{
    Message.SetCharsPerLine(GetParam().CharsPerLine);
    Message.SetCharSet(std::string(GetParam().CharSet));
    AddText(Message.GetBodies(), "first");
    auto& body = Message.GetBodies().Add<TixTextBody>();
    body.GetStrings().Add(GetParam().Text);
    EXPECT_EQ(body.GetStoredEncoding(), GetParam().Selected);
    const TLines lines = Save();
    EXPECT_TRUE(Holds(lines, "Content-Transfer-Encoding: " + std::string(GetParam().Written)));
    for (const std::string& line : lines)
        EXPECT_LE(line.size(), 998u);

    TixMessageBodies& loaded = LoadBack();
    ASSERT_EQ(loaded.Count(), 2);
    // Lines hold text: NUL arrives as a blank, a bare CR ends a line.
    std::string expected = GetParam().Text;
    std::replace(expected.begin(), expected.end(), '\0', ' ');
    TStringList split;
    split.SetText(expected);
    EXPECT_EQ(dynamic_cast<TixTextBody&>(loaded[1]).GetStrings().GetText(), split.GetText());
}

TEST_F(Composition, AttachmentAndImagePartHeaders)
{
    const std::string path = "/home/u/R\xC3\xA9sum\xC3\xA9 2024.pdf";
    Files.Files[path] = std::string(300, '\x01');
    Files.Files["pic\x01.png"] = "\x89PNG";
    Message.SetCharSet("utf-8");
    Message.SetUseHeaderEncodingExtensions(true);
    AddAttachment(Message.GetBodies(), path, "application/pdf").SetContentID("a1@x");
    AddAttachment<TixImageBody>(Message.GetBodies(), "pic\x01.png", "image/png").SetContentID("p1@x");
    const TLines lines = Compose();
    const std::pair<std::string_view, bool> Items[] = {
        {"Content-Disposition: attachment;", true}, // none was set
        {"filename*=utf-8''R%C3%A9sum%C3%A9%202024.pdf", true},
        {"name*=utf-8''R%C3%A9sum%C3%A9%202024.pdf", true},
        {"/home/u", false}, // no path in any item
        {"Content-ID: <a1@x>", true},
        {"Content-Transfer-Encoding: base64", true},
        // The image: a name (a control character made '_'), but neither a disposition nor a
        // filename, and no "*" forms.
        {"\tname=\"pic_.png\"", true},
        {"filename=\"pic_.png\"", false},
        {"Content-ID: <p1@x>", true},
    };
    for (const auto& [item, written] : Items)
        EXPECT_EQ(Holds(lines, item), written) << item;
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& ALine) { return ALine.find("*=") != std::string::npos; }), 2);
}

TEST_F(Composition, EveryCompositionOfAMultipartWritesANewUnguessableBoundary)
{
    auto& alternative = Message.GetBodies().Add<TixMultipartBody>();
    alternative.SetContentType("multipart/alternative");
    AddText(alternative.GetBodies(), "plain");
    AddText(Message.GetBodies(), "after");
    std::set<std::string> seen;
    for (int i = 0; i < 50; ++i) { // many within one millisecond
        const TLines lines = Compose();
        EXPECT_TRUE(std::regex_match(alternative.GetBoundary(), std::regex("Mark=_[0-9]+"))) << alternative.GetBoundary();
        EXPECT_TRUE(Holds(lines, "--" + alternative.GetBoundary() + "--"));
        seen.insert(alternative.GetBoundary());
    }
    EXPECT_EQ(seen.size(), 50u);
}

TEST_F(Composition, ABoundaryThatBeginsALineOfAPartIsReplaced)
{
    Message.SetBoundary("Mark=_1");
    AddText(Message.GetBodies(), "--Mark=_1--\nquoted from another message");
    AddText(Message.GetBodies(), "second");
    Save();
    EXPECT_NE(Message.GetBoundary(), "Mark=_1");
    TixMessageBodies& loaded = LoadBack();
    ASSERT_EQ(loaded.Count(), 2);
    EXPECT_EQ(dynamic_cast<TixTextBody&>(loaded[0]).GetStrings()[0], "--Mark=_1--");
}

class AttachmentFile : public Composition
{
protected:
    void SetUp() override { std::ofstream(Path, std::ios::binary) << std::string(5000, '\xFE'); }
    const TScratch Scratch{"compose"};
    const std::filesystem::path Path = Scratch.Path() / "attached.bin";
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
    Save();
    EXPECT_GT(progress, 0);
    // Nothing holds the file: it can be rewritten and removed.
    std::ofstream(Path, std::ios::binary | std::ios::trunc) << "new";
    EXPECT_TRUE(std::filesystem::remove(Path));
    LoadBack();
    ASSERT_EQ(Recorder.Saved.size(), 1u);
    EXPECT_EQ(Recorder.Saved[0].Data, std::string(5000, '\xFE'));
    EXPECT_EQ(Recorder.Saved[0].FileName, Path.filename().string());
}

TEST_F(AttachmentFile, AFileThatCannotBeOpenedIsAnErrorNamingIt)
{
    const std::string missing = Path.string() + ".missing";
    AddText(Message.GetBodies(), "text");
    auto& attachment = AddAttachment(Message.GetBodies(), missing, "application/pdf"); // no error yet
    EXPECT_EQ(attachment.GetStoredEncoding(), cmNone);
    try {
        Save();
        FAIL() << "composed without the file";
    } catch (const EFOpenError& AError) {
        EXPECT_NE(std::string(AError.what()).find(missing), std::string::npos) << AError.what();
    }
    attachment.SetFileName(std::filesystem::temp_directory_path().string());
    EXPECT_THROW(Save(), EFOpenError) << "a folder is no file";
}

TEST_F(Composition, WholeMessageHeaderFields)
{
    Message.GetFrom().SetFullAddress("J\xC3\xBCrgen <j@example.org>");
    Message.SetCharSet("utf-8");
    Message.GetToList().AddAddress("a@example.org");
    Message.GetBCCList().AddAddress("hidden@example.org");
    Message.SetPriority(mpHigh);
    Message.SetSubject("a\x07subject");
    Message.GetExtraFields().Add("X-Note: bell\x07here");
    AddText(Message.GetBodies(), "body");
    const TLines lines = Save();
    // Control characters never reach the header.
    for (const std::string& line : lines)
        EXPECT_EQ(std::count_if(line.begin(), line.end(), [](char c) { return static_cast<uint8_t>(c) < ' ' && c != '\t'; }), 0) << line;
    for (const std::string_view field : {"From: =?utf-8?Q?J=C3=BCrgen?= <j@example.org>", "MIME-Version: 1.0",
             "Content-Type: text/plain; charset=\"utf-8\"", "X-Priority: 1"})
        EXPECT_TRUE(Holds(lines, field)) << field;
    EXPECT_FALSE(Holds(lines, "Bcc:"));
    EXPECT_TRUE(Holds(Save(true), "Bcc: hidden@example.org"));
    EXPECT_TRUE(std::regex_match(Message.GetMessageID(), std::regex("<[0-9A-F]{32}@example\\.org>")));
    EXPECT_TRUE(Holds(lines, "Message-ID: " + Message.GetMessageID())) << "generated once, then kept";
    const std::regex date("Date: (Mon|Tue|Wed|Thu|Fri|Sat|Sun), [0-9]{1,2} [A-Z][a-z]{2} [0-9]{4} "
                          "[0-9]{2}:[0-9]{2}:[0-9]{2} [+-][0-9]{4}");
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const std::string& ALine) { return std::regex_match(ALine, date); }));
}

} // namespace
