// Base64 decoding of arbitrary text: never crashes; decoding in small batches and pieces gives
// the same bytes as decoding at once; what decodes without error encodes and decodes back.
#include <optional>

#include "../tests/support/PieceStream.h"
#include "FuzzInput.h"
#include "message/ixEncoder.h"

using namespace ix;

namespace {

/// The decoded bytes; none when decoding raised.
std::optional<std::string> DecodeFrom(TStream& ASource, TixEncodeErrorProcessing AErrors, int32_t ABatchSize)
{
    TixEncoder encoder;
    encoder.SetEncodeMethod(cmBase64);
    encoder.SetErrorProcessing(AErrors);
    encoder.SetBatchSize(ABatchSize);
    TMemoryStream destination;
    try {
        encoder.Decode(ASource, destination);
    } catch (const EixEncoderError& e) {
        fuzz::Require(e.ErrorCode() == -2 && AErrors == epStop);
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
    const TixEncodeErrorProcessing errors = options & 1 ? epContinue : epStop;

    TMemoryStream whole;
    whole.WriteText(text);
    whole.SetPosition(0);
    const auto once = DecodeFrom(whole, errors, TixEncoder::DefaultBatchSize);

    test::TPieceStream pieces(text, 1 + (options >> 4));
    fuzz::Require(DecodeFrom(pieces, errors, 1 + (options >> 1 & 7)) == once);
    fuzz::Require(errors != epContinue || once);
    if (once)
        fuzz::Require(TixEncoder::DecodeWith(cmBase64, TixEncoder::EncodeWith(cmBase64, *once)) == *once);
}
