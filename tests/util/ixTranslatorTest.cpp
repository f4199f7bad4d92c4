#include "util/ixTranslator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

#include "core/ixStreams.h"
#include "platform/ixOsKernel.h"
#include "support/AnsiCodePageScope.h"

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
[[maybe_unused]] testing::Environment* const Cp1252 =
    testing::AddGlobalTestEnvironment(new test::TAnsiCodePageEnvironment(1252));

/// Every byte value once, in order.
std::string AllBytes()
{
    std::string all(256, '\0');
    for (int b = 0; b < 256; ++b)
        all[static_cast<size_t>(b)] = static_cast<char>(b);
    return all;
}

const char* const AllTableSets[] = {"ISO-8859-1", "ISO-8859-2", "Windows-1250", "ibm866", "ISO-8859-5", "koi8-r",
    "koi8-u", "KOI8-WIN", "WIN-KOI8", "Windows-1251", "x-mac-cyrillic", "Latin1"};

TEST(TixTranslator, Utf8NameIsComparedWithoutLetterCase)
{
    const AnsiCodePage cp1252(1252);
    EXPECT_EQ(TixTranslator::GetBytes("caf\xE9", "UTF-8"), Bytes("caf\xC3\xA9"));
    EXPECT_EQ(TixTranslator::GetBytes("caf\xE9", "utf-8"), Bytes("caf\xC3\xA9"));
    EXPECT_EQ(TixTranslator::GetByteCount("caf\xE9", "Utf-8"), 5);
}

TEST(TixTranslator, NamesOutsideTheTablePassBytesUnchanged)
{
    const std::string text = "caf\xE9\x80\x00\xFF"s;
    for (const char* charSet : {"utf8", "", "ISO-8859-7", "iso-8859-1", "latin1", "no such set"}) {
        EXPECT_EQ(TixTranslator::GetBytes(text, charSet), Bytes(text)) << charSet;
        EXPECT_EQ(TixTranslator::GetString(Bytes(text), charSet), text) << charSet;
        EXPECT_EQ(TixTranslator::GetByteCount(text, charSet), 7) << charSet;
    }
    for (const os::UINT codePage : {1250u, 1251u, 65001u}) {
        const AnsiCodePage selected(codePage);
        for (const char* charSet : {"", "utf8", "no such set"}) {
            EXPECT_EQ(TixTranslator::GetBytes(text, charSet), Bytes(text)) << charSet << " in " << codePage;
            EXPECT_EQ(TixTranslator::GetString(Bytes(text), charSet), text) << charSet << " in " << codePage;
            EXPECT_EQ(TixTranslator::GetByteCount(text, charSet), 7) << charSet << " in " << codePage;
        }
    }
}

TEST(TixTranslator, Utf8OfTheAnsiCodePageFollowsTheSelectedCodePage)
{
    const AnsiCodePage cp1251(1251);
    EXPECT_EQ(TixTranslator::GetBytes("\xCF\xF0\xE8", "utf-8"), Bytes("\xD0\x9F\xD1\x80\xD0\xB8"));
    EXPECT_EQ(TixTranslator::GetString(Bytes("\xD0\x9F\xD1\x80\xD0\xB8"), "utf-8"), "\xCF\xF0\xE8");
}

TEST(TixTranslator, GetStringDecodesUtf8ToTheAnsiCodePage)
{
    const AnsiCodePage cp1252(1252);
    EXPECT_EQ(TixTranslator::GetString(Bytes("\xC3\xA9"), "utf-8"), "\xE9");
    // C3 41: the second byte is no continuation byte; the broken part is one default character
    // and the A stays.
    EXPECT_EQ(TixTranslator::GetString(Bytes("\xC3\x41"), "utf-8"), "?A");
    // A character without an ANSI form becomes the default character.
    EXPECT_EQ(TixTranslator::GetString(Bytes("\xD0\x9F"), "utf-8"), "?");
}

