// Walks over the body tree that give the message's text and its attachment lists.
#pragma once

#include <string_view>

#include "core/ixStrings.h"

namespace ix {

class TixMessageBodies;
class TixTextBody;
class TixAttachmentList;
class TixImageList;

namespace internal {

/// The first text body of type AContentType, depth-first in list order; null when none.
TixTextBody* FindTextBody(const TixMessageBodies& ABodies, std::string_view AContentType);
/// Appends the lines of the text bodies (of type AContentType, or all when it is empty); a
/// multipart body is entered only while nothing has been collected.
void CollectTexts(const TixMessageBodies& ABodies, std::string_view AContentType, TStrings& ALines);
/// Adds the image bodies of all levels to AImages and the other attachments to AAttachments.
void CollectAttachments(const TixMessageBodies& ABodies, TixAttachmentList& AAttachments, TixImageList& AImages);

} // namespace internal
} // namespace ix
