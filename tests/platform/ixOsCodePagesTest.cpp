#include "platform/ixOsKernel.h"

#include "platform/internal/ixCodePageTables.h"
#include "support/AnsiCodePageScope.h"

#include <gtest/gtest.h>

#include <string>

using namespace ix::os;

namespace {

constexpr DWORD AnsiFlags = WC_COMPOSITECHECK | WC_DISCARDNS | WC_SEPCHARS | WC_DEFAULTCHAR; // 0x270

std::u16string ToWide(UINT ACodePage, const std::string& AText, DWORD AFlags = MB_PRECOMPOSED)
{
    const int size = MultiByteToWideChar(ACodePage, AFlags, AText.data(), int(AText.size()), nullptr, 0);
    std::u16string result(size_t(size), u'\0');
    if (size > 0)
    {
        EXPECT_EQ(MultiByteToWideChar(ACodePage, AFlags, AText.data(), int(AText.size()), result.data(), size), size);
    }
    return result;
}

std::string ToAnsi(UINT ACodePage, const std::u16string& AText, BOOL* AUsedDefault = nullptr)
{
    const int size = WideCharToMultiByte(ACodePage, AnsiFlags, AText.data(), int(AText.size()), nullptr, 0, nullptr, nullptr);
    std::string result(size_t(size), '\0');
    if (size > 0)
    {
        EXPECT_EQ(WideCharToMultiByte(ACodePage, AnsiFlags, AText.data(), int(AText.size()), result.data(), size,
                      nullptr, AUsedDefault),
            size);
    }
    return result;
}

std::string AllBytes()
{
    std::string bytes;
    for (int b = 1; b < 256; ++b)
        bytes.push_back(char(b));
    return bytes;
}

/// Restores the ANSI code page after a test.
class PlatformCodePages : public ::testing::Test
{
    ix::test::TAnsiCodePageScope FRestore{GetACP()};
};

} // namespace

TEST_F(PlatformCodePages, EverySingleByteCodePageRoundTripsAllBytes)
{
    for (const UINT codePage : {1250u, 1251u, 1252u})
    {
        SCOPED_TRACE(codePage);
        const std::u16string wide = ToWide(codePage, AllBytes());
        ASSERT_EQ(wide.size(), 255u);
        BOOL usedDefault = TRUE;
        EXPECT_EQ(ToAnsi(codePage, wide, &usedDefault), AllBytes());
        EXPECT_FALSE(usedDefault);
    }
}

TEST_F(PlatformCodePages, CharactersWithoutAnAnsiFormBecomeTheDefaultCharacter)
{
    BOOL usedDefault = FALSE;
    EXPECT_EQ(ToAnsi(1252, u"a\u0141b\u0416", &usedDefault), "a?b?");
    EXPECT_TRUE(usedDefault);
    EXPECT_EQ(ToAnsi(1252, u"x\U0001F600y"), "x?y"); // one default character for a surrogate pair
    const char16_t text[] = u"\u0416";
    char out[4] = {};
    EXPECT_EQ(WideCharToMultiByte(1252, AnsiFlags, text, 1, out, sizeof out, "#", &usedDefault), 1);
    EXPECT_EQ(out[0], '#');
}

TEST_F(PlatformCodePages, CompositeCheckComposesOrDropsCombiningMarks)
{
    EXPECT_EQ(ToAnsi(1252, u"e\u0301t\u00E9"), "\xE9t\xE9");
    EXPECT_EQ(ToAnsi(1250, u"C\u030C"), "\xC8");
    EXPECT_EQ(ToAnsi(1252, u"q\u0301\u0302r"), "qr"); // no composed form: marks discarded
    EXPECT_EQ(ToWide(1252, "\xE9", MB_COMPOSITE), u"e\u0301");
}

TEST_F(PlatformCodePages, Utf8AnsiCodePageConvertsEveryCharacter)
{
    ASSERT_TRUE(SetAnsiCodePage(CP_UTF8));
    EXPECT_EQ(ToWide(CP_ACP, "\xC3\xA9\xE2\x82\xAC\xEF\xAC\x81\xF0\x9F\x98\x80"), u"\u00E9\u20AC\uFB01\U0001F600");
    EXPECT_EQ(ToAnsi(CP_ACP, u"\u00E9\u20AC\uFB01\U0001F600"), "\xC3\xA9\xE2\x82\xAC\xEF\xAC\x81\xF0\x9F\x98\x80");
    EXPECT_EQ(ToAnsi(CP_ACP, std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD"); // lone surrogate
    EXPECT_EQ(ToWide(CP_ACP, "\xF5\x80\x80\x80"), u"\xFFFD\xFFFD\xFFFD\xFFFD"); // no lead byte past F4
}

TEST_F(PlatformCodePages, SizesBuffersArgumentsAndMalformedInputBehaveAsOnWindows)
{
    char16_t out[8];
    EXPECT_EQ(MultiByteToWideChar(1252, 0, "abc", -1, nullptr, 0), 4); // the NUL counts
    EXPECT_EQ(MultiByteToWideChar(1252, 0, "abc", -1, out, 8), 4);
    EXPECT_EQ(out[3], u'\0');
    EXPECT_EQ(MultiByteToWideChar(1252, 0, "abc", 3, out, 2), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(MultiByteToWideChar(437, 0, "abc", 3, out, 8), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(MultiByteToWideChar(1252, 0, "abc", 0, out, 8), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(MultiByteToWideChar(1252, 0x100, "abc", 3, out, 8), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_FLAGS);
    // Malformed UTF-8 (replaced as the translator's tests show) fails when asked to.
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "\xC3\x41", 2, out, 8), 0);
    EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
    ASSERT_TRUE(SetAnsiCodePage(1250));
    EXPECT_FALSE(SetAnsiCodePage(437));
    EXPECT_EQ(GetACP(), 1250u);
}

TEST(PlatformAnsiCodePage, IsTheLocalesUntilTheApplicationSelectsOne)
{
    // Only the C library's own locales are sure to be installed; a locale that is not, and the
    // C and POSIX locales, give UTF-8.
    EXPECT_EQ(internal::CodePageOfLocale("C"), CP_UTF8);
    EXPECT_EQ(internal::CodePageOfLocale("POSIX"), CP_UTF8);
    EXPECT_EQ(internal::CodePageOfLocale("C.UTF-8"), CP_UTF8);
    EXPECT_EQ(internal::CodePageOfLocale("xx_NONE.CP1251"), CP_UTF8);
    const struct
    {
        const char* CharSet;
        UINT CodePage;
    } charSets[] = {{"UTF-8", 0}, {"ANSI_X3.4-1968", 0}, {"CP1252", 1252}, {"ISO-8859-1", 1252},
        {"iso885915", 1252}, {"ISO-8859-2", 1250}, {"windows-1250", 1250}, {"CP1251", 1251}, {"KOI8-R", 0}};
    for (const auto& c : charSets)
        EXPECT_EQ(internal::CodePageOfCharSet(c.CharSet), c.CodePage) << c.CharSet;
    // Nothing in this test binary selects a page before its fixtures do.
    EXPECT_EQ(GetACP(), internal::CodePageOfLocale(""));
}
