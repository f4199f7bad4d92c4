#include "message/ixEncoder.h"
#include "core/ixProperties.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <memory>
#include <span>
#include <utility>
#include <vector>

#include "message/internal/ixCodingTables.h"
#include "util/ixTranslator.h"

namespace ix {

using namespace internal;

namespace {

struct TFixedError
{
    std::string_view Message;
    int32_t Code;
};
constexpr TFixedError UnsupportedFormat{"Unsupported format.", -1};
constexpr TFixedError WrongSymbols{"Wrong symbols in source stream.", -2};

[[noreturn]] void Raise(const TFixedError& AError)
{
    throw EixEncoderError(std::string(AError.Message), AError.Code);
}

constexpr int32_t QpMinLine = 4;
constexpr int32_t MaxLine = 132;
constexpr int32_t Base64MinLine = 64;
constexpr int32_t UUMinLine = 3;
/// The longest uuencoded line whose length character can express its byte count (63 bytes).
constexpr int32_t UUMaxLineChars = 84;
constexpr int32_t UUMaxLineBytes = 63;
/// The conventional uuencoded line, used when the requested one is too long.
constexpr int32_t UUConventionalLineBytes = 45;
/// Input read at a time by the decoders that do not read the whole source.
constexpr size_t DecodeChunkSize = 64 * 1024;
/// Output gathered before it is written to the destination.
constexpr size_t OutputFlushSize = 64 * 1024;
/// Base64 progress is reported in at most this many steps.
constexpr int64_t Base64ProgressSteps = 1000;

constexpr std::string_view CrLf = "\r\n";

// ---- Access to the rest of a source stream ---------------------------------------------------

/// The bytes from a stream's position to its end, all at once: memory streams are read in
/// place, other streams are copied. The stream is left at its end.
class TSourceBytes
{
public:
    explicit TSourceBytes(TStream& AStream)
    {
        if (auto* memory = dynamic_cast<TMemoryStream*>(&AStream)) {
            const int64_t position = memory->Position();
            const int64_t size = std::max<int64_t>(memory->Size() - position, 0);
            FBytes = {memory->Memory() + (size > 0 ? position : 0), static_cast<size_t>(size)};
            memory->Seek(size, soCurrent);
            return;
        }
        FCopy.resize(static_cast<size_t>(std::max<int64_t>(AStream.Remaining(), 0)));
        FCopy.resize(static_cast<size_t>(AStream.Read(FCopy.data(), static_cast<int64_t>(FCopy.size()))));
        FBytes = FCopy;
    }

    std::span<const uint8_t> Bytes() const noexcept { return FBytes; }

private:
    std::vector<uint8_t> FCopy;
    std::span<const uint8_t> FBytes;
};

/// The bytes from a stream's position to its end, piece by piece: memory streams are read in
/// place, other streams through a buffer.
class TSourceChunks
{
public:
    TSourceChunks(TStream& AStream, size_t AChunkSize)
        : FStream(AStream), FMemory(dynamic_cast<TMemoryStream*>(&AStream)),
          FTotal(std::max<int64_t>(AStream.Remaining(), 0)), FChunkSize(AChunkSize)
    {
        if (!FMemory)
            FBuffer.resize(AChunkSize);
    }

    /// The next piece; empty at the end.
    std::span<const uint8_t> Next()
    {
        const int64_t want = std::min<int64_t>(static_cast<int64_t>(FChunkSize), FTotal - FConsumed);
        if (want <= 0)
            return {};
        if (FMemory) {
            const uint8_t* data = FMemory->Memory() + FMemory->Position();
            FMemory->Seek(want, soCurrent);
            FConsumed += want;
            return {data, static_cast<size_t>(want)};
        }
        const int64_t got = FStream.Read(FBuffer.data(), want);
        FConsumed += std::max<int64_t>(got, 0);
        return {FBuffer.data(), static_cast<size_t>(std::max<int64_t>(got, 0))};
    }

    int64_t Consumed() const noexcept { return FConsumed; }
    int64_t Total() const noexcept { return FTotal; }

private:
    TStream& FStream;
    TMemoryStream* FMemory;
    int64_t FTotal;
    int64_t FConsumed = 0;
    size_t FChunkSize;
    std::vector<uint8_t> FBuffer;
};

/// An output buffer written to the destination stream in large pieces.
class TOutput
{
public:
    explicit TOutput(TStream& ADestination) : FDestination(ADestination) {}

