#include "message/ixMailHeader.h"

#include <gtest/gtest.h>

#include <string>

#include "message/ixPercentEncoder.h"
#include "message/message_test_support.h"
#include "platform/ixOsKernel.h"
#include "support/AnsiCodePageScope.h"

using namespace ix;

namespace {

std::string Decode(std::string_view AText, std::string_view ACharSet = "iso-8859-1")
{
    return TixMailHeaderFieldList::DecodeEncodedWords(AText, ACharSet);
}

/// Encoded words as a folded header would carry them, read back unfolded.
std::string Unfold(const std::string& AWords)
{
    return StringReplace(AWords, "\r\n", "\r\n\t");
}

/// The ANSI code page whose letters the tests write for ACharSet: Windows-1251 for koi8-r,
/// else Windows-1252.
os::UINT CodePageFor(std::string_view ACharSet)
{
    return SameText(ACharSet, "koi8-r") ? 1251 : 1252;
}

} // namespace

TEST(EncodedWords, DecodeJoinsWordsAndKeepsWhatItCannotDecode)
{
    struct Case
    {
        std::string_view Text;
        std::string_view CharSet;
        std::string_view Decoded;
    };
    const Case cases[] = {
        // The common forms (adjacent words, blanks after a word, "_" and "=5F", a language
        // suffix) are checked against Python's email package in python_crosscheck_tests.cpp.
        // Adjacent words join across a line folded with a TAB and a blank; letters in either case.
        {"=?iso-8859-1?q?a?=\r\n\t =?iso-8859-1?q?b?=", "iso-8859-1", "ab"},
        {"=?ISO-8859-1?b?SGk=?= =?utf-8?B?w6k=?=", "iso-8859-1", "Hi\xE9"},
        // An encoded word holds no blank: the search for its end stops at one.
        {"=?iso-8859-1?q?a b?=", "iso-8859-1", "=?iso-8859-1?q?a b?="},
        // The only word fails: the whole value is converted as plain text.
        {"\xC1 =?koi8-r?b?QU*J?=", "koi8-r", "\xE0 =?koi8-r?b?QU*J?="},
        // Next to a word that decodes, the failed one is copied as it stands.
        {"=?iso-8859-1?q?ok?= =?iso-8859-1?b?QU*J?=", "iso-8859-1", "ok=?iso-8859-1?b?QU*J?="},
        // Unknown letters decode as plain text; an unfinished word is text, and a word after
        // it still decodes.
        {"=?iso-8859-1?x?abc?=", "iso-8859-1", "abc"},
        {"=?iso-8859-1?q?a?= =?broken", "iso-8859-1", "a=?broken"},
        {"a =?x b =?utf-8?Q?caf=C3=A9?=", "iso-8859-1", "a =?x b caf\xE9"},
        {"=?x?q?a b =?iso-8859-1?q?c?=", "iso-8859-1", "=?x?q?a b c"},
        {"=?iso-8859-1?qq?abc?=", "iso-8859-1", "=?iso-8859-1?qq?abc?="},
        {"", "iso-8859-1", ""},
        // 8-bit text is converted from the list's character set only where no word decoded.
        {"\xC1\xC2", "koi8-r", "\xE0\xE1"},
        {"\xC1 =?us-ascii?q?x?=", "koi8-r", "\xC1 x"},
    };
    for (const Case& c : cases) {
        const test::TAnsiCodePageScope codePage(CodePageFor(c.CharSet));
        EXPECT_EQ(Decode(c.Text, c.CharSet), c.Decoded) << c.Text;
    }
}

TEST(EncodedWords, EncodingChoosesAndMarksTheWordAndSplitsLongTextIntoWordsOfTheMaximumLength)
{
    TixEncodeMethod method = cmNone;
    EXPECT_EQ(TixMailHeaderFieldList::EncodeWord("plain", "utf-8", method), "plain");
    EXPECT_EQ(method, cmNone);
    method = cmNone;
    EXPECT_EQ(TixMailHeaderFieldList::EncodeWord("caf\xE9 a_b?", "iso-8859-1", method),
        "=?iso-8859-1?Q?caf=E9_a=5Fb=3F?=");
    EXPECT_EQ(method, cmQuotedPrintable);
    method = cmBase64;
    EXPECT_EQ(TixMailHeaderFieldList::EncodeWord("Hi", "us-ascii", method), "=?us-ascii?B?SGk=?=");
    method = cmQuotedPrintable;
    EXPECT_EQ(TixMailHeaderFieldList::EncodeWord("a\r\nb", "us-ascii", method), "=?us-ascii?Q?a=0D=0Ab?=");
    EXPECT_EQ(TixMailHeaderFieldList::EncodeHeaderText("", "utf-8", 10, cmBase64), "");
    EXPECT_EQ(TixMailHeaderFieldList::EncodeHeaderText("abc", "utf-8", 10, cmUUEncode), "abc");
    const std::string text(100, 'x');
    const std::string words = TixMailHeaderFieldList::EncodeHeaderText(text, "us-ascii", 40, cmNone);
    // Plain text that must be split switches to quoted-printable words.
    EXPECT_EQ(words.find("=?us-ascii?Q?"), 0u);
    TStringList lines;
    lines.SetText(words);
    EXPECT_EQ(lines.Count(), 3);
    for (int32_t i = 0; i < lines.Count(); ++i)
        EXPECT_LE(lines[i].size(), 60u);
    EXPECT_EQ(Decode(Unfold(words)), text);
}

