// Quoted-printable decoding of arbitrary text: never crashes or raises; decoding in pieces gives
// the same bytes as decoding at once; the decoded bytes encode and decode back.
#include "../tests/support/PieceStream.h"
#include "FuzzInput.h"
#include "message/ixEncoder.h"

using namespace ix;

void ix::fuzz::CheckInput(const uint8_t* AData, size_t ASize)
{
    if (ASize < 1)
        return;
    const std::string text = fuzz::Text(AData, ASize, 1);
    const std::string decoded = TixEncoder::DecodeWith(cmQuotedPrintable, text);

    TixEncoder encoder;
    encoder.SetEncodeMethod(cmQuotedPrintable);
    encoder.SetCharsPerLine(AData[0] / 2);
    test::TPieceStream pieces(text, 1 + AData[0] % 16);
    TMemoryStream destination;
    encoder.Decode(pieces, destination);
    fuzz::Require(destination.View() == decoded);
    fuzz::Require(encoder.DecodeString(encoder.EncodeString(decoded)) == decoded);
}