    /// Makes room for ACount more bytes and returns where they go; Commit tells how many came.
    uint8_t* Reserve(size_t ACount)
    {
        // Grows by doubling up to the flush size, so that a short text (an encoded word) does
        // not pay for a whole buffer.
        if (FBuffer.size() < FUsed + ACount)
            FBuffer.resize(std::max(FUsed + ACount, std::min(2 * FBuffer.size(), OutputFlushSize + ACount)));
        return FBuffer.data() + FUsed;
    }
    void Commit(const uint8_t* AEnd)
    {
        FUsed = static_cast<size_t>(AEnd - FBuffer.data());
        if (FUsed >= OutputFlushSize)
            Flush();
    }
    void Flush()
    {
        FDestination.WriteBuffer(FBuffer.data(), static_cast<int64_t>(FUsed));
        FUsed = 0;
    }

private:
    TStream& FDestination;
    std::vector<uint8_t> FBuffer;
    size_t FUsed = 0;
};

uint8_t* Put(uint8_t* AOut, std::string_view AText) noexcept
{
    std::memcpy(AOut, AText.data(), AText.size());
    return AOut + AText.size();
}

/// "=%2.2X" of AByte.
uint8_t* PutEscape(uint8_t* AOut, uint8_t AByte) noexcept
{
    AOut[0] = '=';
    AOut[1] = static_cast<uint8_t>(HexDigits[AByte >> 4]);
    AOut[2] = static_cast<uint8_t>(HexDigits[AByte & 15]);
    return AOut + 3;
}

// ---- Base64 ----------------------------------------------------------------------------------

/// Writes the three bytes of a decoded group held in AWord (see TBase64GroupTables); AOut must
/// have room for four.
inline uint8_t* PutGroup(uint8_t* AOut, uint32_t AWord) noexcept
{
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(AOut, &AWord, 4);
    } else {
        AOut[0] = static_cast<uint8_t>(AWord);
        AOut[1] = static_cast<uint8_t>(AWord >> 8);
        AOut[2] = static_cast<uint8_t>(AWord >> 16);
    }
    return AOut + 3;
}

/// Base64 decoding with its state carried from one piece of input to the next.
class TBase64Decoder
{
public:
    /// Output room Decode needs for ASize input bytes.
    static size_t MaxOutput(size_t ASize) noexcept { return ASize / 4 * 3 + 8; }

    /// Decodes AInput to AOut until the end or the first character outside the alphabet
    /// (whose offset goes to AInvalid; AInvalid is left alone otherwise). Returns the output end.
    uint8_t* Decode(std::span<const uint8_t> AInput, uint8_t* AOut, size_t& AInvalid) noexcept
    {
        const uint8_t* p = AInput.data();
        const uint8_t* const end = p + AInput.size();
        while (p < end) {
            if (FCount == 0) {
                p = DecodeGroups(p, end, AOut);
                if (p == end)
                    break;
            }
            const uint8_t v = Base64Values[*p];
            if (v < 64) {
                FBits = FBits << 6 | v;
                if (++FCount == 4) {
                    AOut[0] = static_cast<uint8_t>(FBits >> 16);
                    AOut[1] = static_cast<uint8_t>(FBits >> 8);
                    AOut[2] = static_cast<uint8_t>(FBits);
                    AOut += 3;
                    FCount = 0;
                    FBits = 0;
                }
            } else if (v == Base64Invalid) {
                AInvalid = static_cast<size_t>(p - AInput.data());
                break;
            }
            ++p;
        }
        return AOut;
    }

    /// Writes the whole bytes of an incomplete last group; its remaining bits are dropped.
    uint8_t* Finish(uint8_t* AOut) noexcept
    {
        if (FCount >= 2)
            *AOut++ = static_cast<uint8_t>(FBits >> (6 * FCount - 8));
        if (FCount == 3)
            *AOut++ = static_cast<uint8_t>(FBits >> 2);
        FCount = 0;
        FBits = 0;
        return AOut;
    }

private:
    /// The fast path: whole groups of four alphabet characters, two groups per step.
    static const uint8_t* DecodeGroups(const uint8_t* p, const uint8_t* AEnd, uint8_t*& AOut) noexcept
    {
        const auto& t = Base64Group.Slot;
        uint8_t* out = AOut;
        while (AEnd - p >= 8) {
            const uint32_t a = t[0][p[0]] | t[1][p[1]] | t[2][p[2]] | t[3][p[3]];
            const uint32_t b = t[0][p[4]] | t[1][p[5]] | t[2][p[6]] | t[3][p[7]];
            if ((a | b) & Base64GroupBad)
                break;
            out = PutGroup(PutGroup(out, a), b);
            p += 8;
        }
        if (AEnd - p >= 4) {
            const uint32_t a = t[0][p[0]] | t[1][p[1]] | t[2][p[2]] | t[3][p[3]];
            if (!(a & Base64GroupBad)) {
                out = PutGroup(out, a);
                p += 4;
            }
        }
        AOut = out;
        return p;
    }

