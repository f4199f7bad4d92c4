// TixMailMessage: cutting the source lines into bodies (MIME parts, the single part of a
// plain message, uuencoded blocks) and handing each body its data.
#include "message/ixMailMessage.h"

#include <algorithm>
#include <span>

#include "message/internal/ixBodyData.h"
#include "message/internal/ixMessageShared.h"
#include "message/ixMailHeader.h"
#include "util/ixUtils.h"

namespace ix {

using namespace internal;

namespace {

/// The first types that make a body an attachment.
constexpr std::string_view AttachmentTypes[] = {"application/", "message/", "audio/", "video/"};

bool StartsWithAny(std::string_view AText, std::span<const std::string_view> APrefixes) noexcept
{
    return std::any_of(APrefixes.begin(), APrefixes.end(),
        [AText](std::string_view APrefix) { return StartsText(APrefix, AText); });
}

/// A uuencode start line: "begin", a mode of digits and a file name (the name may be empty).
bool IsUUBeginLine(std::string_view ALine, std::string& AFileName)
{
    if (!StartsText("begin", ALine))
        return false;
    const size_t space = ALine.find(' ');
    if (space == std::string_view::npos)
        return false;
    std::string_view rest = ALine.substr(space + 1);
    while (!rest.empty() && static_cast<uint8_t>(rest.front()) <= ' ')
        rest.remove_prefix(1);
    const size_t second = rest.find(' ');
    if (second == std::string_view::npos)
        return false;
    const std::string_view mode = TrimView(rest.substr(0, second));
    if (mode.empty() || mode.find_first_not_of("0123456789") != std::string_view::npos)
        return false;
    AFileName = std::string(TrimView(rest.substr(second + 1, MaxLineTail)));
    return true;
}

bool IsUUEndLine(std::string_view ALine) noexcept
{
    return ALine.size() >= 3 && SameText(TrimView(ALine), "end");
}

} // namespace

TixMessageBody& TixMailMessage::CreateBody(TixMessageBodies& AList, std::string_view AContentType,
    std::string_view ADisposition)
{
    const bool attachment = SameText(ADisposition, "attachment");
    if (StartsText("multipart/", AContentType) && AList.GetLevel() < MaxNestingLevel)
        return AList.Add<TixMultipartBody>();
    if (StartsText("image/", AContentType) && !attachment)
        return AList.Add<TixImageBody>();
    if (attachment || StartsWithAny(AContentType, AttachmentTypes) || StartsText("image/", AContentType))
        return AList.Add<TixAttachmentBody>();
    if (StartsText("text/", AContentType))
        return AList.Add<TixTextBody>();
    return AList.Add<TixAttachmentBody>();
}

TixMessageBody& TixMailMessage::CreateSingleBody(TStrings& ASource, TixMessageBodies& AList)
{
    const bool attachment =
        SameText(FContentDisposition, "attachment") || StartsWithAny(FContentType, AttachmentTypes);
    TixMessageBody& body =
        attachment ? static_cast<TixMessageBody&>(AList.Add<TixAttachmentBody>()) : AList.Add<TixTextBody>();
    const TixMailMessage& settings = AList.GetOwner() ? *AList.GetOwner() : *this;
    TixMailHeaderFieldList header(settings.FCharSet, settings.FCharsPerLine, settings.GetEffectiveHeaderEncoding());
    header.Parse(0, ASource);
    body.ParseBodyHeader(header);
    body.ReadHeaderLines(header);
    return body;
}

TixMessageBody& TixMailMessage::CreateUUEncodedBody(TixMessageBodies& AList, const std::string& AFileName)
{
    auto& body = AList.Add<TixAttachmentBody>();
    body.SetFileName(AFileName);
    body.SetEncoding(cmUUEncode);
    return body;
}

void TixMailMessage::ParseBodies(TStrings& ASource)
{
    TParseScope parsing(*this);
    FDataStream->Reset(ASource);
    SetReleaseTarget(ASource);
    const bool multipart = IsMultipart();
    if (multipart)
        SplitMultipart(ASource);
    if (!multipart || FBodies->Count() == 0) {
        SplitSinglePart(ASource);
        RemoveEmptyTextBodies();
    }
    FDataStream->Clear();
}

TixMessageBody& TixMailMessage::StartPart(TStrings& ASource, int32_t ABoundaryLine, int32_t& AContentStart)
{
    // Part headers are read with the settings of the message that owns the bodies.
    const TixMailMessage& settings = FBodies->GetOwner() ? *FBodies->GetOwner() : *this;
    TixMailHeaderFieldList header(settings.FCharSet, settings.FCharsPerLine, settings.GetEffectiveHeaderEncoding());
    const int32_t count = ASource.Count();
    const int32_t headerEnd = header.Parse(ABoundaryLine + 1, ASource);
    TixMessageBody& body =
        CreateBody(*FBodies, FirstToken(header, "Content-Type"), FirstToken(header, "Content-Disposition"));
    body.ParseBodyHeader(header);
    body.ReadHeaderLines(header);
    // A header that runs to the end leaves its last line as content.
    AContentStart = headerEnd < count ? header.GetBodyStart() : std::max(count - 1, ABoundaryLine + 1);
    body.SetPosition(FLineOffset + ABoundaryLine + 1, FLineOffset + AContentStart);
    return body;
}

void TixMailMessage::SplitMultipart(TStrings& ASource)
{
    const std::string open = "--" + FBoundary;
    const int32_t count = ASource.Count();
    TixMessageBody* part = nullptr;
    int32_t contentStart = 0;
    for (int32_t i = 0; i < count;) {
        // Blanks after a boundary are transport padding (RFC 2046, section 5.1.1).
        std::string_view line = ASource.GetView(i);
        line = line.substr(0, line.find_last_not_of(" \t") + 1);
        const bool isOpen = line == open;
        const bool isClose = !isOpen && line.size() == open.size() + 2 && line.starts_with(open) && line.ends_with("--");
        if (!isOpen && !isClose) {
            if (part)
                FDataStream->AddLine(i);
            ++i;
            continue;
        }
        if (part)
            FinishBody(*part, i - contentStart);
        part = nullptr;
        if (isClose)
            return;
        part = &StartPart(ASource, i, contentStart);
        i = contentStart;
    }
    if (part)
        FinishBody(*part, count - contentStart);
}

void TixMailMessage::SplitSinglePart(TStrings& ASource)
{
    const int32_t count = ASource.Count();
    TixHeaderFieldList header;
    if (header.Parse(0, ASource) >= count)
        return; // the source is all header
    const int32_t start = header.GetBodyStart();
    TixMessageBody& single = CreateSingleBody(ASource, *FBodies);
    single.SetPosition(FLineOffset, FLineOffset + start);
    TixMessageBody* block = nullptr;
    std::string fileName;
    for (int32_t i = start; i < count; ++i) {
        const std::string_view line = ASource.GetView(i);
        if (IsUUBeginLine(line, fileName)) {
            SetMessageFormat(mfUUencode);
            FinishBody(block ? *block : single, 0);
            // The name comes from the message like any header value: no paths, no reserved characters.
            block = &CreateUUEncodedBody(*FBodies, TixAttachmentBody::MakeSafeFileName(fileName));
            block->SetPosition(FLineOffset + i, FLineOffset + i + 1);
            continue;
        }
        // "end" closes an open block; elsewhere it is a line of text like any other.
        if (block && FMessageFormat == mfUUencode && IsUUEndLine(line)) {
            FinishBody(*block, 0);
            block = nullptr;
            continue;
        }
        FDataStream->AddLine(i);
    }
    // A block without its "end" line keeps its data.
    if (block)
        FinishBody(*block, 0);
    FinishBody(single, count - start);
}

void TixMailMessage::FinishBody(TixMessageBody& ABody, int32_t ALineCount)
{
    if (FDataStream->IsEmpty())
        return;
    struct TClearOnExit
    {
        TixBodyDataStream& Data;
        ~TClearOnExit() { Data.Clear(); }
    } clear{*FDataStream};
    FDataStream->Seek(0, soBeginning);
    // The encoded size first, so that the destination can make room for the decoded data.
    const int64_t size = FDataStream->GetSize();
    if (ABody.TracksEncodedSize() && size > 0 && ALineCount > 0)
        ABody.SetEncodedSize(ClampToInt32(size), ALineCount);
    const std::unique_ptr<TStream> destination = ABody.GetDestinationStream();
    ABody.TrimTrailingCrlf(*FDataStream);
    FDataStream->Seek(0, soBeginning);
    if (destination) {
        // Ignoring a decoding error decodes the data again: its lines must stay until then.
        const TixMailMessage* message = ABody.GetMessage();
        FDataStream->SetReleasing(message && message->GetErrorProcessing() != meIgnore);
        ABody.DecodeData(*FDataStream, *destination);
        FDataStream->SetReleasing(false);
        ABody.DataAdded(*destination);
    }
    FDataStream->ReleaseLines();
}

void TixMailMessage::SetReleaseTarget(const TStrings& ASource)
{
    const TixMailMessage& root = FBodies->GetOwner() ? *FBodies->GetOwner() : *this;
    TStringList* lines = root.FReleasableSource;
    if (!lines)
        return;
    if (&ASource == lines) {
        FDataStream->SetReleaseTarget(lines, 0);
    } else if (const auto* range = dynamic_cast<const TixLineRange*>(&ASource); range && &range->GetBase() == lines) {
        FDataStream->SetReleaseTarget(lines, range->GetFirst());
    }
}

void TixMailMessage::RemoveEmptyTextBodies()
{
    for (int32_t i = FBodies->Count() - 1; i >= 0; --i) {
        auto* text = dynamic_cast<TixTextBody*>(&FBodies->GetItem(i));
        if (text && IsBlankLines(text->GetStrings()))
            FBodies->Delete(i);
    }
}

} // namespace ix
