#include "message/ixEncoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "support/ExpectError.h"
#include "support/PieceStream.h"

using namespace ix;
using ix::test::ExpectError;
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

// ---- Exact forms -----------------------------------------------------------------------------

struct TCoding
{
    TixEncodeMethod Method;
    std::string Data;
    std::string Encoded;
};

const std::string X70(70, 'x');
const std::string X71(71, 'x');

// Each encodes to exactly its form, which decodes back to the data.
const TCoding Codings[] = {
    // Quoted-printable escapes controls, equals signs and high bytes, but keeps CR LF.
    {cmQuotedPrintable, "a\tb=c\nd", "a=09b=3Dc=0Ad"},
    {cmQuotedPrintable, "one\r\ntwo\r\n", "one\r\ntwo\r\n"},
    {cmQuotedPrintable, "caf\xE9\x7F~ !<>", "caf=E9=7F~ !<>"},
    {cmQuotedPrintable, "a\rb", "a=0Db"},
    {cmQuotedPrintable, "a\r\r\n", "a=0D\r\n"},
    {cmQuotedPrintable, "end\r", "end=0D"},
    // It escapes the blank that would end an encoded line; a soft break ends the line, not the blank.
    {cmQuotedPrintable, "two \r\n", "two=20\r\n"},
    {cmQuotedPrintable, "end ", "end=20"},
    {cmQuotedPrintable, "a  \r\nb", "a =20\r\nb"},
    {cmQuotedPrintable, "a\t\r\n", "a=09\r\n"},
    {cmQuotedPrintable, "a \rb \nc", "a =0Db =0Ac"},
    {cmQuotedPrintable, X70 + " y", X70 + " =\r\ny"},
    // A long line breaks after 71 characters with soft breaks.
    {cmQuotedPrintable, std::string(200, 'x'), X71 + "=\r\n" + X71 + "=\r\n" + std::string(58, 'x')},
    // Base64 fills the last group with equals signs.
    {cmBase64, "A", "QQ=="},
    {cmBase64, "AB", "QUI="},
    {cmBase64, "ABC", "QUJD"},
    {cmBase64, std::string("\xFB\xFF\x00", 3), "+/8A"},
    // Uuencode: a length character, and grave accents for zero.
    {cmUUEncode, "Cat", "#0V%T"},
    {cmUUEncode, std::string(3, '\0'), "#````"},
    {cmUUEncode, "A", "!00``"},
    // Identity codings copy.
    {cmNone, std::string("\x00\xFF\r\nx", 5), std::string("\x00\xFF\r\nx", 5)},
    {cm8Bit, std::string("\x00\xFF\r\nx", 5), std::string("\x00\xFF\r\nx", 5)},
};

TEST(EncoderForms, EachMethodWritesItsExactFormAndReadsItBack)
{
    for (const TCoding& c : Codings) {
        EXPECT_EQ(Encode(c.Method, c.Data), c.Encoded) << int(c.Method) << " " << c.Data;
        EXPECT_EQ(Decode(c.Method, c.Encoded), c.Data) << int(c.Method) << " " << c.Encoded;
    }
}

struct TDecoding
{
    TixEncodeMethod Method;
    std::string_view Input;
    std::string Decoded;
    TixEncodeErrorProcessing Errors = epStop;
};

