#include "message/ixMailMessage.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <random>
#include <utility>

#include "message/internal/ixBodyData.h"
#include "message/ixMailHeader.h"
#include "util/ixTranslator.h"
#include "util/ixUtils.h"

namespace ix {

namespace {

constexpr std::string_view CrLf = "\r\n";
/// Characters a file name taken from a message may not hold (besides controls).
constexpr std::string_view UnsafeFileNameChars = "\"*/:<>?\\|";
/// Longest text taken from a Received field or a uuencode "begin" line.
constexpr size_t MaxLineTail = 1000;
/// The first types that make a body an attachment.
constexpr std::string_view AttachmentTypes[] = {"application/", "message/", "audio/", "video/"};

bool StartsWithAny(std::string_view AText, std::span<const std::string_view> APrefixes) noexcept
{
    return std::any_of(APrefixes.begin(), APrefixes.end(),
        [AText](std::string_view APrefix) { return StartsText(APrefix, AText); });
}

/// AText without leading and trailing characters up to the blank, without a copy.
std::string_view TrimView(std::string_view AText) noexcept
{
    while (!AText.empty() && static_cast<uint8_t>(AText.front()) <= ' ')
        AText.remove_prefix(1);
    while (!AText.empty() && static_cast<uint8_t>(AText.back()) <= ' ')
        AText.remove_suffix(1);
    return AText;
}

bool IsBlankLines(const TStrings& ALines)
{
    for (int32_t i = 0; i < ALines.Count(); ++i)
        if (!TrimView(ALines[i]).empty())
            return false;
    return true;
}

/// The first token of a field's value (the media type of "Content-Type").
std::string FirstToken(TixHeaderFieldList& AHeader, std::string_view AName)
{
    return AHeader.GetItemValue(AHeader.GetFieldValue(AName), "");
}

/// The "boundary" parameter of a "Content-Type" value, plain or in the RFC 2231 form.
std::string BoundaryOf(TixMailHeaderFieldList& AHeader, std::string_view AContentType)
{
    std::string boundary = AHeader.GetItemValue(AContentType, "boundary");
    return boundary.empty() ? AHeader.GetDecodedItemValue(AContentType, "boundary*") : boundary;
}

/// The encoding a "Content-Transfer-Encoding" value names; ADefault for anything but
/// quoted-printable and base64 (7bit, 8bit, binary, x-uuencode...).
TixEncodeMethod TransferEncodingOf(std::string_view AValue, TixEncodeMethod ADefault)
{
    if (SameText(AValue, "quoted-printable"))
        return cmQuotedPrintable;
    if (SameText(AValue, "base64"))
        return cmBase64;
    return ADefault;
}

/// Copies the header lines of AHeader (from its start to its empty line) into ARaw.
void CopyHeaderLines(const TixHeaderFieldList& AHeader, TStrings& ARaw)
{
    ARaw.BeginUpdate();
    ARaw.Clear();
    for (int32_t line = AHeader.GetHeaderStart(); line < AHeader.GetHeaderEnd(); ++line)
        ARaw.Add(AHeader.GetSource()->Get(line));
    ARaw.EndUpdate();
}

/// Fills AExtra with "Name: value" for every field of AHeader whose name is not in AKnown; the
/// value is unfolded, not decoded.
void CollectExtraFields(TixMailHeaderFieldList& AHeader, const TStrings& AKnown, TStrings& AExtra)
{
    AExtra.BeginUpdate();
    AExtra.Clear();
    for (int32_t i = 0; i < AHeader.GetFieldCount(); ++i) {
        const std::string name = AHeader.GetFieldName(i);
        if (IndexOfString(AKnown, name, true) < 0)
            AExtra.Add(name + ": " + AHeader.GetFieldValue(i));
    }
    AExtra.EndUpdate();
}

/// The text after the last path delimiter ("/", "\" or ":").
std::string_view FileNameWithoutPath(std::string_view AName) noexcept
{
    const size_t delimiter = AName.find_last_of("/\\:");
    return delimiter == std::string_view::npos ? AName : AName.substr(delimiter + 1);
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

int32_t ClampToInt32(int64_t AValue) noexcept
{
    return static_cast<int32_t>(std::min<int64_t>(AValue, std::numeric_limits<int32_t>::max()));
}

TDateTime LocalTimeZoneOffset()
{
    return ParseTimeZone(GetLocalTimeZone());
}

[[noreturn]] void RaiseInvalidBodyData()
{
    throw EReadError("Invalid body data");
}

// ---- The class registry -------------------------------------------------------------------

struct TBodyClass
{
    std::string Name;
    TixMessageBodies::TBodyFactory Factory;
};

template <typename T>
TixMessageBody& MakeBody(TixMessageBodies& AOwner)
{
    return AOwner.Add<T>();
}

std::vector<TBodyClass>& BodyClasses()
{
    static std::vector<TBodyClass> classes{
        {"TixTextBody", &MakeBody<TixTextBody>},
        {"TixAttachmentBody", &MakeBody<TixAttachmentBody>},
        {"TixMultipartBody", &MakeBody<TixMultipartBody>},
        {"TixImageBody", &MakeBody<TixImageBody>},
    };
    return classes;
}

} // namespace

// ---- Persistence --------------------------------------------------------------------------

void TixBodyWriter::WriteInteger(int32_t AValue)
{
    uint8_t bytes[4];
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<uint8_t>(static_cast<uint32_t>(AValue) >> (8 * i));
    FStream.WriteBuffer(bytes, sizeof bytes);
}

void TixBodyWriter::WriteString(std::string_view AValue)
{
    WriteInteger(ClampToInt32(static_cast<int64_t>(AValue.size())));
    FStream.WriteBuffer(AValue.data(), static_cast<int64_t>(AValue.size()));
}

int32_t TixBodyReader::ReadInteger()
{
    uint8_t bytes[4];
    FStream.ReadBuffer(bytes, sizeof bytes);
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = value << 8 | bytes[i];
    return static_cast<int32_t>(value);
}

std::string TixBodyReader::ReadString()
{
    const int32_t length = ReadInteger();
    if (length < 0 || length > FStream.Remaining())
        RaiseInvalidBodyData();
    std::string result(static_cast<size_t>(length), '\0');
    FStream.ReadBuffer(result.data(), length);
    return result;
}

// ---- TixMessageBodies ---------------------------------------------------------------------

TixMessageBodies::TixMessageBodies(TixMailMessage* AOwner, int32_t ALevel) noexcept : FOwner(AOwner), FLevel(ALevel) {}

TixMessageBodies::~TixMessageBodies() = default;

TixMessageBody& TixMessageBodies::GetItem(int32_t AIndex) const
{
    if (AIndex < 0 || AIndex >= Count())
        RaiseListIndexError(AIndex);
    return *FItems[static_cast<size_t>(AIndex)];
}

void TixMessageBodies::Insert(std::unique_ptr<TixMessageBody> ABody)
{
    TixMessageBody& body = *ABody;
    FItems.push_back(std::move(ABody));
    body.InitBody();
    body.Clear();
}

void TixMessageBodies::Delete(int32_t AIndex)
{
    GetItem(AIndex);
    FItems.erase(FItems.begin() + AIndex);
    if (FOwner)
        FOwner->Changed();
}

void TixMessageBodies::Clear()
{
    if (FItems.empty())
        return;
    // Bodies go newest first, as a nested body may still report changes while it goes.
    while (!FItems.empty())
        FItems.pop_back();
    if (FOwner)
        FOwner->Changed();
}

void TixMessageBodies::Assign(const TPersistent& ASource)
{
    const auto* source = AssignSource<TixMessageBodies>(ASource);
    if (!source || source == this)
        return;
    Clear();
    for (const auto& body : source->FItems)
        AddByClassName(body->ClassName()).Assign(*body);
}

TixMessageBody& TixMessageBodies::AddByClassName(std::string_view AClassName)
{
    const TBodyFactory factory = FindBodyClass(AClassName);
    if (!factory)
        throw EConvertError("Unknown body class " + std::string(AClassName));
    return factory(*this);
}

void TixMessageBodies::WriteItems(TixBodyWriter& AWriter) const
{
    AWriter.WriteInteger(Count());
    for (const auto& body : FItems) {
        AWriter.WriteString(body->ClassName());
        body->WriteBodyData(AWriter);
    }
}

void TixMessageBodies::ReadItems(TixBodyReader& AReader)
{
    Clear();
    const int32_t count = AReader.ReadInteger();
    if (count < 0)
        RaiseInvalidBodyData();
    for (int32_t i = 0; i < count; ++i) {
        const std::string className = AReader.ReadString();
        // Saved bodies nest no deeper than loaded ones can.
        if (FLevel >= TixMailMessage::MaxNestingLevel && className == "TixMultipartBody")
            throw EReadError("Body data nested deeper than " + std::to_string(TixMailMessage::MaxNestingLevel) + " levels");
        AddByClassName(className).ReadBodyData(AReader);
    }
}

void TixMessageBodies::RegisterBodyClass(std::string_view AClassName, TBodyFactory AFactory)
{
    auto& classes = BodyClasses();
    const auto found = std::find_if(classes.begin(), classes.end(),
        [AClassName](const TBodyClass& AClass) { return AClass.Name == AClassName; });
    if (found != classes.end())
        found->Factory = AFactory;
    else
        classes.push_back({std::string(AClassName), AFactory});
}

TixMessageBodies::TBodyFactory TixMessageBodies::FindBodyClass(std::string_view AClassName)
{
    for (const TBodyClass& bodyClass : BodyClasses())
        if (bodyClass.Name == AClassName)
            return bodyClass.Factory;
    return nullptr;
}

// ---- TixMessageBody -----------------------------------------------------------------------

TixMessageBody::TixMessageBody(TixMessageBodies& AOwner) : FOwner(&AOwner) {}

TixMessageBody::~TixMessageBody() = default;

void TixMessageBody::InitBody()
{
    FExtraFields.OnChange = [this](TObject*) { Changed(); };
}

void TixMessageBody::Changed()
{
    if (TixMailMessage* message = GetMessage())
        message->Changed();
}

void TixMessageBody::DoSetContentType(const std::string& AValue)
{
    if (AssignIfChanged(FContentType, AValue))
        Changed();
}

void TixMessageBody::SetEncoding(TixEncodeMethod AValue)
{
    if (AssignIfChanged(FEncoding, AValue))
        Changed();
}

void TixMessageBody::SetContentDisposition(const std::string& AValue)
{
    if (AssignIfChanged(FContentDisposition, AValue))
        Changed();
}

const TStringList& TixMessageBody::GetKnownFields()
{
    if (!FKnownFields) {
        FKnownFields = std::make_unique<TStringList>();
        RegisterKnownFields(*FKnownFields);
    }
    return *FKnownFields;
}

void TixMessageBody::RegisterKnownFields(TStrings& AFields)
{
    AFields.Add("Content-Type");
    AFields.Add("Content-Transfer-Encoding");
    AFields.Add("Content-Disposition");
}

TixEncoder& TixMessageBody::GetEncoder()
{
    if (!FEncoder) {
        FEncoder = std::make_unique<TixEncoder>();
        FEncoder->SetSuppressCrlf(false);
        FEncoder->OnProgress = [this](TObject*, int64_t ABytesProceed, int64_t ATotalBytes) {
            if (TixMailMessage* message = GetMessage())
                message->DoEncodingProgress(this, ABytesProceed, ATotalBytes);
        };
    }
    return *FEncoder;
}

void TixMessageBody::SetPosition(int32_t AHeaderStart, int32_t AEncodedStart) noexcept
{
    FHeaderStart = AHeaderStart;
    FEncodedStart = AEncodedStart;
}

void TixMessageBody::SetEncodedSize(int32_t ASize, int32_t ALines) noexcept
{
    FEncodedSize = ASize;
    FEncodedLines = ALines;
}

void TixMessageBody::Assign(const TPersistent& ASource)
{
    const auto* source = AssignSource<TixMessageBody>(ASource);
    if (!source)
        return;
    SetContentType(source->FContentType);
    SetEncoding(source->FEncoding);
    SetContentDisposition(source->FContentDisposition);
    FExtraFields.Assign(source->FExtraFields);
    FRawHeader.Assign(source->FRawHeader);
    FEncodedSize = source->FEncodedSize;
    FEncodedLines = source->FEncodedLines;
    FEncodedStart = source->FEncodedStart;
    FHeaderStart = source->FHeaderStart;
}

bool TixMessageBody::TracksEncodedSize() const
{
    return true;
}

TixEncodeMethod TixMessageBody::GetEncoding() const
{
    const TixMailMessage* message = GetMessage();
    if (!message || message->IsMultipart() || message->GetEncoding() == cmNone)
        return FEncoding;
    return message->GetEncoding();
}

void TixMessageBody::ParseBodyHeader(TixMailHeaderFieldList& AHeader)
{
    const TixMailMessage* message = GetMessage();
    SetContentType(FirstToken(AHeader, "Content-Type"));
    SetEncoding(TransferEncodingOf(AHeader.GetFieldValue("Content-Transfer-Encoding"),
        message ? message->GetEncoding() : cmNone));
    AHeader.SetEncoding(GetEncoding());
    SetContentDisposition(FirstToken(AHeader, "Content-Disposition"));
}

void TixMessageBody::ReadHeaderLines(TixMailHeaderFieldList& AHeader)
{
    CopyHeaderLines(AHeader, FRawHeader);
    TStringList known;
    RegisterKnownFields(known);
    CollectExtraFields(AHeader, known, FExtraFields);
}

std::unique_ptr<TStream> TixMessageBody::GetDestinationStream()
{
    return nullptr;
}

void TixMessageBody::TrimTrailingCrlf(TStream& AStream)
{
    const int64_t size = AStream.GetSize();
    if (size < 2)
        return;
    char tail[2];
    AStream.Seek(size - 2, soBeginning);
    AStream.ReadBuffer(tail, 2);
    if (std::string_view(tail, 2) == CrLf)
        AStream.SetSize(size - 2);
}

void TixMessageBody::DataAdded(TStream& AStream)
{
    AStream.Seek(0, soBeginning);
    if (TixMailMessage* message = GetMessage())
        message->DoDataAdded(this, AStream);
}

void TixMessageBody::DecodeData(TStream& ASource, TStream& ADestination)
{
    const TixMailMessage* message = GetMessage();
    const TixMessageErrorProcessing mode = message ? message->GetErrorProcessing() : meExtractMaximumData;
    TixEncoder& encoder = GetEncoder();
    encoder.SetEncodeMethod(GetEncoding());
    encoder.SetErrorProcessing(mode == meExtractMaximumData ? epContinue : epStop);
    try {
        encoder.Decode(ASource, ADestination);
    } catch (const Exception&) {
        if (mode == meStop)
            throw;
        if (mode == meIgnore) {
            // The data is kept as it came: a plain copy of the encoded text.
            ADestination.SetSize(0);
            ADestination.Seek(0, soBeginning);
            ASource.Seek(0, soBeginning);
            encoder.SetEncodeMethod(cmNone);
            encoder.Decode(ASource, ADestination);
        }
    }
}

void TixMessageBody::Clear()
{
    const TixMailMessage* message = GetMessage();
    FExtraFields.Clear();
    SetContentType({});
    SetEncoding(message ? message->GetEncoding() : cmNone);
    SetContentDisposition({});
    FRawHeader.Clear();
    FEncodedSize = FEncodedLines = FEncodedStart = FHeaderStart = 0;
}

void TixMessageBody::WriteBodyData(TixBodyWriter& AWriter) const
{
    AWriter.WriteString(FExtraFields.GetText());
    AWriter.WriteString(FContentType);
    AWriter.WriteInteger(FEncoding);
    AWriter.WriteString(FContentDisposition);
}

void TixMessageBody::ReadBodyData(TixBodyReader& AReader)
{
    FExtraFields.SetText(AReader.ReadString());
    SetContentType(AReader.ReadString());
    const int32_t encoding = AReader.ReadInteger();
    if (encoding < cmNone || encoding > cm8Bit)
        RaiseInvalidBodyData();
    SetEncoding(static_cast<TixEncodeMethod>(encoding));
    SetContentDisposition(AReader.ReadString());
}

// ---- TixTextBody --------------------------------------------------------------------------

TixTextBody::TixTextBody(TixMessageBodies& AOwner) : TixMessageBody(AOwner) {}

void TixTextBody::InitBody()
{
    TixMessageBody::InitBody();
    FStrings.OnChange = [this](TObject*) { Changed(); };
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
    return std::make_unique<TMemoryStream>();
}

void TixTextBody::DataAdded(TStream& AStream)
{
    if (AStream.GetSize() > 0) {
        TMemoryStream copy;
        auto* memory = dynamic_cast<TMemoryStream*>(&AStream);
        if (!memory) {
            AStream.Seek(0, soBeginning);
            copy.CopyFrom(AStream, 0);
            memory = &copy;
        }
        const std::span<const uint8_t> bytes(memory->Memory(), static_cast<size_t>(memory->Size()));
        AddTextToStrings(FStrings, TixTranslator::GetString(bytes, GetEffectiveCharSet()));
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
    FMessage = std::make_unique<TixMailMessage>();
    FMessage->SetNesting(GetOwner(), GetOwner().GetLevel() + 1);
}

void TixMultipartBody::DoSetContentType(const std::string& AValue)
{
    TixMessageBody::DoSetContentType(AValue);
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
    return std::make_unique<TMemoryStream>();
}

void TixMultipartBody::DecodeData(TStream& ASource, TStream& ADestination)
{
    // The content of a multipart part is never transfer-encoded: its lines are parsed where
    // they stand instead of being copied.
    int32_t first = 0;
    int32_t count = 0;
    if (const auto* lines = dynamic_cast<const TixBodyDataStream*>(&ASource);
        lines && lines->GetSingleRun(first, count) && GetEncoding() == cmNone) {
        FPendingLines = lines;
        return;
    }
    TixMessageBody::DecodeData(ASource, ADestination);
}

void TixMultipartBody::DataAdded(TStream& AStream)
{
    if (const TixBodyDataStream* pending = std::exchange(FPendingLines, nullptr)) {
        int32_t first = 0;
        int32_t count = 0;
        pending->GetSingleRun(first, count);
        const TStrings& source = *pending->GetSource();
        // The data ends before the line break of its last line; read back as lines, it
        // therefore has one final empty line less.
        if (count > 0 && source[first + count - 1].empty())
            --count;
        TixLineRange lines(source, first, count);
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

void TixAttachmentBody::DoSetFileName(const std::string& AValue)
{
    StoreFileName(AValue);
}

void TixAttachmentBody::StoreFileName(const std::string& AValue)
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
        StoreFileName(source->FFileName);
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

std::string TixAttachmentBody::ReadFileName(TixMailHeaderFieldList& AHeader)
{
    const std::string disposition = AHeader.GetFieldValue("Content-Disposition");
    const std::string contentType = AHeader.GetFieldValue("Content-Type");
    std::string name = AHeader.GetDecodedItemValue(disposition, "filename*");
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
    SetFileName(ReadFileName(AHeader));
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
    StoreFileName({});
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
    StoreFileName(AReader.ReadString());
    TixMessageBody::ReadBodyData(AReader);
}

// ---- TixImageBody -------------------------------------------------------------------------

TixImageBody::TixImageBody(TixMessageBodies& AOwner) : TixAttachmentBody(AOwner) {}

void TixImageBody::ParseBodyHeader(TixMailHeaderFieldList& AHeader)
{
    TixAttachmentBody::ParseBodyHeader(AHeader);
    const std::string contentType = AHeader.GetFieldValue("Content-Type");
    std::string name = AHeader.GetDecodedItemValue(contentType, "name");
    if (name.empty())
        name = AHeader.GetDecodedItemValue(contentType, "filename");
    SetFileName(name.empty() ? name : MakeSafeFileName(name));
    SetContentType(AHeader.GetItemValue(contentType, ""));
    SetContentID(ReadContentID(AHeader));
}

void TixImageBody::DoSetFileName(const std::string& AValue)
{
    TixAttachmentBody::DoSetFileName(AValue);
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

// ---- TixMailMessage -----------------------------------------------------------------------

/// Raises ParseCount for a parse; it never goes below 0.
class TixMailMessage::TParseScope
{
public:
    explicit TParseScope(TixMailMessage& AMessage) noexcept : FMessage(AMessage) { ++FMessage.FParseCount; }
    ~TParseScope() { FMessage.FParseCount = std::max(FMessage.FParseCount - 1, 0); }
    TParseScope(const TParseScope&) = delete;
    TParseScope& operator=(const TParseScope&) = delete;

private:
    TixMailMessage& FMessage;
};

/// BeginUpdate now, EndUpdate when done: on success through Finish, which may fire OnChanged
/// (and let its exceptions through); on an exception quietly.
class TixMailMessage::TUpdateScope
{
public:
    explicit TUpdateScope(TixMailMessage& AMessage) noexcept : FMessage(AMessage) { FMessage.BeginUpdate(); }
    ~TUpdateScope()
    {
        if (FActive)
            FMessage.FUpdateCount = std::max(FMessage.FUpdateCount - 1, 0);
    }
    TUpdateScope(const TUpdateScope&) = delete;
    TUpdateScope& operator=(const TUpdateScope&) = delete;

    void Finish()
    {
        FActive = false;
        FMessage.EndUpdate();
    }

private:
    TixMailMessage& FMessage;
    bool FActive = true;
};

TixMailMessage::TixMailMessage(TComponent* AOwner)
    : TComponent(AOwner), FBodies(std::make_unique<TixMessageBodies>(this)),
      FFrom(std::make_unique<TixEmailAddressItem>()), FToList(std::make_unique<TixEmailAddressList>(this)),
      FCCList(std::make_unique<TixEmailAddressList>(this)), FBCCList(std::make_unique<TixEmailAddressList>(this)),
      FReferences(std::make_unique<TStringList>()), FNewsGroups(std::make_unique<TStringList>()),
      FExtraFields(std::make_unique<TStringList>()), FRawHeader(std::make_unique<TStringList>()),
      FMessageText(std::make_unique<TStringList>()), FDataStream(std::make_unique<TixBodyDataStream>())
{
    const TNotifyEvent changed = [this](TObject*) { Changed(); };
    FReferences->OnChange = changed;
    FNewsGroups->OnChange = changed;
    FExtraFields->OnChange = changed;
    InternalClear();
}

TixMailMessage::~TixMailMessage()
{
    Destroying();
    FBodies->Clear();
}

void TixMailMessage::SetNesting(TixMessageBodies& AOuterOwner, int32_t ALevel)
{
    FBodies = std::make_unique<TixMessageBodies>(AOuterOwner.GetOwner(), ALevel);
    // A nested message reports its events through the outer message.
    if (TixMailMessage* outer = AOuterOwner.GetOwner()) {
        OnSaveAttachment = [outer](TObject*, TixMessageBody* ABody, std::string& AFileName,
                               std::unique_ptr<TStream>& AData, bool& AHandled) {
            outer->DoSaveAttachment(ABody, AFileName, AData, AHandled);
        };
        OnLoadAttachment = [outer](TObject*, TixMessageBody* ABody, std::string& AFileName,
                               std::unique_ptr<TStream>& AData, bool& AHandled) {
            outer->DoLoadAttachment(ABody, AFileName, AData, AHandled);
        };
        OnAttachmentSaved = [outer](TObject*, TixMessageBody* ABody, const std::string& AFileName, TStream& AData) {
            outer->DoAttachmentSaved(ABody, AFileName, AData);
        };
        OnDataAdded = [outer](TObject*, TixMessageBody* ABody, TStream& AData) { outer->DoDataAdded(ABody, AData); };
    }
}

// ---- Properties ---------------------------------------------------------------------------

void TixMailMessage::SetSubject(const std::string& AValue)
{
    if (AssignIfChanged(FSubject, AValue))
        Changed();
}

void TixMailMessage::SetFrom(const TixEmailAddressItem& AValue)
{
    FFrom->Assign(AValue);
    Changed();
}

void TixMailMessage::SetToList(const TixEmailAddressList& AValue)
{
    FToList->Assign(AValue);
    Changed();
}

void TixMailMessage::SetCCList(const TixEmailAddressList& AValue)
{
    FCCList->Assign(AValue);
    Changed();
}

void TixMailMessage::SetBCCList(const TixEmailAddressList& AValue)
{
    FBCCList->Assign(AValue);
    Changed();
}

void TixMailMessage::SetPriority(TixMessagePriority AValue)
{
    if (AssignIfChanged(FPriority, AValue))
        Changed();
}

void TixMailMessage::SetDate(TDateTime AValue)
{
    FTimeZoneOffset = LocalTimeZoneOffset();
    if (AssignIfChanged(FDate, AValue))
        Changed();
}

void TixMailMessage::SetCharSet(const std::string& AValue)
{
    // ISO-2022-JP is 7-bit text with escape sequences that must pass unchanged.
    if (SameText(AValue, "iso-2022-jp")) {
        BeginUpdate();
        if (AssignIfChanged(FCharSet, std::string("iso-2022-jp")))
            Changed();
        SetEncoding(cm8Bit);
        SetAllowESC(true);
        EndUpdate();
        return;
    }
    if (AssignIfChanged(FCharSet, AValue))
        Changed();
}

void TixMailMessage::SetContentType(const std::string& AValue)
{
    if (AssignIfChanged(FContentType, AValue))
        Changed();
}

void TixMailMessage::SetContentSubType(const std::string& AValue)
{
    if (AssignIfChanged(FContentSubType, AValue))
        Changed();
}

void TixMailMessage::SetContentDisposition(const std::string& AValue)
{
    if (AssignIfChanged(FContentDisposition, AValue))
        Changed();
}

void TixMailMessage::SetMessageFormat(TixMessageFormat AValue)
{
    if (AssignIfChanged(FMessageFormat, AValue))
        Changed();
}

void TixMailMessage::SetEncoding(TixEncodeMethod AValue)
{
    if (AssignIfChanged(FEncoding, AValue))
        Changed();
}

void TixMailMessage::SetHeaderEncoding(TixEncodeMethod AValue)
{
    if (AssignIfChanged(FHeaderEncoding, AValue))
        Changed();
}

void TixMailMessage::SetMimeOLE(const std::string& AValue)
{
    if (AssignIfChanged(FMimeOLE, AValue))
        Changed();
}

void TixMailMessage::SetMailer(const std::string& AValue)
{
    if (AssignIfChanged(FMailer, AValue))
        Changed();
}

void TixMailMessage::SetReplyTo(const std::string& AValue)
{
    if (AssignIfChanged(FReplyTo, AValue))
        Changed();
}

void TixMailMessage::SetReadReceiptTo(const std::string& AValue)
{
    if (AssignIfChanged(FReadReceiptTo, AValue))
        Changed();
}

void TixMailMessage::SetMessageID(const std::string& AValue)
{
    if (AssignIfChanged(FMessageID, AValue))
        Changed();
}

void TixMailMessage::SetInReplyTo(const std::string& AValue)
{
    if (AssignIfChanged(FInReplyTo, AValue))
        Changed();
}

void TixMailMessage::SetListUnsubscribe(const std::string& AValue)
{
    if (AssignIfChanged(FListUnsubscribe, AValue))
        Changed();
}

void TixMailMessage::SetCharsPerLine(int32_t AValue)
{
    if (AssignIfChanged(FCharsPerLine, AValue))
        Changed();
}

void TixMailMessage::SetAllowESC(bool AValue)
{
    if (AssignIfChanged(FAllowESC, AValue))
        Changed();
}

void TixMailMessage::SetUseHeaderEncodingExtensions(bool AValue)
{
    if (AssignIfChanged(FUseHeaderEncodingExtensions, AValue))
        Changed();
}

void TixMailMessage::SetErrorProcessing(TixMessageErrorProcessing AValue)
{
    if (AssignIfChanged(FErrorProcessing, AValue))
        Changed();
}

void TixMailMessage::SetBoundary(const std::string& AValue)
{
    if (AssignIfChanged(FBoundary, AValue))
        Changed();
}

void TixMailMessage::SetDkim(IixMessageVerifier* AValue)
{
    if (AValue == FDkim)
        return;
    if (FDkimComponent)
        RemoveFreeNotification(FDkimComponent);
    FDkim = AValue;
    FDkimComponent = dynamic_cast<TComponent*>(AValue);
    if (FDkimComponent)
        FreeNotification(FDkimComponent);
    Changed();
}

void TixMailMessage::Notification(TComponent* AComponent, TOperation AOperation)
{
    TComponent::Notification(AComponent, AOperation);
    if (AOperation == opRemove && AComponent && AComponent == FDkimComponent) {
        FDkim = nullptr;
        FDkimComponent = nullptr;
    }
}

void TixMailMessage::Loaded()
{
    TComponent::Loaded();
    Changed();
}

const TStringList& TixMailMessage::GetKnownFields()
{
    if (!FKnownFields) {
        FKnownFields = std::make_unique<TStringList>();
        RegisterKnownFields(*FKnownFields);
    }
    return *FKnownFields;
}

void TixMailMessage::RegisterKnownFields(TStrings& AFields)
{
    // "List-Unsubscribe" becomes a property but stays among the extra fields as well.
    static constexpr std::string_view Names[] = {"Content-Type", "Content-Disposition",
        "Content-Transfer-Encoding", "From", "To", "Cc", "Bcc", "Subject", "Date", "Importance", "X-Priority",
        "X-MSMail-Priority", "X-MimeOLE", "X-Mailer", "Reply-To", "In-Reply-To", "Disposition-Notification-To",
        "Message-ID", "MIME-Version", "Newsgroups", "References"};
    for (std::string_view name : Names)
        if (IndexOfString(AFields, name, true) < 0)
            AFields.Add(std::string(name));
}

// ---- Change notification ------------------------------------------------------------------

void TixMailMessage::BeginUpdate() noexcept
{
    ++FUpdateCount;
}

void TixMailMessage::EndUpdate()
{
    if (FUpdateCount > 0)
        --FUpdateCount;
    Changed();
}

void TixMailMessage::Changed()
{
    // The caches go even while the notification is held back: a load that fails halfway has
    // freed the bodies they list, and no EndUpdate follows it.
    if (FBodyListsFilled) {
        FAttachmentList.Clear();
        FImageList.Clear();
        FBodyListsFilled = false;
    }
    if (!FMessageText->IsEmpty())
        FMessageText->Clear();
    const TComponentState state = GetComponentState();
    if (state.Includes(csLoading) || state.Includes(csDestroying) || state.Includes(csDesigning) ||
        FUpdateCount > 0)
        return;
    DoChanged();
}

void TixMailMessage::DoChanged()
{
    CallEvent(OnChanged, this);
}

void TixMailMessage::DoSaveAttachment(TixMessageBody* ABody, std::string& AFileName, std::unique_ptr<TStream>& AData,
    bool& AHandled)
{
    CallEvent(OnSaveAttachment, this, ABody, AFileName, AData, AHandled);
}

void TixMailMessage::DoLoadAttachment(TixMessageBody* ABody, std::string& AFileName, std::unique_ptr<TStream>& AData,
    bool& AHandled)
{
    CallEvent(OnLoadAttachment, this, ABody, AFileName, AData, AHandled);
}

void TixMailMessage::DoAttachmentSaved(TixMessageBody* ABody, const std::string& AFileName, TStream& AData)
{
    CallEvent(OnAttachmentSaved, this, ABody, AFileName, AData);
}

void TixMailMessage::DoDataAdded(TixMessageBody* ABody, TStream& AData)
{
    CallEvent(OnDataAdded, this, ABody, AData);
}

void TixMailMessage::DoEncodingProgress(TixMessageBody* ABody, int64_t ABytesProceed, int64_t ATotalBytes)
{
    CallEvent(OnEncodingProgress, this, ABody, ABytesProceed, ATotalBytes);
}

// ---- Reset --------------------------------------------------------------------------------

void TixMailMessage::Clear()
{
    const std::string charSet = FCharSet;
    const TixEncodeMethod encoding = FEncoding;
    const TixEncodeMethod headerEncoding = FHeaderEncoding;
    BeginUpdate();
    InternalClear();
    FCharSet = charSet;
    FEncoding = encoding;
    FHeaderEncoding = headerEncoding;
    EndUpdate();
}

void TixMailMessage::InternalClear()
{
    BeginUpdate();
    SetBoundary({});
    SetSubject({});
    FFrom->Clear();
    FToList->Clear();
    FCCList->Clear();
    FBCCList->Clear();
    SetPriority(mpNormal);
    SetDate(Now());
    FBodies->Clear();
    SetMessageFormat(mfNone);
    SetContentType(std::string(DefaultContentType));
    SetContentSubType({});
    SetMimeOLE({});
    SetMailer({});
    SetMessageID({});
    SetInReplyTo({});
    SetReplyTo({});
    FReferences->Clear();
    FNewsGroups->Clear();
    FExtraFields->Clear();
    SetReadReceiptTo({});
    SetListUnsubscribe({});
    SetContentDisposition({});
    FRawHeader->Clear();
    FBodyStart = 0;
    SetCharSet(std::string(DefaultCharSet));
    SetEncoding(cmNone);
    SetHeaderEncoding(cmNone);
    EndUpdate();
}

// ---- Loading ------------------------------------------------------------------------------

void TixMailMessage::LoadMessage(TStrings& ASource)
{
    TUpdateScope update(*this);
    Clear();
    ParseHeader(ASource);
    ParseBodies(ASource);
    if (FDkim)
        FDkim->Verify(ASource);
    update.Finish();
}

void TixMailMessage::LoadHeader(TStrings& ASource)
{
    TUpdateScope update(*this);
    Clear();
    ParseHeader(ASource);
    update.Finish();
}

TixEncodeMethod TixMailMessage::GetEffectiveHeaderEncoding() const noexcept
{
    return FHeaderEncoding != cmNone ? FHeaderEncoding : FEncoding;
}

void TixMailMessage::ParseHeader(TStrings& ASource)
{
    TParseScope parsing(*this);
    TixMailHeaderFieldList header(FCharSet, FCharsPerLine, GetEffectiveHeaderEncoding());
    header.Parse(0, ASource);
    ParseContentType(header);
    SetContentDisposition(FirstToken(header, "Content-Disposition"));
    SetEncoding(TransferEncodingOf(header.GetFieldValue("Content-Transfer-Encoding"), cmNone));
    header.SetEncoding(GetEffectiveHeaderEncoding());

    FFrom->SetFullAddress(header.GetDecodedEmail("From"));
    header.GetDecodedEmailList("To", *FToList);
    header.GetDecodedEmailList("Cc", *FCCList);
    header.GetDecodedEmailList("Bcc", *FBCCList);
    SetSubject(header.GetDecodedFieldValue("Subject"));
    ParseDate(header);
    ParsePriority(header);
    SetReplyTo(header.GetDecodedEmail("Reply-To"));
    SetReadReceiptTo(header.GetDecodedEmail("Disposition-Notification-To"));
    SetListUnsubscribe(header.GetDecodedEmail("List-Unsubscribe"));
    SetMessageID(header.GetFieldValue("Message-ID"));
    SetInReplyTo(header.GetFieldValue("In-Reply-To"));
    SetMimeOLE(header.GetFieldValue("X-MimeOLE"));
    SetMailer(header.GetFieldValue("X-Mailer"));
    SplitText(header.GetFieldValue("Newsgroups"), *FNewsGroups, ',');
    SplitText(header.GetFieldValue("References"), *FReferences, ' ');

    CopyHeaderLines(header, *FRawHeader);
    FBodyStart = header.GetBodyStart();
    CollectExtraFields(header, GetKnownFields(), *FExtraFields);
}

void TixMailMessage::ParseContentType(TixMailHeaderFieldList& AHeader)
{
    const std::string contentType = AHeader.GetFieldValue("Content-Type");
    const bool mime = !contentType.empty() || !AHeader.GetFieldValue("MIME-Version").empty();
    SetMessageFormat(mime ? mfMIME : mfUUencode);
    SetContentType(AHeader.GetItemValue(contentType, ""));
    SetContentSubType(AHeader.GetItemValue(contentType, "type"));
    SetBoundary(BoundaryOf(AHeader, contentType));
    const std::string charSet = AHeader.GetItemValue(contentType, "charset");
    if (!charSet.empty()) {
        SetCharSet(charSet);
        AHeader.SetCharSet(charSet);
    }
}

void TixMailMessage::ParseDate(TixMailHeaderFieldList& AHeader)
{
    FDate = Now();
    FTimeZoneOffset = LocalTimeZoneOffset();
    std::string text = AHeader.GetDecodedFieldValue("Date");
    if (text.empty()) {
        // A message without a date: the time the first relay received it.
        const std::string received = AHeader.GetDecodedFieldValue("Received");
        if (const size_t semicolon = received.rfind(';'); semicolon != std::string::npos)
            text = Trim(std::string_view(received).substr(semicolon + 1, MaxLineTail));
    }
    if (text.empty())
        return;
    try {
        TDateTime date = 0;
        TDateTime zone = 0;
        ParseMailDate(text, date, zone);
        // A text without day, month or year gives no date: the time of loading stays.
        if (date != 0) {
            FDate = date;
            FTimeZoneOffset = zone;
        }
    } catch (const Exception&) {
        // An unreadable date leaves the time of loading.
    }
}

void TixMailMessage::ParsePriority(TixMailHeaderFieldList& AHeader)
{
    const auto read = [&](std::string_view AName, std::string_view ALow, std::string_view AHigh) {
        if (FPriority != mpNormal)
            return;
        const std::string value = Trim(AHeader.GetFieldValue(AName));
        if (SameText(value, ALow))
            SetPriority(mpLow);
        else if (SameText(value, AHigh))
            SetPriority(mpHigh);
    };
    read("Importance", "Low", "High");
    read("X-Priority", "5", "1");
    read("X-MSMail-Priority", "Low", "High");
}

// ---- Bodies -------------------------------------------------------------------------------

bool TixMailMessage::IsMultipart() const
{
    return FBodies->Count() >= 2 || StartsText("multipart/", FContentType);
}

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
        std::string_view line = ASource[i];
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
        const std::string& line = ASource[i];
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
    const std::unique_ptr<TStream> destination = ABody.GetDestinationStream();
    const int64_t size = FDataStream->GetSize();
    if (ABody.TracksEncodedSize() && size > 0 && ALineCount > 0)
        ABody.SetEncodedSize(ClampToInt32(size), ALineCount);
    ABody.TrimTrailingCrlf(*FDataStream);
    FDataStream->Seek(0, soBeginning);
    if (destination) {
        ABody.DecodeData(*FDataStream, *destination);
        ABody.DataAdded(*destination);
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

// ---- Views --------------------------------------------------------------------------------

namespace {

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

/// Appends the lines of the text bodies (of type AContentType, or all when it is empty); a
/// multipart body is entered only while nothing has been collected.
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

} // namespace

const TStringList& TixMailMessage::MessageText()
{
    FMessageText->Clear();
    if (TixTextBody* html = FindTextBody(*FBodies, "text/html")) {
        FMessageText->Assign(html->GetStrings());
        return *FMessageText;
    }
    CollectTexts(*FBodies, "text/plain", *FMessageText);
    if (IsBlankLines(*FMessageText))
        CollectTexts(*FBodies, {}, *FMessageText);
    return *FMessageText;
}

void TixMailMessage::FillBodyLists()
{
    if (FBodyListsFilled)
        return;
    FAttachmentList.Clear();
    FImageList.Clear();
    CollectAttachments(*FBodies, FAttachmentList, FImageList);
    FBodyListsFilled = true;
}

const TixAttachmentList& TixMailMessage::GetAttachmentList()
{
    FillBodyLists();
    return FAttachmentList;
}

const TixImageList& TixMailMessage::GetImageList()
{
    FillBodyLists();
    return FImageList;
}

} // namespace ix
