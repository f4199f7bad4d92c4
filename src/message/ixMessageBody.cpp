#include "message/ixMessageBody.h"

#include <algorithm>

#include "message/internal/ixMessageComposer.h"
#include "message/internal/ixMessageShared.h"
#include "message/ixMailHeader.h"
#include "message/ixMailMessage.h"
#include "util/ixUtils.h"

namespace ix {

using namespace internal;

namespace {

constexpr std::string_view CrLf = "\r\n";

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

void TixMessageBody::SetContentType(const std::string& AValue)
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

// ---- Composing ----------------------------------------------------------------------------

void TixMessageBody::AssignBodyHeader(TixMailHeaderFieldList& AHeader)
{
    AHeader.AddField("Content-Type", TixMessageComposer::HeaderText(GetContentType()));
    AHeader.AddField("Content-Transfer-Encoding", TixMessageComposer::TransferEncodingName(GetEncoding()));
    TixMessageComposer::AddFields(AHeader, FExtraFields);
}

std::unique_ptr<TStream> TixMessageBody::GetSourceStream()
{
    return nullptr;
}

void TixMessageBody::EncodeData(TStream& ASource, TStream& ADestination)
{
    TixEncoder& encoder = GetEncoder();
    if (const TixMailMessage* message = GetMessage()) {
        encoder.SetAllowESC(message->GetAllowESC());
        encoder.SetCharsPerLine(message->GetCharsPerLine());
    }
    encoder.SetEncodeMethod(GetEncoding());
    encoder.Encode(ASource, ADestination);
}

void TixMessageBody::SelectEncoding()
{
    const TixMailMessage* message = GetMessage();
    if (GetEncoding() != cmNone || (message && message->IsParsing()))
        return;
    if (const auto source = GetSourceStream())
        SetEncoding(TixMessageComposer::ChooseEncoding(*this, *source, cmNone));
}

} // namespace ix
