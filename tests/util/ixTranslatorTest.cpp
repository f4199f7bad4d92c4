#include "util/ixTranslator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "core/ixStreams.h"
#include "core/ixSysUtils.h"
#include "platform/ixOsKernel.h"
#include "support/AnsiCodePageScope.h"
#include "support/PieceStream.h"

namespace ix {
namespace {

using namespace std::string_literals;

TixByteArray Bytes(std::string_view AText)
{
    return TixByteArray(AText.begin(), AText.end());
}

std::string Text(const TixByteArray& ABytes)
{
    return std::string(ABytes.begin(), ABytes.end());
}

using AnsiCodePage = test::TAnsiCodePageScope;

// The utility tests write their texts in the bytes of Windows-1252 unless they select a page.
const test::TAnsiCodePageScope Cp1252(1252);

/// Every byte value once, in order.
std::string AllBytes()
{
    std::string all(256, '\0');
    for (int b = 0; b < 256; ++b)
        all[static_cast<size_t>(b)] = static_cast<char>(b);
    return all;
}

// --- Conversions, one table per direction -------------------------------------------------

const std::string PrivetKoi8 = "\xF0\xD2\xC9\xD7\xC5\xD4";
const std::string PrivetUtf8 = "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82";
const std::string OutsideTable = "caf\xE9\x80\x00\xFF"s;

enum TWays { BothWays, Decoding, Encoding };

/// Text in the ANSI code page and its bytes in the character set, converted one or both ways.
struct TConversion
{
    os::UINT CodePage;
    const char* CharSet;
    std::string Text;
    std::string Bytes;
    TWays Ways = BothWays;
};

const TConversion Conversions[] = {
    {1252, "UTF-8", "caf\xE9", "caf\xC3\xA9"}, // the name is compared without letter case
    {1252, "Utf-8", "caf\xE9", "caf\xC3\xA9"},
    {1251, "utf-8", "\xCF\xF0\xE8", "\xD0\x9F\xD1\x80\xD0\xB8"}, // UTF-8 follows the selected code page
    // Every letter of ISO-8859-2 that Windows-1250 has elsewhere: the nine documented pairs, and the six
    // letters that sit elsewhere as well (Ą ą Ľ ľ Ť ť); from C0 on both sets agree.
    {1250, "ISO-8859-2", "\x8C\x8A\x8F\x8E\x9C\xA1\x9A\x9F\x9E\xA5\xB9\xBC\xBE\x8D\x9D",
        "\xA6\xA9\xAC\xAE\xB6\xB7\xB9\xBC\xBE\xA1\xB1\xA5\xB5\xAB\xBB"},
    {1250, "ISO-8859-2", AllBytes().substr(0xC0), AllBytes().substr(0xC0)},
    {1250, "iso-8859-2", "\xA3\xF3" "d\x9C", "\xA3\xF3" "d\xB6"}, // "Łódś"
    {65001, "ISO-8859-2", "\xC5\x81\xC3\xB3" "d\xC5\x9B", "\xA3\xF3" "d\xB6"},
    {65001, "Windows-1250", "\xC5\x9B", "\x9C"},
    {1251, "KOI8-R", "\xCF\xF0\xE8\xE2\xE5\xF2", PrivetKoi8},
    {65001, "koi8-r", PrivetUtf8, PrivetKoi8},
    {1252, "koi8-r", "\xA9", "\xBF"}, // the copyright sign, at A9 in Windows-1252 as in Windows-1251
    {65001, "Windows-1251", "\xE2\x82\xAC\xE2\x84\x96", "\x88\xB9"}, // euro and numero signs, three bytes each
    // The Cyrillic sets' first capital and small letters, at their Windows-1251 positions.
    {1251, "koi8-r", "\xE0", "\xC1"}, {1251, "ibm866", "\xC0\xE0", "\x80\xA0"}, {1251, "ISO-8859-5", "\xC0", "\xB0"},
    {1251, "koi8-u", "\xBA", "\xA4"}, {1251, "x-mac-cyrillic", "\xC0", "\x80"},
    // Names outside the table pass the bytes unchanged; ISO-8859-1 and Latin1 do so in their local code page.
    {65001, "utf8", OutsideTable, OutsideTable}, {1250, "", OutsideTable, OutsideTable},
    {1251, "ISO-8859-7", OutsideTable, OutsideTable}, {1252, "iso-8859-1", OutsideTable, OutsideTable},
    {1252, "latin1", OutsideTable, OutsideTable}, {65001, "no such set", OutsideTable, OutsideTable},
    // Decoding: one default character per character the code page cannot show or ill-formed part (C3 41: A stays).
    {1252, "utf-8", "?A", "\xC3\x41", Decoding},
    {1252, "utf-8", "?", "\xD0\x9F", Decoding},
    {1252, "koi8-r", "Hi ??????", "Hi " + PrivetKoi8, Decoding},
    {1252, "Windows-1251", "??", "\xCF\xF0", Decoding},
    {1252, "ISO-8859-2", "\xE9?", "\xE9\xA3", Decoding}, // é is in both, Ł is not
    {1251, "Windows-1250", "a?", "a\xA3", Decoding},
    // Encoding: one question mark per character or ill-formed part the set cannot hold.
    {1252, "koi8-r", "caf\xE9", "caf?", Encoding},
    {1252, "ISO-8859-2", "\xE9\xE0", "\xE9?", Encoding},
    // Characters koi8-r lacks, one beyond U+FFFF and a malformed byte.
    {65001, "koi8-r", "caf\xC3\xA9 \xF0\x9F\x98\x80 \xFF", "caf? ? ?", Encoding},
    {65001, "Windows-1251", "\xC0\xAF", "??", Encoding},               // overlong form: no lead byte
    {65001, "Windows-1251", "\xE0\x80\x80", "???", Encoding},          // overlong three-byte form
    {65001, "Windows-1251", "\xED\xA0\x80", "???", Encoding},          // an encoded surrogate
    {65001, "Windows-1251", "\xF4\x90\x80\x80", "????", Encoding},     // past U+10FFFF
    {65001, "Windows-1251", "\xD0" "A\xD0", "?A?", Encoding},          // cut short by a letter and by the end
    {65001, "Windows-1251", "\xE2\x82" "A", "?A", Encoding},           // one "?" for the well-formed start
    {65001, "Windows-1251", "\xE2\x82", "?", Encoding},
    {65001, "Windows-1251", "\x80\xBF", "??", Encoding},               // lone continuation bytes
};

TEST(TixTranslator, ConvertsUnderTheSelectedCodePageWithADefaultCharacterForWhatTheOtherSideCannotHold)
{
    for (const TConversion& c : Conversions)
    {
        const AnsiCodePage selected(c.CodePage);
        const std::string label = ::testing::PrintToString(c.Text) + " " + c.CharSet + " in " + std::to_string(c.CodePage);
        if (c.Ways != Decoding) {
            EXPECT_EQ(Text(TixTranslator::GetBytes(c.Text, c.CharSet)), c.Bytes) << label;
            EXPECT_EQ(TixTranslator::GetByteCount(c.Text, c.CharSet), static_cast<int32_t>(c.Bytes.size())) << label;
        }
        if (c.Ways != Encoding) {
            EXPECT_EQ(TixTranslator::GetString(Bytes(c.Bytes), c.CharSet), c.Text) << label;
        }
    }
}

TEST(TixTranslator, GetStringTakesTheRequestedRangeWithNulBytesGetBytesFillsAtMostTheCountAndTranslateFromWorksInPlace)
{
    const TixByteArray bytes = Bytes("ab\0cd"s);
    EXPECT_EQ(TixTranslator::GetString(bytes, ""), "ab\0cd"s);
    // A range reaching past the end is clipped, never read beyond the bytes.
    const std::tuple<int32_t, int32_t, std::string> ranges[] = {
        {1, 3, "b\0c"s}, {1, 0, ""}, {1, -4, ""}, {3, 100, "cd"}, {5, 1, ""}, {-1, 2, ""}};
    for (const auto& [index, count, expected] : ranges)
        EXPECT_EQ(TixTranslator::GetString(bytes, index, count, ""), expected) << index << " " << count;
    // Bytes into a buffer: at most the count.
    uint8_t buffer[4] = {0, 0, 0, 0};
    EXPECT_EQ(TixTranslator::GetBytes("\xE9t\xE9", buffer, "utf-8", 3), 3);
    EXPECT_EQ(Text(TixByteArray(buffer, buffer + 4)), "\xC3\xA9t\0"s);
    EXPECT_EQ(TixTranslator::GetBytes("ab", buffer, "", 4), 2);
    EXPECT_EQ(TixTranslator::GetBytes("ab", buffer, "", 0), 0);
    EXPECT_EQ(TixTranslator::GetBytes("ab", nullptr, "", 2), 0);
    // A range in a character set, and a string translated in place.
    const AnsiCodePage utf8(65001);
    EXPECT_EQ(TixTranslator::GetString(Bytes("Hi, " + PrivetKoi8), 4, 6, "koi8-r"), PrivetUtf8);
    std::string text = "Hi, " + PrivetKoi8;
    TixTranslator::TranslateFrom("koi8-r", text, text);
    EXPECT_EQ(text, "Hi, " + PrivetUtf8);
}

TEST(TixTranslator, StreamTranslationCopiesTheWholeSourceRestoresBothPositionsAndJoinsSplitCharacters)
{
    const AnsiCodePage cp1251(1251);
    TMemoryStream source;
    source.WriteText("\xF0\xD2\xC9");
    source.SetPosition(2);
    TMemoryStream destination;
    destination.WriteText("xy");
    destination.SetPosition(1);
    TixTranslator::TranslateFrom("koi8-r", source, destination);
    EXPECT_EQ(destination.View(), "x\xCF\xF0\xE8");
    EXPECT_EQ(source.Position(), 2);
    EXPECT_EQ(destination.Position(), 1);

    TMemoryStream back;
    destination.SetPosition(0);
    TixTranslator::TranslateTo("koi8-r", destination, back);
    EXPECT_EQ(back.View(), "x\xF0\xD2\xC9");

    // Under UTF-8, from streams that hand out one byte per read, so that every character is split.
    const AnsiCodePage utf8(65001);
    const std::tuple<std::string, bool, const char*, std::string> cases[] = {
        {"Hi " + PrivetUtf8, true, "koi8-r", "Hi " + PrivetKoi8}, {PrivetKoi8, false, "koi8-r", PrivetUtf8},
        {"\xE2\x82\xAC\xE2\x84\x96", true, "Windows-1251", "\x88\xB9"},
        {"a\xD0", true, "koi8-r", "a?"}}; // a stream that ends inside a character: the cut sequence is one "?"
    for (const auto& [text, toCharSet, charSet, expected] : cases) {
        test::TPieceStream trickle(text, 1);
        TMemoryStream translated;
        if (toCharSet)
            TixTranslator::TranslateTo(charSet, trickle, translated);
        else
            TixTranslator::TranslateFrom(charSet, trickle, translated);
        EXPECT_EQ(translated.View(), expected) << ::testing::PrintToString(text);
    }
}

TEST(TixTranslator, Utf8EncodeAndDecodeGoBothWaysAndDecodingGivesOneReplacementPerIllFormedPartKeepingWhatFollows)
{
    struct TCase
    {
        std::string Bytes;
        std::u16string Wide;
        bool WellFormed = false;
    };
    const TCase cases[] = {
        // The first and last character of every length, one to four bytes.
        {"\x00\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF"s, u"\u0000\u007F\u0080\u07FF\u0800\uFFFF"s, true},
        {"\xF0\x90\x80\x80\xF4\x8F\xBF\xBF", u"\U00010000\U0010FFFF", true},
        {"a\xF0\x9F\x8E\x89" "b", u"a\U0001F389b", true},   // a four-byte sequence is one character
        {"", u"", true},
        {"\xC3\x41", u"\xFFFD" "A"},                  // the A that shows the break is kept
        {"\xC3\x20x", u"\xFFFD x"},
        {"\xE2\x82\x41", u"\xFFFD" "A"},              // a valid start is one part
        {"\xE2\x41\x82", u"\xFFFD" "A\xFFFD"},        // the lone continuation is a part of its own
        {"a\xE2\x82", u"a\xFFFD"},                    // cut short by the end
        {"\xF0\x9F\x98", u"\xFFFD"},
        {"\xC0\xAF", u"\xFFFD\xFFFD"},                // no overlong forms
        {"\xED\xA0\x80", u"\xFFFD\xFFFD\xFFFD"},      // no encoded surrogates
        {"\xF4\x90\x80\x80", u"\xFFFD\xFFFD\xFFFD\xFFFD"}, // nothing past U+10FFFF
        {"\xC3\x00z"s, u"\xFFFD\0z"s},
        {"long ASCII run\xC3 and \xEF\xBF\xBD then more ASCII", u"long ASCII run\xFFFD and \xFFFD then more ASCII"},
    };
    // A lone surrogate has no UTF-8 form.
    EXPECT_EQ(TixTranslator::Utf8Encode(u"\xD83Cx\xDF89"), "\xEF\xBF\xBDx\xEF\xBF\xBD");
    const AnsiCodePage utf8(os::CP_UTF8);
    for (const TCase& c : cases) {
        if (c.WellFormed) {
            EXPECT_EQ(TixTranslator::Utf8Encode(c.Wide), c.Bytes) << ::testing::PrintToString(c.Bytes);
        }
        EXPECT_EQ(TixTranslator::Utf8Decode(c.Bytes), c.Wide) << ::testing::PrintToString(c.Bytes);
        // Text in a UTF-8 code page is the bytes with the same parts replaced.
        EXPECT_EQ(TixTranslator::GetString(Bytes(c.Bytes), "utf-8"), TixTranslator::Utf8Encode(c.Wide))
            << ::testing::PrintToString(c.Bytes);
    }
}

// --- The ANSI code page against the tables' local code page ---------------------------------

TEST(TixTranslatorAnsiCodePage, EachSetKeepsItsTablesUnderItsLocalCodePageAndEveryByteRoundTripsUnderUtf8)
{
    const std::map<std::string, os::UINT> localCodePages = {{"ISO-8859-1", 1252}, {"ISO-8859-2", 1250},
        {"Windows-1250", 1250}, {"ibm866", 1251}, {"ISO-8859-5", 1251}, {"koi8-r", 1251}, {"koi8-u", 1251},
        {"KOI8-WIN", 1251}, {"WIN-KOI8", 1251}, {"Windows-1251", 1251}, {"x-mac-cyrillic", 1251}, {"Latin1", 1252}};
    const std::string all = AllBytes();
    for (const auto& [charSet, local] : localCodePages) {
        EXPECT_EQ(TixTranslator::GetLocalCodePage(charSet), local) << charSet;
        EXPECT_EQ(TixTranslator::GetCharSetInfo(UpperCase(charSet)).Name, charSet) << "found without letter case";
        TixByteArray localBytes;
        {
            const AnsiCodePage selected(local);
            const TixCharSetInfo& info = TixTranslator::GetCharSetInfo(charSet);
            EXPECT_EQ(TixTranslator::GetString(Bytes(all), charSet),
                Text(TixByteArray(info.FromTable.begin(), info.FromTable.end()))) << charSet;
            EXPECT_EQ(TixTranslator::GetBytes(all, charSet), TixByteArray(info.ToTable.begin(), info.ToTable.end())) << charSet;
            localBytes = TixTranslator::GetBytes(TixTranslator::GetString(Bytes(all), charSet), charSet);
        }
        const AnsiCodePage utf8(65001);
        const std::string text = TixTranslator::GetString(Bytes(all), charSet);
        EXPECT_EQ(Text(localBytes), all) << charSet;
        EXPECT_EQ(TixTranslator::GetBytes(text, charSet), localBytes) << charSet;
        EXPECT_EQ(TixTranslator::GetByteCount(text, charSet), 256) << charSet;
        EXPECT_EQ(text.substr(0, 128), all.substr(0, 128)) << charSet << ": ASCII is unchanged";
    }
    const auto table = [](const char* ACharSet) { return TixTranslator::GetCharSetInfo(ACharSet); };
    EXPECT_EQ(table("KOI8-WIN").FromTable, table("koi8-r").FromTable);
    EXPECT_EQ(table("WIN-KOI8").FromTable, table("koi8-r").ToTable);
    EXPECT_EQ(table("WIN-KOI8").ToTable, table("koi8-r").FromTable);
    for (const char* other : {"utf-8", ""}) {
        EXPECT_EQ(TixTranslator::GetLocalCodePage(other), 0u) << other;
        EXPECT_EQ(TixTranslator::GetCharSetInfo(other).Name, "") << "no table for " << other;
    }
}

} // namespace
} // namespace ix
