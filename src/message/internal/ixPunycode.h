// Punycode (RFC 3492) over code points; TixIdnTranslator feeds it the characters of a label.
#pragma once

#include <string>
#include <string_view>

namespace ix::detail {

/// The RFC 3492 encoding of ACodePoints: the basic code points, "-" when there were any, then
/// the deltas of the others. Raises EixIdnError when the arithmetic would overflow 32 bits.
std::string PunycodeEncode(std::u32string_view ACodePoints);

} // namespace ix::detail
