#include "message/ixEncoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "message/piece_stream.h"

using namespace ix;
using ix::test::TPieceStream;

namespace {

/// A memory stream holding a text, positioned at its start.
class TTextStream : public TMemoryStream
{
public:
    explicit TTextStream(std::string_view AText)
    {
        WriteText(AText);
        SetPosition(0);
    }
};

std::string Convert(TixEncoder& AEncoder, std::string_view AInput, bool AEncode)
{
    TTextStream source(AInput);
    TMemoryStream destination;
    if (AEncode)
        AEncoder.Encode(source, destination);
    else
        AEncoder.Decode(source, destination);
    return std::string(destination.View());
}

std::string Encode(TixEncodeMethod AMethod, std::string_view AInput, int32_t ACharsPerLine = 76,
    bool ASuppressCrlf = false)
{
    TixEncoder encoder;
    encoder.SetEncodeMethod(AMethod);
    encoder.SetCharsPerLine(ACharsPerLine);
    encoder.SetSuppressCrlf(ASuppressCrlf);
    return Convert(encoder, AInput, true);
}

std::string Decode(TixEncodeMethod AMethod, std::string_view AInput,
    TixEncodeErrorProcessing AErrors = epStop)
{
    TixEncoder encoder;
    encoder.SetEncodeMethod(AMethod);
    encoder.SetErrorProcessing(AErrors);
    return Convert(encoder, AInput, false);
}

std::string DecodeInPieces(TixEncodeMethod AMethod, const std::string& AInput, int64_t APiece, int32_t ABatch)
{
    TixEncoder encoder;
    encoder.SetEncodeMethod(AMethod);
    encoder.SetBatchSize(ABatch);
    TPieceStream source(AInput, APiece);
    TMemoryStream destination;
    encoder.Decode(source, destination);
    return std::string(destination.View());
}

std::vector<std::string> Lines(const std::string& AText)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = AText.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(AText.substr(start, end - start));
    lines.push_back(AText.substr(start));
    return lines;
}

int32_t ErrorCodeOf(const std::function<void()>& AAction)
{
    try {
        AAction();
    } catch (const EixEncoderError& e) {
        return e.ErrorCode();
    }
    return 0;
}

std::string RandomBytes(std::mt19937& AGenerator, size_t ALength)
{
    // Mostly text with line breaks, '=' and high bytes mixed in, so that every rule of the
    // encoders is exercised.
    static constexpr char Specials[] = {'\r', '\n', '=', ' ', '\t', '\0', '\x7F', '\xFF', '`'};
    std::uniform_int_distribution<int> kind(0, 3);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> special(0, sizeof(Specials) - 1);
    std::string bytes(ALength, '\0');
    for (char& c : bytes)
        c = kind(AGenerator) == 0 ? Specials[special(AGenerator)] : static_cast<char>(byte(AGenerator));
    return bytes;
}

} // namespace

// ---- Line lengths ----------------------------------------------------------------------------

TEST(EncoderLineLength, IsLimitedPerMethodAndRoundedToWholeBase64Groups)
{
    struct TCase
    {
        TixEncodeMethod Method;
        int32_t Requested;
        int32_t Effective;
    };
    const TCase cases[] = {
        {cmQuotedPrintable, 0, 76}, {cmQuotedPrintable, 2, 4}, {cmQuotedPrintable, 500, 132},
        {cmBase64, -5, 76}, {cmBase64, 10, 64}, {cmBase64, 76, 76}, {cmBase64, 77, 80}, {cmBase64, 78, 80},
        {cmBase64, 65, 64}, {cmBase64, 69, 72}, {cmBase64, 1000, 1000},
        {cmUUEncode, 1, 3}, {cmUUEncode, 76, 76}, {cmUUEncode, 200, 132},
        {cmNone, 500, 500}, {cm8Bit, 0, 76},
    };
    for (const TCase& c : cases) {
        TixEncoder encoder;
        encoder.SetEncodeMethod(c.Method);
        encoder.SetCharsPerLine(c.Requested);
        EXPECT_EQ(encoder.GetEffectiveLineLength(), c.Effective) << int(c.Method) << " " << c.Requested;
    }
}

