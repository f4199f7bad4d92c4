// Loading arbitrary lines as a message: never crashes, hangs or leaks; only meStop may raise, and
// only the decoder's error; every body's positions lie inside the source.
#include <memory>

#include "FuzzInput.h"
#include "message/ixMailMessage.h"

using namespace ix;

namespace {

void CheckPositions(const TixMessageBodies& ABodies, int32_t ALineCount)
{
    for (int32_t i = 0; i < ABodies.Count(); ++i) {
        const TixMessageBody& body = ABodies[i];
        fuzz::Require(body.GetHeaderStart() >= 0 && body.GetHeaderStart() <= ALineCount && body.GetEncodedStart() >= 0 &&
            body.GetEncodedStart() <= ALineCount && body.GetEncodedLines() >= 0);
        if (const auto* multipart = dynamic_cast<const TixMultipartBody*>(&body))
            CheckPositions(multipart->GetBodies(), ALineCount);
    }
}

} // namespace

void ix::fuzz::CheckInput(const uint8_t* AData, size_t ASize)
{
    if (ASize < 1)
        return;
    const auto mode = static_cast<TixMessageErrorProcessing>(AData[0] % 3);
    TStringList source;
    source.SetText(fuzz::Text(AData, ASize, 1));

    TixMailMessage message;
    message.SetErrorProcessing(mode);
    message.OnSaveAttachment = [](TObject*, TixMessageBody*, std::string&, std::unique_ptr<TStream>& AData, bool&) {
        AData = std::make_unique<TMemoryStream>();
    };
    if (!fuzz::Completes<EixEncoderError>([&] { message.LoadMessage(source); })) {
        fuzz::Require(mode == meStop);
        return;
    }
    CheckPositions(message.GetBodies(), source.Count());
    message.MessageText();
    message.GetAttachmentList();
}