    uint32_t FBits = 0;
    int FCount = 0;
};

/// Base64 of AInput; a final group of one or two bytes is filled up with "=".
uint8_t* EncodeBase64Line(std::span<const uint8_t> AInput, uint8_t* AOut) noexcept
{
    const uint8_t* p = AInput.data();
    const uint8_t* const end = p + AInput.size() / 3 * 3;
    for (; p < end; p += 3) {
        const uint32_t group = uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
        std::memcpy(AOut, Base64Pairs[group >> 12].data(), 2);
        std::memcpy(AOut + 2, Base64Pairs[group & 0xFFF].data(), 2);
        AOut += 4;
    }
    const size_t rest = AInput.size() % 3;
    if (rest == 0)
        return AOut;
    const uint32_t group = uint32_t{p[0]} << 16 | (rest == 2 ? uint32_t{p[1]} << 8 : 0);
    AOut[0] = static_cast<uint8_t>(Base64Alphabet[group >> 18]);
    AOut[1] = static_cast<uint8_t>(Base64Alphabet[group >> 12 & 63]);
    AOut[2] = rest == 2 ? static_cast<uint8_t>(Base64Alphabet[group >> 6 & 63]) : '=';
    AOut[3] = '=';
    return AOut + 4;
}

// ---- Quoted-printable decoding ---------------------------------------------------------------

/// Quoted-printable decoding as a machine fed piece by piece. Each line break of the input
/// (CR LF, lone LF, lone CR) is written as CR LF, except the one that follows a soft break
/// ("=" at the end of a line), which is dropped. "=" and two hexadecimal digits give one byte;
/// "=" followed by anything else is written as it stands.
class TQpDecoder
{
public:
    /// Output room Feed needs for ASize input bytes (and Finish for the end).
    static size_t MaxOutput(size_t ASize) noexcept { return 2 * ASize + 2; }

    /// Decodes AInput to AOut; calls AOnLine(offset after the line break) after each line.
    template <typename TOnLine>
    uint8_t* Feed(std::span<const uint8_t> AInput, uint8_t* AOut, TOnLine&& AOnLine)
    {
        const uint8_t* p = AInput.data();
        const uint8_t* const end = p + AInput.size();
        const auto lineEnded = [&] { AOnLine(static_cast<size_t>(p - AInput.data())); };
        while (p < end) {
            switch (FState) {
            case qsText:
                p = CopyText(p, end, AOut);
                if (p == end)
                    break;
                if (const uint8_t c = *p++; c == '=') {
                    FState = qsEquals;
                } else if (c == '\r') {
                    FState = qsCR;
                } else {
                    AOut = Put(AOut, CrLf);
                    lineEnded();
                }
                break;
            case qsCR:
                AOut = Put(AOut, CrLf);
                if (*p == '\n')
                    ++p;
                FState = qsText;
                lineEnded();
                break;
            case qsEquals:
                if (const uint8_t c = *p++; c == '\r' || c == '\n') {
                    // A soft break: its line break is dropped.
                    FState = c == '\r' ? qsSoftCR : qsText;
                    lineEnded();
                } else if (HexValues[c] != NoHex) {
                    FHexChar = c;
                    FState = qsEqualsHex;
                } else {
                    *AOut++ = '=';
                    *AOut++ = c;
                    FState = qsText;
                }
                break;
            case qsEqualsHex:
                // "=" and one digit not followed by another stand as they are.
                if (const uint8_t low = HexValues[*p]; low != NoHex) {
                    *AOut++ = static_cast<uint8_t>(HexValues[FHexChar] << 4 | low);
                    ++p;
                } else {
                    *AOut++ = '=';
                    *AOut++ = FHexChar;
                }
                FState = qsText;
                break;
            case qsSoftCR:
                if (*p == '\n')
                    ++p;
                FState = qsText;
                break;
            }
        }
        return AOut;
    }

    /// Completes the input: a pending CR is a line break, a pending "=" and digit stand as they are.
    uint8_t* Finish(uint8_t* AOut) noexcept
    {
        if (FState == qsCR) {
            AOut = Put(AOut, CrLf);
        } else if (FState == qsEqualsHex) {
            *AOut++ = '=';
            *AOut++ = FHexChar;
        }
        FState = qsText;
        return AOut;
    }

private:
    enum TState : uint8_t { qsText, qsCR, qsEquals, qsEqualsHex, qsSoftCR };