// ---- Quoted-printable ------------------------------------------------------------------------

TEST(QuotedPrintableEncoding, BreaksALongLineAfter71CharactersWithSoftBreaks)
{
    const std::vector<std::string> lines = Lines(Encode(cmQuotedPrintable, std::string(200, 'x')));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], std::string(71, 'x') + "=");
    EXPECT_EQ(lines[1], std::string(71, 'x') + "=");
    EXPECT_EQ(lines[2], std::string(58, 'x'));
}

TEST(QuotedPrintableEncoding, EscapesControlsEqualsSignsAndHighBytesButKeepsCrLf)
{
    EXPECT_EQ(Encode(cmQuotedPrintable, "a\tb=c\nd"), "a=09b=3Dc=0Ad");
    EXPECT_EQ(Encode(cmQuotedPrintable, "one\r\ntwo\r\n"), "one\r\ntwo\r\n");
    EXPECT_EQ(Encode(cmQuotedPrintable, "caf\xE9\x7F~ !<>"), "caf=E9=7F~ !<>");
    EXPECT_EQ(Encode(cmQuotedPrintable, "a\rb"), "a=0Db");
    EXPECT_EQ(Encode(cmQuotedPrintable, "a\r\r\n"), "a=0D\r\n");
}

TEST(QuotedPrintableEncoding, EscapesTheBlankThatWouldEndAnEncodedLine)
{
    const std::string x70(70, 'x');
    const std::pair<std::string, std::string> Cases[] = {
        {"two \r\n", "two=20\r\n"},
        {"end ", "end=20"},
        {"a  \r\nb", "a =20\r\nb"},
        {"a\t\r\n", "a=09\r\n"},
        {"a \rb \nc", "a =0Db =0Ac"},
        {x70 + " y", x70 + " =\r\ny"}, // a soft break ends the line, not the blank
    };
    for (const auto& [input, expected] : Cases) {
        EXPECT_EQ(Encode(cmQuotedPrintable, input), expected) << input;
        EXPECT_EQ(Decode(cmQuotedPrintable, expected), input);
    }
}

TEST(QuotedPrintableEncoding, KeepsACarriageReturnThatEndsTheInput)
{
    EXPECT_EQ(Encode(cmQuotedPrintable, "end\r"), "end=0D");
}

TEST(QuotedPrintableEncoding, NeverBreaksLinesWhenCrLfIsSuppressed)
{
    const std::string encoded = Encode(cmQuotedPrintable, std::string(300, '\xE9'), 76, true);
    EXPECT_EQ(encoded.find('\r'), std::string::npos);
    EXPECT_EQ(encoded.size(), 900u);
}

TEST(QuotedPrintableEncoding, KeepsEveryLineWithinTheLineLengthWhenEscapesCrossTheLimit)
{
    for (int32_t width : {4, 10, 40, 76, 132}) {
        const std::string encoded = Encode(cmQuotedPrintable, std::string(50, 'a') + std::string(200, '\x01'), width);
        for (const std::string& line : Lines(encoded))
            EXPECT_LE(line.size(), static_cast<size_t>(std::max(width, 6))) << width;
    }
}

TEST(QuotedPrintableDecoding, JoinsSoftBreaksAndReadsEscapesInEitherCase)
{
    EXPECT_EQ(Decode(cmQuotedPrintable, "abc=\r\ndef"), "abcdef");
    EXPECT_EQ(Decode(cmQuotedPrintable, "=41=4a=4A"), "AJJ");
    EXPECT_EQ(Decode(cmQuotedPrintable, "abc=\ndef=\rghi"), "abcdefghi");
    EXPECT_EQ(Decode(cmQuotedPrintable, "abc=\r\n\r\ndef"), "abc\r\ndef");
    EXPECT_EQ(Decode(cmQuotedPrintable, "trailing=\r\n"), "trailing");
    EXPECT_EQ(Decode(cmQuotedPrintable, "end="), "end");
}

