#include "util/ixFileNames.h"

#include <gtest/gtest.h>

#include "support/AnsiCodePageScope.h"

namespace ix {
namespace {

TEST(SafeFileNames, KeepOnlyAHarmlessLastComponentBoundedByTheGivenMaximumAndCutBetweenUtf8Characters)
{
    const std::string Long(300, 'a');
    const std::tuple<const char*, std::string, std::string> cases[] = {{"Plain", "report.pdf", "report.pdf"},
        {"Blanks", "  Protokoll März.txt  ", "Protokoll März.txt"},
        {"ParentFolders", "../../x", "x"},
        {"AbsolutePath", "/etc/passwd", "passwd"},
        {"WindowsPath", "C:\\Windows\\system32\\evil.exe", "evil.exe"},
        {"TrailingSeparatorAndDots", "docs/./../", "docs"},
        {"OnlyDots", "..", "attachment"},
        {"Empty", "", "attachment"},
        {"OnlySeparators", "/\\/", "attachment"},
        {"HiddenFile", ".bashrc", "bashrc"},
        {"TrailingDotsAndBlanks", "name. . ", "name"},
        {"ControlCharacters", std::string("a\0b\tc\x7f" "d\r\n\x1f", 10), "a_b_c_d___"},
        {"ReservedCharacters", "a<b>c:d\"e|f?g*h", "a_b_c_d_e_f_g_h"},
        {"Device", "CON", "_CON"},
        {"DeviceWithExtension", "nul.txt", "_nul.txt"},
        {"NumberedDevice", "Lpt9.log", "_Lpt9.log"},
        {"NotADevice", "CONSOLE.txt", "CONSOLE.txt"},
        {"NotANumberedDevice", "COM0", "COM0"},
        {"LongKeepsExtension", Long + ".pdf", std::string(251, 'a') + ".pdf"},
        {"LongWithoutExtension", Long, std::string(255, 'a')},
        {"LongExtensionIsNotKept", "a." + Long, "a." + std::string(253, 'a')}};
    for (const auto& [name, given, expected] : cases)
        EXPECT_EQ(SafeFileName(given), expected) << name;

    EXPECT_EQ(SafeFileName("\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4.txt", 11), "\xC3\xA4\xC3\xA4\xC3\xA4\xC3.txt");
    EXPECT_EQ(SafeFileName("abcdefghijklmnop", 3), "abcdefghij") << "never below the default name's length";
    // Under UTF-8, "ä" is two bytes: a cut after 7 bytes would split the fourth one.
    const test::TAnsiCodePageScope utf8(os::CP_UTF8);
    EXPECT_EQ(SafeFileName("\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4.txt", 11), "\xC3\xA4\xC3\xA4\xC3\xA4.txt");
}

} // namespace
} // namespace ix
