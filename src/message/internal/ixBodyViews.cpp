#include "message/internal/ixBodyViews.h"

#include "message/ixMailMessage.h"
#include "util/ixUtils.h"

namespace ix::internal {

TixTextBody* FindTextBody(const TixMessageBodies& ABodies, std::string_view AContentType)
{
    for (int32_t i = 0; i < ABodies.Count(); ++i) {
        TixMessageBody& body = ABodies[i];
        if (auto* text = dynamic_cast<TixTextBody*>(&body); text && SameText(text->GetContentType(), AContentType))
            return text;
        if (auto* multipart = dynamic_cast<TixMultipartBody*>(&body))
            if (TixTextBody* found = FindTextBody(multipart->GetBodies(), AContentType))
                return found;
    }
    return nullptr;
}

void CollectTexts(const TixMessageBodies& ABodies, std::string_view AContentType, TStrings& ALines)
{
    for (int32_t i = 0; i < ABodies.Count(); ++i) {
        TixMessageBody& body = ABodies[i];
        if (auto* text = dynamic_cast<TixTextBody*>(&body)) {
            if (AContentType.empty() || SameText(text->GetContentType(), AContentType))
                ALines.AddStrings(text->GetStrings());
        } else if (auto* multipart = dynamic_cast<TixMultipartBody*>(&body); multipart && ALines.IsEmpty()) {
            CollectTexts(multipart->GetBodies(), AContentType, ALines);
        }
    }
}

void CollectAttachments(const TixMessageBodies& ABodies, TixAttachmentList& AAttachments, TixImageList& AImages)
{
    for (int32_t i = 0; i < ABodies.Count(); ++i) {
        TixMessageBody& body = ABodies[i];
        if (auto* image = dynamic_cast<TixImageBody*>(&body))
            AImages.Add(*image);
        else if (auto* attachment = dynamic_cast<TixAttachmentBody*>(&body))
            AAttachments.Add(*attachment);
        else if (auto* multipart = dynamic_cast<TixMultipartBody*>(&body))
            CollectAttachments(multipart->GetBodies(), AAttachments, AImages);
    }
}

} // namespace ix::internal
