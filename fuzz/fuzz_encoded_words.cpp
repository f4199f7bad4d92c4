// RFC 2047 decoding of arbitrary header text: never crashes or raises; any text encoded as
// base64 words (and, without CR, as quoted-printable words) decodes back to itself.
#include "FuzzInput.h"
#include "core/ixSysUtils.h"
#include "message/ixMailHeader.h"
#include "platform/ixOsKernel.h"

using namespace ix;

namespace {

constexpr const char* CharSets[] = {"iso-8859-1", "utf-8", "koi8-r", ""};

void CheckRoundTrip(const std::string& AText, int32_t AWidth, TixEncodeMethod AMethod)
{
    const std::string words = TixMailHeaderFieldList::EncodeHeaderText(AText, "iso-8859-1", AWidth, AMethod);
    // Folded as a header carries them, each word on its own line after a TAB.
    const std::string folded = StringReplace(words, "\r\n", "\r\n\t");
    fuzz::Require(TixMailHeaderFieldList::DecodeEncodedWords(folded, "iso-8859-1") == AText);
}

} // namespace

void ix::fuzz::CheckInput(const uint8_t* AData, size_t ASize)
{
    // Every byte stands for a character of Windows-1252, so that any text round-trips.
    os::SetAnsiCodePage(1252);
    if (ASize < 1)
        return;
    const char* charSet = CharSets[AData[0] % std::size(CharSets)];
    const int32_t width = AData[0] / 4;
    const std::string text = fuzz::Text(AData, ASize, 1);

    TixMailHeaderFieldList::DecodeEncodedWords(text, charSet);

    // The round trip runs on a short prefix: at small widths every character is a word.
    const std::string prefix = text.substr(0, 256);
    if (!prefix.empty()) {
        CheckRoundTrip(prefix, width, cmBase64);
        if (prefix.find('\r') == std::string::npos)
            CheckRoundTrip(prefix, width, cmQuotedPrintable);
    }
}
