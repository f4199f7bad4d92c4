// Loading arbitrary lines as a message: never crashes, hangs or leaks; only meStop may raise, and
// only the decoder's error; every body's positions lie inside the source.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "message/ixMailMessage.h"

using namespace ix;

namespace {

void CheckPositions(const TixMessageBodies& ABodies, int32_t ALineCount)
{
    for (int32_t i = 0; i < ABodies.Count(); ++i) {
        const TixMessageBody& body = ABodies[i];
        if (body.GetHeaderStart() < 0 || body.GetHeaderStart() > ALineCount || body.GetEncodedStart() < 0 ||
            body.GetEncodedStart() > ALineCount || body.GetEncodedLines() < 0)
            std::abort();
        if (const auto* multipart = dynamic_cast<const TixMultipartBody*>(&body))
            CheckPositions(multipart->GetBodies(), ALineCount);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize)
{
    if (ASize < 1)
        return 0;
    const auto mode = static_cast<TixMessageErrorProcessing>(AData[0] % 3);
    TStringList source;
    source.SetText(std::string_view(reinterpret_cast<const char*>(AData + 1), ASize - 1));

    TixMailMessage message;
    message.SetErrorProcessing(mode);
    message.OnSaveAttachment = [](TObject*, TixMessageBody*, std::string&, std::unique_ptr<TStream>& AData, bool&) {
        AData = std::make_unique<TMemoryStream>();
    };
    try {
        message.LoadMessage(source);
    } catch (const EixEncoderError&) {
        if (mode != meStop)
            std::abort();
        return 0;
    }
    CheckPositions(message.GetBodies(), source.Count());
    message.MessageText();
    message.GetAttachmentList();
    return 0;
}
