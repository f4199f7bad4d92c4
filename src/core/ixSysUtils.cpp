#include "core/ixSysUtils.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <limits>

namespace ix {

void RaiseListIndexError(int64_t AIndex)
{
    throw EListError("List index out of bounds (" + IntToStr(AIndex) + ")");
}

// ---- Formatting ---------------------------------------------------------------------------

namespace {

struct TFormatSpec
{
    bool LeftAlign = false;
    int Width = -1;
    int Precision = -1;
    char Kind = 0;
};

[[noreturn]] void RaiseFormatError(std::string_view AFormat)
{
    throw EConvertError("Format '" + std::string(AFormat) + "' invalid or incompatible with argument");
}

int ReadNumber(std::string_view AFormat, size_t& AIndex)
{
    int value = 0;
    while (AIndex < AFormat.size() && AFormat[AIndex] >= '0' && AFormat[AIndex] <= '9') {
        value = std::min(value * 10 + (AFormat[AIndex] - '0'), 100000);
        ++AIndex;
    }
    return value;
}

TFormatSpec ReadSpec(std::string_view AFormat, size_t& AIndex)
{
    TFormatSpec directive;
    if (AIndex < AFormat.size() && AFormat[AIndex] == '-') {
        directive.LeftAlign = true;
        ++AIndex;
    }
    if (AIndex < AFormat.size() && AFormat[AIndex] >= '0' && AFormat[AIndex] <= '9')
        directive.Width = ReadNumber(AFormat, AIndex);
    if (AIndex < AFormat.size() && AFormat[AIndex] == '.') {
        ++AIndex;
        directive.Precision = ReadNumber(AFormat, AIndex);
    }
    if (AIndex >= AFormat.size())
        RaiseFormatError(AFormat);
    directive.Kind = AFormat[AIndex++];
    return directive;
}

std::string Pad(std::string AText, const TFormatSpec& ASpec)
{
    if (ASpec.Width > 0 && AText.size() < static_cast<size_t>(ASpec.Width)) {
        const std::string fill(static_cast<size_t>(ASpec.Width) - AText.size(), ' ');
        AText = ASpec.LeftAlign ? AText + fill : fill + AText;
    }
    return AText;
}

std::string FormatInteger(int64_t AValue, const TFormatSpec& ASpec)
{
    const bool hex = ASpec.Kind == 'x' || ASpec.Kind == 'X';
    const bool negative = AValue < 0 && (ASpec.Kind == 'd');
    uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(AValue) : static_cast<uint64_t>(AValue);
    if (ASpec.Kind == 'u' && AValue < 0)
        magnitude = static_cast<uint32_t>(AValue);
    char digits[32];
    auto res = std::to_chars(digits, digits + sizeof digits, magnitude, hex ? 16 : 10);
    std::string text(digits, res.ptr);
    if (ASpec.Kind == 'X')
        text = UpperCase(text);
    if (ASpec.Precision > 0 && text.size() < static_cast<size_t>(ASpec.Precision))
        text.insert(0, static_cast<size_t>(ASpec.Precision) - text.size(), '0');
    if (negative)
        text.insert(0, 1, '-');
    return text;
}

std::string FormatFloat(double AValue, const TFormatSpec& ASpec)
{
    char pattern[16];
    const int precision = ASpec.Precision >= 0 ? ASpec.Precision : (ASpec.Kind == 'f' ? 2 : 15);
    std::snprintf(pattern, sizeof pattern, "%%.%d%c", precision, ASpec.Kind == 'n' ? 'f' : ASpec.Kind);
    char buffer[512];
    std::snprintf(buffer, sizeof buffer, pattern, AValue);
    return buffer;
}

std::string FormatOne(std::string_view AFormat, const TFormatSpec& ASpec, const TFormatArg& AArg)
{
    switch (ASpec.Kind) {
    case 'd':
    case 'u':
    case 'x':
    case 'X':
        if (const auto* value = std::get_if<int64_t>(&AArg))
            return Pad(FormatInteger(*value, ASpec), ASpec);
        break;
    case 's':
        if (const auto* value = std::get_if<std::string>(&AArg)) {
            std::string text = *value;
            if (ASpec.Precision >= 0 && text.size() > static_cast<size_t>(ASpec.Precision))
                text.resize(static_cast<size_t>(ASpec.Precision));
            return Pad(std::move(text), ASpec);
        }
        break;
    case 'f':
    case 'g':
    case 'e':
    case 'n':
        if (const auto* value = std::get_if<double>(&AArg))
            return Pad(FormatFloat(*value, ASpec), ASpec);
        if (const auto* value = std::get_if<int64_t>(&AArg))
            return Pad(FormatFloat(static_cast<double>(*value), ASpec), ASpec);
        break;
    default:
        break;
    }
    RaiseFormatError(AFormat);
}

} // namespace

std::string FormatArgs(std::string_view AFormat, const std::vector<TFormatArg>& AArgs)
{
    std::string result;
    result.reserve(AFormat.size() + 16 * AArgs.size());
    size_t next = 0;
    for (size_t i = 0; i < AFormat.size();) {
        const char c = AFormat[i++];
        if (c != '%') {
            result += c;
            continue;
        }
        if (i < AFormat.size() && AFormat[i] == '%') {
            result += '%';
            ++i;
            continue;
        }
        const TFormatSpec directive = ReadSpec(AFormat, i);
        if (next >= AArgs.size())
            RaiseFormatError(AFormat);
        result += FormatOne(AFormat, directive, AArgs[next++]);
    }
    return result;
}

// ---- Numbers ------------------------------------------------------------------------------

std::string IntToStr(int64_t AValue)
{
    char digits[24];
    auto res = std::to_chars(digits, digits + sizeof digits, AValue);
    return std::string(digits, res.ptr);
}

std::string IntToHex(uint64_t AValue, int ADigits)
{
    return FormatInteger(static_cast<int64_t>(AValue), TFormatSpec{false, -1, ADigits, 'X'});
}

bool TryStrToInt64(std::string_view AText, int64_t& AValue)
{
    size_t i = 0;
    while (i < AText.size() && AText[i] == ' ')
        ++i;
    bool negative = false;
    if (i < AText.size() && (AText[i] == '-' || AText[i] == '+'))
        negative = AText[i++] == '-';
    int base = 10;
    if (i < AText.size() && AText[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < AText.size() && AText[i] == '0' && (AText[i + 1] == 'x' || AText[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= AText.size())
        return false;
    uint64_t magnitude = 0;
    auto res = std::from_chars(AText.data() + i, AText.data() + AText.size(), magnitude, base);
    if (res.ec != std::errc() || res.ptr != AText.data() + AText.size())
        return false;
    const uint64_t limit = static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) + (negative ? 1 : 0);
    if (magnitude > limit)
        return false;
    AValue = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
    return true;
}

bool TryStrToInt(std::string_view AText, int32_t& AValue)
{
    int64_t value = 0;
    if (!TryStrToInt64(AText, value) || value < std::numeric_limits<int32_t>::min()
        || value > std::numeric_limits<int32_t>::max())
        return false;
    AValue = static_cast<int32_t>(value);
    return true;
}

int64_t StrToInt64(std::string_view AText)
{
    int64_t value = 0;
    if (!TryStrToInt64(AText, value))
        throw EConvertError("'" + std::string(AText) + "' is not a valid integer value");
    return value;
}

int32_t StrToInt(std::string_view AText)
{
    int32_t value = 0;
    if (!TryStrToInt(AText, value))
        throw EConvertError("'" + std::string(AText) + "' is not a valid integer value");
    return value;
}

int32_t StrToIntDef(std::string_view AText, int32_t ADefault)
{
    int32_t value = 0;
    return TryStrToInt(AText, value) ? value : ADefault;
}

int64_t StrToInt64Def(std::string_view AText, int64_t ADefault)
{
    int64_t value = 0;
    return TryStrToInt64(AText, value) ? value : ADefault;
}

// ---- Text ---------------------------------------------------------------------------------

namespace {
bool IsTrimmed(char AChar) noexcept { return static_cast<unsigned char>(AChar) <= ' '; }
} // namespace

std::string TrimLeft(std::string_view AText)
{
    size_t first = 0;
    while (first < AText.size() && IsTrimmed(AText[first]))
        ++first;
    return std::string(AText.substr(first));
}

std::string TrimRight(std::string_view AText)
{
    size_t last = AText.size();
    while (last > 0 && IsTrimmed(AText[last - 1]))
        --last;
    return std::string(AText.substr(0, last));
}

std::string Trim(std::string_view AText)
{
    size_t first = 0;
    size_t last = AText.size();
    while (first < last && IsTrimmed(AText[first]))
        ++first;
    while (last > first && IsTrimmed(AText[last - 1]))
        --last;
    return std::string(AText.substr(first, last - first));
}

char UpCase(char AChar) noexcept
{
    return (AChar >= 'a' && AChar <= 'z') ? static_cast<char>(AChar - 'a' + 'A') : AChar;
}

namespace {
char LoCase(char AChar) noexcept
{
    return (AChar >= 'A' && AChar <= 'Z') ? static_cast<char>(AChar - 'A' + 'a') : AChar;
}
} // namespace

std::string UpperCase(std::string_view AText)
{
    std::string result(AText);
    for (char& c : result)
        c = UpCase(c);
    return result;
}

std::string LowerCase(std::string_view AText)
{
    std::string result(AText);
    for (char& c : result)
        c = LoCase(c);
    return result;
}

int CompareText(std::string_view A, std::string_view B) noexcept
{
    const size_t n = std::min(A.size(), B.size());
    for (size_t i = 0; i < n; ++i) {
        const auto a = static_cast<unsigned char>(UpCase(A[i]));
        const auto b = static_cast<unsigned char>(UpCase(B[i]));
        if (a != b)
            return a < b ? -1 : 1;
    }
    if (A.size() == B.size())
        return 0;
    return A.size() < B.size() ? -1 : 1;
}

bool SameText(std::string_view A, std::string_view B) noexcept
{
    return A.size() == B.size() && CompareText(A, B) == 0;
}

size_t Pos(std::string_view ASubStr, std::string_view AText, size_t AOffset) noexcept
{
    if (AOffset < 1 || ASubStr.empty() || AOffset > AText.size())
        return 0;
    const size_t found = AText.find(ASubStr, AOffset - 1);
    return found == std::string_view::npos ? 0 : found + 1;
}

std::string Copy(std::string_view AText, int64_t AIndex, int64_t ACount)
{
    if (AIndex < 1)
        AIndex = 1;
    if (ACount <= 0 || AIndex > static_cast<int64_t>(AText.size()))
        return {};
    return std::string(AText.substr(static_cast<size_t>(AIndex - 1), static_cast<size_t>(ACount)));
}

void Delete(std::string& AText, int64_t AIndex, int64_t ACount)
{
    if (AIndex < 1 || ACount <= 0 || AIndex > static_cast<int64_t>(AText.size()))
        return;
    AText.erase(static_cast<size_t>(AIndex - 1), static_cast<size_t>(ACount));
}

std::string StringReplace(std::string_view AText, std::string_view AOld, std::string_view ANew,
    bool AReplaceAll, bool AIgnoreCase)
{
    if (AOld.empty())
        return std::string(AText);
    const std::string haystack = AIgnoreCase ? UpperCase(AText) : std::string(AText);
    const std::string needle = AIgnoreCase ? UpperCase(AOld) : std::string(AOld);
    std::string result;
    size_t from = 0;
    for (;;) {
        const size_t found = haystack.find(needle, from);
        if (found == std::string::npos)
            break;
        result.append(AText.substr(from, found - from));
        result.append(ANew);
        from = found + AOld.size();
        if (!AReplaceAll)
            break;
    }
    result.append(AText.substr(from));
    return result;
}

bool StartsText(std::string_view APrefix, std::string_view AText) noexcept
{
    return AText.size() >= APrefix.size() && SameText(AText.substr(0, APrefix.size()), APrefix);
}

bool EndsText(std::string_view ASuffix, std::string_view AText) noexcept
{
    return AText.size() >= ASuffix.size() && SameText(AText.substr(AText.size() - ASuffix.size()), ASuffix);
}

} // namespace ix
