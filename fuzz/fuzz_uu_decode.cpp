// Uudecoding of arbitrary text: never crashes or raises, never writes more than 63 bytes per
// input line; the decoded bytes encode and decode back at the line width the input picks.
#include "FuzzInput.h"
#include "message/ixEncoder.h"

using namespace ix;

void ix::fuzz::CheckInput(const uint8_t* AData, size_t ASize)
{
    if (ASize < 1)
        return;
    const std::string text = fuzz::Text(AData, ASize, 1);
    const std::string decoded = TixEncoder::DecodeWith(cmUUEncode, text);
    fuzz::Require(decoded.size() <= 63 * text.size());

    TixEncoder encoder;
    encoder.SetEncodeMethod(cmUUEncode);
    encoder.SetCharsPerLine(AData[0]);
    encoder.SetSuppressCrlf(AData[0] % 2 == 1);
    fuzz::Require(encoder.DecodeString(encoder.EncodeString(decoded)) == decoded);
}
