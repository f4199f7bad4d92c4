// Parameter items of arbitrary field values: reading (RFC 2231 pieces, encoded words, plain),
// removing and clearing never crash or raise; any value written as an extended parameter
// reads back unchanged.
#include "FuzzInput.h"
#include "core/ixStrings.h"
#include "core/ixSysUtils.h"
#include "message/ixMailHeader.h"
#include "platform/ixOsKernel.h"

using namespace ix;

namespace {

constexpr const char* ItemNames[] = {"filename*", "filename", "name", "name*", "", "charset", "x*0*", "boundary"};

void CheckExtendedRoundTrip(const std::string& AValue, int32_t AWidth)
{
    if (Trim(AValue).empty())
        return;
    TStringList source{"Content-Disposition: attachment", ""};
    TixMailHeaderFieldList list("iso-8859-1", AWidth, cmNone);
    list.Parse(0, source);
    list.AddEncodedFieldItem(0, "filename*", AValue);
    fuzz::Require(list.GetDecodedItemValue(list.GetFieldValue(0), "filename*") == AValue);
}

} // namespace

void ix::fuzz::CheckInput(const uint8_t* AData, size_t ASize)
{
    // Every byte stands for a character of Windows-1252, so that any text round-trips.
    os::SetAnsiCodePage(1252);
    if (ASize < 1)
        return;
    const std::string_view item = ItemNames[AData[0] % std::size(ItemNames)];
    const int32_t width = AData[0] / 2;
    const std::string value = fuzz::Text(AData, ASize, 1);

    TixMailHeaderFieldList list("utf-8", width, cmNone);
    list.GetDecodedItemValue(value, item);
    fuzz::Require(!list.GetRfc2231Mode());
    list.RemoveItem(value, item);
    list.ClearItemValue(value, item);

    CheckExtendedRoundTrip(value, width);
}
