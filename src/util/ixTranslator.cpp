#include "util/ixTranslator.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/ixStreams.h"
#include "core/ixSysUtils.h"
#include "platform/ixOsKernel.h"
#include "util/internal/ixTranslatorTables.h"

namespace ix {

namespace {

constexpr std::string_view Utf8Name = "utf-8";
/// WC_COMPOSITECHECK | WC_DISCARDNS | WC_SEPCHARS | WC_DEFAULTCHAR.
constexpr os::DWORD WideToAnsiFlags = 0x270;
constexpr int64_t StreamBlockSize = 64 * 1024;

bool IsUtf8(std::string_view ACharSet) noexcept
{
    return SameText(ACharSet, Utf8Name);
}

constexpr std::array<uint8_t, 256> IdentityTable() noexcept
{
    std::array<uint8_t, 256> result{};
    for (size_t i = 0; i < result.size(); ++i)
        result[i] = static_cast<uint8_t>(i);
    return result;
}

const TixCharSetInfo NotFound{{}, IdentityTable(), IdentityTable()};

/// ACount bytes of ASource through ATable into ADest (which may be ASource).
void MapBytes(const std::array<uint8_t, 256>& ATable, const uint8_t* ASource, uint8_t* ADest, size_t ACount) noexcept
{
    const uint8_t* table = ATable.data();
    for (size_t i = 0; i < ACount; ++i)
        ADest[i] = table[ASource[i]];
}

const std::array<uint8_t, 256>* FindTable(std::string_view ACharSet, bool AToSet) noexcept
{
    const TixCharSetInfo& info = TixTranslator::GetCharSetInfo(ACharSet);
    if (info.Name.empty())
        return nullptr;
    return AToSet ? &info.ToTable : &info.FromTable;
}

void TranslateText(std::string_view ACharSet, bool AToSet, std::string_view ASource, std::string& ADestination)
{
    ADestination.resize(ASource.size());
    const std::array<uint8_t, 256>* table = FindTable(ACharSet, AToSet);
    if (ASource.empty())
        return;
    auto* dest = reinterpret_cast<uint8_t*>(ADestination.data());
    const auto* source = reinterpret_cast<const uint8_t*>(ASource.data());
    if (table == nullptr)
        std::memmove(dest, source, ASource.size());
    else
        MapBytes(*table, source, dest, ASource.size());
}

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
    const std::array<uint8_t, 256>* table = FindTable(ACharSet, AToSet);
    TPositionKeeper sourcePosition(ASource);
    TPositionKeeper destinationPosition(ADestination);
    ASource.SetPosition(0);
    std::vector<uint8_t> block(static_cast<size_t>(StreamBlockSize));
    for (;;) {
        const int64_t count = ASource.Read(block.data(), StreamBlockSize);
        if (count <= 0)
            break;
        if (table != nullptr)
            MapBytes(*table, block.data(), block.data(), static_cast<size_t>(count));
        ADestination.WriteBuffer(block.data(), count);
    }
}

void AppendUtf8(std::string& AOut, char16_t AUnit)
{
    const unsigned w = AUnit;
    if (w < 0x80) {
        AOut.push_back(static_cast<char>(w));
    } else if (w < 0x800) {
        AOut.push_back(static_cast<char>(0xC0 | (w >> 6)));
        AOut.push_back(static_cast<char>(0x80 | (w & 0x3F)));
    } else {
        AOut.push_back(static_cast<char>(0xE0 | (w >> 12)));
        AOut.push_back(static_cast<char>(0x80 | ((w >> 6) & 0x3F)));
        AOut.push_back(static_cast<char>(0x80 | (w & 0x3F)));
    }
}

/// Reads UTF-8 the lenient way: the end of the input reads as a NUL byte.
class TUtf8Reader
{
public:
    explicit TUtf8Reader(std::string_view AText) : FText(AText) {}

    bool AtEnd() const noexcept { return FIndex >= FText.size(); }
    uint8_t Next() noexcept
    {
        const uint8_t result = AtEnd() ? 0 : static_cast<uint8_t>(FText[FIndex]);
        ++FIndex;
        return result;
    }

private:
    std::string_view FText;
    size_t FIndex = 0;
};

bool IsContinuation(uint8_t AByte) noexcept
{
    return (AByte & 0xC0) == 0x80;
}

/// What a byte that should have continued a sequence stands for.
char16_t BadSequence(uint8_t AByte) noexcept
{
    return AByte == ' ' ? u' ' : u'\x80';
}

/// Decodes the sequence that starts with ALead (not ASCII).
char16_t DecodeSequence(uint8_t ALead, TUtf8Reader& AReader) noexcept
{
    unsigned value = ALead & 0x3F;
    if ((ALead & 0x20) != 0) {
        const uint8_t second = AReader.Next();
        if (!IsContinuation(second))
            return BadSequence(second);
        value = (value << 6) | (second & 0x3F);
    }
    const uint8_t last = AReader.Next();
    if (!IsContinuation(last))
        return BadSequence(last);
    return static_cast<char16_t>(((value << 6) | (last & 0x3F)) & 0xFFFF);
}

std::span<const uint8_t> AsBytes(std::string_view AText) noexcept
{
    return {reinterpret_cast<const uint8_t*>(AText.data()), AText.size()};
}

} // namespace

int32_t TixTranslator::GetByteCount(std::string_view AText, std::string_view ACharSet)
{
    if (IsUtf8(ACharSet))
        return static_cast<int32_t>(Utf8Encode(StringToWide(AText, os::CP_ACP)).size());
    return static_cast<int32_t>(AText.size());
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
        return WideToString(Utf8Decode(bytes), os::CP_ACP);
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
    TranslateText(ACharSet, true, ASource, ADestination);
}

void TixTranslator::TranslateTo(std::string_view ACharSet, TStream& ASource, TStream& ADestination)
{
    TranslateStream(ACharSet, true, ASource, ADestination);
}

void TixTranslator::TranslateFrom(std::string_view ACharSet, std::string_view ASource, std::string& ADestination)
{
    TranslateText(ACharSet, false, ASource, ADestination);
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

std::string TixTranslator::Utf8Encode(std::u16string_view AWide)
{
    std::string result;
    result.reserve(AWide.size() * 3);
    for (char16_t unit : AWide)
        AppendUtf8(result, unit);
    return result;
}

std::u16string TixTranslator::Utf8Decode(std::string_view AText)
{
    std::u16string result;
    result.reserve(AText.size());
    TUtf8Reader reader(AText);
    while (!reader.AtEnd()) {
        const uint8_t lead = reader.Next();
        result.push_back(lead < 0x80 ? char16_t{lead} : DecodeSequence(lead, reader));
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
