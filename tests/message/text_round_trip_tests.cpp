// Every character of Unicode's planes 0 and 1 through the transfer encoders and the header
// encodings, under each ANSI code page the library knows (of a single-byte page, all its
// characters in one text, in UTF-8 and in a character set of the page's own). Texts mixing
// scripts are cut into words in mail_header_tests.cpp.
#include "message/ixMailHeader.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "support/AnsiCodePageScope.h"
#include "util/ixTranslator.h"

using namespace ix;

namespace {

/// Every character of planes 0 and 1 but the surrogates and CR and LF (which a header line
/// cannot hold as text), in UTF-16, cut into pieces of about ASize characters.
std::vector<std::u16string> AllCharacters(size_t ASize)
{
    std::vector<std::u16string> pieces(1);
    for (char32_t c = 1; c < 0x20000; ++c) {
        if ((c >= 0xD800 && c <= 0xDFFF) || c == '\r' || c == '\n')
            continue;
        if (pieces.back().size() >= ASize)
            pieces.emplace_back();
        if (c < 0x10000) {
            pieces.back() += static_cast<char16_t>(c);
        } else {
            pieces.back() += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            pieces.back() += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        }
    }
    return pieces;
}

/// An ANSI code page, and a character set of mail that holds its printable ASCII characters and
/// its letters from FirstLetter on.
struct TCodePage
{
    os::UINT CodePage;
    std::string_view CharSet;
    unsigned char FirstLetter;
};

void PrintTo(const TCodePage& ACodePage, std::ostream* AStream)
{
    *AStream << ACodePage.CodePage;
}

class TextRoundTrip : public testing::TestWithParam<TCodePage>
{
protected:
    /// AText in the ANSI code page; checks that each character either keeps its form or
    /// becomes the default character, never another character.
    std::string Ansi(std::u16string_view AText)
    {
        const std::string ansi = TixTranslator::WideToString(AText, os::CP_ACP);
        const std::u16string back = TixTranslator::StringToWide(ansi, os::CP_ACP);
        if (GetParam().CodePage == os::CP_UTF8) {
            EXPECT_TRUE(back == AText);
        } else {
            std::vector<bool> given(0x10000);
            for (const char16_t c : AText)
                given[c] = true;
            EXPECT_EQ(back.size(), ansi.size());
            for (const char16_t c : back)
                EXPECT_TRUE(c == u'?' || given[c]) << int(c);
        }
        return ansi;
    }

    /// AText through every transfer encoder, and in UTF-8 through every header encoding, and back.
    void RoundTrip(const std::string& AText)
    {
        const TixByteArray bytes = TixTranslator::GetBytes(AText, "utf-8");
        ASSERT_EQ(TixTranslator::GetString(bytes, "utf-8"), AText);
        const std::string utf8(bytes.begin(), bytes.end());
        for (const TixEncodeMethod method : {cmNone, cmQuotedPrintable, cmBase64, cmUUEncode, cm8Bit})
            ASSERT_EQ(TixEncoder::DecodeWith(method, TixEncoder::EncodeWith(method, utf8)), utf8) << int(method);
        HeaderRoundTrip(AText, "utf-8", {cmQuotedPrintable, cmBase64});
    }

    /// AText in ACharSet through the header encodings of AMethods (cmNone: as plain as it can
    /// be), and back.
    void HeaderRoundTrip(const std::string& AText, std::string_view ACharSet, std::initializer_list<TixEncodeMethod> AMethods)
    {
        for (const TixEncodeMethod method : AMethods) {
            TixEncodeMethod chosen = method;
            ASSERT_EQ(TixMailHeaderFieldList::DecodeEncodedWords(
                          TixMailHeaderFieldList::EncodeWord(AText, ACharSet, chosen), ACharSet),
                AText);
            // Read back as a folded header would carry the words.
            const std::string words = TixMailHeaderFieldList::EncodeHeaderText(AText, ACharSet, 40, method);
            ASSERT_EQ(TixMailHeaderFieldList::DecodeEncodedWords(StringReplace(words, "\r\n", "\r\n\t"), ACharSet), AText)
                << ACharSet << " " << int(method) << " " << words;
        }
        TStringList source{"Content-Type: application/octet-stream", ""};
        TixMailHeaderFieldList header(std::string(ACharSet), 76, cmNone);
        header.Parse(0, source);
        header.AddEncodedFieldItem("content-type", "name", AText);
        header.AddEncodedFieldItem("content-type", "filename*", AText);
        const std::string value = header.GetFieldValue("content-type");
        EXPECT_EQ(header.GetDecodedItemValue(value, "name"), AText);
        EXPECT_EQ(header.GetDecodedItemValue(value, "filename*"), AText);
    }
};

} // namespace

TEST_P(TextRoundTrip, EveryCharacterOfPlanesZeroAndOneComesBack)
{
    const test::TAnsiCodePageScope codePage(GetParam().CodePage);
    std::string held; // a single-byte page's characters, each once
    for (const std::u16string& piece : AllCharacters(4096)) {
        SCOPED_TRACE(static_cast<int>(piece[0]));
        const std::string ansi = Ansi(piece);
        if (GetParam().CodePage == os::CP_UTF8)
            RoundTrip(ansi);
        for (const char c : ansi)
            if (held.find(c) == std::string::npos)
                held += c;
        if (HasFatalFailure())
            return;
    }
    if (GetParam().CodePage == os::CP_UTF8)
        return;
    RoundTrip(held);
    std::string letters;
    for (const char c : held)
        if ((c >= ' ' && c <= '~') || static_cast<unsigned char>(c) >= GetParam().FirstLetter)
            letters += c;
    HeaderRoundTrip(letters, GetParam().CharSet, {cmNone, cmQuotedPrintable, cmBase64});
}

INSTANTIATE_TEST_SUITE_P(AnsiCodePages, TextRoundTrip,
    testing::Values(TCodePage{os::CP_UTF8, "utf-8", 0x80}, TCodePage{1252, "iso-8859-1", 0xA0},
        TCodePage{1250, "windows-1250", 0x80}, TCodePage{1251, "koi8-r", 0xC0}));
