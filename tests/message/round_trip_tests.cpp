// Round trips: generated messages are composed and written to files (composition_tests.cpp
// checks that line lists get the same lines), then read back by LoadMessage and, every fifth
// one, by Python's email package (mime_reader.py); each reader must see the header properties
// (LoadMessage) and the part tree, types, file names, Content-IDs and decoded bytes the message
// was composed from.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "compose_test_support.h"
#include "crypto/ixCryptHash.h"
#include "message/ixMailMessage.h"
#include "message_test_support.h"
#include "support/AnsiCodePageScope.h"
#include "support/ProgramRun.h"
#include "util/ixUtils.h"

using namespace ix;
using namespace ix::test;

namespace {

constexpr uint32_t MessageCount = 500;
constexpr uint32_t BatchSize = 50;
/// Every fifth generated message (all shapes, every character set) goes to Python too.
constexpr uint32_t ReaderStep = 5;

/// One line per part as the reader scripts print them (see mime_reader.py).
using TTree = std::vector<std::string>;
/// The decoded data of an attachment.
using TDataOf = std::function<const std::string&(TixAttachmentBody&)>;

std::string Md5(std::string_view AData)
{
    return AData.empty() ? "d41d8cd98f00b204e9800998ecf8427e" : Md5Hex(AData);
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
        const std::string start = std::to_string(ADepth) + "\t" + (typed ? LowerCase(ABody.GetContentType()) : "-") + "\t";
        if (auto* multipart = dynamic_cast<TixMultipartBody*>(&ABody))
            return start + "-\t-\t" + Dash(multipart->GetContentSubType());
        if (auto* attachment = dynamic_cast<TixAttachmentBody*>(&ABody)) {
            const std::string& name = attachment->GetComposeName();
            return start + (name.empty() ? "-" : Hex(name)) + "\t" + Md5(AData(*attachment)) + "\t" +
                Dash(attachment->GetContentID());
        }
        // Texts as lines ending with LF, the last one without it.
        std::string text = StringReplace(dynamic_cast<TixTextBody&>(ABody).GetStrings().GetText(), "\r", "");
        if (text.ends_with('\n'))
            text.pop_back();
        return start + "-\t" + Md5(text) + "\t-";
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
        const TTree expected = Tree(original, [&](TixAttachmentBody& ABody) -> const std::string& {
            return files.Files[ABody.GetFileName()];
        });
        EXPECT_EQ(Tree(loaded, [&](TixAttachmentBody& ABody) -> const std::string& { return recorder.DataAdded[&ABody]; }),
            expected);
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

} // namespace