    /// The high bit of each byte of AWord that is "=", CR or LF; exact up to the first such
    /// byte in memory order on a little-endian machine (above it a borrow may mark others).
    static uint64_t SpecialBytes(uint64_t AWord) noexcept
    {
        constexpr uint64_t Ones = 0x0101010101010101u;
        constexpr uint64_t Highs = 0x8080808080808080u;
        const auto zeroBytes = [](uint64_t AValue) { return (AValue - Ones) & ~AValue & Highs; };
        return zeroBytes(AWord ^ Ones * '=') | zeroBytes(AWord ^ Ones * '\r') | zeroBytes(AWord ^ Ones * '\n');
    }

    /// Copies plain text up to the next "=", CR or LF, eight bytes at a time while it can
    /// (AOut may be written up to eight bytes ahead of what it receives).
    static const uint8_t* CopyText(const uint8_t* p, const uint8_t* AEnd, uint8_t*& AOut) noexcept
    {
        uint8_t* out = AOut;
        if constexpr (std::endian::native == std::endian::little) {
            for (uint64_t word; AEnd - p >= 8; p += 8, out += 8) {
                std::memcpy(&word, p, 8);
                std::memcpy(out, &word, 8);
                if (const uint64_t specials = SpecialBytes(word)) {
                    const int plain = std::countr_zero(specials) / 8;
                    AOut = out + plain;
                    return p + plain;
                }
            }
        }
        while (p < AEnd && !QpSpecials[*p])
            *out++ = *p++;
        AOut = out;
        return p;
    }

    TState FState = qsText;
    uint8_t FHexChar = 0;
};

// ---- Uuencode --------------------------------------------------------------------------------

/// The uuencoded character of a 6-bit value; 0 is written as the grave accent.
constexpr uint8_t UUChar(uint32_t AValue) noexcept
{
    return AValue == 0 ? '`' : static_cast<uint8_t>(AValue + 32);
}

constexpr uint32_t UUValue(uint8_t AChar) noexcept
{
    return static_cast<uint32_t>(AChar - 32) & 63;
}

/// One uuencoded line of AInput (at most 63 bytes): its length character and its groups; a
/// final group of one or two bytes is filled up with zero bits.
uint8_t* EncodeUULine(std::span<const uint8_t> AInput, uint8_t* AOut) noexcept
{
    *AOut++ = static_cast<uint8_t>(AInput.size() % 64 + 32);
    for (size_t i = 0; i < AInput.size(); i += 3) {
        const uint32_t b1 = i + 1 < AInput.size() ? AInput[i + 1] : 0;
        const uint32_t b2 = i + 2 < AInput.size() ? AInput[i + 2] : 0;
        const uint32_t group = uint32_t{AInput[i]} << 16 | b1 << 8 | b2;
        AOut[0] = UUChar(group >> 18);
        AOut[1] = UUChar(group >> 12 & 63);
        AOut[2] = UUChar(group >> 6 & 63);
        AOut[3] = UUChar(group & 63);
        AOut += 4;
    }
    return AOut;
}

/// Decodes the data of one uuencoded line (the characters after its length character) into
/// ACount bytes at AOut and returns their end; characters missing at the end of the line count
/// as 0 (stripped blanks).
uint8_t* DecodeUULine(std::string_view AData, size_t ACount, uint8_t* AOut) noexcept
{
    const auto valueAt = [&](size_t AIndex) {
        return AIndex < AData.size() ? UUValue(static_cast<uint8_t>(AData[AIndex])) : 0u;
    };
    for (size_t group = 0; ACount > 0; group += 4) {
        const uint32_t bits = valueAt(group) << 18 | valueAt(group + 1) << 12 | valueAt(group + 2) << 6
            | valueAt(group + 3);
        const uint8_t bytes[3] = {static_cast<uint8_t>(bits >> 16), static_cast<uint8_t>(bits >> 8),
            static_cast<uint8_t>(bits)};
        const size_t take = std::min<size_t>(ACount, 3);
        AOut = std::copy_n(bytes, take, AOut);
        ACount -= take;
    }
    return AOut;
}

/// Where the line starting at AStart of AText ends: its first CR or LF, npos when neither comes.
/// ANextLF keeps where the next LF is between the calls for one text (npos before the first), so
/// that a text of CRs alone is not searched to its end for every line.
size_t FindLineEnd(std::string_view AText, size_t AStart, size_t& ANextLF) noexcept
{
    if (ANextLF == std::string_view::npos || ANextLF < AStart) {
        const void* lf = std::memchr(AText.data() + AStart, '\n', AText.size() - AStart);
        ANextLF = lf ? static_cast<size_t>(static_cast<const char*>(lf) - AText.data()) : AText.size();
    }
    if (const void* cr = std::memchr(AText.data() + AStart, '\r', ANextLF - AStart))
        return static_cast<size_t>(static_cast<const char*>(cr) - AText.data());
    return ANextLF < AText.size() ? ANextLF : std::string_view::npos;
}

// ---- Helpers of the string conveniences ------------------------------------------------------

class TTextStream : public TMemoryStream
{
public:
    explicit TTextStream(std::string_view AText)
    {
        WriteText(AText);
        SetPosition(0);
    }
};

std::string StreamText(const TMemoryStream& AStream)
{
    return std::string(AStream.View());
}

std::unique_ptr<TixEncoder> MakeEncoder(TixEncodeMethod AMethod, bool ASuppressCrlf)
{
    auto encoder = std::make_unique<TixEncoder>();
    encoder->SetEncodeMethod(AMethod);
    encoder->SetSuppressCrlf(ASuppressCrlf);
    return encoder;
}

} // namespace