TEST(TixTranslator, GetStringTakesTheRequestedRangeWithNulBytes)
{
    const TixByteArray bytes = Bytes("ab\0cd"s);
    EXPECT_EQ(TixTranslator::GetString(bytes, ""), "ab\0cd"s);
    EXPECT_EQ(TixTranslator::GetString(bytes, 1, 3, ""), "b\0c"s);
    EXPECT_EQ(TixTranslator::GetString(bytes, 1, 0, ""), "");
    EXPECT_EQ(TixTranslator::GetString(bytes, 1, -4, ""), "");
    // A range reaching past the end is clipped, never read beyond the bytes.
    EXPECT_EQ(TixTranslator::GetString(bytes, 3, 100, ""), "cd");
    EXPECT_EQ(TixTranslator::GetString(bytes, 5, 1, ""), "");
    EXPECT_EQ(TixTranslator::GetString(bytes, -1, 2, ""), "");
}

TEST(TixTranslator, GetBytesIntoABufferCopiesAtMostTheCount)
{
    uint8_t buffer[4] = {0, 0, 0, 0};
    EXPECT_EQ(TixTranslator::GetBytes("\xE9t\xE9", buffer, "utf-8", 3), 3);
    EXPECT_EQ(Text(TixByteArray(buffer, buffer + 4)), "\xC3\xA9t\0"s);
    EXPECT_EQ(TixTranslator::GetBytes("ab", buffer, "", 4), 2);
    EXPECT_EQ(TixTranslator::GetBytes("ab", buffer, "", 0), 0);
    EXPECT_EQ(TixTranslator::GetBytes("ab", nullptr, "", 2), 0);
}

TEST(TixTranslator, Iso88592MapsEveryLetterToItsWindows1250Position)
{
    const AnsiCodePage cp1250(1250);
    // The nine documented pairs, and the six letters that sit elsewhere as well (Ą ą Ľ ľ Ť ť).
    const std::map<uint8_t, uint8_t> from = {{0xA6, 0x8C}, {0xA9, 0x8A}, {0xAC, 0x8F}, {0xAE, 0x8E}, {0xB6, 0x9C},
        {0xB7, 0xA1}, {0xB9, 0x9A}, {0xBC, 0x9F}, {0xBE, 0x9E}, {0xA1, 0xA5}, {0xB1, 0xB9}, {0xA5, 0xBC},
        {0xB5, 0xBE}, {0xAB, 0x8D}, {0xBB, 0x9D}};
    const TixCharSetInfo& info = TixTranslator::GetCharSetInfo("iso-8859-2");
    ASSERT_EQ(info.Name, "ISO-8859-2");
    for (const auto& [set, local] : from) {
        EXPECT_EQ(info.FromTable[set], local) << int(set);
        EXPECT_EQ(info.ToTable[local], set) << int(local);
    }
    for (int b = 0; b < 256; ++b) {
        const auto byte = static_cast<uint8_t>(b);
        EXPECT_EQ(info.ToTable[info.FromTable[byte]], byte) << b;
        if (b < 0x80 || (b >= 0xC0 && !from.count(byte))) {
            EXPECT_EQ(info.FromTable[byte], byte) << b;
        }
    }
    EXPECT_EQ(TixTranslator::GetString(Bytes("\xA9\xB9\xA1\xB1"), "ISO-8859-2"), "\x8A\x9A\xA5\xB9");
    EXPECT_EQ(TixTranslator::GetBytes("\x8A\x9A\xA5\xB9", "ISO-8859-2"), Bytes("\xA9\xB9\xA1\xB1"));
}

