// Decoding arbitrary text with one transfer encoding, built once per method (IX_FUZZ_METHOD:
// fuzz_base64_decode, fuzz_qp_decode, fuzz_uu_decode). The first byte picks the options. Decoding
// never crashes, and only base64 told to stop at bad characters may raise (its own error);
// decoding in pieces and small batches gives the same bytes as decoding at once; uudecoding
// writes at most 63 bytes per input byte; the decoded bytes encode at the line width the first
// byte picks, and decode back.
#include <optional>

#include "../tests/support/PieceStream.h"
#include "FuzzInput.h"
#include "message/ixEncoder.h"

using namespace ix;

namespace {

/// The bytes AEncoder decodes from ASource; none when decoding raised.
std::optional<std::string> Decoded(TixEncoder& AEncoder, TStream& ASource)
{
    TMemoryStream destination;
    try {
        AEncoder.Decode(ASource, destination);
    } catch (const EixEncoderError& e) {
        fuzz::Require(e.ErrorCode() == -2 && IX_FUZZ_METHOD == cmBase64 && AEncoder.GetErrorProcessing() == epStop);
        return std::nullopt;
    }
    return std::string(destination.View());
}

} // namespace

void ix::fuzz::CheckInput(const uint8_t* AData, size_t ASize)
{
    if (ASize < 1)
        return;
    const uint8_t options = AData[0];
    const std::string text = fuzz::Text(AData, ASize, 1);
    TixEncoder encoder;
    encoder.SetEncodeMethod(IX_FUZZ_METHOD);
    encoder.SetErrorProcessing(options & 1 ? epContinue : epStop);

    TMemoryStream whole;
    whole.WriteText(text);
    whole.SetPosition(0);
    const auto once = Decoded(encoder, whole);
    encoder.SetBatchSize(1 + (options >> 1 & 7));
    test::TPieceStream pieces(text, 1 + (options >> 4));
    fuzz::Require(Decoded(encoder, pieces) == once);
    if (!once)
        return;
    fuzz::Require(IX_FUZZ_METHOD != cmUUEncode || once->size() <= 63 * text.size());

    encoder.SetCharsPerLine(options / 2);
    encoder.SetSuppressCrlf(options & 0x40);
    fuzz::Require(encoder.DecodeString(encoder.EncodeString(*once)) == *once);
}