// ---- TixEncoder ------------------------------------------------------------------------------

TixEncoder::TixEncoder(TComponent* AOwner) : TComponent(AOwner) {}

int32_t TixEncoder::GetEffectiveLineLength() const noexcept
{
    const int32_t requested = FCharsPerLine < 1 ? DefaultCharsPerLine : FCharsPerLine;
    switch (FEncodeMethod) {
    case cmQuotedPrintable:
        return std::clamp(requested, QpMinLine, MaxLine);
    case cmBase64: {
        if (requested < Base64MinLine)
            return Base64MinLine;
        // Whole groups of four: R / 4 + 0.25 rounded half to even.
        const double groups = std::nearbyint(requested / 4.0 + 0.25);
        return static_cast<int32_t>(std::min(groups * 4, double{INT32_MAX - 3}));
    }
    case cmUUEncode:
        return std::clamp(requested, UUMinLine, MaxLine);
    default:
        return requested;
    }
}

void TixEncoder::DoProgress(int64_t ABytesProceed, int64_t ATotalBytes)
{
    CallEvent(OnProgress, this, ABytesProceed, ATotalBytes);
}

void TixEncoder::CheckMethod() const
{
    if (FEncodeMethod > cm8Bit)
        Raise(UnsupportedFormat);
}

void TixEncoder::Encode(TStream& ASource, TStream& ADestination)
{
    if (ASource.Remaining() <= 0)
        return;
    CheckMethod();
    switch (FEncodeMethod) {
    case cmQuotedPrintable:
        EncodeQuotedPrintable(ASource, ADestination);
        break;
    case cmBase64:
        EncodeBase64(ASource, ADestination);
        break;
    case cmUUEncode:
        EncodeUU(ASource, ADestination);
        break;
    default:
        ADestination.CopyFrom(ASource, ASource.Remaining());
        break;
    }
}

void TixEncoder::Decode(TStream& ASource, TStream& ADestination)
{
    if (ASource.Remaining() <= 0)
        return;
    CheckMethod();
    switch (FEncodeMethod) {
    case cmQuotedPrintable:
        DecodeQuotedPrintable(ASource, ADestination);
        break;
    case cmBase64:
        DecodeBase64(ASource, ADestination);
        break;
    case cmUUEncode:
        DecodeUU(ASource, ADestination);
        break;
    default:
        ADestination.CopyFrom(ASource, ASource.Remaining());
        break;
    }
}

namespace {

/// True when the byte before AData[ANext] is the last of an encoded line: the source ends, or
/// CR LF follows.
bool EndsLine(std::span<const uint8_t> AData, size_t ANext) noexcept
{
    return ANext == AData.size() || (AData[ANext] == '\r' && ANext + 1 < AData.size() && AData[ANext + 1] == '\n');
}

} // namespace

