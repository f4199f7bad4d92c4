// Quoted-printable decoding of arbitrary text: never crashes or raises; decoding in pieces gives
// the same bytes as decoding at once; the decoded bytes encode and decode back.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "../tests/message/piece_stream.h"
#include "message/ixEncoder.h"

using namespace ix;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize)
{
    if (ASize < 1)
        return 0;
    const int64_t piece = 1 + AData[0] % 16;
    const int32_t width = AData[0] / 2;
    const std::string text(reinterpret_cast<const char*>(AData + 1), ASize - 1);

    const std::string decoded = TixEncoder::DecodeWith(cmQuotedPrintable, text);

    TixEncoder encoder;
    encoder.SetEncodeMethod(cmQuotedPrintable);
    encoder.SetCharsPerLine(width);
    test::TPieceStream pieces(text, piece);
    TMemoryStream destination;
    encoder.Decode(pieces, destination);
    if (destination.View() != decoded)
        std::abort();

    if (encoder.DecodeString(encoder.EncodeString(decoded)) != decoded)
        std::abort();
    return 0;
}