TEST(TixTranslator, CyrillicSetsMapLettersToWindows1251)
{
    const AnsiCodePage cp1251(1251);
    EXPECT_EQ(TixTranslator::GetString(Bytes("\xF0\xD2\xC9\xD7\xC5\xD4"), "koi8-r"), "\xCF\xF0\xE8\xE2\xE5\xF2");
    EXPECT_EQ(TixTranslator::GetBytes("\xCF\xF0\xE8\xE2\xE5\xF2", "KOI8-R"), Bytes("\xF0\xD2\xC9\xD7\xC5\xD4"));
    EXPECT_EQ(TixTranslator::GetCharSetInfo("koi8-r").FromTable[0xC1], 0xE0);
    EXPECT_EQ(TixTranslator::GetCharSetInfo("koi8-r").ToTable[0xE0], 0xC1);
    EXPECT_EQ(TixTranslator::GetCharSetInfo("ibm866").FromTable[0x80], 0xC0);
    EXPECT_EQ(TixTranslator::GetCharSetInfo("ibm866").FromTable[0xA0], 0xE0);
    EXPECT_EQ(TixTranslator::GetCharSetInfo("ISO-8859-5").FromTable[0xB0], 0xC0);
    EXPECT_EQ(TixTranslator::GetCharSetInfo("koi8-u").FromTable[0xA4], 0xBA);
    EXPECT_EQ(TixTranslator::GetCharSetInfo("x-mac-cyrillic").FromTable[0x80], 0xC0);
    EXPECT_EQ(TixTranslator::GetCharSetInfo("KOI8-WIN").FromTable, TixTranslator::GetCharSetInfo("koi8-r").FromTable);
    EXPECT_EQ(TixTranslator::GetCharSetInfo("WIN-KOI8").FromTable, TixTranslator::GetCharSetInfo("koi8-r").ToTable);
    EXPECT_EQ(TixTranslator::GetCharSetInfo("WIN-KOI8").ToTable, TixTranslator::GetCharSetInfo("koi8-r").FromTable);
}

TEST(TixTranslator, EveryByteSurvivesARoundTripThroughTheCyrillicSets)
{
    const AnsiCodePage cp1251(1251);
    const std::string all = AllBytes();
    for (const char* charSet : {"ibm866", "ISO-8859-5", "koi8-r", "koi8-u", "KOI8-WIN", "WIN-KOI8", "x-mac-cyrillic"}) {
        const std::string text = TixTranslator::GetString(Bytes(all), charSet);
        EXPECT_EQ(Text(TixTranslator::GetBytes(text, charSet)), all) << charSet;
        EXPECT_EQ(text.substr(0, 128), all.substr(0, 128)) << charSet << ": ASCII is unchanged";
    }
}

TEST(TixTranslator, TableLookupIgnoresLetterCaseAndGivesAnEmptyRecordWhenUnknown)
{
    EXPECT_EQ(TixTranslator::GetCharSetInfo("WINDOWS-1251").Name, "Windows-1251");
    EXPECT_EQ(TixTranslator::GetCharSetInfo("LATIN1").Name, "Latin1");
    EXPECT_EQ(TixTranslator::GetCharSetInfo("utf-8").Name, "");
    EXPECT_EQ(TixTranslator::GetCharSetInfo("").Name, "");
}

TEST(TixTranslator, StreamTranslationCopiesTheWholeSourceAndRestoresBothPositions)
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
}

TEST(TixTranslator, Utf8EncodeWritesOneToFourBytesPerCharacter)
{
    EXPECT_EQ(TixTranslator::Utf8Encode(u"A\u00E9\u07FF\u0800\u20AC\uFFFF"),
        "A\xC3\xA9\xDF\xBF\xE0\xA0\x80\xE2\x82\xAC\xEF\xBF\xBF");
    EXPECT_EQ(TixTranslator::Utf8Encode(u"a\U0001F389b\U0010FFFF"), "a\xF0\x9F\x8E\x89" "b\xF4\x8F\xBF\xBF");
    // A lone surrogate has no UTF-8 form.
    EXPECT_EQ(TixTranslator::Utf8Encode(u"\xD83Cx\xDF89"), "\xEF\xBF\xBDx\xEF\xBF\xBD");
    EXPECT_EQ(TixTranslator::Utf8Encode(u""), "");
}

