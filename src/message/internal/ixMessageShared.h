// Small readers shared by the message, its bodies and the body parser: header values,
// header lines and blank text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/ixStrings.h"
#include "message/ixEncoder.h"

namespace ix {

class TixHeaderFieldList;
class TixMailHeaderFieldList;

namespace internal {

/// Longest text taken from a Received field or a uuencode "begin" line.
constexpr size_t MaxLineTail = 1000;

/// AText without leading and trailing characters up to the blank, without a copy.
std::string_view TrimView(std::string_view AText) noexcept;
/// True when every line of ALines is blank.
bool IsBlankLines(const TStrings& ALines);
/// The first token of a field's value (the media type of "Content-Type").
std::string FirstToken(TixHeaderFieldList& AHeader, std::string_view AName);
/// The "boundary" parameter of a "Content-Type" value, plain or in the RFC 2231 form.
std::string BoundaryOf(TixMailHeaderFieldList& AHeader, std::string_view AContentType);
/// The encoding a "Content-Transfer-Encoding" value names; ADefault for anything but
/// quoted-printable and base64 (7bit, 8bit, binary, x-uuencode...).
TixEncodeMethod TransferEncodingOf(std::string_view AValue, TixEncodeMethod ADefault);
/// Copies the header lines of AHeader (from its start to its empty line) into ARaw.
void CopyHeaderLines(const TixHeaderFieldList& AHeader, TStrings& ARaw);
/// Fills AExtra with "Name: value" for every field of AHeader whose name is not in AKnown; the
/// value is unfolded, not decoded.
void CollectExtraFields(TixMailHeaderFieldList& AHeader, const TStrings& AKnown, TStrings& AExtra);
/// The text after the last path delimiter ("/", "\" or ":").
std::string_view FileNameWithoutPath(std::string_view AName) noexcept;
/// AValue, or the largest 32-bit signed value when it is larger.
int32_t ClampToInt32(int64_t AValue) noexcept;

} // namespace internal
} // namespace ix