// Input that no encoder writes but other programs send.
const TDecoding Decodings[] = {
    // Quoted-printable joins soft breaks, reads escapes in either case...
    {cmQuotedPrintable, "abc=\r\ndef", "abcdef"},
    {cmQuotedPrintable, "=41=4a=4A", "AJJ"},
    {cmQuotedPrintable, "abc=\ndef=\rghi", "abcdefghi"},
    {cmQuotedPrintable, "abc=\r\n\r\ndef", "abc\r\ndef"},
    {cmQuotedPrintable, "trailing=\r\n", "trailing"},
    {cmQuotedPrintable, "end=", "end"},
    // ... writes bad escapes as they stand...
    {cmQuotedPrintable, "=G1", "=G1"},
    {cmQuotedPrintable, "=4G", "=4G"},
    {cmQuotedPrintable, "=4=41", "=4A"},
    {cmQuotedPrintable, "==41", "==41"},
    {cmQuotedPrintable, "x=4", "x=4"},
    {cmQuotedPrintable, "x=4\r\ny", "x=4\r\ny"},
    {cmQuotedPrintable, "a= \r\nb", "a= \r\nb"},
    // ... and every kind of line break as CR LF, keeping trailing blanks.
    {cmQuotedPrintable, "a\nb\rc\r\nd \t\r\n", "a\r\nb\r\nc\r\nd \t\r\n"},
    {cmQuotedPrintable, "\r\r\n\n", "\r\n\r\n\r\n"},
    {cmQuotedPrintable, "x\r", "x\r\n"},
    // Base64 skips line breaks, blanks and equals signs and drops incomplete bits; in continue
    // mode it stops at a bad character.
    {cmBase64, "SGVs\r\nbG8g d29y\nbGQ=", "Hello world"},
    {cmBase64, "QQ", "A"},
    {cmBase64, "QUI", "AB"},
    {cmBase64, "QUJDR", "ABC"},
    {cmBase64, "=Q=U=J=D=", "ABC"},
    {cmBase64, "QUJD*REVG", "ABC", epContinue},
    {cmBase64, "QUJDRA*REVG", "ABCD", epContinue},
    // Uuencode skips the begin line, stops at the zero length line, reads blanks as zero and
    // fills short lines with zero bytes.
    {cmUUEncode, "begin 644 file.txt\r\n#0V%T\r\n`\r\nend\r\n", "Cat"},
    {cmUUEncode, "#0V%T\n`\n#0V%T\n", "Cat"},
    {cmUUEncode, "begin\n", ""},
    {cmUUEncode, "#    ", std::string(3, '\0')},
    {cmUUEncode, "#0V", std::string("C`\0", 3)},
    {cmUUEncode, "#0V%Textra ignored", "Cat"},
};

TEST(EncoderForms, ForeignFormsDecodeAsOtherProgramsMeantThem)
{
    for (const TDecoding& c : Decodings)
        EXPECT_EQ(Decode(c.Method, c.Input, c.Errors), c.Decoded) << int(c.Method) << " " << c.Input;
}

struct TLineCase
{
    TixEncodeMethod Method;
    size_t Size;
    int32_t Width;
    bool SuppressCrlf;
    std::vector<size_t> Lengths;
};

// The lengths of the encoded lines (the data, of one repeated byte, decodes back).
const TLineCase LineCases[] = {
    {cmQuotedPrintable, 300, 76, true, {900}}, // escaped bytes, never broken
    // Soft breaks come before an escape that would cross the width.
    {cmQuotedPrintable, 30, 40, false, {37, 37, 18}},
    {cmQuotedPrintable, 5, 10, false, {7, 7, 3}},
    {cmBase64, 150, 76, false, {76, 76, 48}},
    {cmBase64, 150, 76, true, {200}},
    {cmBase64, 150, 78, false, {80, 80, 40}},
    // Uuencode: 57 bytes per line, a CR LF after each full line...
    {cmUUEncode, 120, 76, false, {77, 77, 9}},
    {cmUUEncode, 57, 76, false, {77, 0}},
    // ... at most the conventional 45 bytes when the lines would be longer...
    {cmUUEncode, 100, 84, false, {85, 53}},
    {cmUUEncode, 100, 85, false, {61, 61, 17}},
    {cmUUEncode, 100, 100, false, {61, 61, 17}},
    {cmUUEncode, 100, 132, false, {61, 61, 17}},
    {cmUUEncode, 100, 500, false, {61, 61, 17}},
    // ... and one line without CR LF only when the length character can hold it.
    {cmUUEncode, 63, 76, true, {85}},
    {cmUUEncode, 100, 76, true, {61, 61, 17}},
};

TEST(EncoderLineLength, LinesAreAsLongAsTheMethodAndWidthAllow)
{
    for (const TLineCase& c : LineCases) {
        const std::string data(c.Size, '\xE9');
        const std::string encoded = Encode(c.Method, data, c.Width, c.SuppressCrlf);
        std::vector<size_t> lengths;
        for (const std::string& line : Lines(encoded))
            lengths.push_back(line.size());
        EXPECT_EQ(lengths, c.Lengths) << int(c.Method) << " " << c.Size << " " << c.Width;
        EXPECT_EQ(Decode(c.Method, encoded), data);
    }
}