TEST(TixTranslator, Utf8DecodeReadsBackEveryCharacterItsEncoderWrites)
{
    for (char32_t c = 0; c <= 0x10FFFF; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF)
            continue;
        std::u16string wide;
        if (c < 0x10000)
            wide.assign(1, static_cast<char16_t>(c));
        else
            wide = {static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)), static_cast<char16_t>(0xDC00 + (c & 0x3FF))};
        ASSERT_EQ(TixTranslator::Utf8Decode(TixTranslator::Utf8Encode(wide)), wide) << static_cast<uint32_t>(c);
    }
}

TEST(TixTranslator, Utf8DecodeGivesOneReplacementPerIllFormedPartAndKeepsWhatFollows)
{
    struct TCase
    {
        std::string Bytes;
        std::u16string Wide;
    };
    const TCase cases[] = {
        {"a\xF0\x9F\x8E\x89" "b", u"a\U0001F389b"},   // a four-byte sequence is one character
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
        {"", u""},
        {"long ASCII run\xC3 and \xEF\xBF\xBD then more ASCII", u"long ASCII run\xFFFD and \xFFFD then more ASCII"},
    };
    const AnsiCodePage utf8(os::CP_UTF8);
    for (const TCase& c : cases) {
        EXPECT_EQ(TixTranslator::Utf8Decode(c.Bytes), c.Wide) << ::testing::PrintToString(c.Bytes);
        // Text in a UTF-8 code page is the bytes with the same parts replaced.
        EXPECT_EQ(TixTranslator::GetString(Bytes(c.Bytes), "utf-8"), TixTranslator::Utf8Encode(c.Wide))
            << ::testing::PrintToString(c.Bytes);
    }
}

TEST(TixTranslator, NeverRaisesOnArbitraryBytes)
{
    const AnsiCodePage utf8(65001); // the composed tables and the UTF-8 reader of the text
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> byte(0, 255);
    std::vector<std::string> sets(std::begin(AllTableSets), std::end(AllTableSets));
    sets.insert(sets.end(), {"utf-8", "", "unknown"});
    for (int round = 0; round < 200; ++round) {
        std::string data(static_cast<size_t>(round), '\0');
        for (char& c : data)
            c = static_cast<char>(byte(random));
        for (const std::string& charSet : sets) {
            EXPECT_NO_THROW(TixTranslator::GetString(Bytes(data), charSet));
            EXPECT_NO_THROW(TixTranslator::GetBytes(data, charSet));
        }
    }
}

// --- The ANSI code page against the tables' local code page ---------------------------------

const std::string PrivetKoi8 = "\xF0\xD2\xC9\xD7\xC5\xD4";
const std::string PrivetUtf8 = "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82";

/// A memory stream that hands out one byte per read, so that every character is split.
class TTrickleStream : public TMemoryStream
{
public:
    int64_t Read(void* ABuffer, int64_t ACount) override { return TMemoryStream::Read(ABuffer, std::min<int64_t>(ACount, 1)); }
};

TEST(TixTranslatorAnsiCodePage, EachSetKeepsItsOwnTablesUnderItsLocalCodePage)
{
    const std::map<std::string, os::UINT> localCodePages = {{"ISO-8859-1", 1252}, {"ISO-8859-2", 1250},
        {"Windows-1250", 1250}, {"ibm866", 1251}, {"ISO-8859-5", 1251}, {"koi8-r", 1251}, {"koi8-u", 1251},
        {"KOI8-WIN", 1251}, {"WIN-KOI8", 1251}, {"Windows-1251", 1251}, {"x-mac-cyrillic", 1251}, {"Latin1", 1252}};
    const std::string all = AllBytes();
    for (const char* charSet : AllTableSets) {
        const os::UINT local = localCodePages.at(charSet);
        EXPECT_EQ(TixTranslator::GetLocalCodePage(charSet), local) << charSet;
        const AnsiCodePage selected(local);
        const TixCharSetInfo& info = TixTranslator::GetCharSetInfo(charSet);
        EXPECT_EQ(TixTranslator::GetString(Bytes(all), charSet), Text(TixByteArray(info.FromTable.begin(), info.FromTable.end())))
            << charSet;
        EXPECT_EQ(TixTranslator::GetBytes(all, charSet), TixByteArray(info.ToTable.begin(), info.ToTable.end())) << charSet;
    }
    EXPECT_EQ(TixTranslator::GetLocalCodePage("utf-8"), 0u);
    EXPECT_EQ(TixTranslator::GetLocalCodePage(""), 0u);
}

