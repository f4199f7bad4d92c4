#include "dkim/ixDkimUtils.h"

#include <algorithm>
#include <cctype>

namespace ix {

namespace {

constexpr std::string_view DkimWhitespace = " \t\r\n";

std::string_view TrimView(std::string_view AText)
{
    const size_t first = AText.find_first_not_of(DkimWhitespace);
    if (first == std::string_view::npos)
        return {};
    return AText.substr(first, AText.find_last_not_of(DkimWhitespace) - first + 1);
}

bool IsTagName(std::string_view AName) noexcept
{
    if (AName.empty() || !std::isalpha(static_cast<unsigned char>(AName[0])))
        return false;
    return std::all_of(AName.begin(), AName.end(),
        [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; });
}

int HexDigit(char AChar) noexcept
{
    if (AChar >= '0' && AChar <= '9')
        return AChar - '0';
    if (AChar >= 'A' && AChar <= 'F')
        return AChar - 'A' + 10;
    return -1;
}

} // namespace

void RaiseDkimError(const char* AText, int32_t ACode)
{
    throw EixDkimError(AText, ACode);
}

// ---- Tag lists ------------------------------------------------------------------------------

void TixDkimTagList::Parse(std::string_view AText, const char* AErrorText, int32_t AErrorCode)
{
    FTags.clear();
    size_t at = 0;
    while (at <= AText.size()) {
        const size_t end = std::min(AText.find(';', at), AText.size());
        const std::string_view item = TrimView(AText.substr(at, end - at));
        at = end + 1;
        if (item.empty()) {
            // Only the last element may be empty ("...; x=1;").
            if (end < AText.size() && !TrimView(AText.substr(at)).empty())
                RaiseDkimError(AErrorText, AErrorCode);
            continue;
        }
        const size_t equals = item.find('=');
        if (equals == std::string_view::npos)
            RaiseDkimError(AErrorText, AErrorCode);
        std::string name(TrimView(item.substr(0, equals)));
        if (!IsTagName(name) || Has(name))
            RaiseDkimError(AErrorText, AErrorCode);
        FTags.emplace_back(std::move(name), std::string(TrimView(item.substr(equals + 1))));
    }
}

bool TixDkimTagList::Has(std::string_view ATag) const noexcept
{
    return std::any_of(FTags.begin(), FTags.end(), [ATag](const auto& tag) { return tag.first == ATag; });
}

std::string TixDkimTagList::Value(std::string_view ATag) const
{
    const auto found = std::find_if(FTags.begin(), FTags.end(), [ATag](const auto& tag) { return tag.first == ATag; });
    return found == FTags.end() ? std::string() : found->second;
}

std::string RemoveWhitespace(std::string_view ASource)
{
    std::string result;
    result.reserve(ASource.size());
    for (const char c : ASource)
        if (DkimWhitespace.find(c) == std::string_view::npos)
            result += c;
    return result;
}

// ---- DKIM quoted-printable ------------------------------------------------------------------

std::string TixDkimQuotedPrintableEncoder::Encode(std::string_view AText)
{
    static constexpr char Digits[] = "0123456789ABCDEF";
    std::string result;
    result.reserve(AText.size());
    for (const char c : AText) {
        const auto b = static_cast<unsigned char>(c);
        if ((b >= 0x21 && b <= 0x3A) || b == 0x3C || (b >= 0x3E && b <= 0x7E)) {
            result += c;
        } else {
            result += '=';
            result += Digits[b >> 4];
            result += Digits[b & 0x0F];
        }
    }
    return result;
}

std::string TixDkimQuotedPrintableEncoder::Decode(std::string_view AText)
{
    std::string result;
    result.reserve(AText.size());
    for (size_t at = 0; at < AText.size(); ++at) {
        const int high = AText[at] == '=' && at + 2 < AText.size() ? HexDigit(AText[at + 1]) : -1;
        const int low = high >= 0 ? HexDigit(AText[at + 2]) : -1;
        if (low < 0) {
            result += AText[at];
            continue;
        }
        result += static_cast<char>(high * 16 + low);
        at += 2;
    }
    return result;
}

// ---- Header field list ----------------------------------------------------------------------

std::string TixDkimHeaderFieldList::GetFieldValueRaw(int32_t AIndex)
{
    const int32_t first = GetFieldLine(AIndex);
    if (first < 0)
        return {};
    const std::string& line = GetSource()->Get(first);
    const size_t colon = line.find(':');
    std::string result(TrimView(colon == std::string::npos ? std::string_view() : std::string_view(line).substr(colon + 1)));
    const int32_t last = GetFieldEnd(AIndex);
    for (int32_t i = first + 1; i <= last; ++i)
        result += TrimView(GetSource()->Get(i));
    return result;
}

int32_t TixDkimHeaderFieldList::NextFieldIndex(std::string_view AName)
{
    const std::string name = LowerCase(TrimView(AName));
    const int32_t used = FUsedFields.IndexOfName(name);
    const int32_t start = used >= 0 ? StrToIntDef(FUsedFields.GetValueFromIndex(used), 0) - 1 : GetFieldCount() - 1;
    for (int32_t i = start; i >= 0; --i) {
        if (GetFieldNames()[i] != name)
            continue;
        if (used >= 0)
            FUsedFields.Put(used, name + "=" + std::to_string(i));
        else
            FUsedFields.Add(name + "=" + std::to_string(i));
        return i;
    }
    if (used >= 0)
        FUsedFields.Put(used, name + "=-1");
    return -1;
}

} // namespace ix
