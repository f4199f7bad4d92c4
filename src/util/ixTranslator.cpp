#include "util/ixTranslator.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <utility>
#include <vector>

#include "core/ixStreams.h"
#include "core/ixSysUtils.h"
#include "platform/ixOsKernel.h"
#include "util/internal/ixTranslatorTables.h"
#include "util/ixUtils.h"

namespace ix {

namespace {

constexpr std::string_view Utf8Name = "utf-8";
/// WC_COMPOSITECHECK | WC_DISCARDNS | WC_SEPCHARS | WC_DEFAULTCHAR.
constexpr os::DWORD WideToAnsiFlags = 0x270;
constexpr int64_t StreamBlockSize = 64 * 1024;
/// What a character without a form in the target becomes.
constexpr uint8_t DefaultChar = '?';

/// The code page the local side of each table is written in, in the order of the table.
/// ISO-8859-1 and Latin1 are tabled against Windows-1252, which extends ISO-8859-1; KOI8-WIN and
/// WIN-KOI8 keep Windows-1251 as their local side like the other Cyrillic sets.
constexpr std::array<os::UINT, detail::CharSetCount> LocalCodePages = {
    1252, // ISO-8859-1
    1250, // ISO-8859-2
    1250, // Windows-1250
    1251, // ibm866
    1251, // ISO-8859-5
    1251, // koi8-r
    1251, // koi8-u
    1251, // KOI8-WIN
    1251, // WIN-KOI8
    1251, // Windows-1251
    1251, // x-mac-cyrillic
    1252, // Latin1
};

using TByteTable = std::array<uint8_t, 256>;
using TCharTable = std::array<char16_t, 256>;

bool IsUtf8(std::string_view ACharSet) noexcept
{
    return SameText(ACharSet, Utf8Name);
}

constexpr TByteTable IdentityTable() noexcept
{
    TByteTable result{};
    for (size_t i = 0; i < result.size(); ++i)
        result[i] = static_cast<uint8_t>(i);
    return result;
}

const TixCharSetInfo NotFound{{}, IdentityTable(), IdentityTable()};

/// ACount bytes of ASource through ATable into ADest (which may be ASource).
void MapBytes(const TByteTable& ATable, const uint8_t* ASource, uint8_t* ADest, size_t ACount) noexcept
{
    const uint8_t* table = ATable.data();
    for (size_t i = 0; i < ACount; ++i)
        ADest[i] = table[ASource[i]];
}

/// The character each byte of a single-byte code page stands for.
TCharTable CodePageChars(os::UINT ACodePage)
{
    TCharTable result{};
    for (size_t b = 0; b < result.size(); ++b) {
        const char byte = static_cast<char>(b);
        const std::u16string wide = TixTranslator::StringToWide(std::string_view(&byte, 1), ACodePage);
        result[b] = wide.size() == 1 ? wide[0] : u'\xFFFD';
    }
    return result;
}

/// From characters to the bytes that stand for them; the first byte given for a character wins.
class TCharLookup
{
public:
    TCharLookup() { FLow.fill(NoByte); }
    /// Maps AChars[i] to ABytes[i] for every i.
    TCharLookup(const TCharTable& AChars, const TByteTable& ABytes) : TCharLookup()
    {
        for (size_t i = 0; i < AChars.size(); ++i) {
            const char16_t c = AChars[i];
            if (c >= FLow.size())
                FHigh.emplace_back(c, ABytes[i]);
            else if (FLow[c] == NoByte)
                FLow[c] = ABytes[i];
        }
        std::stable_sort(FHigh.begin(), FHigh.end(), [](const TEntry& A, const TEntry& B) { return A.first < B.first; });
        FHigh.erase(std::unique(FHigh.begin(), FHigh.end(), [](const TEntry& A, const TEntry& B) { return A.first == B.first; }),
            FHigh.end());
    }

