// Quoted strings in parameter values: any text written as a quoted string reads back unchanged
// and adds no item of its own, and reading arbitrary values never crashes.
#include "FuzzInput.h"
#include "message/ixHeaderFieldList.h"

using namespace ix;

void ix::fuzz::CheckInput(const uint8_t* AData, size_t ASize)
{
    const std::string text = fuzz::Text(AData, ASize);
    TixHeaderFieldList list;
    TixHeaderFieldList::UnquoteItemValue(text, list.GetQuoteChars());
    list.GetItems(text);
    list.GetItemValue(text, "name");

    // Written quoted between two other items, the text comes back whole and alone.
    const std::string value = "attachment; a=1; name=" + TixHeaderFieldList::QuoteItemValue(text) + "; z=2";
    fuzz::Require(list.GetItemValue(value, "name") == text && list.GetItemValue(value, "z") == "2" &&
        list.GetItemValue(value, "a") == "1");
    const auto items = list.GetItems(value);
    fuzz::Require(items.size() == 3 && items[1].second == text);
}
