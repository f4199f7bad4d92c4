#include "dkim/ixDkimCanonicalizer.h"

namespace ix {

namespace {

bool IsFoldingSpace(char AChar) noexcept
{
    return AChar == ' ' || AChar == '\t' || AChar == '\r' || AChar == '\n';
}

} // namespace

std::string TixDkimCanonicalizer::GetRawField(const TixDkimHeaderFieldList& AList, int32_t AIndex)
{
    const int32_t first = AList.GetFieldLine(AIndex);
    if (first < 0)
        return {};
    std::string result = AList.GetSource()->Get(first);
    const int32_t last = AList.GetFieldEnd(AIndex);
    for (int32_t i = first + 1; i <= last; ++i)
        result.append("\r\n").append(AList.GetSource()->Get(i));
    return result;
}

std::string TixDkimCanonicalizer::CanonicalizeRawField(std::string_view AField)
{
    const size_t colon = AField.find(':');
    if (colon == std::string_view::npos)
        return {};
    return CanonicalizeHeaderName(AField.substr(0, colon)) + ":" + CanonicalizeFieldText(AField.substr(colon + 1));
}

std::string TixDkimCanonicalizer::CanonicalizeHeaderField(TixDkimHeaderFieldList& AList, int32_t AIndex)
{
    const std::string raw = GetRawField(AList, AIndex);
    const size_t colon = raw.find(':');
    return colon == std::string::npos ? std::string() : CanonicalizeFieldText(std::string_view(raw).substr(colon + 1));
}

std::string TixDkimCanonicalizer::CanonicalizeHeader(TixDkimHeaderFieldList& AList, const TStrings& ASignedNames)
{
    AList.ResetUsedFields();
    std::string result;
    for (int32_t i = 0; i < ASignedNames.Count(); ++i) {
        const int32_t field = AList.NextFieldIndex(ASignedNames[i]);
        if (field >= 0)
            result += CanonicalizeRawField(GetRawField(AList, field));
    }
    return result;
}

std::string TixDkimCanonicalizer::CanonicalizeHeader(TStrings& AMessage, const TStrings& ASignedNames)
{
    TixDkimHeaderFieldList list;
    list.Parse(0, AMessage);
    return CanonicalizeHeader(list, ASignedNames);
}

std::string TixDkimCanonicalizer::CanonicalizeBody(TStrings& AMessage)
{
    TixDkimHeaderFieldList list;
    const int32_t end = list.Parse(0, AMessage);
    return CanonicalizeBodyFrom(AMessage, end + 1);
}

std::string TixDkimCanonicalizer::CanonicalizeBodyFrom(const TStrings& AMessage, int32_t AFirstLine)
{
    std::string result;
    for (int32_t i = AFirstLine; i < AMessage.Count(); ++i)
        result.append(CanonicalizeBodyLine(AMessage.GetView(i))).append("\r\n");
    // Trailing empty lines go; one line end stays after the last line with content.
    while (result.size() >= 4 && result.compare(result.size() - 4, 4, "\r\n\r\n") == 0)
        result.resize(result.size() - 2);
    if (result == "\r\n")
        result.clear();
    return result.empty() ? EmptyBody() : result;
}

// ---- simple ---------------------------------------------------------------------------------

std::string TixDkimSimpleCanonicalizer::CanonicalizeFieldText(std::string_view AValue)
{
    return std::string(AValue).append("\r\n");
}

// ---- relaxed --------------------------------------------------------------------------------

std::string TixDkimRelaxedCanonicalizer::ReduceWhitespace(std::string_view AText)
{
    std::string result;
    result.reserve(AText.size());
    bool pending = false;
    for (const char c : AText) {
        if (IsFoldingSpace(c)) {
            pending = true;
            continue;
        }
        if (pending)
            result += ' ';
        pending = false;
        result += c;
    }
    return result;
}

std::string TixDkimRelaxedCanonicalizer::CanonicalizeBodyLine(std::string_view ALine)
{
    return ReduceWhitespace(ALine);
}

std::string TixDkimRelaxedCanonicalizer::CanonicalizeFieldText(std::string_view AValue)
{
    const size_t first = AValue.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos)
        return "\r\n";
    return ReduceWhitespace(AValue.substr(first)).append("\r\n");
}

std::string TixDkimRelaxedCanonicalizer::CanonicalizeHeaderName(std::string_view AName)
{
    return LowerCase(Trim(AName));
}

} // namespace ix