    /// The byte of AChar, or DefaultChar when there is none.
    uint8_t Find(char32_t AChar) const noexcept
    {
        if (AChar < FLow.size())
            return FLow[AChar] == NoByte ? DefaultChar : static_cast<uint8_t>(FLow[AChar]);
        const auto found = std::lower_bound(FHigh.begin(), FHigh.end(), AChar,
            [](const TEntry& AEntry, char32_t AKey) { return AEntry.first < AKey; });
        return found != FHigh.end() && found->first == AChar ? found->second : DefaultChar;
    }

private:
    using TEntry = std::pair<char32_t, uint8_t>;
    static constexpr uint16_t NoByte = 0xFFFF;

    /// The characters below U+0800 (the Latin, Greek and Cyrillic letters), looked up directly.
    std::array<uint16_t, 0x800> FLow{};
    /// The others, sorted.
    std::vector<TEntry> FHigh;
};

/// The UTF-8 form of one character (one to three bytes) in memory order, with its length in the
/// fourth byte, so that it is stored with one move.
using TUtf8Char = uint32_t;

TUtf8Char PackUtf8(std::string_view AUtf8) noexcept
{
    std::array<char, 4> bytes{};
    std::copy_n(AUtf8.begin(), std::min<size_t>(AUtf8.size(), 3), bytes.begin());
    bytes[3] = static_cast<char>(AUtf8.size());
    TUtf8Char result = 0;
    std::memcpy(&result, bytes.data(), sizeof result);
    return result;
}

size_t Utf8Length(TUtf8Char AChar) noexcept
{
    if constexpr (std::endian::native == std::endian::little)
        return AChar >> 24;
    else
        return AChar & 0xFF;
}

/// One set's translation for an ANSI code page other than its tables' local one: through the
/// characters of the local code page to those of the ANSI code page and back.
struct TComposedTables
{
    /// The ANSI code page is UTF-8: FromSetUtf8 and SetBytes apply, else FromSet and ToSet.
    bool Utf8 = false;
    /// A set byte to the ANSI byte of its character (DefaultChar when there is none).
    TByteTable FromSet{};
    /// An ANSI byte to the set byte of its character (DefaultChar when there is none).
    TByteTable ToSet{};
    /// A set byte to the UTF-8 form of its character.
    std::array<TUtf8Char, 256> FromSetUtf8{};
    /// A character to its set byte.
    TCharLookup SetBytes;
};

std::unique_ptr<const TComposedTables> ComposeTables(const TixCharSetInfo& AInfo, os::UINT ALocalCodePage,
    os::UINT AAnsiCodePage)
{
    auto result = std::make_unique<TComposedTables>();
    const TCharTable local = CodePageChars(ALocalCodePage);
    TCharTable setChars{};
    for (size_t b = 0; b < setChars.size(); ++b)
        setChars[b] = local[AInfo.FromTable[b]];
    result->SetBytes = TCharLookup(local, AInfo.ToTable);
    result->Utf8 = AAnsiCodePage == os::CP_UTF8;
    if (result->Utf8) {
        for (size_t b = 0; b < setChars.size(); ++b)
            result->FromSetUtf8[b] = PackUtf8(TixTranslator::Utf8Encode(std::u16string_view(&setChars[b], 1)));
        return result;
    }
    const TCharTable ansi = CodePageChars(AAnsiCodePage);
    const TCharLookup ansiBytes(ansi, IdentityTable());
    for (size_t b = 0; b < setChars.size(); ++b) {
        result->FromSet[b] = ansiBytes.Find(setChars[b]);
        result->ToSet[b] = result->SetBytes.Find(ansi[b]);
    }
    return result;
}

/// The composed tables of set AIndex for AAnsiCodePage, made on first use and kept for the
/// process's lifetime; safe to call from any thread.
const TComposedTables& ComposedTables(size_t AIndex, os::UINT AAnsiCodePage)
{
    using TKey = std::pair<size_t, os::UINT>;
    static std::shared_mutex lock;
    static std::map<TKey, std::unique_ptr<const TComposedTables>> cache;
    const TKey key(AIndex, AAnsiCodePage);
    {
        const std::shared_lock reading(lock);
        const auto found = cache.find(key);
        if (found != cache.end())
            return *found->second;
    }
    auto tables = ComposeTables(detail::CharSetTable[AIndex], LocalCodePages[AIndex], AAnsiCodePage);
    const std::unique_lock writing(lock);
    return *cache.try_emplace(key, std::move(tables)).first->second;
}

/// Appends the UTF-8 form of each byte's character.
void AppendUtf8Chars(const std::array<TUtf8Char, 256>& ATable, std::span<const uint8_t> ASource, std::string& AOut)
{
    // Pieces small enough that the room made for their longest form stays in the cache.
    constexpr size_t Piece = 16 * 1024;
    AOut.reserve(AOut.size() + ASource.size() * 2);
    for (size_t offset = 0; offset < ASource.size(); offset += Piece) {
        const std::span<const uint8_t> piece = ASource.subspan(offset, std::min(Piece, ASource.size() - offset));
        const size_t start = AOut.size();
        AOut.resize(start + piece.size() * 3 + 1); // each character is stored with all four bytes
        char* dest = AOut.data() + start;
        for (uint8_t b : piece) {
            std::memcpy(dest, &ATable[b], sizeof(TUtf8Char));
            dest += Utf8Length(ATable[b]);
        }
        AOut.resize(static_cast<size_t>(dest - AOut.data()));
    }
}

/// Reads the UTF-8 sequence at the start of ABytes (not empty) as RFC 3629 defines it: sets AChar
/// to its character, or to U+FFFD for an ill-formed part, and returns the bytes it takes; 0 when
/// ABytes ends inside a sequence that is well-formed so far.
size_t ReadUtf8Char(std::span<const uint8_t> ABytes, char32_t& AChar) noexcept
{
    const uint8_t lead = ABytes[0];
    AChar = 0xFFFD;
    if (lead < 0xC2 || lead > 0xF4)
        return 1;
    const size_t length = lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    // The second byte's range shuts out overlong forms, surrogates and values past U+10FFFF.
    const uint8_t secondLow = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
    const uint8_t secondHigh = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
    char32_t value = lead & (0x7F >> length);
    for (size_t i = 1; i < length; ++i) {
        if (i == ABytes.size())
            return 0;
        const uint8_t b = ABytes[i];
        if (b < (i == 1 ? secondLow : 0x80) || b > (i == 1 ? secondHigh : 0xBF))
            return i;
        value = (value << 6) | (b & 0x3F);
    }
    AChar = value;
    return length;
}

/// Appends the set byte of each character of the UTF-8 text ASource (DefaultChar for a character
/// the set lacks and for each ill-formed part) and returns the bytes used: all of them but, unless
/// AFinal, a sequence that the end cuts short.
size_t AppendSetBytes(const TCharLookup& ASetBytes, std::span<const uint8_t> ASource, bool AFinal, std::string& AOut)
{
    const size_t start = AOut.size();
    AOut.resize(start + ASource.size()); // never more characters than bytes
    auto* dest = reinterpret_cast<uint8_t*>(AOut.data() + start);
    size_t used = 0;
    while (used < ASource.size()) {
        char32_t c = ASource[used];
        size_t length = 1;
        if (c >= 0xC2 && c <= 0xDF && used + 1 < ASource.size() && (ASource[used + 1] & 0xC0) == 0x80) {
            c = ((c & 0x1F) << 6) | (ASource[used + 1] & 0x3F); // the common two-byte form, read inline
            length = 2;
        } else if (c >= 0x80) {
            length = ReadUtf8Char(ASource.subspan(used), c);
            if (length == 0 && !AFinal)
                break;
            if (length == 0)
                length = ASource.size() - used;
        }
        *dest++ = ASetBytes.Find(c);
        used += length;
    }
    AOut.resize(static_cast<size_t>(reinterpret_cast<char*>(dest) - AOut.data()));
    return used;
}

/// True when AText lies in the memory of AString.
bool Overlaps(std::string_view AText, const std::string& AString) noexcept
{
    const std::less<const char*> before;
    return !before(AText.data(), AString.data()) && before(AText.data(), AString.data() + AString.capacity());
}

/// How one call converts: unchanged, byte by byte through a table, or (when the ANSI code page is
/// UTF-8 and not the set's local code page) between set bytes and UTF-8.
class TConversion
{
public:
    /// The conversion to (AToSet) or from ACharSet for the ANSI code page in force now.
    static TConversion For(std::string_view ACharSet, bool AToSet)
    {
        const TixCharSetInfo& info = TixTranslator::GetCharSetInfo(ACharSet);
        if (info.Name.empty())
            return TConversion();
        const auto index = static_cast<size_t>(&info - detail::CharSetTable.data());
        const os::UINT ansiCodePage = os::GetACP();
        if (LocalCodePages[index] == ansiCodePage)
            return TConversion(AToSet ? &info.ToTable : &info.FromTable);
        const TComposedTables& composed = ComposedTables(index, ansiCodePage);
        if (!composed.Utf8)
            return TConversion(AToSet ? &composed.ToSet : &composed.FromSet);
        return TConversion(&composed, AToSet);
    }

