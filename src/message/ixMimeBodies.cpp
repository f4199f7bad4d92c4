#include "message/ixMimeBodies.h"

#include <filesystem>
#include <random>
#include <system_error>
#include <utility>

#include "message/internal/ixBodyData.h"
#include "message/internal/ixMessageComposer.h"
#include "message/internal/ixMessageShared.h"
#include "message/internal/ixPartContent.h"
#include "message/ixMailHeader.h"
#include "message/ixMailMessage.h"
#include "util/ixTranslator.h"
#include "util/ixUtils.h"

namespace ix {

using namespace internal;

namespace {

/// Characters a file name taken from a message may not hold (besides controls).
constexpr std::string_view UnsafeFileNameChars = "\"*/:<>?\\|";

/// When the content needs no decoding (AUnencoded), ASource is one run of source lines and
/// ADestination a part content: hands the lines on in ADestination where they stand instead
/// of copying them, and returns true.
bool ShareContentLines(bool AUnencoded, TStream& ASource, TStream& ADestination)
{
    int32_t first = 0;
    int32_t count = 0;
    auto* lines = dynamic_cast<TixBodyDataStream*>(&ASource);
    auto* content = dynamic_cast<TixPartContent*>(&ADestination);
    if (!AUnencoded || !lines || !content || !lines->GetSingleRun(first, count))
        return false;
    content->ShareLines(*lines);
    return true;
}

} // namespace

// ---- TixTextBody --------------------------------------------------------------------------

TixTextBody::TixTextBody(TixMessageBodies& AOwner) : TixMessageBody(AOwner) {}

void TixTextBody::InitBody()
{
    TixMessageBody::InitBody();
    FStrings.OnChange = [this](TObject*) {
        SelectEncoding();
        Changed();
    };
}

void TixTextBody::SetCharSet(const std::string& AValue)
{
    if (AssignIfChanged(FCharSet, AValue))
        Changed();
}

std::string TixTextBody::GetEffectiveCharSet() const
{
    const TixMailMessage* message = GetMessage();
    if (!message || message->IsMultipart())
        return FCharSet;
    return message->GetCharSet();
}

void TixTextBody::Assign(const TPersistent& ASource)
{
    TixMessageBody::Assign(ASource);
    if (const auto* source = dynamic_cast<const TixTextBody*>(&ASource)) {
        SetCharSet(source->FCharSet);
        FStrings.Assign(source->FStrings);
    }
}

void TixTextBody::ParseBodyHeader(TixMailHeaderFieldList& AHeader)
{
    TixMessageBody::ParseBodyHeader(AHeader);
    SetCharSet(AHeader.GetItemValue(AHeader.GetFieldValue("Content-Type"), "charset"));
    AHeader.SetCharSet(GetEffectiveCharSet());
}

std::unique_ptr<TStream> TixTextBody::GetDestinationStream()
{
    // A text has about as many lines and bytes as its encoded form: room for them at once, so
    // that the lines of a long text do not grow (and move) step by step.
    FStrings.SetCapacity(FStrings.Count() + GetEncodedLines());
    FStrings.ReserveText(GetEncodedSize());
    // When nothing reads the decoded bytes (no OnDataAdded handler) and a failed decoding
    // keeps what was decoded, they go straight into the lines without a copy of the text.
    const TixMailMessage* message = GetMessage();
    if (message && !message->OnDataAdded && message->GetErrorProcessing() == meExtractMaximumData)
        return std::make_unique<TixLinesStream>(FStrings, GetEffectiveCharSet());
    return std::make_unique<TixPartContent>();
}

void TixTextBody::DecodeData(TStream& ASource, TStream& ADestination)
{
    // Text that is not transfer-encoded is its own decoded data.
    const TixEncodeMethod encoding = GetEncoding();
    if (!ShareContentLines(encoding == cmNone || encoding == cm8Bit, ASource, ADestination))
        TixMessageBody::DecodeData(ASource, ADestination);
}

void TixTextBody::DataAdded(TStream& AStream)
{
    if (auto* lines = dynamic_cast<TixLinesStream*>(&AStream)) {
        lines->Finish();
    } else if (AStream.GetSize() > 0) {
        AStream.Seek(0, soBeginning);
        TixStringsUtils(FStrings, GetEffectiveCharSet()).AddTextStream(AStream);
    }
    TixMessageBody::DataAdded(AStream);
}

void TixTextBody::Clear()
{
    TixMessageBody::Clear();
    FStrings.Clear();
    SetContentType(std::string(TixMailMessage::DefaultContentType));
    const TixMailMessage* message = GetMessage();
    SetCharSet(message ? message->GetCharSet() : std::string());
}

void TixTextBody::WriteBodyData(TixBodyWriter& AWriter) const
{
    AWriter.WriteString(FStrings.GetText());
    AWriter.WriteString(FCharSet);
    TixMessageBody::WriteBodyData(AWriter);
}

void TixTextBody::ReadBodyData(TixBodyReader& AReader)
{
    FStrings.SetText(AReader.ReadString());
    SetCharSet(AReader.ReadString());
    TixMessageBody::ReadBodyData(AReader);
}

// ---- TixMultipartBody ---------------------------------------------------------------------

TixMultipartBody::TixMultipartBody(TixMessageBodies& AOwner) : TixMessageBody(AOwner) {}

TixMultipartBody::~TixMultipartBody() = default;

void TixMultipartBody::InitBody()
{
    TixMessageBody::InitBody();
    FMessage = TixMailMessage::CreateNested(GetOwner(), GetOwner().GetLevel() + 1);
}

void TixMultipartBody::SetContentType(const std::string& AValue)
{
    TixMessageBody::SetContentType(AValue);
    FMessage->SetContentType(AValue);
}

void TixMultipartBody::SetContentSubType(const std::string& AValue)
{
    if (AssignIfChanged(FContentSubType, AValue))
        Changed();
}

const std::string& TixMultipartBody::GetBoundary() const
{
    return FMessage->GetBoundary();
}

void TixMultipartBody::SetBoundary(const std::string& AValue)
{
    if (AValue == FMessage->GetBoundary())
        return;
    FMessage->SetBoundary(AValue);
    Changed();
}

TixMessageBodies& TixMultipartBody::GetBodies() const
{
    return FMessage->GetBodies();
}

void TixMultipartBody::Assign(const TPersistent& ASource)
{
    TixMessageBody::Assign(ASource);
    if (const auto* source = dynamic_cast<const TixMultipartBody*>(&ASource)) {
        SetContentSubType(source->FContentSubType);
        SetBoundary(source->GetBoundary());
        GetBodies().Assign(source->GetBodies());
    }
}

bool TixMultipartBody::TracksEncodedSize() const
{
    return false;
}

void TixMultipartBody::ParseBodyHeader(TixMailHeaderFieldList& AHeader)
{
    TixMessageBody::ParseBodyHeader(AHeader);
    const std::string contentType = AHeader.GetFieldValue("Content-Type");
    SetBoundary(BoundaryOf(AHeader, contentType));
    SetContentSubType(AHeader.GetItemValue(contentType, "type"));
    SetEncoding(cmNone);
}

std::unique_ptr<TStream> TixMultipartBody::GetDestinationStream()
{
    return std::make_unique<TixPartContent>();
}

void TixMultipartBody::DecodeData(TStream& ASource, TStream& ADestination)
{
    // The content of a multipart part is never transfer-encoded.
    if (!ShareContentLines(GetEncoding() == cmNone, ASource, ADestination))
        TixMessageBody::DecodeData(ASource, ADestination);
}

void TixMultipartBody::DataAdded(TStream& AStream)
{
    const TStrings* source = nullptr;
    int32_t first = 0;
    int32_t count = 0;
    if (auto* content = dynamic_cast<TixPartContent*>(&AStream); content && content->GetLines(source, first, count)) {
        TixLineRange lines(*source, first, count);
        ParseNested(lines);
        return;
    }
    TStringList lines;
    AStream.Seek(0, soBeginning);
    AddStreamToStrings(lines, AStream);
    ParseNested(lines);
}

void TixMultipartBody::ParseNested(TStrings& ALines)
{
    FMessage->SetLineOffset(GetEncodedStart());
    FMessage->ParseBodies(ALines);
    SetEncodedSize(GetEncodedSize(), ALines.Count());
}

void TixMultipartBody::Clear()
{
    TixMessageBody::Clear();
    GetBodies().Clear();
    SetContentType("multipart/mixed");
    SetContentSubType({});
    SetEncoding(cmNone);
    SetBoundary({});
}

void TixMultipartBody::WriteBodyData(TixBodyWriter& AWriter) const
{
    AWriter.WriteString(FContentSubType);
    GetBodies().WriteItems(AWriter);
    TixMessageBody::WriteBodyData(AWriter);
}

void TixMultipartBody::ReadBodyData(TixBodyReader& AReader)
{
    SetContentSubType(AReader.ReadString());
    GetBodies().ReadItems(AReader);
    TixMessageBody::ReadBodyData(AReader);
}

// ---- TixAttachmentBody --------------------------------------------------------------------

TixAttachmentBody::TixAttachmentBody(TixMessageBodies& AOwner) : TixMessageBody(AOwner) {}

std::string TixAttachmentBody::MakeSafeFileName(std::string_view AName)
{
    std::string result(AName);
    for (char& c : result)
        if (static_cast<uint8_t>(c) < ' ' || UnsafeFileNameChars.find(c) != std::string_view::npos)
            c = '_';
    if (!result.empty() && (result.back() == ' ' || result.back() == '.'))
        result.pop_back();
    // Nothing left, or only dots ("." and ".." name directories).
    if (result.find_first_not_of('.') == std::string::npos)
        return "_";
    return result;
}

void TixAttachmentBody::RegisterKnownFields(TStrings& AFields)
{
    TixMessageBody::RegisterKnownFields(AFields);
    AFields.Add("Content-Description");
    AFields.Add("Content-ID");
}

void TixAttachmentBody::SetContentID(const std::string& AValue)
{
    if (AssignIfChanged(FContentID, AValue))
        Changed();
}

void TixAttachmentBody::SetFileName(const std::string& AValue)
{
    SetFileNameOnly(AValue);
    SelectEncoding();
}

void TixAttachmentBody::SetFileNameOnly(const std::string& AValue)
{
    if (AssignIfChanged(FFileName, AValue))
        Changed();
}

void TixAttachmentBody::SetContentName(const std::string& AValue)
{
    if (AssignIfChanged(FContentName, AValue))
        Changed();
}

void TixAttachmentBody::Assign(const TPersistent& ASource)
{
    TixMessageBody::Assign(ASource);
    if (const auto* source = dynamic_cast<const TixAttachmentBody*>(&ASource)) {
        SetFileNameOnly(source->FFileName);
        SetContentID(source->FContentID);
        SetContentName(source->FContentName);
    }
}

TixEncodeMethod TixAttachmentBody::GetEncoding() const
{
    const TixMailMessage* message = GetMessage();
    if (message && message->GetMessageFormat() == mfUUencode)
        return cmUUEncode;
    return TixMessageBody::GetEncoding();
}

std::string TixAttachmentBody::ReadContentID(TixMailHeaderFieldList& AHeader)
{
    std::string id = AHeader.GetFieldValue("Content-ID");
    if (id.size() >= 2 && id.front() == '<' && id.back() == '>')
        id = id.substr(1, id.size() - 2);
    return id;
}

std::string TixAttachmentBody::ReadFileName(TixMailHeaderFieldList& AHeader, bool ATypeNameFirst)
{
    const std::string disposition = AHeader.GetFieldValue("Content-Disposition");
    const std::string contentType = AHeader.GetFieldValue("Content-Type");
    std::string name;
    if (ATypeNameFirst) {
        name = AHeader.GetDecodedItemValue(contentType, "name*");
        if (name.empty())
            name = AHeader.GetDecodedItemValue(contentType, "name");
    }
    if (name.empty())
        name = AHeader.GetDecodedItemValue(disposition, "filename*");
    if (name.empty())
        name = AHeader.GetDecodedItemValue(disposition, "filename");
    if (name.empty())
        name = AHeader.GetDecodedItemValue(contentType, "filename");
    if (name.empty()) {
        name = AHeader.GetDecodedFieldValue("Content-Description");
        if (name.size() > 3 && name[name.size() - 4] != '.')
            name += ".dat";
    }
    if (name.empty())
        name = AHeader.GetDecodedItemValue(contentType, "name*");
    if (name.empty())
        name = AHeader.GetDecodedItemValue(contentType, "name");
    if (name.empty() && SameText(GetContentType(), "message/rfc822") && AHeader.GetSource()) {
        // The embedded message's header starts right after this part's header.
        TixHeaderFieldList embedded;
        embedded.Parse(AHeader.GetBodyStart(), *AHeader.GetSource());
        name = embedded.GetFieldValue("Subject") + ".eml";
    }
    // Every source is untrusted: a name never carries a path or reserved characters.
    return name.empty() ? name : MakeSafeFileName(name);
}

void TixAttachmentBody::ParseBodyHeader(TixMailHeaderFieldList& AHeader)
{
    TixMessageBody::ParseBodyHeader(AHeader);
    SetFileName(ReadFileName(AHeader, false));
    SetContentID(ReadContentID(AHeader));
}

std::unique_ptr<TStream> TixAttachmentBody::GetDestinationStream()
{
    std::string fileName = FFileName;
    std::unique_ptr<TStream> data;
    bool handled = false;
    if (TixMailMessage* message = GetMessage())
        message->DoSaveAttachment(this, fileName, data, handled);
    SetFileName(fileName);
    return data;
}

void TixAttachmentBody::DataAdded(TStream& AStream)
{
    TixMessageBody::DataAdded(AStream);
    AStream.Seek(0, soBeginning);
    if (TixMailMessage* message = GetMessage())
        message->DoAttachmentSaved(this, FFileName, AStream);
}

void TixAttachmentBody::Clear()
{
    TixMessageBody::Clear();
    SetFileNameOnly({});
    SetContentType("application/octet-stream");
    SetContentID({});
    SetContentName({});
}

void TixAttachmentBody::WriteBodyData(TixBodyWriter& AWriter) const
{
    AWriter.WriteString(FFileName);
    TixMessageBody::WriteBodyData(AWriter);
}

void TixAttachmentBody::ReadBodyData(TixBodyReader& AReader)
{
    SetFileNameOnly(AReader.ReadString());
    TixMessageBody::ReadBodyData(AReader);
}

// ---- TixImageBody -------------------------------------------------------------------------

TixImageBody::TixImageBody(TixMessageBodies& AOwner) : TixAttachmentBody(AOwner) {}

void TixImageBody::ParseBodyHeader(TixMailHeaderFieldList& AHeader)
{
    TixMessageBody::ParseBodyHeader(AHeader);
    SetFileName(ReadFileName(AHeader, true));
    SetContentType(AHeader.GetItemValue(AHeader.GetFieldValue("Content-Type"), ""));
    SetContentID(ReadContentID(AHeader));
}

void TixImageBody::SetFileName(const std::string& AValue)
{
    TixAttachmentBody::SetFileName(AValue);
    if (AValue.empty())
        return;
    if (GetContentID().empty()) {
        thread_local std::mt19937 random{std::random_device{}()};
        const int32_t number = std::uniform_int_distribution<int32_t>(0, 999)(random);
        SetContentID(std::string(FileNameWithoutPath(AValue)) + "@" + Format("%.15g", Now()) + "." + IntToStr(number));
    }
    if (GetContentType().empty()) {
        const size_t last = AValue.find_last_of(".\\:");
        if (last != std::string::npos && AValue[last] == '.')
            SetContentType("image/" + AValue.substr(last + 1));
    }
}

void TixImageBody::Clear()
{
    TixAttachmentBody::Clear();
    SetContentType({});
    SetEncoding(cmBase64);
}

// ---- Composing ----------------------------------------------------------------------------

namespace {

constexpr std::string_view CrLf = "\r\n";

/// The character set a text body's lines are converted to: the effective one, else the message's.
std::string ComposeCharSet(const TixTextBody& ABody)
{
    std::string charSet = ABody.GetEffectiveCharSet();
    if (charSet.empty())
        if (const TixMailMessage* message = ABody.GetMessage())
            charSet = message->GetCharSet();
    return charSet;
}

std::unique_ptr<TMemoryStream> MemoryStreamOf(std::span<const uint8_t> ABytes)
{
    auto stream = std::make_unique<TMemoryStream>();
    stream->WriteBuffer(ABytes.data(), static_cast<int64_t>(ABytes.size()));
    stream->Seek(0, soBeginning);
    return stream;
}

} // namespace

void TixTextBody::AssignBodyHeader(TixMailHeaderFieldList& AHeader)
{
    TixMessageBody::AssignBodyHeader(AHeader);
    if (const std::string charSet = ComposeCharSet(*this); !GetContentType().empty() && !charSet.empty())
        AHeader.AddQuotedFieldItem("Content-Type", "charset", TixMessageComposer::HeaderText(charSet));
}

std::unique_ptr<TStream> TixTextBody::GetSourceStream()
{
    std::string text = FStrings.GetText();
    if (text.size() > CrLf.size())
        text.resize(text.size() - CrLf.size());
    return MemoryStreamOf(TixTranslator::GetBytes(text, ComposeCharSet(*this)));
}

void TixMultipartBody::AssignBodyHeader(TixMailHeaderFieldList& AHeader)
{
    FMessage->GenerateBoundary();
    AHeader.AddField("Content-Type", TixMessageComposer::HeaderText(GetContentType()));
    if (!GetContentType().empty() && !FContentSubType.empty())
        AHeader.AddQuotedFieldItem("Content-Type", "type", TixMessageComposer::HeaderText(FContentSubType));
    AHeader.AddQuotedFieldItem("Content-Type", "boundary", GetBoundary());
    TixMessageComposer::AddFields(AHeader, GetExtraFields());
    AHeader.AddEndOfHeader();
}

std::unique_ptr<TStream> TixMultipartBody::GetSourceStream()
{
    TStringList lines;
    FMessage->ComposeBodies(lines);
    const std::string text = lines.Join(CrLf);
    return MemoryStreamOf(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

std::string TixAttachmentBody::GetComposeName() const
{
    return TixMessageComposer::HeaderText(
        FileNameWithoutPath(FContentName.empty() ? FFileName : FContentName), '_');
}

namespace {

/// The header fields of an attachment or an image: AExtended adds the "*" forms of the names,
/// AAlwaysDisposition writes "attachment" when no disposition is set.
void AssignAttachmentHeader(TixAttachmentBody& ABody, TixMailHeaderFieldList& AHeader, const std::string& AName,
    bool AExtended, bool AAlwaysDisposition)
{
    const auto addName = [&](std::string_view AField, std::string_view AItem) {
        if (AName.empty())
            return;
        AHeader.AddEncodedFieldItem(AField, AItem, AName);
        if (AExtended)
            AHeader.AddEncodedFieldItem(AField, std::string(AItem) + "*", AName);
    };
    const std::string& contentType = ABody.GetContentType();
    AHeader.AddField("Content-Type", TixMessageComposer::HeaderText(contentType));
    if (!contentType.empty())
        addName("Content-Type", "name");
    AHeader.AddField("Content-Transfer-Encoding", TixMessageComposer::TransferEncodingName(ABody.GetEncoding()));
    std::string disposition = TixMessageComposer::HeaderText(ABody.GetContentDisposition());
    if (disposition.empty() && AAlwaysDisposition)
        disposition = "attachment";
    if (!disposition.empty()) {
        AHeader.AddField("Content-Disposition", disposition);
        addName("Content-Disposition", "filename");
    }
    if (!ABody.GetContentID().empty())
        AHeader.AddField("Content-ID", "<" + TixMessageComposer::HeaderText(ABody.GetContentID()) + ">");
    TixMessageComposer::AddFields(AHeader, ABody.GetExtraFields());
}

} // namespace

void TixAttachmentBody::AssignBodyHeader(TixMailHeaderFieldList& AHeader)
{
    const TixMailMessage* message = GetMessage();
    AssignAttachmentHeader(*this, AHeader, GetComposeName(), message && message->GetUseHeaderEncodingExtensions(), true);
}

void TixImageBody::AssignBodyHeader(TixMailHeaderFieldList& AHeader)
{
    const std::string name = TixMessageComposer::HeaderText(FileNameWithoutPath(GetFileName()), '_');
    AssignAttachmentHeader(*this, AHeader, name, false, false);
}

std::unique_ptr<TStream> TixAttachmentBody::GetSourceStream()
{
    std::string fileName = FFileName;
    std::unique_ptr<TStream> data;
    bool handled = false;
    if (TixMailMessage* message = GetMessage())
        message->DoLoadAttachment(this, fileName, data, handled);
    SetFileNameOnly(fileName);
    if (handled)
        return data;
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(FFileName, error);
    // A folder opens for reading but gives no data: never an empty part passed off as the file.
    const bool folder = std::filesystem::is_directory(status);
    if (FCheckFile && (folder || !std::filesystem::exists(status)))
        return nullptr;
    if (folder)
        throw EFOpenError("Cannot open file \"" + FFileName + "\". Is a directory");
    return std::make_unique<TFileStream>(FFileName, fmOpenRead | fmShareDenyWrite);
}

void TixAttachmentBody::SelectEncoding()
{
    struct TCheckFileScope
    {
        bool& Flag;
        explicit TCheckFileScope(bool& AFlag) noexcept : Flag(AFlag) { Flag = true; }
        ~TCheckFileScope() { Flag = false; }
    } scope(FCheckFile);
    TixMessageBody::SelectEncoding();
}

} // namespace ix
