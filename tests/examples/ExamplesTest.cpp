// The examples without a server: the README's fetch example is a copy of fetch_mailbox.cpp, and
// show_message prints a nested body tree and saves decoded attachments inside the folder named.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <vector>

#include "support/ProgramRun.h"

namespace ix {
namespace {

namespace fs = std::filesystem;
using test::ReadAll;
using test::RunProgram;
using test::TScratch;

TEST(Examples, ReadmeFetchExampleIsACopyOfFetchMailbox)
{
    // The first C++ block after the heading "### Fetch a mailbox", each line indented as the
    // example's function body is, must be whole lines of the example.
    std::istringstream readme(ReadAll(std::string(IX_SOURCE_DIR) + "/README.md"));
    std::string block;
    bool inSection = false, inBlock = false;
    for (std::string line; std::getline(readme, line) && !(inBlock && line == "```");) {
        if (inBlock)
            block += (line.empty() ? "" : std::string(8, ' ') + line) + "\n";
        inSection = inSection || line == "### Fetch a mailbox";
        inBlock = inBlock || (inSection && line == "```cpp");
    }
    ASSERT_GE(std::count(block.begin(), block.end(), '\n'), 10) << "no C++ block under \"### Fetch a mailbox\" in README.md";
    EXPECT_NE(ReadAll(std::string(IX_SOURCE_DIR) + "/examples/fetch_mailbox.cpp").find("\n" + block), std::string::npos)
        << "README.md's fetch example differs from examples/fetch_mailbox.cpp:\n" << block;
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

TEST(Examples, ComposeMessageWritesWhatPythonsParserReadsBack)
{
    TScratch scratch("examples-compose");
    std::string data;
    for (int i = 0; i < 1000; ++i)
        data += static_cast<char>(i % 256);
    std::ofstream(scratch.Path() / "report.bin", std::ios::binary) << data;
    const fs::path out = scratch.Path() / "out.eml";
    const auto run = RunProgram(IX_COMPOSE_MESSAGE,
        "'Ann <ann@ix.test>' bob@ix.test 'Gr\xC3\xBC\xC3\x9F' " + (scratch.Path() / "report.bin").string() + " " +
            out.string(),
        scratch.Path());
    ASSERT_EQ(run.Status, 0) << run.Err;

    // Python's own parser, an independent reader: subject, sender, file name and bytes.
    const auto python = RunProgram("PYTHONIOENCODING=utf-8 /usr/bin/python3",
        "-c 'import email, email.policy, sys; m = email.message_from_binary_file(open(sys.argv[1], \"rb\"), "
        "policy=email.policy.default); a = next(m.iter_attachments()); "
        "print(m[\"Subject\"], m[\"From\"], a.get_filename(), a.get_content() == open(sys.argv[2], \"rb\").read())' " +
            out.string() + " " + (scratch.Path() / "report.bin").string(),
        scratch.Path());
    ASSERT_EQ(python.Status, 0) << python.Err;
    EXPECT_EQ(python.Out, "Gr\xC3\xBC\xC3\x9F Ann <ann@ix.test> report.bin True\n");
}

} // namespace
} // namespace ix