TEST(QuotedPrintableDecoding, WritesBadEscapesAsTheyStand)
{
    EXPECT_EQ(Decode(cmQuotedPrintable, "=G1"), "=G1");
    EXPECT_EQ(Decode(cmQuotedPrintable, "=4G"), "=4G");
    EXPECT_EQ(Decode(cmQuotedPrintable, "=4=41"), "=4A");
    EXPECT_EQ(Decode(cmQuotedPrintable, "==41"), "==41");
    EXPECT_EQ(Decode(cmQuotedPrintable, "x=4"), "x=4");
    EXPECT_EQ(Decode(cmQuotedPrintable, "x=4\r\ny"), "x=4\r\ny");
    EXPECT_EQ(Decode(cmQuotedPrintable, "a= \r\nb"), "a= \r\nb");
}

TEST(QuotedPrintableDecoding, WritesEveryKindOfLineBreakAsCrLfAndKeepsTrailingBlanks)
{
    EXPECT_EQ(Decode(cmQuotedPrintable, "a\nb\rc\r\nd \t\r\n"), "a\r\nb\r\nc\r\nd \t\r\n");
    EXPECT_EQ(Decode(cmQuotedPrintable, "\r\r\n\n"), "\r\n\r\n\r\n");
    EXPECT_EQ(Decode(cmQuotedPrintable, "x\r"), "x\r\n");
}

TEST(QuotedPrintableDecoding, GivesTheSameBytesWhateverPiecesTheInputArrivesIn)
{
    const std::string text = "s=C3=A9 =\r\nx=4G=\r=\n=3d=\r\n\r\n=4\rtail=";
    const std::string whole = Decode(cmQuotedPrintable, text);
    for (int64_t piece = 1; piece <= 5; ++piece)
        EXPECT_EQ(DecodeInPieces(cmQuotedPrintable, text, piece, 8192), whole) << piece;
}

// ---- Base64 ----------------------------------------------------------------------------------

TEST(Base64Encoding, WritesLinesOf76CharactersOrOneLineWhenCrLfIsSuppressed)
{
    const std::string data(150, '\x5A');
    const std::vector<std::string> lines = Lines(Encode(cmBase64, data));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].size(), 76u);
    EXPECT_EQ(lines[1].size(), 76u);
    EXPECT_EQ(lines[2].size(), 48u);
    EXPECT_EQ(Lines(Encode(cmBase64, data, 76, true)).size(), 1u);
    EXPECT_EQ(Lines(Encode(cmBase64, data, 78)).front().size(), 80u);
}

TEST(Base64Encoding, FillsTheLastGroupWithEqualsSigns)
{
    EXPECT_EQ(Encode(cmBase64, "A"), "QQ==");
    EXPECT_EQ(Encode(cmBase64, "AB"), "QUI=");
    EXPECT_EQ(Encode(cmBase64, "ABC"), "QUJD");
    EXPECT_EQ(Encode(cmBase64, std::string("\xFB\xFF\x00", 3)), "+/8A");
}

TEST(Base64Decoding, SkipsLineBreaksBlanksAndEqualsSignsAndDropsIncompleteBits)
{
    EXPECT_EQ(Decode(cmBase64, "SGVs\r\nbG8g d29y\nbGQ="), "Hello world");
    EXPECT_EQ(Decode(cmBase64, "QQ"), "A");
    EXPECT_EQ(Decode(cmBase64, "QUI"), "AB");
    EXPECT_EQ(Decode(cmBase64, "QUJDR"), "ABC");
    EXPECT_EQ(Decode(cmBase64, "=Q=U=J=D="), "ABC");
}

TEST(Base64Decoding, StopsAtABadCharacterInContinueModeAndRaisesInStopMode)
{
    EXPECT_EQ(Decode(cmBase64, "QUJD*REVG", epContinue), "ABC");
    EXPECT_EQ(Decode(cmBase64, "QUJDRA*REVG", epContinue), "ABCD");
    EXPECT_EQ(ErrorCodeOf([] { Decode(cmBase64, "QUJD*REVG"); }), -2);
    EXPECT_EQ(ErrorCodeOf([] { Decode(cmBase64, "QUJD\tREVG"); }), -2);
    try {
        Decode(cmBase64, "*");
        FAIL() << "no exception";
    } catch (const EixEncoderError& e) {
        EXPECT_EQ(e.Message(), "Wrong symbols in source stream.");
    }
}

