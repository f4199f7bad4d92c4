#include "message/internal/ixMessageShared.h"

#include <algorithm>
#include <limits>

#include "message/ixMailHeader.h"
#include "util/ixUtils.h"

namespace ix::internal {

std::string_view TrimView(std::string_view AText) noexcept
{
    while (!AText.empty() && static_cast<uint8_t>(AText.front()) <= ' ')
        AText.remove_prefix(1);
    while (!AText.empty() && static_cast<uint8_t>(AText.back()) <= ' ')
        AText.remove_suffix(1);
    return AText;
}

bool IsBlankLines(const TStrings& ALines)
{
    for (int32_t i = 0; i < ALines.Count(); ++i)
        if (!TrimView(ALines.GetView(i)).empty())
            return false;
    return true;
}

std::string FirstToken(TixHeaderFieldList& AHeader, std::string_view AName)
{
    return AHeader.GetItemValue(AHeader.GetFieldValue(AName), "");
}

std::string BoundaryOf(TixMailHeaderFieldList& AHeader, std::string_view AContentType)
{
    std::string boundary = AHeader.GetItemValue(AContentType, "boundary");
    return boundary.empty() ? AHeader.GetDecodedItemValue(AContentType, "boundary*") : boundary;
}

TixEncodeMethod TransferEncodingOf(std::string_view AValue, TixEncodeMethod ADefault)
{
    if (SameText(AValue, "quoted-printable"))
        return cmQuotedPrintable;
    if (SameText(AValue, "base64"))
        return cmBase64;
    return ADefault;
}

void CopyHeaderLines(const TixHeaderFieldList& AHeader, TStrings& ARaw)
{
    ARaw.BeginUpdate();
    ARaw.Clear();
    for (int32_t line = AHeader.GetHeaderStart(); line < AHeader.GetHeaderEnd(); ++line)
        ARaw.AddView(AHeader.GetSource()->GetView(line));
    ARaw.EndUpdate();
}

void CollectExtraFields(TixMailHeaderFieldList& AHeader, const TStrings& AKnown, TStrings& AExtra)
{
    AExtra.BeginUpdate();
    AExtra.Clear();
    for (int32_t i = 0; i < AHeader.GetFieldCount(); ++i) {
        const std::string name = AHeader.GetFieldName(i);
        if (IndexOfString(AKnown, name, true) < 0)
            AExtra.Add(name + ": " + AHeader.GetFieldValue(i));
    }
    AExtra.EndUpdate();
}

int32_t ClampToInt32(int64_t AValue) noexcept
{
    return static_cast<int32_t>(std::min<int64_t>(AValue, std::numeric_limits<int32_t>::max()));
}

std::string_view FileNameWithoutPath(std::string_view AName) noexcept
{
    const size_t delimiter = AName.find_last_of("/\\:");
    return delimiter == std::string_view::npos ? AName : AName.substr(delimiter + 1);
}

} // namespace ix::internal