TEST(EncoderErrors, Base64RaisesForABadCharacterInStopModeAndKeepsTheBatchesBeforeItInContinueMode)
{
    EXPECT_EQ(ExpectError<EixEncoderError>([] { Decode(cmBase64, "*"); }, -2), "Wrong symbols in source stream.");
    ExpectError<EixEncoderError>([] { Decode(cmBase64, "QUJD\tREVG"); }, -2);
    ExpectError<EixEncoderError>([] { Encode(static_cast<TixEncodeMethod>(9), "x"); }, -1);
    ExpectError<EixEncoderError>([] { Decode(static_cast<TixEncodeMethod>(5), "x"); }, -1);
    EXPECT_EQ(Encode(static_cast<TixEncodeMethod>(9), ""), "");
    TixEncoder encoder;
    encoder.SetEncodeMethod(cmBase64);
    encoder.SetErrorProcessing(epContinue);
    encoder.SetBatchSize(4);
    EXPECT_EQ(Convert(encoder, "QUJDREVGR0hJ!!!!S0xN", false), "ABCDEFGHI");
}

TEST(EncoderBatches, DecodersCarryTheirStateAcrossBatchesAndPieces)
{
    const std::pair<TixEncodeMethod, std::string> texts[] = {
        {cmQuotedPrintable, "s=C3=A9 =\r\nx=4G=\r=\n=3d=\r\n\r\n=4\rtail="},
        {cmBase64, Encode(cmBase64, std::string("the quick brown fox jumps over the lazy dog \x01\xFE", 46))},
        {cmUUEncode, "begin 644 f\r\n" + Encode(cmUUEncode, std::string(100, '\xA5')) + "\r\n`\r\nend\r\n"},
    };
    for (const auto& [method, text] : texts) {
        const std::string whole = Decode(method, text);
        for (int32_t batch : {0, 1, 2, 3, 5, 7, 64, 8192})
            for (int64_t piece : {1, 2, 3, 4, 5, 1000})
                EXPECT_EQ(DecodeInPieces(method, text, piece, batch), whole) << batch << " " << piece;
    }
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
        {std::string(76, 'a') + "\r\nshort", cmNone},
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

TEST(EncoderProgress, ReportsBase64InAtMostAThousandStepsAndQuotedPrintableAfterEveryLine)
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
    // Quoted-printable: from zero when encoding, after every line when decoding.
    encoder.SetEncodeMethod(cmQuotedPrintable);
    for (const auto& [encode, text, done] : {std::tuple{true, "one\r\ntwo\r\nthree", std::vector<int64_t>{0, 5, 10}},
             std::tuple{false, "one\r\ntwo\nthree", std::vector<int64_t>{5, 9, 14}}}) {
        calls.clear();
        Convert(encoder, text, encode);
        std::vector<int64_t> reported;
        for (const auto& call : calls)
            reported.push_back(call.first);
        EXPECT_EQ(reported, done);
    }
}

TEST(EncoderConveniences, EncodeAndDecodeTextsBytesStreamsAndSecretLinesThroughTheCharacterSet)
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
    // A secret line is encoded as an ordinary one and replaces what it held.
    TSecretString line;
    line.Text() = "an older, longer text";
    for (const std::string& text : {std::string(), std::string("a"), std::string("ab"), std::string("abc"),
             std::string("user=me\x01\x01"), std::string(100, '\xFF')}) {
        TixEncoder::EncodeSecretLine(text, line);
        EXPECT_EQ(line.Text(), TixEncoder::EncodeLineWith(cmBase64, text)) << text.size();
    }
    TixEncoder encoder;
    encoder.SetCharSet("utf-8");
    EXPECT_EQ(encoder.EncodeString("caf\xE9"), "Y2Fmw6k=");
    EXPECT_EQ(encoder.DecodeString("Y2Fmw6k="), "caf\xE9");
    EXPECT_EQ(encoder.DecodeBytes("w6k="), (TixByteArray{0xC3, 0xA9}));
    encoder.SetCharSet("");
    EXPECT_EQ(encoder.EncodeString("caf\xE9"), "Y2Fm6Q==");
    // An encoder works from the source position and appends to the destination.
    TixEncoder base64;
    TTextStream encoded("skipQUJD");
    encoded.SetPosition(4);
    TTextStream decoded("old:");
    decoded.Seek(0, soEnd);
    base64.Decode(encoded, decoded);
    EXPECT_EQ(decoded.View(), "old:ABC");
    EXPECT_EQ(encoded.Position(), encoded.Size());
}
