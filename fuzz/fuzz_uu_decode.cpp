// Uudecoding of arbitrary text: never crashes or raises, never writes more than 63 bytes per
// input line; the decoded bytes encode and decode back at the line width the input picks.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "message/ixEncoder.h"

using namespace ix;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize)
{
    if (ASize < 1)
        return 0;
    const int32_t width = AData[0];
    const std::string text(reinterpret_cast<const char*>(AData + 1), ASize - 1);

    const std::string decoded = TixEncoder::DecodeWith(cmUUEncode, text);
    if (decoded.size() > 63 * text.size())
        std::abort();

    TixEncoder encoder;
    encoder.SetEncodeMethod(cmUUEncode);
    encoder.SetCharsPerLine(width);
    encoder.SetSuppressCrlf(width % 2 == 1);
    if (encoder.DecodeString(encoder.EncodeString(decoded)) != decoded)
        std::abort();
    return 0;
}