TEST(MailHeaderFieldList, FieldsReadUnfoldedAndAddressFieldsWithDecodedDisplayNames)
{
    TStringList source{"Subject: hi  ", "To: A <a@x.example>", "\tB <b@y.example>", "References: <1@x.example>",
        " <2@y.example>", "From: =?iso-8859-1?q?J=F6rg?= <j@x.example>",
        "Cc: \"Doe, John\" <jd@x.example>, =?utf-8?b?w6k=?= <e@x.example>,",
        "\t(comment, with comma) c@x.example,, plain@x.example", "Reply-To: r@x.example", "Comments: =?utf-8?q?s?="};
    TixMailHeaderFieldList list("iso-8859-1", 76, cmNone);
    list.Parse(0, source);
    TixEmailAddressList cc;
    list.GetDecodedEmailList("cc", cc);
    // The subject keeps its blanks; folded address fields gain commas.
    const std::pair<std::string, std::string_view> reads[] = {
        {list.GetFieldValue("subject"), "hi  "},
        {list.GetFieldValue("to"), "A <a@x.example>,\tB <b@y.example>"},
        {list.GetFieldValue("references"), "<1@x.example> <2@y.example>"},
        {list.GetDecodedEmail("from"), "J\xF6rg <j@x.example>"},
        {list.GetDecodedEmail("reply-to"), "r@x.example"},
        {list.GetDecodedFieldValue("comments"), "s"},
        {list.GetDecodedFieldValue("absent"), ""},
        {test::Addresses(cc), "Doe, John|jd@x.example;\xE9|e@x.example;comment, with comma|c@x.example;|plain@x.example;"},
    };
    for (const auto& [read, expected] : reads)
        EXPECT_EQ(read, expected);
}

TEST(MailHeaderFieldList, ParametersDecodeExtendedPiecesAsTextAndEncodedWordsInQuotes)
{
    // The other forms are checked against Python's email package (python_crosscheck_tests.cpp).
    TixMailHeaderFieldList list("iso-8859-1", 76, cmNone);
    EXPECT_EQ(list.GetDecodedItemValue("a; name*0=\"plain \"; name*1*=%41", "name*"), "plain %41");
    EXPECT_EQ(list.GetDecodedItemValue("a; name=\"=?utf-8?q?=C3=A9?=\"", "name"), "\xE9");
}

TEST(MailHeaderFieldList, EncodedItemsReadBackAsTheyWereWritten)
{
    const std::string value = "R\xE9sum\xE9 of the year, with a rather long name; 100% \"real\" " + std::string(80, 'x') + ".pdf";
    for (const int32_t width : {0, 40, 76}) {
        TStringList source{"Content-Disposition: attachment", "Content-Type: application/pdf", ""};
        TixMailHeaderFieldList list("utf-8", width, cmNone);
        list.Parse(0, source);
        list.AddEncodedFieldItem("content-disposition", "filename*", value);
        list.AddEncodedFieldItem("content-type", "name", "R\xE9sum\xE9 " + std::string(80, 'y') + ".pdf");
        list.AddEncodedFieldItem("content-type", "ignored", "  ");
        list.AddEncodedFieldItem("absent", "name", "x");
        EXPECT_EQ(list.GetDecodedItemValue(list.GetFieldValue("content-disposition"), "filename*"), value) << width;
        EXPECT_EQ(list.GetDecodedItemValue(list.GetFieldValue("content-type"), "name"),
            "R\xE9sum\xE9 " + std::string(80, 'y') + ".pdf") << width;
        EXPECT_EQ(list.GetFieldCount(), 2);
        for (int32_t line = 0; width > 0 && line < list.GetHeaderEnd(); ++line)
            EXPECT_LE(source[line].size(), static_cast<size_t>(width + 30)) << source[line];
    }
}