TEST(Base64Decoding, CarriesItsStateAcrossBatchesAndPieces)
{
    const std::string text = Encode(cmBase64, std::string("the quick brown fox jumps over the lazy dog \x01\xFE", 46));
    const std::string whole = Decode(cmBase64, text);
    for (int32_t batch : {0, 1, 2, 3, 5, 7, 64})
        for (int64_t piece : {1, 3, 4, 1000})
            EXPECT_EQ(DecodeInPieces(cmBase64, text, piece, batch), whole) << batch << " " << piece;
}

TEST(Base64Decoding, KeepsBatchesBeforeABadCharacterInContinueMode)
{
    TixEncoder encoder;
    encoder.SetEncodeMethod(cmBase64);
    encoder.SetErrorProcessing(epContinue);
    encoder.SetBatchSize(4);
    EXPECT_EQ(Convert(encoder, "QUJDREVGR0hJ!!!!S0xN", false), "ABCDEFGHI");
}

// ---- Uuencode --------------------------------------------------------------------------------

TEST(UUEncoding, WritesLengthCharacterAndGroupsWithGraveAccentsForZero)
{
    EXPECT_EQ(Encode(cmUUEncode, "Cat"), "#0V%T");
    EXPECT_EQ(Encode(cmUUEncode, std::string(3, '\0')), "#````");
    EXPECT_EQ(Encode(cmUUEncode, "A"), "!00``");
}

TEST(UUEncoding, Writes57BytesPerLineWithCrLfAfterEachFullLine)
{
    const std::vector<std::string> lines = Lines(Encode(cmUUEncode, std::string(120, 'q')));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].size(), 1u + 76u);
    EXPECT_EQ(lines[0][0], 'Y');
    EXPECT_EQ(lines[2][0], static_cast<char>(6 + 32));
    EXPECT_EQ(Lines(Encode(cmUUEncode, std::string(57, 'q'))).back(), "");
}

TEST(UUEncoding, CapsLongLinesAtTheConventional45Bytes)
{
    for (int32_t width : {85, 100, 132, 500}) {
        const std::vector<std::string> lines = Lines(Encode(cmUUEncode, std::string(100, 'q'), width));
        ASSERT_EQ(lines.size(), 3u) << width;
        EXPECT_EQ(lines[0][0], 'M');
    }
    EXPECT_EQ(Lines(Encode(cmUUEncode, std::string(100, 'q'), 84)).front()[0], '_');
}

TEST(UUEncoding, WritesOneLineWithoutCrLfOnlyWhenTheLengthCharacterCanHoldIt)
{
    EXPECT_EQ(Lines(Encode(cmUUEncode, std::string(63, 'q'), 76, true)).size(), 1u);
    const std::string longInput(200, 'q');
    const std::string encoded = Encode(cmUUEncode, longInput, 76, true);
    EXPECT_EQ(Decode(cmUUEncode, encoded), longInput);
}

TEST(UUDecoding, SkipsTheBeginLineAndStopsAtTheZeroLengthLine)
{
    const std::string body = Encode(cmUUEncode, "uuencoded text, long enough for two lines of data to be written here!");
    const std::string block = "begin 644 file.txt\r\n" + body + "\r\n`\r\nend\r\n";
    EXPECT_EQ(Decode(cmUUEncode, block), Decode(cmUUEncode, body));
    EXPECT_EQ(Decode(cmUUEncode, block), "uuencoded text, long enough for two lines of data to be written here!");
    EXPECT_EQ(Decode(cmUUEncode, "#0V%T\n`\n#0V%T\n"), "Cat");
    EXPECT_EQ(Decode(cmUUEncode, "begin\n"), "");
}

