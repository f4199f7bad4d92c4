// Loading arbitrary text as a message: its lines, cut into a line buffer in chunks the input
// chooses, are a string list's lines; the load never crashes, hangs or leaks; only meStop may
// raise, and only the decoder's error; every body's positions lie inside the source.
#include <memory>

#include "FuzzInput.h"
#include "core/ixLineBuffer.h"
#include "message/ixMailMessage.h"
#include "util/ixUtils.h"

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
    TMemoryStream text;
    text.WriteText(fuzz::Text(AData, ASize, 1));
    TLineBuffer source;
    TStringList lines;
    for (TStrings* list : {static_cast<TStrings*>(&source), static_cast<TStrings*>(&lines)}) {
        TixStringsUtils splitter(*list);
        splitter.SetBatchSize(AData[0] / 3); // 0: the whole text at once
        text.Seek(0, soBeginning);
        splitter.AddTextStream(text);
    }
    fuzz::Require(source.Count() == lines.Count());
    for (int32_t i = 0; i < lines.Count(); ++i)
        fuzz::Require(source.GetView(i) == lines[i]);

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
