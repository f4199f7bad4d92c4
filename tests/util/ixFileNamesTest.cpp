#include "util/ixFileNames.h"

#include <gtest/gtest.h>

#include "platform/ixOsKernel.h"

namespace ix {
namespace {

struct TSafeNameCase
{
    const char* Name;
    std::string Given;
    std::string Expected;
};

class SafeFileNames : public testing::TestWithParam<TSafeNameCase>
{
};

TEST_P(SafeFileNames, KeepOnlyAHarmlessLastComponent)
{
    EXPECT_EQ(SafeFileName(GetParam().Given), GetParam().Expected);
}

const std::string Long(300, 'a');

INSTANTIATE_TEST_SUITE_P(Table, SafeFileNames,
    testing::Values(TSafeNameCase{"Plain", "report.pdf", "report.pdf"},
        TSafeNameCase{"Blanks", "  Protokoll März.txt  ", "Protokoll März.txt"},
        TSafeNameCase{"ParentFolders", "../../x", "x"},
        TSafeNameCase{"AbsolutePath", "/etc/passwd", "passwd"},
        TSafeNameCase{"WindowsPath", "C:\\Windows\\system32\\evil.exe", "evil.exe"},
        TSafeNameCase{"TrailingSeparatorAndDots", "docs/./../", "docs"},
        TSafeNameCase{"OnlyDots", "..", "attachment"},
        TSafeNameCase{"Empty", "", "attachment"},
        TSafeNameCase{"OnlySeparators", "/\\/", "attachment"},
        TSafeNameCase{"HiddenFile", ".bashrc", "bashrc"},
        TSafeNameCase{"TrailingDotsAndBlanks", "name. . ", "name"},
        TSafeNameCase{"ControlCharacters", std::string("a\0b\tc\x7f" "d\r\n", 9), "a_b_c_d__"},
        TSafeNameCase{"ReservedCharacters", "a<b>c:d\"e|f?g*h", "a_b_c_d_e_f_g_h"},
        TSafeNameCase{"Device", "CON", "_CON"},
        TSafeNameCase{"DeviceWithExtension", "nul.txt", "_nul.txt"},
        TSafeNameCase{"NumberedDevice", "Lpt9.log", "_Lpt9.log"},
        TSafeNameCase{"NotADevice", "CONSOLE.txt", "CONSOLE.txt"},
        TSafeNameCase{"NotANumberedDevice", "COM0", "COM0"},
        TSafeNameCase{"LongKeepsExtension", Long + ".pdf", std::string(251, 'a') + ".pdf"},
        TSafeNameCase{"LongWithoutExtension", Long, std::string(255, 'a')},
        TSafeNameCase{"LongExtensionIsNotKept", "a." + Long, "a." + std::string(253, 'a')}),
    [](const testing::TestParamInfo<TSafeNameCase>& AInfo) { return std::string(AInfo.param.Name); });

TEST(SafeFileNameLength, IsBoundedByTheGivenMaximumAndCutsBetweenUtf8Characters)
{
    const os::UINT codePage = os::GetACP();
    ASSERT_TRUE(os::SetAnsiCodePage(os::CP_UTF8));
    // "ä" is two bytes: a cut after 7 bytes would split the fourth one.
    EXPECT_EQ(SafeFileName("\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4.txt", 11), "\xC3\xA4\xC3\xA4\xC3\xA4.txt");
    os::SetAnsiCodePage(codePage);
    EXPECT_EQ(SafeFileName("\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4.txt", 11), "\xC3\xA4\xC3\xA4\xC3\xA4\xC3.txt");
    EXPECT_EQ(SafeFileName("abcdefghijklmnop", 3), "abcdefghij") << "never below the default name's length";
}

} // namespace
} // namespace ix
