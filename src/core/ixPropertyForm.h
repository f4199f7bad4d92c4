// The text form of a component's settings: its published properties (core/ixProperties) that
// differ from their defaults, as a JSON object. Enumerations are written by value name, sets as
// arrays of value names, lists of texts as arrays, owned objects as nested objects (left out
// when all their properties are at their defaults), collections as arrays of their items' objects
// (left out when empty); a property without a default is always written. Texts are the ANSI
// code page's bytes and must be UTF-8 to be written.
#pragma once

#include "core/ixClasses.h"
#include "core/ixProperties.h"

#include <string>
#include <string_view>

namespace ix {

/// The published properties of AObject that differ from their defaults, as JSON text ("{}"
/// when there are none). Raises EConvertError naming a text property that is not UTF-8.
std::string WritePropertyForm(const TPersistent& AObject);

/// AValue, a value of AProperty, as JSON text on one line ("ctImplicit", ["tfUseTLS12"], 110).
std::string PropertyValueText(const TPublishedProperty& AProperty, const TPropertyValue& AValue);

/// Sets the published properties of AObject that the JSON object AText names, in the order of
/// its table; the others keep their values. A component is marked as loading meanwhile
/// (BeginLoading/EndLoading). Raises EConvertError naming the property ("TixPop3.UseTLS") for
/// an unknown name, a value of the wrong type or out of range, or an unknown value name, and
/// for text that is not a JSON object; nothing is set then.
void ReadPropertyForm(TPersistent& AObject, std::string_view AText);

} // namespace ix
