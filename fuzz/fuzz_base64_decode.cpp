// Base64 decoding of arbitrary text: never crashes; decoding in small batches and pieces gives
// the same bytes as decoding at once; what decodes without error encodes and decodes back.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "../tests/message/piece_stream.h"
#include "message/ixEncoder.h"

using namespace ix;

namespace {

struct TOutcome
{
    std::string Bytes;
    bool Raised = false;
};

TOutcome DecodeFrom(TStream& ASource, TixEncodeErrorProcessing AErrors, int32_t ABatchSize)
{
    TixEncoder encoder;
    encoder.SetEncodeMethod(cmBase64);
    encoder.SetErrorProcessing(AErrors);
    encoder.SetBatchSize(ABatchSize);
    TMemoryStream destination;
    TOutcome outcome;
    try {
        encoder.Decode(ASource, destination);
    } catch (const EixEncoderError& e) {
        if (e.ErrorCode() != -2 || AErrors != epStop)
            std::abort();
        outcome.Raised = true;
    }
    outcome.Bytes.assign(destination.View());
    return outcome;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize)
{
    if (ASize < 1)
        return 0;
    const uint8_t options = AData[0];
    const std::string text(reinterpret_cast<const char*>(AData + 1), ASize - 1);
    const TixEncodeErrorProcessing errors = options & 1 ? epContinue : epStop;

    TMemoryStream whole;
    whole.WriteText(text);
    whole.SetPosition(0);
    const TOutcome once = DecodeFrom(whole, errors, TixEncoder::DefaultBatchSize);

    test::TPieceStream pieces(text, 1 + (options >> 4));
    const TOutcome batched = DecodeFrom(pieces, errors, 1 + (options >> 1 & 7));
    if (once.Raised != batched.Raised || (!once.Raised && once.Bytes != batched.Bytes))
        std::abort();
    if (errors == epContinue && once.Raised)
        std::abort();

    if (!once.Raised) {
        const std::string encoded = TixEncoder::EncodeWith(cmBase64, once.Bytes);
        if (TixEncoder::DecodeWith(cmBase64, encoded) != once.Bytes)
            std::abort();
    }
    return 0;
}
