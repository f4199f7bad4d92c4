// Loads a generated corpus of messages and compares each body tree with what Python's email
// package reads from the same files (tests/message/corpus/make_corpus.py writes both).
#include "message/ixMailMessage.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <utility>
#include <string>
#include <vector>

#include "message/message_test_support.h"
#include "support/ProgramRun.h"
#include "util/ixUtils.h"

using namespace ix;

namespace {

constexpr const char* Python = "/usr/bin/python3";
constexpr int MinimumMessages = 500;

struct TLeaf
{
    std::string ContentType; // "-": no Content-Type field
    std::string FileName;    // "-": none
    std::string Data;        // hexadecimal; "=" empty, "-" not compared
};

struct TExpected
{
    std::string Number;
    std::string Kind;
    std::string Flags;
    std::string Shape;
    std::vector<TLeaf> Leaves;
};

std::filesystem::path CorpusScript()
{
    return std::filesystem::path(IX_MESSAGE_TEST_DIR) / "corpus" / "make_corpus.py";
}

std::vector<TExpected> ReadManifest(const std::filesystem::path& APath)
{
    std::vector<TExpected> result;
    std::ifstream in(APath);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string tag;
        words >> tag;
        if (tag == "M") {
            result.emplace_back();
            words >> result.back().Number >> result.back().Kind >> result.back().Flags;
        } else if (tag == "S") {
            words >> result.back().Shape;
        } else if (tag == "L") {
            TLeaf leaf;
            words >> leaf.ContentType >> leaf.FileName >> leaf.Data;
            result.back().Leaves.push_back(leaf);
        }
    }
    return result;
}

std::string Hex(std::string_view ABytes)
{
    return ABytes.empty() ? "=" : test::Hex(ABytes);
}

/// What the library made of one message, in the manifest's terms.
class TLoaded
{
public:
    TLoaded(const std::filesystem::path& AFile)
    {
        FSource.LoadFromFile(AFile.string());
        FMessage.LoadMessage(FSource);
        Shape = "(" + ShapeOf(FMessage.GetBodies()) + ")";
    }

    /// The lines of every text body, once as loaded while OnDataAdded watched the decoded data
    /// and once as taken without a handler (the decoder writes into the lines itself while the
    /// source lines are freed behind it).
    std::pair<std::string, std::string> TextBothWays()
    {
        TStringList taken;
        taken.Assign(FSource);
        TixMailMessage unwatched;
        unwatched.TakeMessage(taken);
        EXPECT_EQ(taken.Count(), 0);
        return {TextOf(FMessage.GetBodies()), TextOf(unwatched.GetBodies())};
    }

    int32_t SourceLines() const noexcept { return FSource.Count(); }

    std::string Shape;
    std::vector<TixMessageBody*> Leaves;
    std::string DataOf(TixMessageBody* ABody) { return FRecorder.DataAdded[ABody]; }

private:
    static std::string TextOf(const TixMessageBodies& ABodies)
    {
        std::string text;
        for (int32_t i = 0; i < ABodies.Count(); ++i) {
            if (auto* body = dynamic_cast<TixTextBody*>(&ABodies[i]))
                text += body->GetStrings().Join("|") + "||";
            else if (auto* multipart = dynamic_cast<TixMultipartBody*>(&ABodies[i]))
                text += TextOf(multipart->GetBodies());
        }
        return text;
    }

    std::string ShapeOf(const TixMessageBodies& ABodies)
    {
        std::string shape;
        for (int32_t i = 0; i < ABodies.Count(); ++i) {
            if (!shape.empty())
                shape += ",";
            if (auto* multipart = dynamic_cast<TixMultipartBody*>(&ABodies[i])) {
                shape += "(" + ShapeOf(multipart->GetBodies()) + ")";
            } else {
                shape += "L";
                Leaves.push_back(&ABodies[i]);
            }
        }
        return shape;
    }

    TStringList FSource;
    TixMailMessage FMessage;
    test::TBodyDataRecorder FRecorder{FMessage};
};

std::string ContentTypeOf(const TixMessageBody& ABody)
{
    return ABody.GetContentType().empty() ? "-" : LowerCase(ABody.GetContentType());
}