TEST(TixTranslatorAnsiCodePage, Koi8rUnderUtf8DecodesToUtf8AndEncodesBack)
{
    const AnsiCodePage utf8(65001);
    EXPECT_EQ(TixTranslator::GetString(Bytes(PrivetKoi8), "koi8-r"), PrivetUtf8);
    EXPECT_EQ(TixTranslator::GetString(Bytes("Hi, " + PrivetKoi8), 4, 6, "koi8-r"), PrivetUtf8);
    EXPECT_EQ(TixTranslator::GetBytes(PrivetUtf8, "KOI8-R"), Bytes(PrivetKoi8));
    EXPECT_EQ(TixTranslator::GetByteCount(PrivetUtf8, "koi8-r"), 6);
    std::string text = "Hi, " + PrivetKoi8;
    TixTranslator::TranslateFrom("koi8-r", text, text);
    EXPECT_EQ(text, "Hi, " + PrivetUtf8);
    // Characters koi8-r lacks, one beyond U+FFFF and a malformed byte each become one "?".
    const std::string foreign = "caf\xC3\xA9 \xF0\x9F\x98\x80 \xFF";
    EXPECT_EQ(TixTranslator::GetBytes(foreign, "koi8-r"), Bytes("caf? ? ?"));
    EXPECT_EQ(TixTranslator::GetByteCount(foreign, "koi8-r"), 8);
}

TEST(TixTranslatorAnsiCodePage, IllFormedUtf8GivesOneQuestionMarkPerIllFormedPart)
{
    const AnsiCodePage utf8(65001);
    const std::pair<std::string, std::string> cases[] = {
        {"\xC0\xAF", "??"},               // overlong form: no lead byte
        {"\xE0\x80\x80", "???"},          // overlong three-byte form
        {"\xED\xA0\x80", "???"},          // an encoded surrogate
        {"\xF4\x90\x80\x80", "????"},     // past U+10FFFF
        {"\xD0" "A\xD0", "?A?"},           // cut short by a letter and by the end
        {"\xE2\x82" "A", "?A"},            // one "?" for the well-formed start of a sequence
        {"\xE2\x82", "?"},
        {"\x80\xBF", "??"},                // lone continuation bytes
        {"\xE2\x82\xAC\xE2\x84\x96", "\x88\xB9"}, // euro and numero signs, three bytes each
    };
    for (const auto& [text, bytes] : cases) {
        EXPECT_EQ(Text(TixTranslator::GetBytes(text, "Windows-1251")), bytes) << ::testing::PrintToString(text);
        EXPECT_EQ(TixTranslator::GetByteCount(text, "Windows-1251"), static_cast<int32_t>(bytes.size()));
    }
}

TEST(TixTranslatorAnsiCodePage, Iso88592LettersDecodeUnderWindows1250AndUtf8)
{
    const std::string iso = "\xA3\xF3" "d\xB6"; // "Łódś"
    {
        const AnsiCodePage cp1250(1250);
        EXPECT_EQ(TixTranslator::GetString(Bytes(iso), "ISO-8859-2"), "\xA3\xF3" "d\x9C");
        EXPECT_EQ(TixTranslator::GetBytes("\xA3\xF3" "d\x9C", "iso-8859-2"), Bytes(iso));
    }
    const AnsiCodePage utf8(65001);
    const std::string utf8Text = "\xC5\x81\xC3\xB3" "d\xC5\x9B";
    EXPECT_EQ(TixTranslator::GetString(Bytes(iso), "ISO-8859-2"), utf8Text);
    EXPECT_EQ(TixTranslator::GetBytes(utf8Text, "ISO-8859-2"), Bytes(iso));
    EXPECT_EQ(TixTranslator::GetString(Bytes("\x9C"), "Windows-1250"), "\xC5\x9B");
}