void TixEncoder::EncodeQuotedPrintable(TStream& ASource, TStream& ADestination)
{
    const TSourceBytes source(ASource);
    const std::span<const uint8_t> data = source.Bytes();
    const int64_t total = static_cast<int64_t>(data.size());
    const int32_t breakAfter = GetEffectiveLineLength() - 6;
    TOutput output(ADestination);
    DoProgress(0, total);
    int32_t column = 0;
    size_t i = 0;
    for (;;) {
        // The longest step below writes a soft break (3) and an escape (3).
        uint8_t* out = output.Reserve(6);
        if (!FSuppressCrlf && column > breakAfter) {
            out = Put(out, "=\r\n");
            column = 0;
            DoProgress(static_cast<int64_t>(i), total);
        }
        if (i == data.size()) {
            output.Commit(out);
            break;
        }
        const uint8_t c = data[i++];
        if (c == '\r' && i < data.size() && data[i] == '\n') {
            out = Put(out, CrLf);
            ++i;
            column = 0;
            output.Commit(out);
            DoProgress(static_cast<int64_t>(i), total);
            continue;
        }
        // Any other CR, the last byte of the source included, is escaped like the other
        // controls, so that it survives the round trip. A blank that would end an encoded line
        // is escaped too: transports may strip trailing blanks (RFC 2045, 6.7, rule 3).
        if (QpLiterals[c] && !(c == ' ' && EndsLine(data, i))) {
            *out++ = c;
            column += 1;
        } else {
            out = PutEscape(out, c);
            column += 3;
        }
        output.Commit(out);
    }
    output.Flush();
}

void TixEncoder::DecodeQuotedPrintable(TStream& ASource, TStream& ADestination)
{
    TSourceChunks source(ASource, DecodeChunkSize);
    TOutput output(ADestination);
    TQpDecoder decoder;
    for (std::span<const uint8_t> chunk = source.Next(); !chunk.empty(); chunk = source.Next()) {
        const int64_t chunkStart = source.Consumed() - static_cast<int64_t>(chunk.size());
        uint8_t* out = output.Reserve(TQpDecoder::MaxOutput(chunk.size()));
        out = decoder.Feed(chunk, out, [&](size_t AOffset) {
            DoProgress(chunkStart + static_cast<int64_t>(AOffset), source.Total());
        });
        output.Commit(out);
    }
    output.Commit(decoder.Finish(output.Reserve(TQpDecoder::MaxOutput(0))));
    output.Flush();
    DoProgress(source.Consumed(), source.Total());
}

void TixEncoder::EncodeBase64(TStream& ASource, TStream& ADestination)
{
    const TSourceBytes source(ASource);
    const std::span<const uint8_t> data = source.Bytes();
    const size_t total = data.size();
    const size_t lineBytes = FSuppressCrlf ? total : static_cast<size_t>(GetEffectiveLineLength()) * 3 / 4;
    const size_t lineCount = (total + lineBytes - 1) / lineBytes;
    const size_t stepLines = std::max<size_t>(1, (lineCount + Base64ProgressSteps - 1) / Base64ProgressSteps);
    TOutput output(ADestination);
    for (size_t line = 0; line < lineCount; line += stepLines) {
        const size_t lines = std::min(stepLines, lineCount - line);
        const size_t stepBytes = std::min(total - line * lineBytes, lines * lineBytes);
        uint8_t* out = output.Reserve(stepBytes / 3 * 4 + 4 + lines * CrLf.size());
        for (size_t k = line; k < line + lines; ++k) {
            if (k > 0)
                out = Put(out, CrLf);
            const size_t start = k * lineBytes;
            out = EncodeBase64Line(data.subspan(start, std::min(lineBytes, total - start)), out);
        }
        output.Commit(out);
        DoProgress(static_cast<int64_t>(std::min(total, (line + lines) * lineBytes)), static_cast<int64_t>(total));
    }
    output.Flush();
}

void TixEncoder::DecodeBase64(TStream& ASource, TStream& ADestination)
{
    const size_t batchSize = static_cast<size_t>(FBatchSize < 1 ? DefaultBatchSize : FBatchSize);
    TSourceChunks source(ASource, batchSize);
    TBase64Decoder decoder;
    std::vector<uint8_t> buffer(TBase64Decoder::MaxOutput(batchSize));
    if (auto* memory = dynamic_cast<TMemoryStream*>(&ADestination))
        memory->Reserve(memory->Position() + source.Total() / 4 * 3 + 3);
    FStopped = false;
    for (std::span<const uint8_t> batch = source.Next(); !batch.empty(); batch = source.Next()) {
        size_t invalid = batch.size();
        uint8_t* out = decoder.Decode(batch, buffer.data(), invalid);
        if (invalid < batch.size()) {
            if (FErrorProcessing == epStop)
                Raise(WrongSymbols);
            // Continue mode: keep what came before the bad character and stop there.
            FStopped = true;
            out = decoder.Finish(out);
        }
        ADestination.WriteBuffer(buffer.data(), out - buffer.data());
        DoProgress(source.Consumed(), source.Total());
        if (FStopped)
            return;
    }
    const uint8_t* out = decoder.Finish(buffer.data());
    ADestination.WriteBuffer(buffer.data(), out - buffer.data());
}

