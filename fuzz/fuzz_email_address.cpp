// Address texts: parsing single addresses and address lists never crashes or raises; a name
// and a plain mailbox written as a full address parse back unchanged.
#include <algorithm>

#include "FuzzInput.h"
#include "core/ixStrings.h"
#include "core/ixSysUtils.h"
#include "message/ixEmailAddress.h"
#include "message/ixMailHeader.h"

using namespace ix;

namespace {

/// The name a full address written from AName is expected to give back: printable, without
/// surrounding blanks, and not wrapped in the single quotes or parentheses that parsing removes.
bool IsRoundTripName(const std::string& AName)
{
    const auto control = [](char AChar) { return static_cast<uint8_t>(AChar) < 32 || AChar == 127; };
    if (AName.empty() || Trim(AName) != AName || std::any_of(AName.begin(), AName.end(), control))
        return false;
    const bool wrapped = AName.size() >= 2 &&
        ((AName.front() == '\'' && AName.back() == '\'') || (AName.front() == '(' && AName.back() == ')'));
    return !wrapped;
}

void CheckRoundTrip(const std::string& AName)
{
    if (!IsRoundTripName(AName) || AName == "box@example.test")
        return;
    const std::string full = TixEmailAddressItem::BuildFullAddress(AName, "box@example.test");
    std::string name;
    std::string address;
    fuzz::Require(TixEmailAddressItem::ParseFullAddress(full, name, address) && name == AName &&
        address == "box@example.test");
}

} // namespace

void ix::fuzz::CheckInput(const uint8_t* AData, size_t ASize)
{
    const std::string text = fuzz::Text(AData, ASize);

    TixEmailAddressItem item;
    item.SetFullAddress(text);
    item.GetFullAddress();

    TStringList source;
    source.SetText("To: " + text);
    TixMailHeaderFieldList list("utf-8", 76, cmNone);
    list.Parse(0, source);
    TixEmailAddressList addresses;
    list.GetDecodedEmailList("to", addresses);
    list.GetDecodedEmail("to");

    CheckRoundTrip(text);
}
