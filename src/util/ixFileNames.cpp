#include "util/ixFileNames.h"

#include "platform/ixOsKernel.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace ix {

namespace {

/// An extension longer than this is not an extension worth keeping whole when shortening.
constexpr size_t MaxKeptExtension = 16;
constexpr std::string_view ReservedChars = "\"*:<>?|";

bool IsSeparator(char AChar) noexcept
{
    return AChar == '/' || AChar == '\\';
}

/// The last component of the path AName that names something other than "." or "..".
std::string_view LastComponent(std::string_view AName) noexcept
{
    while (!AName.empty()) {
        const auto separator = std::find_if(AName.rbegin(), AName.rend(), IsSeparator);
        const auto start = static_cast<size_t>(AName.rend() - separator);
        const std::string_view component = AName.substr(start);
        if (!component.empty() && component != "." && component != "..")
            return component;
        AName = AName.substr(0, start == 0 ? 0 : start - 1);
    }
    return {};
}

std::string ReplaceUnsafeChars(std::string_view AName)
{
    std::string result(AName);
    for (char& c : result) {
        const auto value = static_cast<unsigned char>(c);
        if (value < 0x20 || value == 0x7F || ReservedChars.find(c) != std::string_view::npos)
            c = '_';
    }
    return result;
}

void TrimEnds(std::string& AName)
{
    const size_t first = AName.find_first_not_of(". ");
    if (first == std::string::npos) {
        AName.clear();
        return;
    }
    AName.erase(0, first);
    AName.erase(AName.find_last_not_of(". ") + 1);
}

bool IsDeviceName(std::string_view AName) noexcept
{
    std::string_view stem = AName.substr(0, AName.find('.'));
    while (!stem.empty() && stem.back() == ' ')
        stem.remove_suffix(1);
    std::string upper(stem);
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    static constexpr std::array<std::string_view, 4> plain = {"CON", "PRN", "AUX", "NUL"};
    if (std::find(plain.begin(), plain.end(), upper) != plain.end())
        return true;
    return upper.size() == 4 && (upper.starts_with("COM") || upper.starts_with("LPT")) && upper[3] >= '1'
        && upper[3] <= '9';
}

/// The largest length up to AMax at which AText can be cut without splitting a character of
/// the ANSI code page.
size_t CharBoundary(std::string_view AText, size_t AMax) noexcept
{
    if (AMax >= AText.size())
        return AText.size();
    if (os::GetACP() == os::CP_UTF8)
        while (AMax > 0 && (static_cast<unsigned char>(AText[AMax]) & 0xC0) == 0x80)
            --AMax;
    return AMax;
}

void Shorten(std::string& AName, size_t AMaxLength)
{
    if (AName.size() <= AMaxLength)
        return;
    const size_t dot = AName.rfind('.');
    std::string extension;
    if (dot != std::string::npos && dot > 0 && AName.size() - dot <= MaxKeptExtension + 1
        && AName.size() - dot < AMaxLength)
        extension = AName.substr(dot);
    const std::string_view stem = std::string_view(AName).substr(0, AName.size() - extension.size());
    AName = std::string(stem.substr(0, CharBoundary(stem, AMaxLength - extension.size()))) + extension;
}

} // namespace

std::string SafeFileName(std::string_view AName, size_t AMaxLength)
{
    std::string name = ReplaceUnsafeChars(LastComponent(AName));
    const size_t maxLength = std::max(AMaxLength, DefaultSafeFileName.size());
    TrimEnds(name);
    Shorten(name, maxLength);
    TrimEnds(name);
    if (IsDeviceName(name)) {
        name.insert(0, 1, '_');
        Shorten(name, maxLength);
    }
    return name.empty() ? std::string(DefaultSafeFileName) : name;
}

} // namespace ix