int32_t TixEncoder::GetUULineBytes(int64_t ATotal) const noexcept
{
    const int32_t lineChars = GetEffectiveLineLength();
    const int64_t lineBytes = FSuppressCrlf ? ATotal : lineChars * 3 / 4;
    // The length character holds at most 63; longer lines fall back to the conventional 45.
    if (lineChars > UUMaxLineChars || lineBytes > UUMaxLineBytes)
        return UUConventionalLineBytes;
    return static_cast<int32_t>(lineBytes);
}

void TixEncoder::EncodeUU(TStream& ASource, TStream& ADestination)
{
    const TSourceBytes source(ASource);
    const std::span<const uint8_t> data = source.Bytes();
    const size_t total = data.size();
    const size_t lineBytes = static_cast<size_t>(GetUULineBytes(static_cast<int64_t>(total)));
    // Line breaks are the encoder's own unless SuppressCrlf is set and the input fits one line.
    const bool breakLines = !FSuppressCrlf || lineBytes < total;
    TOutput output(ADestination);
    for (size_t start = 0; start < total; start += lineBytes) {
        const size_t count = std::min(lineBytes, total - start);
        uint8_t* out = output.Reserve(1 + (count + 2) / 3 * 4 + CrLf.size());
        out = EncodeUULine(data.subspan(start, count), out);
        if (breakLines && count == lineBytes)
            out = Put(out, CrLf);
        output.Commit(out);
        DoProgress(static_cast<int64_t>(start + count), static_cast<int64_t>(total));
    }
    output.Flush();
}

void TixEncoder::DecodeUU(TStream& ASource, TStream& ADestination)
{
    TSourceChunks source(ASource, DecodeChunkSize);
    TOutput output(ADestination);
    bool firstLine = true;
    bool ended = false;
    // Decodes one line (CR and LF end lines; empty ones are skipped) that ends the source's
    // first ADone bytes; false for the line of length 0 that ends the data.
    const auto decodeLine = [&](std::string_view ALine, int64_t ADone) {
        if (ALine.empty() || (std::exchange(firstLine, false) && ALine.starts_with("begin")))
            return true;
        const size_t count = UUValue(static_cast<uint8_t>(ALine[0]));
        if (count == 0)
            return false;
        output.Commit(DecodeUULine(ALine.substr(1, (count * 4 + 2) / 3), count, output.Reserve(count)));
        DoProgress(std::min(ADone, source.Total()), source.Total());
        return true;
    };
    std::string cut; // the start of a line that the end of a piece cut
    for (std::span<const uint8_t> chunk = source.Next(); !chunk.empty(); chunk = source.Next()) {
        const std::string_view text(reinterpret_cast<const char*>(chunk.data()), chunk.size());
        const int64_t chunkStart = source.Consumed() - static_cast<int64_t>(chunk.size());
        size_t nextLF = std::string_view::npos;
        for (size_t start = 0; !ended && start < text.size();) {
            const size_t end = FindLineEnd(text, start, nextLF);
            if (end == std::string_view::npos) {
                cut.append(text.substr(start));
                break;
            }
            std::string_view line = text.substr(start, end - start);
            if (!cut.empty())
                line = cut.append(line);
            start = end + 1;
            ended = !decodeLine(line, chunkStart + static_cast<int64_t>(start));
            cut.clear();
        }
    }
    if (!ended && !cut.empty())
        decodeLine(cut, source.Total());
    output.Flush();
}

TixEncodeMethod TixEncoder::GetPreferredEncoding(TStream& AStream)
{
    const int64_t position = AStream.GetPosition();
    TSourceChunks source(AStream, DecodeChunkSize);
    const int64_t highLimit = source.Total() / 2;
    int64_t highCount = 0;
    int64_t lineLength = 0;
    TixEncodeMethod result = cmNone;
    const auto scan = [&]() -> bool {
        for (std::span<const uint8_t> chunk = source.Next(); !chunk.empty(); chunk = source.Next()) {
            for (const uint8_t c : chunk) {
                if (c >= 127) {
                    result = cmQuotedPrintable;
                    if (++highCount > highLimit)
                        return false;
                } else if (c == '\r' || c == '\n') {
                    if (lineLength > FCharsPerLine)
                        result = cmQuotedPrintable;
                    lineLength = 0;
                } else if (c >= 32 || (c == 27 && FAllowESC)) {
                    ++lineLength;
                } else {
                    return false;
                }
            }
        }
        return true;
    };
    const bool text = scan();
    AStream.SetPosition(position);
    if (!text)
        return cmBase64;
    if (lineLength > FCharsPerLine)
        result = cmQuotedPrintable;
    return result;
}

