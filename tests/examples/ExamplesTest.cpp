// The examples without a server: the README's fetch example is a copy of fetch_mailbox.cpp, and
// show_message prints a nested body tree and saves decoded attachments inside the folder named.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <vector>

#include "support/ProgramRun.h"

namespace ix {
namespace {

using test::ReadAll;
using test::RunProgram;
using test::TScratch;

std::vector<std::string> Lines(const std::string& AText)
{
    std::vector<std::string> lines;
    std::istringstream stream(AText);
    for (std::string line; std::getline(stream, line);)
        lines.push_back(line);
    return lines;
}

/// The lines of the first C++ block after the README heading "### Fetch a mailbox".
std::vector<std::string> ReadmeFetchBlock()
{
    const std::vector<std::string> readme = Lines(ReadAll(std::string(IX_SOURCE_DIR) + "/README.md"));
    std::vector<std::string> block;
    bool inSection = false, inBlock = false;
    for (const std::string& line : readme) {
        if (line == "### Fetch a mailbox")
            inSection = true;
        else if (inSection && line == "```cpp")
            inBlock = true;
        else if (inBlock && line == "```")
            break;
        else if (inBlock)
            block.push_back(line);
    }
    return block;
}

TEST(Examples, ReadmeFetchExampleIsACopyOfFetchMailbox)
{
    const std::vector<std::string> block = ReadmeFetchBlock();
    ASSERT_GE(block.size(), 10U) << "no C++ block under \"### Fetch a mailbox\" in README.md";
    const std::vector<std::string> example = Lines(ReadAll(std::string(IX_SOURCE_DIR) + "/examples/fetch_mailbox.cpp"));
    // The block is a run of the example's lines with their common indentation taken off.
    const std::string indent(8, ' ');
    const auto same = [&](size_t AAt) {
        for (size_t i = 0; i < block.size(); ++i)
            if (AAt + i >= example.size() || example[AAt + i] != (block[i].empty() ? "" : indent + block[i]))
                return false;
        return true;
    };
    bool found = false;
    for (size_t at = 0; at < example.size() && !found; ++at)
        found = same(at);
    EXPECT_TRUE(found) << "README.md's fetch example differs from examples/fetch_mailbox.cpp";
}

TEST(Examples, ShowMessagePrintsTheTreeAndSavesDecodedAttachmentsInsideTheFolder)
{
    TScratch scratch("examples-show");
    std::ofstream(scratch.Path() / "m.eml", std::ios::binary)
        << "From: =?utf-8?q?J=C3=BCrgen?= <j@ix.test>\r\nSubject: nested\r\nMIME-Version: 1.0\r\n"
           "Content-Type: multipart/mixed; boundary=\"out\"\r\n\r\n"
           "--out\r\nContent-Type: multipart/alternative; boundary=\"in\"\r\n\r\n"
           "--in\r\nContent-Type: text/plain; charset=iso-8859-1\r\n\r\nGr\xFC\xDF" "e\r\n"
           "--in\r\nContent-Type: text/html; charset=utf-8\r\n\r\n<p>hi</p>\r\n--in--\r\n"
           "--out\r\nContent-Type: application/octet-stream\r\nContent-Transfer-Encoding: base64\r\n"
           "Content-Disposition: attachment; filename=\"../../up.bin\"\r\n\r\nAAEC/w==\r\n--out--\r\n";
    const std::filesystem::path folder = scratch.Path() / "out";
    std::filesystem::create_directories(folder);
    const auto run = RunProgram(IX_SHOW_MESSAGE, (scratch.Path() / "m.eml").string() + " " + folder.string(),
        scratch.Path());
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Out,
        "From: J\xC3\xBCrgen <j@ix.test>\nSubject: nested\nmultipart/mixed\n"
        "  multipart/alternative\n"
        "    text/plain charset=iso-8859-1, 1 lines\n"
        "    text/html charset=utf-8, 1 lines\n"
        "  application/octet-stream \".._.._up.bin\"\n");
    std::vector<std::filesystem::path> saved;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(scratch.Path()))
        if (entry.is_regular_file() && entry.path().parent_path() != scratch.Path())
            saved.push_back(entry.path());
    ASSERT_EQ(saved.size(), 1U);
    EXPECT_EQ(saved[0].parent_path(), folder);
    EXPECT_EQ(ReadAll(saved[0]), std::string("\x00\x01\x02\xFF", 4));

    EXPECT_EQ(RunProgram(IX_SHOW_MESSAGE, "/nonexistent.eml " + folder.string(), scratch.Path()).Status, 1);
}

} // namespace
} // namespace ix
