// The examples without a server: the README's fetch example is a copy of fetch_mailbox.cpp, and
// show_message prints a nested body tree and saves decoded attachments inside the folder named.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>

#include "support/ProgramRun.h"

namespace ix {
namespace {

namespace fs = std::filesystem;
using namespace test;

TEST(Examples, ReadmeFetchExampleIsACopyOfFetchMailbox)
{
    // The first C++ block after the heading "### Fetch a mailbox", each line indented as the
    // example's function body is, must be whole lines of the example.
    const std::string readme = ReadAll(std::string(IX_SOURCE_DIR) + "/README.md");
    const size_t start = readme.find("```cpp\n", readme.find("\n### Fetch a mailbox\n"));
    ASSERT_NE(start, std::string::npos) << "no C++ block under \"### Fetch a mailbox\" in README.md";
    const std::string block = std::regex_replace(readme.substr(start + 7, readme.find("\n```", start + 7) - start - 6),
        std::regex("^(.)", std::regex::multiline), "        $1");
    ASSERT_GE(std::count(block.begin(), block.end(), '\n'), 10);
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
    const fs::path folder = scratch.Path() / "out";
    fs::create_directories(folder);
    const auto run = RunProgram(IX_SHOW_MESSAGE, (scratch.Path() / "m.eml").string() + " " + folder.string(),
        scratch.Path());
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Out,
        "From: J\xC3\xBCrgen <j@ix.test>\nSubject: nested\nmultipart/mixed\n"
        "  multipart/alternative\n"
        "    text/plain charset=iso-8859-1, 1 lines\n"
        "    text/html charset=utf-8, 1 lines\n"
        "  application/octet-stream \".._.._up.bin\"\n");
    // The one file written lies inside the folder, its name numbered and made safe again (beside
    // it: the message, the folder and the program's output).
    EXPECT_EQ(ReadAll(folder / "1-_.._up.bin"), std::string("\x00\x01\x02\xFF", 4));
    EXPECT_EQ(std::distance(fs::recursive_directory_iterator(scratch.Path()), fs::recursive_directory_iterator()), 5);

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