std::string FileNameOf(const TixMessageBody& ABody)
{
    const auto* attachment = dynamic_cast<const TixAttachmentBody*>(&ABody);
    return attachment && !attachment->GetFileName().empty() ? Hex(attachment->GetFileName()) : "-";
}

/// Compares one leaf; returns an empty text when it matches, or when the difference is one the
/// library's rules make on purpose (each named below), else what differs.
std::string CompareLeaf(TLoaded& ALoaded, TixMessageBody& ABody, const TExpected& AExpected, const TLeaf& AWant)
{
    std::string problems;
    const std::string type = ContentTypeOf(ABody);
    if (type != AWant.ContentType && !(AWant.ContentType == "-" && AExpected.Kind == "uuencode"))
        problems += " type " + type + " != " + AWant.ContentType;

    const std::string name = FileNameOf(ABody);
    // message/rfc822 parts are named after the embedded subject, which Python does not do.
    const bool embeddedName = type == "message/rfc822" && AWant.FileName == "-" && name != "-";
    // A text/* part without "attachment" disposition is a text body, which has no file name.
    const bool textBody = dynamic_cast<TixTextBody*>(&ABody) && name == "-";
    if (name != AWant.FileName && !embeddedName && !textBody)
        problems += " name " + name + " != " + AWant.FileName;

    if (AWant.Data == "-") // message/rfc822: Python parses it; here it is one attachment
        return problems;
    std::string data = Hex(ALoaded.DataOf(&ABody));
    if (auto* text = dynamic_cast<TixTextBody*>(&ABody); text && AExpected.Kind == "uuencode")
        data = Hex(text->GetStrings().Join("\r\n")); // text around blocks comes in pieces
    const bool runsToEnd = ABody.GetEncodedStart() + ABody.GetEncodedLines() >= ALoaded.SourceLines();
    // A part that runs to the end of the source has no line break before a boundary to keep:
    // its final line break goes, as it does before a boundary.
    const bool finalBreak = runsToEnd && data != "=" && data + "0d0a" == AWant.Data;
    const bool emptyEnd = runsToEnd && data == "=" && AWant.Data == "0d0a";
    // Continue mode keeps what was decoded before an invalid base64 character; Python skips it.
    const bool badBase64 = AExpected.Flags.find("bad-base64") != std::string::npos && data != AWant.Data &&
        (data == "=" || AWant.Data.starts_with(data));
    if (data != AWant.Data && !finalBreak && !emptyEnd && !badBase64)
        problems += " data " + data.substr(0, 80) + " != " + AWant.Data.substr(0, 80);
    return problems;
}

} // namespace

TEST(MessageCorpus, BodyTreesMatchPythonsEmailPackage)
{
    const test::TScratch dir("corpus");
    const test::TProgramRun run = test::RunProgram(Python, CorpusScript().string() + " " + dir.Path().string(), dir.Path());
    ASSERT_EQ(run.Status, 0) << run.Err;
    const std::vector<TExpected> corpus = ReadManifest(dir.Path() / "manifest.txt");
    ASSERT_GE(static_cast<int>(corpus.size()), MinimumMessages);

    int compared = 0;
    for (const TExpected& expected : corpus) {
        SCOPED_TRACE(expected.Number + " " + expected.Kind + " " + expected.Flags);
        TLoaded loaded(dir.Path() / (expected.Number + ".eml"));
        // Without a boundary parameter there are no parts to find: the library keeps the whole
        // body as one text, Python as one leaf too.
        ASSERT_EQ(loaded.Shape, expected.Shape);
        ASSERT_EQ(loaded.Leaves.size(), expected.Leaves.size());
        for (size_t i = 0; i < expected.Leaves.size(); ++i)
            EXPECT_EQ(CompareLeaf(loaded, *loaded.Leaves[i], expected, expected.Leaves[i]), "") << "leaf " << i;
        const auto [watched, unwatched] = loaded.TextBothWays();
        EXPECT_EQ(unwatched, watched);
        ++compared;
    }
    EXPECT_EQ(compared, static_cast<int>(corpus.size()));
}