    /// True when the output has as many bytes as the input.
    bool KeepsLength() const noexcept { return FComposed == nullptr; }

    /// Converts the whole of ASource into ADestination (which may hold ASource itself).
    void Text(std::string_view ASource, std::string& ADestination) const
    {
        if (!KeepsLength()) {
            // Writes into ADestination's own memory unless that holds the source.
            std::string separate;
            std::string& result = Overlaps(ASource, ADestination) ? separate : ADestination;
            result.clear();
            Block(AsBytes(ASource), true, result);
            if (&result == &separate)
                ADestination = std::move(separate);
            return;
        }
        ADestination.resize(ASource.size());
        if (ASource.empty())
            return;
        auto* dest = reinterpret_cast<uint8_t*>(ADestination.data());
        const auto* source = reinterpret_cast<const uint8_t*>(ASource.data());
        if (FTable == nullptr)
            std::memmove(dest, source, ASource.size());
        else
            MapBytes(*FTable, source, dest, ASource.size());
    }

    /// Appends ASource converted to AOut and returns how many of its bytes were used: all of them
    /// but, unless AFinal, a UTF-8 sequence cut short by the end (it belongs to the next block).
    size_t Block(std::span<const uint8_t> ASource, bool AFinal, std::string& AOut) const
    {
        if (FComposed == nullptr) {
            const size_t start = AOut.size();
            AOut.resize(start + ASource.size());
            auto* dest = reinterpret_cast<uint8_t*>(AOut.data() + start);
            if (FTable == nullptr)
                std::copy(ASource.begin(), ASource.end(), dest);
            else
                MapBytes(*FTable, ASource.data(), dest, ASource.size());
            return ASource.size();
        }
        if (!FToSet) {
            AppendUtf8Chars(FComposed->FromSetUtf8, ASource, AOut);
            return ASource.size();
        }
        return AppendSetBytes(FComposed->SetBytes, ASource, AFinal, AOut);
    }

private:
    TConversion() = default;
    explicit TConversion(const TByteTable* ATable) : FTable(ATable) {}
    TConversion(const TComposedTables* AComposed, bool AToSet) : FComposed(AComposed), FToSet(AToSet) {}