// ---- String conveniences ---------------------------------------------------------------------

std::string TixEncoder::EncodeBytes(const TixByteArray& ABytes)
{
    TMemoryStream source;
    source.WriteBuffer(ABytes.data(), static_cast<int64_t>(ABytes.size()));
    source.SetPosition(0);
    TMemoryStream destination;
    Encode(source, destination);
    return StreamText(destination);
}

std::string TixEncoder::EncodeString(const std::string& AText)
{
    return EncodeBytes(TixTranslator::GetBytes(AText, FCharSet));
}

void TixEncoder::DecodeToStream(std::string_view AText, TStream& ADestination)
{
    TTextStream source(AText);
    Decode(source, ADestination);
}

TixByteArray TixEncoder::DecodeBytes(std::string_view AText)
{
    TMemoryStream destination;
    DecodeToStream(AText, destination);
    return TixByteArray(destination.Memory(), destination.Memory() + destination.Size());
}

std::string TixEncoder::DecodeString(std::string_view AText)
{
    return TixTranslator::GetString(DecodeBytes(AText), FCharSet);
}

std::string TixEncoder::EncodeWith(TixEncodeMethod AMethod, const std::string& AText)
{
    return MakeEncoder(AMethod, false)->EncodeString(AText);
}

std::string TixEncoder::EncodeLineWith(TixEncodeMethod AMethod, const std::string& AText)
{
    return MakeEncoder(AMethod, true)->EncodeString(AText);
}

std::string TixEncoder::EncodeLineWith(TixEncodeMethod AMethod, const TixByteArray& ABytes)
{
    return MakeEncoder(AMethod, true)->EncodeBytes(ABytes);
}

std::string TixEncoder::EncodeLineWith(TixEncodeMethod AMethod, TStream& ASource)
{
    TMemoryStream destination;
    MakeEncoder(AMethod, true)->Encode(ASource, destination);
    return StreamText(destination);
}

void TixEncoder::EncodeSecretLine(std::string_view ASecret, TSecretString& AResult)
{
    std::string& text = AResult.Text();
    WipeString(text);
    text.resize((ASecret.size() + 2) / 3 * 4);
    EncodeBase64Line({reinterpret_cast<const uint8_t*>(ASecret.data()), ASecret.size()},
        reinterpret_cast<uint8_t*>(text.data()));
}

std::string TixEncoder::DecodeWith(TixEncodeMethod AMethod, std::string_view AText)
{
    return MakeEncoder(AMethod, false)->DecodeString(AText);
}

TixByteArray TixEncoder::DecodeBytesWith(TixEncodeMethod AMethod, std::string_view AText)
{
    return MakeEncoder(AMethod, false)->DecodeBytes(AText);
}

void TixEncoder::DecodeWith(TixEncodeMethod AMethod, std::string_view AText, TStream& ADestination)
{
    MakeEncoder(AMethod, false)->DecodeToStream(AText, ADestination);
}

const TPropertyTable& TixEncoder::GetPublishedProperties() const
{
    using C = TixEncoder;
    static const TPropertyTable table("TixEncoder", &TComponent::GetPublishedProperties(),
        {
            Published<&C::GetCharsPerLine, &C::SetCharsPerLine>("CharsPerLine", DefaultCharsPerLine),
            Published<&C::GetEncodeMethod, &C::SetEncodeMethod>("EncodeMethod", DefaultEncodeMethod, EncodeMethodNames),
            Published<&C::GetSuppressCrlf, &C::SetSuppressCrlf>("SuppressCrlf", false),
            Published<&C::GetBatchSize, &C::SetBatchSize>("BatchSize", DefaultBatchSize),
            Published<&C::GetAllowESC, &C::SetAllowESC>("AllowESC", false),
            Published<&C::GetCharSet, &C::SetCharSet>("CharSet", ""),
            Published<&C::GetErrorProcessing, &C::SetErrorProcessing>("ErrorProcessing", DefaultErrorProcessing,
                {"epStop", "epContinue"}),
        });
    return table;
}

} // namespace ix