TEST(UUDecoding, ReadsBlanksAsZeroAndFillsShortLinesWithZeroBytes)
{
    EXPECT_EQ(Decode(cmUUEncode, "#    "), std::string(3, '\0'));
    EXPECT_EQ(Decode(cmUUEncode, "#0V"), std::string("C`\0", 3));
    EXPECT_EQ(Decode(cmUUEncode, "#0V%Textra ignored"), "Cat");
}

// ---- Choice of an encoding -------------------------------------------------------------------

TEST(PreferredEncoding, TellsSevenBitQuotedPrintableAndBase64ApartAndKeepsThePosition)
{
    struct TCase
    {
        std::string Text;
        TixEncodeMethod Expected;
    };
    const TCase cases[] = {
        {"Plain text\r\nwith short lines\r\n", cmNone},
        {"", cmNone},
        {"a\ttab", cmBase64},
        {"Caf\xE9 cr\xE8me br\xFBl\xE9\x65 is a dessert", cmQuotedPrintable},
        {"\xE9\xE8\xE0\xF9 x", cmBase64},
        {std::string(77, 'a') + "\r\nshort", cmQuotedPrintable},
        {"short\r\n" + std::string(77, 'a'), cmQuotedPrintable},
        {std::string(76, 'a'), cmNone},
        {"esc\x1B[0m", cmBase64},
        {std::string("nul\0", 4), cmBase64},
    };
    for (const TCase& c : cases) {
        TixEncoder encoder;
        TTextStream stream("prefix" + c.Text);
        stream.SetPosition(6);
        EXPECT_EQ(encoder.GetPreferredEncoding(stream), c.Expected) << c.Text;
        EXPECT_EQ(stream.Position(), 6);
    }
    TixEncoder encoder;
    encoder.SetAllowESC(true);
    TTextStream stream("esc\x1B[0m");
    EXPECT_EQ(encoder.GetPreferredEncoding(stream), cmNone);
}

// ---- Dispatch, progress and conveniences -----------------------------------------------------

TEST(EncoderDispatch, CopiesIdentityCodingsAndRejectsUnknownMethods)
{
    const std::string bytes("\x00\xFF\r\nx", 5);
    EXPECT_EQ(Encode(cmNone, bytes), bytes);
    EXPECT_EQ(Decode(cm8Bit, bytes), bytes);
    EXPECT_EQ(ErrorCodeOf([] { Encode(static_cast<TixEncodeMethod>(9), "x"); }), -1);
    EXPECT_EQ(ErrorCodeOf([] { Decode(static_cast<TixEncodeMethod>(5), "x"); }), -1);
    EXPECT_EQ(Encode(static_cast<TixEncodeMethod>(9), ""), "");
}

TEST(EncoderDispatch, WorksFromTheSourcePositionAndAppendsToTheDestination)
{
    TixEncoder encoder;
    TTextStream source("skipQUJD");
    source.SetPosition(4);
    TTextStream destination("old:");
    destination.Seek(0, soEnd);
    encoder.Decode(source, destination);
    EXPECT_EQ(destination.View(), "old:ABC");
    EXPECT_EQ(source.Position(), source.Size());
}

TEST(EncoderProgress, ReportsBase64InAtMostAThousandStepsEndingWithTheTotal)
{
    TixEncoder encoder;
    std::vector<std::pair<int64_t, int64_t>> calls;
    encoder.OnProgress = [&](TObject* ASender, int64_t ADone, int64_t ATotal) {
        EXPECT_EQ(ASender, &encoder);
        calls.emplace_back(ADone, ATotal);
    };
    Convert(encoder, std::string(57 * 5000, 'z'), true);
    ASSERT_FALSE(calls.empty());
    EXPECT_LE(calls.size(), 1000u);
    EXPECT_EQ(calls.back(), std::make_pair(int64_t{57 * 5000}, int64_t{57 * 5000}));
    EXPECT_TRUE(std::is_sorted(calls.begin(), calls.end()));
}

