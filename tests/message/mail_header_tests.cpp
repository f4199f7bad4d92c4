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
/// UTF-8 for utf-8, else Windows-1252.
os::UINT CodePageFor(std::string_view ACharSet)
{
    return SameText(ACharSet, "koi8-r") ? 1251 : SameText(ACharSet, "utf-8") ? os::CP_UTF8 : 1252;
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
        // suffix) are rows of ForeignValues.
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
        // A letter and a combining mark become the letter of the ANSI code page that holds both;
        // a mark that joins no letter there is left out.
        {"=?utf-8?q?e=CC=81_a=E1=AA=B0_b=E1=B7=80_c=E2=83=90_d=EF=B8=A0_=E4=B8=80=CC=81?=", "iso-8859-1", "\xE9 a b c d ?"},
        // Each ill-formed UTF-8 sequence becomes one U+FFFD.
        {"=?utf-8?q?a=FFb=E4=B8?=", "utf-8", "a\xEF\xBF\xBD" "b\xEF\xBF\xBD"},
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

namespace {

/// A header value as other programs write it (W: encoded words in a field value; P: a parameter
/// of a Content-Disposition value; A: an address list, read as "name|address;" per address), and
/// what it decodes to in the ANSI code page.
struct TForeignValue
{
    char Kind;
    std::string_view Value;
    std::string_view Item;
    std::string_view Decoded;
};

// Python's email package reads each the same way, but where a comment says otherwise.
// clang-format off
const TForeignValue ForeignValues[] = {
    {'W', "=?iso-8859-1?q?caf=E9?=", "", "caf\xE9"},
    {'W', "=?utf-8?b?w6l0w6k=?=", "", "\xE9t\xE9"},
    {'W', "=?UTF-8?B?SGVsbG8gV29ybGQ=?=", "", "Hello World"},
    {'W', "=?iso-8859-1?q?a?= =?iso-8859-1?q?b?=", "", "ab"},
    {'W', "=?iso-8859-1?q?a?=\r\n =?iso-8859-1?q?b?=", "", "ab"},
    {'W', "=?iso-8859-1?q?a?= b", "", "a b"},
    {'W', "=?iso-8859-1?Q?a_b=5Fc?=", "", "a b_c"},
    {'W', "Re: =?utf-8?q?=C3=A9t=C3=A9?= report", "", "Re: \xE9t\xE9 report"},
    {'W', "=?iso-8859-1?q?caf=E9?= =?utf-8?q?_=C3=A9t=C3=A9?=", "", "caf\xE9 \xE9t\xE9"},
    {'W', "=?utf-8?q?=E2=82=AC_5?=", "", "\x80 5"},
    {'W', "=?utf-8*en?q?=C3=A9?=", "", "\xE9"},
    {'W', "plain text, no words", "", "plain text, no words"},
    {'W', "x =?iso-8859-1?q?a?=\tb", "", "x a\tb"},
    {'W', "Quarterly report for\r\n\tthe region", "", "Quarterly report for\tthe region"},
    {'W', "=?utf-8?q?a=F0=9F=8E=89b?= =?utf-8?b?8J+OiQ==?=", "", "a?b?"},
    // A word with characters outside the base64 alphabet stays text (Python decodes around them).
    {'W', "=?utf-8?b?QU*J?=", "", "=?utf-8?b?QU*J?="},
    {'P', "attachment; filename*=utf-8''%C3%A9t%C3%A9.txt", "filename*", "\xE9t\xE9.txt"},
    {'P', "attachment; filename*0*=utf-8''%E2%82%AC; filename*1*=%20rate; filename*2*=s.txt", "filename*", "\x80 rates.txt"},
    {'P', "attachment; filename*0*=utf-8''%C3; filename*1*=%A9.txt", "filename*", "\xE9.txt"},
    {'P', "attachment; filename*=iso-8859-1'en'caf%E9.pdf", "filename*", "caf\xE9.pdf"},
    {'P', "attachment; filename*0=\"long \"; filename*1=\"name.txt\"", "filename*", "long name.txt"},
    {'P', "attachment; filename=\"plain; name.txt\"", "filename", "plain; name.txt"},
    {'P', "attachment; filename=report.pdf; size=100", "filename", "report.pdf"},
    {'P', "attachment; name=O'Brien.txt; size=1", "name", "O'Brien.txt"},
    {'P', "attachment; x-filename=\"decoy\"; filename=\"real.txt\"", "filename", "real.txt"},
    {'P', "attachment; filename=\"a\\\"b\\\\c.txt\"; size=1", "filename", "a\"b\\c.txt"},
    // An extended value without charset'language' is left undecoded (Python decodes the escapes).
    {'P', "attachment; filename*=no-quotes%41", "filename*", "no-quotes%41"},
    {'A', "\"Doe, John\" <jd@example.com>, Jane <jane@example.com>", "", "Doe, John|jd@example.com;Jane|jane@example.com;"},
    {'A', "jd@example.com (John Doe)", "", "John Doe|jd@example.com;"},
    {'A', "a@example.com, b@example.com", "", "|a@example.com;|b@example.com;"},
    {'A', "=?utf-8?q?J=C3=B6rg?= <j@example.com>", "", "J\xF6rg|j@example.com;"},
    {'A', "\"say \\\"hi\\\"\" <a@example.com>", "", "say \"hi\"|a@example.com;"},
    {'A', "John Smith <john@example.com>", "", "John Smith|john@example.com;"},
    {'A', "<bare@example.com>", "", "|bare@example.com;"},
    {'A', "\"Smith, J. (ops)\" <ops@example.com>", "", "Smith, J. (ops)|ops@example.com;"},
    {'A', "John <john@example.com", "", "John|john@example.com;"},
    {'A', "John < john@example.com >", "", "John|john@example.com;"},
    // An empty list item adds no address (Python adds an empty one).
    {'A', "a@example.com, , b@example.com", "", "|a@example.com;|b@example.com;"},
    // One pair of single quotes around a display name is removed (Python keeps them).
    {'A', "'Single' <a@example.com>", "", "Single|a@example.com;"},
    // Extended pieces are joined as text when the first is not extended; encoded words in a
    // quoted value are decoded.
    {'P', "a; name*0=\"plain \"; name*1*=%41", "name*", "plain %41"},
    {'P', "a; name=\"=?utf-8?q?=C3=A9?=\"", "name", "\xE9"},
};
// clang-format on

} // namespace

TEST(MailHeaderFieldList, ForeignValuesDecodeAsPythonsEmailPackageReadsThem)
{
    for (const TForeignValue& c : ForeignValues) {
        TixMailHeaderFieldList list("iso-8859-1", 76, cmNone);
        TStringList source;
        source.SetText("X-Test: " + std::string(c.Value));
        list.Parse(0, source);
        TixEmailAddressList addresses;
        if (c.Kind == 'A')
            list.GetDecodedEmailList("x-test", addresses);
        const std::string decoded = c.Kind == 'P' ? list.GetDecodedItemValue(c.Value, c.Item)
            : c.Kind == 'W'                     ? list.GetDecodedFieldValue("x-test")
                                                : test::Addresses(addresses);
        EXPECT_EQ(decoded, c.Decoded) << c.Value;
    }
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
    const std::string text = "\xD0\x96\xD1\x83\xD1\x80\xD0\xBD\xD0\xB0\xD0\xBB \xF0\x9F\x8E\x89 b\xC3\xBC" "cher \xE0\xA4\x85\xED\x95\x9C\xEF\xBC\xA1";
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
