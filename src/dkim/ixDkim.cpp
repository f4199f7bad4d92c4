#include "dkim/ixDkim.h"
#include "core/ixProperties.h"

#include "core/ixDateUtils.h"
#include "crypto/ixCryptHash.h"
#include "crypto/ixCryptSignature.h"
#include "dkim/ixDkimCanonicalizer.h"
#include "dns/ixDnsMessage.h"
#include "dns/ixDnsQuery.h"
#include "message/ixEncoder.h"
#include "util/ixUtils.h"

#include <algorithm>

namespace ix {

namespace {

TixByteArray Bytes(std::string_view AText)
{
    return TixByteArray(AText.begin(), AText.end());
}

bool IsFoldingSpace(char AChar) noexcept
{
    return AChar == ' ' || AChar == '\t' || AChar == '\r' || AChar == '\n';
}

/// AField (a raw DKIM-Signature field, name included) with the value of its "b" tag removed:
/// the base64 characters and the folding space between them go, the tag name and "=" stay.
std::string ClearSignatureValue(std::string AField)
{
    size_t at = AField.find(':');
    while (at != std::string::npos && at < AField.size()) {
        size_t name = at + 1;
        while (name < AField.size() && IsFoldingSpace(AField[name]))
            ++name;
        size_t equals = name;
        while (equals < AField.size() && AField[equals] != '=' && AField[equals] != ';')
            ++equals;
        const size_t next = AField.find(';', name);
        if (equals < AField.size() && AField[equals] == '=' && Trim(AField.substr(name, equals - name)) == "b") {
            size_t end = next == std::string::npos ? AField.size() : next;
            while (end > equals + 1 && IsFoldingSpace(AField[end - 1]))
                --end;
            AField.erase(equals + 1, end - equals - 1);
            return AField;
        }
        at = next;
    }
    return AField;
}

/// AText without its final CR LF.
std::string WithoutLineEnd(std::string AText)
{
    if (AText.ends_with("\r\n"))
        AText.resize(AText.size() - 2);
    return AText;
}

/// The domain part of an identity (after its last "@"), lower case.
std::string IdentityDomain(const std::string& AIdentity)
{
    const size_t at = AIdentity.rfind('@');
    return LowerCase(at == std::string::npos ? AIdentity : AIdentity.substr(at + 1));
}

/// The key type part of a signature algorithm name ("rsa" of "rsa-sha256").
std::string KeyTypeOf(const std::string& AAlgorithm)
{
    return AAlgorithm.substr(0, AAlgorithm.find('-'));
}

} // namespace

// ---- DNS settings ---------------------------------------------------------------------------

void TixDkimDnsSettings::Assign(const TPersistent& ASource)
{
    const auto* source = dynamic_cast<const TixDkimDnsSettings*>(&ASource);
    if (!source) {
        TPersistent::Assign(ASource);
        return;
    }
    ServiceType = source->ServiceType;
    Notes = source->Notes;
    AcceptableHashAlgorithms.Assign(source->AcceptableHashAlgorithms);
    Flags = source->Flags;
}

// ---- Component ------------------------------------------------------------------------------

TixDkim::TixDkim(TComponent* AOwner)
    : TComponent(AOwner), FSignatureAlgorithm("rsa-sha256"), FPublicKeyLocation("dns/txt"),
      FDnsQuery(std::make_unique<TixDnsQuery>())
{
    SetDefaultSignedHeaderFields();
}

TixDkim::~TixDkim() = default;

void TixDkim::SetDefaultSignedHeaderFields()
{
    FSignedHeaderFields.Clear();
    for (const char* name : {"Date", "From", "To", "Subject", "MIME-Version", "Content-Type"})
        FSignedHeaderFields.Add(name);
}

std::unique_ptr<TixDkimConfig> TixDkim::CreateConfig()
{
    return std::make_unique<TixDkimConfig>();
}

TixDkimConfig& TixDkim::GetConfig()
{
    if (!FConfig)
        FConfig = CreateConfig();
    return *FConfig;
}

TixRsaKey& TixDkim::GetRsaKey()
{
    if (!FRsaKey) {
        FRsaKey = CreateByName<TixRsaKey>("rsa", DkimInvalidKeyText, DkimInvalidKeyCode);
        FRsaKey->Init();
    }
    return *FRsaKey;
}

TixEd25519Key& TixDkim::GetEd25519Key()
{
    if (!FEd25519Key) {
        FEd25519Key = CreateByName<TixEd25519Key>("ed25519", DkimInvalidKeyText, DkimInvalidKeyCode);
        FEd25519Key->Init();
    }
    return *FEd25519Key;
}

template <typename T>
std::unique_ptr<T> TixDkim::CreateByName(const std::string& AName, const char* AErrorText, int32_t AErrorCode)
{
    std::unique_ptr<TixConfigObject> instance = GetConfig().CreateInstance(AName);
    auto* typed = dynamic_cast<T*>(instance.get());
    if (!typed)
        RaiseDkimError(AErrorText, AErrorCode);
    instance.release();
    return std::unique_ptr<T>(typed);
}

TixDkimSignature* TixDkim::CreateSignature()
{
    return FSignatures.Add(std::make_unique<TixDkimSignature>());
}

void TixDkim::DoGetPublicKey(TixDkimSignature* ASignature, TixByteArray& AKey)
{
    CallEvent(OnGetPublicKey, this, ASignature, AKey);
}

void TixDkim::DoVerify(TixDkimSignature* ASignature, TStrings& AMessage, TixDkimSignatureVerifyStatus& AVerifyStatus)
{
    CallEvent(OnVerify, this, ASignature, AMessage, AVerifyStatus);
}

void TixDkim::DoSign(TixDkimSignature* ASignature, TStrings& AMessage)
{
    CallEvent(OnSign, this, ASignature, AMessage);
}

void TixDkim::DoKeyReceived(TixDkimSignature* ASignature, TixDkimKey* AKey)
{
    CallEvent(OnKeyReceived, this, ASignature, AKey);
}

void TixDkim::DoKeyRevoked(TixDkimSignature* ASignature, TixDkimKey* AKey)
{
    CallEvent(OnKeyRevoked, this, ASignature, AKey);
}

TixByteArray TixDkim::BodyHash(TixDkimSignature& ASignature, TStrings& AMessage)
{
    auto hash = CreateByName<TixHash>(ASignature.GetHashAlgorithm(), DkimInvalidAlgorithmText, DkimInvalidAlgorithmCode);
    auto canonicalizer = CreateByName<TixDkimCanonicalizer>(ASignature.GetBodyCanonicalization(), DkimInvalidFormatText,
        DkimInvalidFormatCode);
    const std::string body = canonicalizer->CanonicalizeBody(AMessage);
    const auto length = static_cast<int64_t>(body.size());
    if (ASignature.BodyLength > length)
        RaiseDkimError(DkimBodyHashText, DkimBodyHashCode);
    const int64_t signedLength = ASignature.BodyLength > 0 ? ASignature.BodyLength : length;
    ASignature.VerifyStatus.SetBodyCoverage(signedLength, length);
    hash->Init();
    hash->Update(Bytes(std::string_view(body).substr(0, static_cast<size_t>(signedLength))), 0,
        static_cast<int32_t>(signedLength));
    TixByteArray digest;
    hash->Done(digest);
    return digest;
}

// ---- Signing --------------------------------------------------------------------------------

void TixDkim::Sign(TStrings& AMessage)
{
    const std::unique_ptr<TixSignature> signer = CreateSigner(FSignatureAlgorithm);

    FSignatures.Clear();
    TixDkimSignature* signature = CreateSignature();
    signature->Version = 1;
    signature->SignatureAlgorithm = FSignatureAlgorithm;
    signature->Canonicalization = FCanonicalization;
    signature->Domain = FDomain;
    signature->Selector = FSelector;
    signature->SignedHeaderFields.Assign(FSignedHeaderFields);
    signature->BodyLength = FBodyLength;
    signature->UserIdentity = FUserIdentity;
    signature->PublicKeyLocation = FPublicKeyLocation;
    signature->SignatureTimestamp = FSignatureTimestamp;
    signature->SignatureExpiration = FSignatureExpiration;

    TixDkimHeaderFieldList list;
    list.Parse(0, AMessage);
    for (int32_t i = 0; i < FCopiedHeaderFields.Count(); ++i) {
        TStringList lines;
        list.GetFieldLines(list.GetFieldIndex(FCopiedHeaderFields[i]), lines);
        signature->CopiedHeaderFields.AddStrings(lines);
    }
    signature->BodyHash = TixEncoder::EncodeLineWith(cmBase64, BodyHash(*signature, AMessage));
    signature->Build(AMessage, FCharsPerLine);

    // The field just written is the first one of the header.
    list.Parse(0, AMessage);
    auto canonicalizer = CreateByName<TixDkimCanonicalizer>(signature->GetHeaderCanonicalization(),
        DkimInvalidFormatText, DkimInvalidFormatCode);
    const std::string text = canonicalizer->CanonicalizeHeader(list, signature->SignedHeaderFields) +
        WithoutLineEnd(canonicalizer->CanonicalizeRawField(TixDkimCanonicalizer::GetRawField(list, 0)));
    signer->Update(Bytes(text), 0, static_cast<int32_t>(text.size()));
    signature->Signature = TixEncoder::EncodeLineWith(cmBase64, signer->Sign());
    signature->SetSignatureValue(AMessage, FCharsPerLine);
    DoSign(signature, AMessage);
}

// ---- Verifying ------------------------------------------------------------------------------

void TixDkim::Verify(TStrings& AMessage)
{
    FSignatures.Clear();
    TixDkimHeaderFieldList list;
    list.Parse(0, AMessage);
    for (int32_t i = 0; i < list.GetFieldCount(); ++i) {
        if (list.GetFieldNames()[i] != "dkim-signature")
            continue;
        try {
            VerifyField(list, i, AMessage);
            if (FVerifyMode == dvmVerifyUntilSuccess)
                return;
        } catch (...) {
            if (FVerifyMode == dvmVerifyUntilFail)
                throw;
        }
    }
}

void TixDkim::CheckSignature(const TixDkimSignature& ASignature)
{
    if (ASignature.Version != 1)
        RaiseDkimError(DkimUnknownVersionText, DkimUnknownVersionCode);
    const auto& names = ASignature.SignedHeaderFields;
    bool from = false;
    for (int32_t i = 0; i < names.Count() && !from; ++i)
        from = LowerCase(names[i]) == "from";
    if (!from)
        RaiseDkimError(DkimFromNotSignedText, DkimFromNotSignedCode);
    if (!ASignature.UserIdentity.empty()) {
        const std::string identity = IdentityDomain(ASignature.UserIdentity);
        const std::string domain = LowerCase(ASignature.Domain);
        if (identity != domain && !identity.ends_with("." + domain))
            RaiseDkimError(DkimIdentityDomainText, DkimIdentityDomainCode);
    }
    if (ASignature.SignatureExpiration != 0 &&
        DateTimeToUnix(LocalToUtc(ASignature.SignatureExpiration)) < DateTimeToUnix(NowUtc()))
        RaiseDkimError(DkimExpiredText, DkimExpiredCode);
}

void TixDkim::VerifyField(TixDkimHeaderFieldList& AList, int32_t AIndex, TStrings& AMessage)
{
    TixDkimSignature* signature = CreateSignature();
    try {
        signature->Parse(AList.GetFieldValue(AIndex));
        CheckSignature(*signature);
        if (TixEncoder::DecodeBytesWith(cmBase64, signature->BodyHash) != BodyHash(*signature, AMessage))
            RaiseDkimError(DkimBodyHashText, DkimBodyHashCode);

        auto canonicalizer = CreateByName<TixDkimCanonicalizer>(signature->GetHeaderCanonicalization(),
            DkimInvalidFormatText, DkimInvalidFormatCode);
        const std::string signedText = canonicalizer->CanonicalizeHeader(AList, signature->SignedHeaderFields) +
            WithoutLineEnd(canonicalizer->CanonicalizeRawField(
                ClearSignatureValue(TixDkimCanonicalizer::GetRawField(AList, AIndex))));

        TixDkimKeyList keys;
        std::exception_ptr failure;
        GetKeys(signature, keys, failure);
        if (keys.Count() == 0 && !failure)
            RaiseDkimError(DkimKeyRequiredText, DkimKeyRequiredCode);
        bool verified = false;
        for (int32_t i = 0; i < keys.Count() && !verified; ++i) {
            try {
                VerifyWithKey(signature, keys[i], signedText);
                verified = true;
                DoKeyReceived(signature, keys[i]);
            } catch (const Exception&) {
                failure = std::current_exception();
            }
        }
        if (!verified)
            std::rethrow_exception(failure);
        signature->VerifyStatus.SetVerified();
    } catch (const Exception& e) {
        const auto* coded = dynamic_cast<const EixCodedError*>(&e);
        signature->VerifyStatus.SetFailed(e.Message(), coded ? coded->ErrorCode() : -1);
        DoVerify(signature, AMessage, signature->VerifyStatus);
        throw;
    }
    DoVerify(signature, AMessage, signature->VerifyStatus);
}

void TixDkim::GetKeys(TixDkimSignature* ASignature, TixDkimKeyList& AKeys, std::exception_ptr& AFailure)
{
    TixByteArray supplied;
    DoGetPublicKey(ASignature, supplied);
    if (!supplied.empty()) {
        TixDkimKey* key = AKeys.Add(std::make_unique<TixDkimKey>());
        key->KeyType = KeyTypeOf(ASignature->SignatureAlgorithm);
        key->PublicKey = TixEncoder::EncodeLineWith(cmBase64, supplied);
        return;
    }
    std::string text;
    FDnsQuery->ResolveTXT(ASignature->Selector + "._domainkey." + ASignature->Domain, text);
    // Each TXT record is one key record (its strings joined); records are never glued together.
    const TixDnsRecordList& answers = FDnsQuery->GetResponse().GetAnswers();
    for (int32_t i = 0; i < answers.Count(); ++i) {
        const auto* record = dynamic_cast<const TixDnsTXTRecord*>(answers[i]);
        if (!record)
            continue;
        auto key = std::make_unique<TixDkimKey>();
        try {
            key->Parse(record->GetText());
            AKeys.Add(std::move(key));
        } catch (const EixDkimError&) {
            AFailure = std::current_exception();
        }
    }
}

void TixDkim::VerifyWithKey(TixDkimSignature* ASignature, TixDkimKey* AKey, const std::string& ASignedText)
{
    const std::string hashName = ASignature->GetHashAlgorithm();
    const std::string keyType = AKey->KeyType.empty() ? std::string("rsa") : AKey->KeyType;
    const auto& hashes = AKey->AcceptableHashAlgorithms;
    if ((!AKey->Version.empty() && AKey->Version != "DKIM1") || (hashes.Count() > 0 && hashes.IndexOf(hashName) < 0) ||
        keyType != KeyTypeOf(ASignature->SignatureAlgorithm) || !GetConfig().CreateInstance(keyType))
        RaiseDkimError(DkimInvalidKeyText, DkimInvalidKeyCode);
    if (AKey->PublicKey.empty()) {
        DoKeyRevoked(ASignature, AKey);
        RaiseDkimError(DkimKeyRevokedText, DkimKeyRevokedCode);
    }
    if (AKey->Flags.Includes(ddfCheckUserIdentityDomain) && !ASignature->UserIdentity.empty() &&
        IdentityDomain(ASignature->UserIdentity) != LowerCase(ASignature->Domain))
        RaiseDkimError(DkimStrictIdentityText, DkimStrictIdentityCode);

    const std::unique_ptr<TixSignature> verifier = CreateVerifier(ASignature->SignatureAlgorithm, keyType,
        TixEncoder::DecodeBytesWith(cmBase64, AKey->PublicKey));
    verifier->Update(Bytes(ASignedText), 0, static_cast<int32_t>(ASignedText.size()));
    verifier->Verify(TixEncoder::DecodeBytesWith(cmBase64, ASignature->Signature));
}

std::unique_ptr<TixSignature> TixDkim::CreateSigner(const std::string& AAlgorithm)
{
    auto signer = CreateByName<TixSignature>(AAlgorithm, DkimInvalidAlgorithmText, DkimInvalidAlgorithmCode);
    signer->Init();
    if (auto* rsa = dynamic_cast<TixSignatureRsa*>(signer.get()))
        rsa->SetPrivateKey(GetRsaKey());
    else if (auto* ed25519 = dynamic_cast<TixSignatureEd25519*>(signer.get()))
        ed25519->SetPrivateKey(GetEd25519Key());
    else
        RaiseDkimError(DkimInvalidAlgorithmText, DkimInvalidAlgorithmCode);
    return signer;
}

std::unique_ptr<TixSignature> TixDkim::CreateVerifier(const std::string& AAlgorithm, const std::string& AKeyType,
    const TixByteArray& APublicKey)
{
    auto verifier = CreateByName<TixSignature>(AAlgorithm, DkimInvalidAlgorithmText, DkimInvalidAlgorithmCode);
    verifier->Init();
    auto key = CreateByName<TixConfigObject>(AKeyType, DkimInvalidKeyText, DkimInvalidKeyCode);
    auto* rsaKey = dynamic_cast<TixRsaKey*>(key.get());
    auto* rsa = dynamic_cast<TixSignatureRsa*>(verifier.get());
    auto* ed25519Key = dynamic_cast<TixEd25519Key*>(key.get());
    auto* ed25519 = dynamic_cast<TixSignatureEd25519*>(verifier.get());
    if (rsaKey && rsa) {
        rsaKey->Init();
        rsaKey->SetPublicKeyInfo(APublicKey);
        if (rsaKey->GetKeyLength() < MinRsaKeyLength)
            RaiseDkimError(DkimKeyTooShortText, DkimKeyTooShortCode);
        rsa->SetPublicKey(*rsaKey);
    } else if (ed25519Key && ed25519) {
        ed25519Key->Init();
        ed25519Key->SetPublicKey(APublicKey);
        ed25519->SetPublicKey(*ed25519Key);
    } else {
        RaiseDkimError(DkimInvalidKeyText, DkimInvalidKeyCode);
    }
    return verifier;
}

const TPropertyTable& TixDkimDnsSettings::GetPublishedProperties() const
{
    using C = TixDkimDnsSettings;
    static const TPropertyTable table("TixDkimDnsSettings", &TPersistent::GetPublishedProperties(),
        {
            Published<&C::ServiceType>("ServiceType", TixDkimKeyServiceTypes{}, {"ddsAll", "ddsEmail"}),
            Published<&C::Notes>("Notes", ""),
            Published<&C::AcceptableHashAlgorithms>("AcceptableHashAlgorithms", TValueNames{}),
            Published<&C::Flags>("Flags", TixDkimKeyFlags{}, {"ddfTestingDomain", "ddfCheckUserIdentityDomain"}),
        });
    return table;
}

const TPropertyTable& TixDkim::GetPublishedProperties() const
{
    using C = TixDkim;
    static const TPropertyTable table("TixDkim", &TComponent::GetPublishedProperties(),
        {
            PublishedObject<&C::GetDnsSettings>("DnsSettings"),
            Published<&C::GetSignatureAlgorithm, &C::SetSignatureAlgorithm>("SignatureAlgorithm", "rsa-sha256"),
            Published<&C::GetCanonicalization, &C::SetCanonicalization>("Canonicalization", ""),
            Published<&C::GetDomain, &C::SetDomain>("Domain", ""),
            Published<&C::GetSelector, &C::SetSelector>("Selector", ""),
            Published<&C::GetSignedHeaderFields>("SignedHeaderFields",
                TValueNames{"Date", "From", "To", "Subject", "MIME-Version", "Content-Type"}),
            Published<&C::GetBodyLength, &C::SetBodyLength>("BodyLength", 0),
            Published<&C::GetUserIdentity, &C::SetUserIdentity>("UserIdentity", ""),
            Published<&C::GetPublicKeyLocation, &C::SetPublicKeyLocation>("PublicKeyLocation", "dns/txt"),
            Published<&C::GetSignatureTimestamp, &C::SetSignatureTimestamp>("SignatureTimestamp", 0),
            Published<&C::GetSignatureExpiration, &C::SetSignatureExpiration>("SignatureExpiration", 0),
            Published<&C::GetCopiedHeaderFields>("CopiedHeaderFields", TValueNames{}),
            Published<&C::GetCharsPerLine, &C::SetCharsPerLine>("CharsPerLine", DefaultCharsPerLine),
            Published<&C::GetVerifyMode, &C::SetVerifyMode>("VerifyMode", dvmVerifyUntilFail,
                {"dvmVerifyUntilFail", "dvmVerifyUntilSuccess", "dvmVerifyAll"}),
        });
    return table;
}

} // namespace ix
