// Loads a generated corpus of messages and compares each body tree with what Python's email
// package reads from the same files (tests/message/corpus/make_corpus.py writes both, in the
// terms in which the library reports a message).
#include "message/ixMailMessage.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "message/message_test_support.h"
#include "support/ProgramRun.h"
#include "util/ixUtils.h"

using namespace ix;

namespace {

constexpr const char* Python = "/usr/bin/python3";
constexpr int MinimumMessages = 500;

/// One message of the manifest: its "M" line and the lines that describe it.
struct TExpected
{
    std::string Title;
    std::string Number;
    std::string Description;
};

std::vector<TExpected> ReadManifest(const std::filesystem::path& APath)
{
    std::vector<TExpected> result;
    std::ifstream in(APath);
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with("M "))
            result.push_back({line, line.substr(2, 4), {}});
        else if (line != "E")
            result.back().Description += line + "\n";
    }
    return result;
}

/// One message as the library reads it, in the manifest's terms.
class TLoaded
{
public:
    explicit TLoaded(const std::filesystem::path& AFile)
    {
        FSource.LoadFromFile(AFile.string());
        FMessage.LoadMessage(FSource);
    }

    /// The shape line, then per leaf its content type, file name and decoded data.
    std::string Description()
    {
        std::string leaves;
        std::vector<std::string> bodies;
        test::DescribeBodies(FMessage.GetBodies(), [&](TixMessageBody& ABody, int ADepth) {
            const bool leaf = !dynamic_cast<TixMultipartBody*>(&ABody);
            leaves += leaf ? Leaf(ABody) : "";
            return (leaf ? " L" : " P") + std::to_string(ADepth);
        }, bodies);
        std::string shape = "S";
        for (const std::string& body : bodies)
            shape += body;
        return shape + "\n" + leaves;
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

    /// The manifest line of the leaf ABody.
    std::string Leaf(TixMessageBody& ABody)
    {
        const auto* attachment = dynamic_cast<const TixAttachmentBody*>(&ABody);
        std::string data = FRecorder.DataAdded[&ABody];
        // The text around the blocks of a uuencoded message comes in pieces: its lines count.
        if (auto* text = dynamic_cast<TixTextBody*>(&ABody); text && FMessage.GetMessageFormat() == mfUUencode)
            data = text->GetStrings().Join("\r\n");
        return "L " + test::Dash(LowerCase(ABody.GetContentType())) + " " +
            (attachment && !attachment->GetFileName().empty() ? test::Hex(attachment->GetFileName()) : "-") + " " +
            (data.empty() ? "=" : test::Hex(data)) + "\n";
    }

    TStringList FSource;
    TixMailMessage FMessage;
    test::TBodyDataRecorder FRecorder{FMessage};
};

} // namespace

TEST(MessageCorpus, BodyTreesMatchPythonsEmailPackage)
{
    const test::TScratch dir("corpus");
    const std::string script = (std::filesystem::path(IX_MESSAGE_TEST_DIR) / "corpus" / "make_corpus.py").string();
    const test::TProgramRun run = test::RunProgram(Python, script + " " + dir.Path().string(), dir.Path());
    ASSERT_EQ(run.Status, 0) << run.Err;
    const std::vector<TExpected> corpus = ReadManifest(dir.Path() / "manifest.txt");
    ASSERT_GE(static_cast<int>(corpus.size()), MinimumMessages);
    for (const TExpected& expected : corpus) {
        SCOPED_TRACE(expected.Title);
        TLoaded loaded(dir.Path() / (expected.Number + ".eml"));
        EXPECT_EQ(loaded.Description(), expected.Description);
        const auto [watched, unwatched] = loaded.TextBothWays();
        EXPECT_EQ(unwatched, watched);
    }
}