TEST(MailHeaderFieldList, QuotesAndBackslashesInAValueCannotAddItems)
{
    const std::string name = "report\"; size=1; x=\"y\\z.pdf";
    TStringList source{"Content-Disposition: attachment", "Content-Type: application/pdf", ""};
    TixMailHeaderFieldList list("us-ascii", 76, cmNone);
    list.Parse(0, source);
    list.AddQuotedFieldItem("content-disposition", "filename", name);
    list.AddEncodedFieldItem("content-type", "name", name);
    EXPECT_EQ(source[0], "Content-Disposition: attachment; filename=\"report\\\"; size=1; x=\\\"y\\\\z.pdf\"");
    for (const char* field : {"content-disposition", "content-type"}) {
        const std::string value = list.GetFieldValue(field);
        EXPECT_EQ(list.GetDecodedItemValue(value, StartsText("content-d", field) ? "filename" : "name"), name);
        EXPECT_EQ(list.GetItemValue(value, "size"), "") << value;
    }
    // A value that is one quoted string already stays as it is.
    list.AddQuotedFieldItem("content-type", "x", "\"a\\\"b\"");
    EXPECT_EQ(list.GetItemValue(list.GetFieldValue("content-type"), "x"), "a\"b");
}

TEST(MailHeaderFieldList, UnderUtf8WordsAndPiecesAreCutBetweenCharacters)
{
    const test::TAnsiCodePageScope utf8(os::CP_UTF8);
    const std::string text = "\xD0\x96\xD1\x83\xD1\x80\xD0\xBD\xD0\xB0\xD0\xBB \xF0\x9F\x8E\x89 b\xC3\xBC" "cher";
    for (int32_t length = 1; length < 40; ++length) {
        const std::string words = TixMailHeaderFieldList::EncodeHeaderText(text, "utf-8", length, cmBase64);
        TStringList lines;
        lines.SetText(words);
        for (int32_t i = 0; i < lines.Count(); ++i)
            EXPECT_EQ(Decode(lines[i], "utf-8").find("\xEF\xBF\xBD"), std::string::npos) << lines[i];
        EXPECT_EQ(Decode(Unfold(words), "utf-8"), text) << length;
    }
    TStringList source{"Content-Disposition: attachment"};
    TixMailHeaderFieldList list("utf-8", 30, cmNone);
    list.Parse(0, source);
    list.AddEncodedFieldItem(0, "filename*", text);
    // Each piece holds whole characters: no piece ends inside one.
    for (int32_t i = 1; i < source.Count(); ++i)
        EXPECT_FALSE(source[i].ends_with("%D0;") || source[i].ends_with("%F0%9F;")) << source[i];
    EXPECT_EQ(list.GetDecodedItemValue(list.GetFieldValue("content-disposition"), "filename*"), text);
}

TEST(MailHeaderFieldList, ExtendedItemPiecesAreNumberedAndSeparated)
{
    TStringList source{"Content-Disposition: attachment;"};
    TixMailHeaderFieldList list("iso-8859-1", 40, cmNone);
    list.Parse(0, source);
    list.AddEncodedFieldItem(0, "filename*", std::string(30, 'a'));
    ASSERT_EQ(source.Count(), 3);
    EXPECT_EQ(source[0], "Content-Disposition: attachment;");
    EXPECT_EQ(source[1], "\tfilename*0*=iso-8859-1''" + std::string(23, 'a') + ";");
    EXPECT_EQ(source[2], "\tfilename*1*=" + std::string(7, 'a'));
}

TEST(PercentEncoder, EscapesWhatItMustAndDecodesEitherCase)
{
    TixRfc2231HeaderEncoder encoder;
    EXPECT_EQ(encoder.EncodeString("a b;c=d%e,f\xE9", "iso-8859-1"), "a%20b%3Bc%3Dd%25e%2Cf%E9");
    EXPECT_EQ(encoder.DecodeString("%41%4a%4A%G1%4", "iso-8859-1"), "AJJ%G1%4");
    EXPECT_EQ(encoder.DecodeString("", "utf-8"), "");
    std::string charSet;
    std::string text;
    std::string language;
    EXPECT_FALSE(encoder.ParseParamValue("utf-8'abc", charSet, text, language));
    EXPECT_EQ(text, "utf-8'abc");
    EXPECT_EQ(charSet, "");
    EXPECT_TRUE(encoder.ParseParamValue("utf-8'en'a'b", charSet, text, language));
    EXPECT_EQ(charSet, "utf-8");
    EXPECT_EQ(language, "en");
    EXPECT_EQ(text, "a'b");
    EXPECT_EQ(encoder.EncodeParam("x y", ""), "x y");
    EXPECT_EQ(encoder.EncodeParam("x y", "us-ascii"), "us-ascii''x%20y");

    TixPercentEncoder plain;
    EXPECT_EQ(plain.EncodeString("a b\x01", {}), "a b\x01");
    plain.SetEscapeChars(" ");
    EXPECT_EQ(plain.EncodeString("a b\x01%", {}), "a%20b%01%");
    plain.SetKeepEscapes(true);
    EXPECT_EQ(plain.EncodeString("%41 %4", {}), "%41%20%4");
}