TEST(EncoderProgress, ReportsQuotedPrintableFromZeroAndAfterEveryLine)
{
    TixEncoder encoder;
    encoder.SetEncodeMethod(cmQuotedPrintable);
    std::vector<int64_t> done;
    encoder.OnProgress = [&](TObject*, int64_t ADone, int64_t) { done.push_back(ADone); };
    Convert(encoder, "one\r\ntwo\r\nthree", true);
    EXPECT_EQ(done, (std::vector<int64_t>{0, 5, 10}));
    done.clear();
    Convert(encoder, "one\r\ntwo\nthree", false);
    EXPECT_EQ(done, (std::vector<int64_t>{5, 9, 14}));
}

TEST(EncoderConveniences, EncodeAndDecodeTextsBytesAndStreams)
{
    EXPECT_EQ(TixEncoder::EncodeLineWith(cmBase64, std::string(100, 'a')).find('\r'), std::string::npos);
    EXPECT_EQ(TixEncoder::EncodeWith(cmBase64, std::string(100, 'a')).find('\r'), 76u);
    EXPECT_EQ(TixEncoder::EncodeLineWith(cmBase64, TixByteArray{0xFB, 0xFF}), "+/8=");
    TTextStream source("user=me\x01\x01");
    EXPECT_EQ(TixEncoder::EncodeLineWith(cmBase64, source), "dXNlcj1tZQEB");
    EXPECT_EQ(TixEncoder::DecodeWith(cmBase64, "dXNlcj1tZQEB\r\n"), "user=me\x01\x01");
    EXPECT_EQ(TixEncoder::DecodeBytesWith(cmQuotedPrintable, "=FF=00"), (TixByteArray{0xFF, 0x00}));
    TMemoryStream destination;
    TixEncoder::DecodeWith(cmBase64, "QUJD", destination);
    EXPECT_EQ(destination.View(), "ABC");
}

TEST(EncoderConveniences, SecretLinesEncodeAsOrdinaryLinesAndReplaceWhatTheyHeld)
{
    TSecretString line;
    line.Text() = "an older, longer text";
    const std::string texts[] = {"", "a", "ab", "abc", "user=me\x01\x01", std::string(100, '\xFF')};
    for (const std::string& text : texts)
    {
        TixEncoder::EncodeSecretLine(text, line);
        EXPECT_EQ(line.Text(), TixEncoder::EncodeLineWith(cmBase64, text)) << text.size();
    }
}

TEST(EncoderConveniences, ConvertTextsThroughTheCharacterSet)
{
    TixEncoder encoder;
    encoder.SetCharSet("utf-8");
    EXPECT_EQ(encoder.EncodeString("caf\xE9"), "Y2Fmw6k=");
    EXPECT_EQ(encoder.DecodeString("Y2Fmw6k="), "caf\xE9");
    EXPECT_EQ(encoder.DecodeBytes("w6k="), (TixByteArray{0xC3, 0xA9}));
    encoder.SetCharSet("");
    EXPECT_EQ(encoder.EncodeString("caf\xE9"), "Y2Fm6Q==");
}

// ---- Round trips -----------------------------------------------------------------------------

TEST(EncoderRoundTrip, DecodingGivesBackEveryEncodedByteStringAtEveryLineWidth)
{
    std::mt19937 generator(20240607);
    std::uniform_int_distribution<size_t> length(0, 300);
    const TixEncodeMethod methods[] = {cmBase64, cmQuotedPrintable, cmUUEncode};
    const int32_t widths[] = {0, 3, 10, 64, 76, 84, 85, 132};
    int checked = 0;
    for (int round = 0; round < 150; ++round) {
        const std::string data = RandomBytes(generator, length(generator));
        for (const TixEncodeMethod method : methods)
            for (const int32_t width : widths)
                for (const bool suppress : {false, true}) {
                    const std::string encoded = Encode(method, data, width, suppress);
                    ASSERT_EQ(Decode(method, encoded), data) << int(method) << " width " << width << " suppress "
                                                             << suppress << " round " << round;
                    ++checked;
                }
    }
    EXPECT_EQ(checked, 150 * 3 * 8 * 2);
}
