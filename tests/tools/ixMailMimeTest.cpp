// ixmail mime: the body tree of a message file, and attachments that land only inside the
// folder named, whatever names the sender gave them.
#include <gtest/gtest.h>

#include <set>

#include "support/ProgramRun.h"

namespace ix {
namespace {

using test::TScratch;

std::string Part(const std::string& AName, const std::string& AData)
{
    return "--b\r\nContent-Type: application/octet-stream\r\nContent-Transfer-Encoding: 7bit\r\n"
           "Content-Disposition: attachment; filename=\"" + AName + "\"\r\n\r\n" + AData + "\r\n";
}

TEST(IxmailMime, ShowPrintsTheBodyTreeAndHostileNamesLandOnlyInsideTheFolder)
{
    const TScratch scratch("mime");
    const std::string file = (scratch.Path() / "m.eml").string();
    std::ofstream(file, std::ios::binary) << "From: a@ix.test\r\nSubject: names\r\nMIME-Version: 1.0\r\n"
                                             "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
                                             "--b\r\nContent-Type: text/plain; charset=utf-8\r\n\r\nhello\r\n" +
            Part("../../x", "one") + Part("/etc/passwd", "two") + Part("CON", "three") + Part("", "four") +
            Part(std::string(300, 'n') + ".txt", "five") + "--b--\r\n";
    const auto show = test::RunProgram(IX_MAIL_TOOL, "mime show " + file, scratch.Path());
    ASSERT_EQ(show.Status, 0) << show.Err;
    EXPECT_NE(show.Out.find("  text/plain charset=utf-8"), std::string::npos) << show.Out;
    EXPECT_NE(show.Out.find("decoded 5 bytes name=\"CON\""), std::string::npos) << show.Out;

    const std::filesystem::path folder = scratch.Path() / "a" / "b" / "out";
    const auto run = test::RunProgram(IX_MAIL_TOOL, "mime extract " + file + " " + folder.string(), scratch.Path());
    ASSERT_EQ(run.Status, 0) << run.Err;
    std::set<std::string> contents;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(scratch.Path()))
        if (entry.is_regular_file() && entry.path().parent_path() != scratch.Path())
        {
            EXPECT_EQ(entry.path().parent_path(), folder) << entry.path();
            EXPECT_LE(entry.path().filename().string().size(), 255U);
            contents.insert(test::ReadAll(entry.path()));
        }
    EXPECT_EQ(contents, (std::set<std::string>{"one", "two", "three", "four", "five"}));
    EXPECT_FALSE(std::filesystem::exists(scratch.Path() / "a" / "x"));
}

} // namespace
} // namespace ix