    const TByteTable* FTable = nullptr;
    const TComposedTables* FComposed = nullptr;
    bool FToSet = false;
};

/// Restores a stream's position when it goes out of scope.
class TPositionKeeper
{
public:
    explicit TPositionKeeper(TStream& AStream) : FStream(AStream), FPosition(AStream.GetPosition()) {}
    ~TPositionKeeper()
    {
        try {
            FStream.SetPosition(FPosition);
        } catch (...) { // a destructor must not throw; the stream's state is already reported
        }
    }
    TPositionKeeper(const TPositionKeeper&) = delete;
    TPositionKeeper& operator=(const TPositionKeeper&) = delete;

private:
    TStream& FStream;
    int64_t FPosition;
};

void TranslateStream(std::string_view ACharSet, bool AToSet, TStream& ASource, TStream& ADestination)
{
    const TConversion conversion = TConversion::For(ACharSet, AToSet);
    TPositionKeeper sourcePosition(ASource);
    TPositionKeeper destinationPosition(ADestination);
    ASource.SetPosition(0);
    std::vector<uint8_t> block(static_cast<size_t>(StreamBlockSize));
    std::string converted;
    size_t pending = 0; // bytes of a sequence the previous block cut short, at the block's start
    for (;;) {
        const int64_t count = ASource.Read(block.data() + pending, StreamBlockSize - static_cast<int64_t>(pending));
        const bool final = count <= 0;
        const size_t available = pending + (final ? 0 : static_cast<size_t>(count));
        if (available == 0)
            break;
        converted.clear();
        const size_t used = conversion.Block(std::span<const uint8_t>(block.data(), available), final, converted);
        ADestination.WriteBuffer(converted.data(), static_cast<int64_t>(converted.size()));
        pending = available - used;
        std::memmove(block.data(), block.data() + used, pending);
        if (final)
            break;
    }
}

/// What an ill-formed UTF-8 part or a lone surrogate becomes.
constexpr char32_t ReplacementChar = 0xFFFD;

void AppendUtf8(std::string& AOut, char32_t AChar)
{
    if (AChar < 0x80) {
        AOut.push_back(static_cast<char>(AChar));
        return;
    }
    const size_t length = AChar < 0x800 ? 2 : AChar < 0x10000 ? 3 : 4;
    constexpr uint8_t LeadMarks[] = {0, 0, 0xC0, 0xE0, 0xF0};
    char bytes[4];
    for (size_t i = length - 1; i > 0; --i, AChar >>= 6)
        bytes[i] = static_cast<char>(0x80 | (AChar & 0x3F));
    bytes[0] = static_cast<char>(LeadMarks[length] | AChar);
    AOut.append(bytes, length);
}

bool IsHighSurrogate(char16_t AUnit) noexcept
{
    return AUnit >= 0xD800 && AUnit <= 0xDBFF;
}

bool IsLowSurrogate(char16_t AUnit) noexcept
{
    return AUnit >= 0xDC00 && AUnit <= 0xDFFF;
}

void AppendUtf16(std::u16string& AOut, char32_t AChar)
{
    if (AChar < 0x10000) {
        AOut.push_back(static_cast<char16_t>(AChar));
        return;
    }
    AChar -= 0x10000;
    AOut.push_back(static_cast<char16_t>(0xD800 + (AChar >> 10)));
    AOut.push_back(static_cast<char16_t>(0xDC00 + (AChar & 0x3FF)));
}

/// UTF-8 bytes with each ill-formed part (as Utf8Decode finds them) replaced by U+FFFD: the text
/// that decoding them and encoding the characters again as UTF-8 gives, without the detour.
std::string WellFormedUtf8(std::span<const uint8_t> ABytes)
{
    static constexpr std::string_view Replacement = "\xEF\xBF\xBD";
    constexpr uint64_t HighBits = 0x8080808080808080;
    std::string result;
    size_t kept = 0; // ABytes up to here are in result
    size_t i = 0;
    while (i < ABytes.size()) {
        uint64_t eight = 0;
        if (i + 8 <= ABytes.size() && (std::memcpy(&eight, ABytes.data() + i, 8), (eight & HighBits) == 0)) {
            i += 8;
            continue;
        }
        if (ABytes[i] < 0x80) {
            ++i;
            continue;
        }
        char32_t c = 0;
        const size_t length = ReadUtf8Char(ABytes.subspan(i), c);
        if (length != 0 && c != ReplacementChar) {
            i += length;
            continue;
        }
        // An ill-formed part (a sequence the end cuts short is one) or U+FFFD itself.
        if (result.empty())
            result.reserve(ABytes.size() + Replacement.size());
        result.append(reinterpret_cast<const char*>(ABytes.data()) + kept, i - kept);
        result.append(Replacement);
        i += length == 0 ? ABytes.size() - i : length;
        kept = i;
    }
    if (kept == 0)
        return std::string(reinterpret_cast<const char*>(ABytes.data()), ABytes.size());
    result.append(reinterpret_cast<const char*>(ABytes.data()) + kept, ABytes.size() - kept);
    return result;
}

} // namespace

int32_t TixTranslator::GetByteCount(std::string_view AText, std::string_view ACharSet)
{
    if (IsUtf8(ACharSet))
        return static_cast<int32_t>(Utf8Encode(StringToWide(AText, os::CP_ACP)).size());
    const TConversion conversion = TConversion::For(ACharSet, true);
    if (conversion.KeepsLength())
        return static_cast<int32_t>(AText.size());
    std::string bytes;
    conversion.Text(AText, bytes);
    return static_cast<int32_t>(bytes.size());
}

TixByteArray TixTranslator::GetBytes(std::string_view AText, std::string_view ACharSet)
{
    std::string bytes;
    if (IsUtf8(ACharSet))
        bytes = Utf8Encode(StringToWide(AText, os::CP_ACP));
    else
        TranslateTo(ACharSet, AText, bytes);
    const std::span<const uint8_t> view = AsBytes(bytes);
    return TixByteArray(view.begin(), view.end());
}

int32_t TixTranslator::GetBytes(std::string_view AText, uint8_t* ABuffer, std::string_view ACharSet, int32_t ACount)
{
    if (ABuffer == nullptr || ACount < 1)
        return 0;
    const TixByteArray bytes = GetBytes(AText, ACharSet);
    const size_t count = std::min(bytes.size(), static_cast<size_t>(ACount));
    std::copy_n(bytes.begin(), count, ABuffer);
    return static_cast<int32_t>(count);
}

std::string TixTranslator::GetString(std::span<const uint8_t> ABytes, std::string_view ACharSet)
{
    const std::string_view bytes(reinterpret_cast<const char*>(ABytes.data()), ABytes.size());
    if (IsUtf8(ACharSet))
        return os::GetACP() == os::CP_UTF8 ? WellFormedUtf8(ABytes) : WideToString(Utf8Decode(bytes), os::CP_ACP);
    std::string result;
    TranslateFrom(ACharSet, bytes, result);
    return result;
}

std::string TixTranslator::GetString(std::span<const uint8_t> ABytes, int32_t AIndex, int32_t ACount,
    std::string_view ACharSet)
{
    if (ACount < 1 || AIndex < 0 || static_cast<size_t>(AIndex) >= ABytes.size())
        return {};
    return GetString(ABytes.subspan(static_cast<size_t>(AIndex)).first(
                         std::min(static_cast<size_t>(ACount), ABytes.size() - static_cast<size_t>(AIndex))),
        ACharSet);
}

void TixTranslator::TranslateTo(std::string_view ACharSet, std::string_view ASource, std::string& ADestination)
{
    TConversion::For(ACharSet, true).Text(ASource, ADestination);
}

void TixTranslator::TranslateTo(std::string_view ACharSet, TStream& ASource, TStream& ADestination)
{
    TranslateStream(ACharSet, true, ASource, ADestination);
}

void TixTranslator::TranslateFrom(std::string_view ACharSet, std::string_view ASource, std::string& ADestination)
{
    TConversion::For(ACharSet, false).Text(ASource, ADestination);
}

void TixTranslator::TranslateFrom(std::string_view ACharSet, TStream& ASource, TStream& ADestination)
{
    TranslateStream(ACharSet, false, ASource, ADestination);
}

const TixCharSetInfo& TixTranslator::GetCharSetInfo(std::string_view ACharSet) noexcept
{
    for (const TixCharSetInfo& info : detail::CharSetTable) {
        if (SameText(info.Name, ACharSet))
            return info;
    }
    return NotFound;
}

os::UINT TixTranslator::GetLocalCodePage(std::string_view ACharSet) noexcept
{
    const TixCharSetInfo& info = GetCharSetInfo(ACharSet);
    if (info.Name.empty())
        return 0;
    return LocalCodePages[static_cast<size_t>(&info - detail::CharSetTable.data())];
}

std::string TixTranslator::Utf8Encode(std::u16string_view AWide)
{
    std::string result;
    result.reserve(AWide.size() * 3);
    for (size_t i = 0; i < AWide.size(); ++i) {
        char32_t c = AWide[i];
        if (IsHighSurrogate(AWide[i]) && i + 1 < AWide.size() && IsLowSurrogate(AWide[i + 1]))
            c = 0x10000 + ((c - 0xD800) << 10) + (AWide[++i] - 0xDC00);
        else if (IsHighSurrogate(AWide[i]) || IsLowSurrogate(AWide[i]))
            c = ReplacementChar;
        AppendUtf8(result, c);
    }
    return result;
}

std::u16string TixTranslator::Utf8Decode(std::string_view AText)
{
    std::u16string result;
    result.reserve(AText.size());
    const std::span<const uint8_t> bytes = AsBytes(AText);
    for (size_t i = 0; i < bytes.size();) {
        if (bytes[i] < 0x80) {
            result.push_back(bytes[i++]);
            continue;
        }
        char32_t c = ReplacementChar;
        const size_t length = ReadUtf8Char(bytes.subspan(i), c);
        // A sequence the end cuts short is one ill-formed part.
        i += length == 0 ? bytes.size() - i : length;
        AppendUtf16(result, c);
    }
    return result;
}

size_t TixTranslator::CharLength(std::string_view AText) noexcept
{
    if (AText.empty())
        return 0;
    if (static_cast<uint8_t>(AText[0]) < 0x80 || os::GetACP() != os::CP_UTF8)
        return 1;
    char32_t c = 0;
    const size_t length = ReadUtf8Char(AsBytes(AText), c);
    return length == 0 ? AText.size() : length;
}

std::u32string TixTranslator::AnsiToCodePoints(std::string_view AText)
{
    // ASCII is the same in every ANSI code page; only the runs of other bytes are converted.
    const auto isAscii = [](char AChar) { return static_cast<uint8_t>(AChar) < 0x80; };
    std::u32string result;
    result.reserve(AText.size());
    for (auto at = AText.begin(); at != AText.end();) {
        const auto run = std::find_if(at, AText.end(), [&](char AChar) { return !isAscii(AChar); });
        result.append(at, run);
        at = std::find_if(run, AText.end(), isAscii);
        const std::u16string wide = StringToWide(std::string_view(run, at), os::CP_ACP);
        for (size_t i = 0; i < wide.size(); ++i) {
            if (IsHighSurrogate(wide[i]) && i + 1 < wide.size() && IsLowSurrogate(wide[i + 1])) {
                result.push_back(0x10000 + ((char32_t{wide[i]} - 0xD800) << 10) + (wide[i + 1] - 0xDC00));
                ++i;
            } else {
                result.push_back(wide[i]);
            }
        }
    }
    return result;
}

std::u16string TixTranslator::StringToWide(std::string_view AText, os::UINT ACodePage)
{
    if (AText.empty())
        return {};
    const int length = static_cast<int>(AText.size());
    const int needed = os::MultiByteToWideChar(ACodePage, os::MB_PRECOMPOSED, AText.data(), length, nullptr, 0);
    if (needed <= 0)
        return {};
    std::u16string result(static_cast<size_t>(needed), u'\0');
    const int written = os::MultiByteToWideChar(ACodePage, os::MB_PRECOMPOSED, AText.data(), length, result.data(), needed);
    result.resize(static_cast<size_t>(std::max(written, 0)));
    return result;
}

std::string TixTranslator::WideToString(std::u16string_view AWide, os::UINT ACodePage)
{
    if (AWide.empty())
        return {};
    const int length = static_cast<int>(AWide.size());
    const int needed = os::WideCharToMultiByte(ACodePage, WideToAnsiFlags, AWide.data(), length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0)
        return {};
    std::string result(static_cast<size_t>(needed), '\0');
    const int written = os::WideCharToMultiByte(ACodePage, WideToAnsiFlags, AWide.data(), length, result.data(), needed,
        nullptr, nullptr);
    result.resize(static_cast<size_t>(std::max(written, 0)));
    return result;
}

} // namespace ix
