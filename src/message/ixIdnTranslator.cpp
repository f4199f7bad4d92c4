#include "message/ixIdnTranslator.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "core/ixStrings.h"
#include "message/internal/ixPunycode.h"
#include "util/ixTranslator.h"
#include "util/ixUtils.h"

namespace ix {

namespace {

// Punycode parameters (RFC 3492, section 5).
constexpr int32_t Base = 36;
constexpr int32_t TMin = 1;
constexpr int32_t TMax = 26;
constexpr int32_t Skew = 38;
constexpr int32_t Damp = 700;
constexpr int32_t InitialBias = 72;
constexpr char32_t InitialN = 128;
constexpr char Delimiter = '-';
constexpr std::string_view AcePrefix = "xn--";
constexpr int32_t MaxInt = std::numeric_limits<int32_t>::max();

constexpr std::string_view BadInput = "Bad input value for the IDN translator";
constexpr std::string_view Overflow = "Input value needs wider integers to translate";

[[noreturn]] void Raise(std::string_view AMessage)
{
    throw EixIdnError(std::string(AMessage));
}

/// The character of digit value ADigit: 0 to 25 are "a" to "z", 26 to 35 are "0" to "9".
char EncodeDigit(int32_t ADigit)
{
    if (ADigit < 0 || ADigit >= Base)
        Raise(BadInput);
    return static_cast<char>(ADigit < 26 ? 'a' + ADigit : '0' + (ADigit - 26));
}

/// The bias after a code point (RFC 3492, section 6.1).
int32_t Adapt(int32_t ADelta, int32_t ANumPoints, bool AFirstTime)
{
    ADelta = AFirstTime ? ADelta / Damp : ADelta / 2;
    ADelta += ADelta / ANumPoints;
    int32_t k = 0;
    while (ADelta > (Base - TMin) * TMax / 2) {
        ADelta /= Base - TMin;
        k += Base;
    }
    return k + (Base - TMin + 1) * ADelta / (ADelta + Skew);
}

/// Appends the variable-length digits of AValue with thresholds from ABias.
void AppendNumber(std::string& AOutput, int32_t AValue, int32_t ABias)
{
    for (int32_t k = Base;; k += Base) {
        const int32_t t = k <= ABias ? TMin : k >= ABias + TMax ? TMax : k - ABias;
        if (AValue < t)
            break;
        AOutput += EncodeDigit(t + (AValue - t) % (Base - t));
        AValue = (AValue - t) / (Base - t);
    }
    AOutput += EncodeDigit(AValue);
}

void Increment(int32_t& ADelta)
{
    if (ADelta == MaxInt)
        Raise(Overflow);
    ++ADelta;
}

} // namespace

namespace detail {

std::string PunycodeEncode(std::u32string_view ACodePoints)
{
    std::string output;
    for (const char32_t c : ACodePoints)
        if (c < InitialN)
            output += static_cast<char>(c);
    const size_t basicCount = output.size();
    if (basicCount > 0)
        output += Delimiter;
    if (ACodePoints.size() >= static_cast<size_t>(MaxInt))
        Raise(Overflow);
    const auto length = static_cast<int32_t>(ACodePoints.size());
    auto handled = static_cast<int32_t>(basicCount);
    char32_t n = InitialN;
    int32_t delta = 0;
    int32_t bias = InitialBias;
    while (handled < length) {
        char32_t m = std::numeric_limits<char32_t>::max();
        for (const char32_t c : ACodePoints)
            if (c >= n)
                m = std::min(m, c);
        if (m - n > static_cast<char32_t>((MaxInt - delta) / (handled + 1)))
            Raise(Overflow);
        delta += static_cast<int32_t>(m - n) * (handled + 1);
        n = m;
        for (const char32_t c : ACodePoints) {
            if (c < n)
                Increment(delta);
            if (c != n)
                continue;
            AppendNumber(output, delta, bias);
            bias = Adapt(delta, handled + 1, handled == static_cast<int32_t>(basicCount));
            delta = 0;
            ++handled;
        }
        Increment(delta);
        ++n;
    }
    return output;
}

} // namespace detail

bool TixIdnTranslator::IsBasic(char AChar) noexcept
{
    return static_cast<uint8_t>(AChar) < 128;
}

bool TixIdnTranslator::IsAscii(std::string_view AText) noexcept
{
    return std::all_of(AText.begin(), AText.end(), IsBasic);
}

std::string TixIdnTranslator::EncodeLabel(std::string_view ALabel)
{
    if (IsAscii(ALabel))
        return std::string(ALabel);
    // Punycode encodes characters, not the bytes that hold them in the ANSI code page.
    return std::string(AcePrefix) + detail::PunycodeEncode(TixTranslator::AnsiToCodePoints(ALabel));
}

std::string TixIdnTranslator::EncodeDomain(std::string_view ADomain)
{
    TStringList labels;
    SplitText(ADomain, labels, '.');
    for (int32_t i = 0; i < labels.Count(); ++i)
        labels.Put(i, EncodeLabel(labels[i]));
    return labels.Join(".");
}

} // namespace ix