TEST(TixTranslatorAnsiCodePage, SetsReadUnderWindows1252GiveQuestionMarksForWhatItCannotShow)
{
    const AnsiCodePage cp1252(1252);
    EXPECT_EQ(TixTranslator::GetString(Bytes("Hi " + PrivetKoi8), "koi8-r"), "Hi ??????");
    EXPECT_EQ(TixTranslator::GetString(Bytes("\xCF\xF0"), "Windows-1251"), "??");
    // koi8-r BF is the copyright sign, which Windows-1252 has at A9 (as Windows-1251 does).
    EXPECT_EQ(TixTranslator::GetString(Bytes("\xBF"), "koi8-r"), "\xA9");
    EXPECT_EQ(TixTranslator::GetBytes("\xA9", "koi8-r"), Bytes("\xBF"));
    // Windows-1252 letters that koi8-r cannot express.
    EXPECT_EQ(TixTranslator::GetBytes("caf\xE9", "koi8-r"), Bytes("caf?"));
    EXPECT_EQ(TixTranslator::GetByteCount("caf\xE9", "koi8-r"), 4);
    // ISO-8859-2 shares é with Windows-1252 but neither Ł nor à.
    EXPECT_EQ(TixTranslator::GetString(Bytes("\xE9\xA3"), "ISO-8859-2"), "\xE9?");
    EXPECT_EQ(TixTranslator::GetBytes("\xE9\xE0", "ISO-8859-2"), Bytes("\xE9?"));
    // Windows-1250 text read in a Windows-1251 process.
    const AnsiCodePage cp1251(1251);
    EXPECT_EQ(TixTranslator::GetString(Bytes("a\xA3"), "Windows-1250"), "a?");
}

TEST(TixTranslatorAnsiCodePage, EveryByteRoundTripsUnderUtf8AsUnderTheLocalCodePage)
{
    const std::string all = AllBytes();
    for (const char* charSet : AllTableSets) {
        TixByteArray local;
        {
            const AnsiCodePage selected(TixTranslator::GetLocalCodePage(charSet));
            local = TixTranslator::GetBytes(TixTranslator::GetString(Bytes(all), charSet), charSet);
        }
        const AnsiCodePage utf8(65001);
        const std::string text = TixTranslator::GetString(Bytes(all), charSet);
        EXPECT_EQ(TixTranslator::GetBytes(text, charSet), local) << charSet;
        EXPECT_EQ(TixTranslator::GetByteCount(text, charSet), 256) << charSet;
        EXPECT_EQ(text.substr(0, 128), all.substr(0, 128)) << charSet << ": ASCII is unchanged";
    }
}

TEST(TixTranslatorAnsiCodePage, StreamsUnderUtf8JoinCharactersSplitBetweenReads)
{
    const AnsiCodePage utf8(65001);
    TTrickleStream source;
    source.WriteText("Hi " + PrivetUtf8);
    TMemoryStream bytes;
    TixTranslator::TranslateTo("koi8-r", source, bytes);
    EXPECT_EQ(bytes.View(), "Hi " + PrivetKoi8);
    EXPECT_EQ(source.Position(), source.Size());

    TTrickleStream koi8;
    koi8.WriteText(PrivetKoi8);
    TMemoryStream text;
    TixTranslator::TranslateFrom("koi8-r", koi8, text);
    EXPECT_EQ(text.View(), PrivetUtf8);

    TTrickleStream signs;
    signs.WriteText("\xE2\x82\xAC\xE2\x84\x96");
    TMemoryStream windows1251;
    TixTranslator::TranslateTo("Windows-1251", signs, windows1251);
    EXPECT_EQ(windows1251.View(), "\x88\xB9");

    // A stream that ends inside a character: the cut sequence becomes one "?".
    TTrickleStream cut;
    cut.WriteText("a\xD0");
    TMemoryStream out;
    TixTranslator::TranslateTo("koi8-r", cut, out);
    EXPECT_EQ(out.View(), "a?");
}

} // namespace
} // namespace ix
