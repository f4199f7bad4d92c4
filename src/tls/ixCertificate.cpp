#include "tls/ixCertificate.h"

#include "crypto/ixCryptAPI.h"
#include "crypto/ixCryptUtils.h"
#include "platform/ixOsKernel.h"
#include "util/ixTranslator.h"
#include "util/ixUtils.h"

#include <algorithm>
#include <string_view>

namespace ix {

namespace {

constexpr os::DWORD Encoding = os::X509_ASN_ENCODING | os::PKCS_7_ASN_ENCODING;

/// UTF-16 text from the system in the default character set.
std::string FromWide(std::u16string_view AText)
{
    return TixTranslator::WideToString(AText, os::CP_ACP);
}

std::string FromWide(os::LPCWSTR AText)
{
    return AText == nullptr ? std::string() : FromWide(std::u16string_view(AText));
}

/// UTF-16 text in a buffer, without a trailing zero character.
std::string FromWideBuffer(const TixByteArray& ABuffer)
{
    std::u16string text(ABuffer.size() / sizeof(char16_t), u'\0');
    std::copy_n(ABuffer.begin(), text.size() * sizeof(char16_t), reinterpret_cast<uint8_t*>(text.data()));
    if (!text.empty() && text.back() == u'\0')
        text.pop_back();
    return FromWide(text);
}

std::string NameString(os::PCCERT_CONTEXT AContext, os::DWORD AFlags)
{
    const os::DWORD length = CertGetNameStringW(AContext, os::CERT_NAME_SIMPLE_DISPLAY_TYPE, AFlags, nullptr, nullptr, 0);
    if (length < 1)
        return {};
    std::u16string name(length, u'\0');
    CertGetNameStringW(AContext, os::CERT_NAME_SIMPLE_DISPLAY_TYPE, AFlags, nullptr, name.data(), length);
    return FromWide(name.c_str());
}

/// A context property's bytes; empty when it is absent.
TixByteArray ContextProperty(os::PCCERT_CONTEXT AContext, os::DWORD AId)
{
    os::DWORD size = 0;
    if (!CertGetCertificateContextProperty(AContext, AId, nullptr, &size) || size == 0)
        return {};
    TixByteArray buffer(size);
    if (!CertGetCertificateContextProperty(AContext, AId, buffer.data(), &size))
        return {};
    buffer.resize(size);
    return buffer;
}

/// The structure decoded from an encoded blob; empty when it cannot be decoded.
TixByteArray Decode(os::LPCSTR AStructType, const os::CRYPTOAPI_BLOB& AEncoded)
{
    os::DWORD size = 0;
    if (!CryptDecodeObject(Encoding, AStructType, AEncoded.pbData, AEncoded.cbData, 0, nullptr, &size) || size == 0)
        return {};
    TixByteArray buffer(size);
    if (!CryptDecodeObject(Encoding, AStructType, AEncoded.pbData, AEncoded.cbData, 0, buffer.data(), &size))
        return {};
    return buffer;
}

/// The decoded value of the certificate's extension AOid; empty when it has none.
TixByteArray DecodeExtension(const os::CERT_INFO& AInfo, os::LPCSTR AOid)
{
    const os::CERT_EXTENSION* extension = CertFindExtension(AOid, AInfo.cExtension, AInfo.rgExtension);
    return extension == nullptr ? TixByteArray() : Decode(AOid, extension->Value);
}

std::string AlgorithmName(const std::string& AOid)
{
    const os::CRYPT_OID_INFO* info =
        CryptFindOIDInfo(os::CRYPT_OID_INFO_OID_KEY, const_cast<char*>(AOid.c_str()), 0);
    return info == nullptr ? AOid : FromWide(info->pwszName);
}

std::string OidOf(const os::CRYPT_ALGORITHM_IDENTIFIER& AAlgorithm)
{
    return AAlgorithm.pszObjId == nullptr ? std::string() : std::string(AAlgorithm.pszObjId);
}

std::string BlobHex(const os::CRYPTOAPI_BLOB& ABlob)
{
    return BytesToHex(std::span<const uint8_t>(ABlob.pbData, ABlob.cbData));
}

} // namespace

void TixCertificate::TContextFree::operator()(os::PCCERT_CONTEXT AContext) const noexcept
{
    CertFreeCertificateContext(AContext);
}

TixCertificate::TixCertificate(os::PCCERT_CONTEXT AContext)
    : FContext(CertDuplicateCertificateContext(AContext))
{
    if (FContext)
        Load();
}

void TixCertificate::Load()
{
    const os::CERT_INFO& info = *FContext->pCertInfo;
    FIssuedTo = NameString(FContext.get(), 0);
    FIssuedBy = NameString(FContext.get(), os::CERT_NAME_ISSUER_FLAG);
    LoadEmail();
    FSerialNumber = BytesToHex(ReverseBytes(std::span<const uint8_t>(info.SerialNumber.pbData, info.SerialNumber.cbData)));
    FValidFrom = FileTimeToLocal(info.NotBefore);
    FValidTo = FileTimeToLocal(info.NotAfter);
    FFriendlyName = FromWideBuffer(ContextProperty(FContext.get(), os::CERT_FRIENDLY_NAME_PROP_ID));
    LoadEnhancedKeyUsage();
    FVersion = info.dwVersion <= os::CERT_V3 ? static_cast<uint8_t>(info.dwVersion) : 0;
    FSignatureAlgorithm = OidOf(info.SignatureAlgorithm);
    FSignatureAlgorithmName = AlgorithmName(FSignatureAlgorithm);
    FPublicKeyAlgorithm = OidOf(info.SubjectPublicKeyInfo.Algorithm);
    FPublicKeyAlgorithmName = AlgorithmName(FPublicKeyAlgorithm);
    FKeyLength = static_cast<int32_t>(CertGetPublicKeyLength(FContext->dwCertEncodingType,
        const_cast<os::CERT_PUBLIC_KEY_INFO*>(&info.SubjectPublicKeyInfo)));
    const TixByteArray provider = ContextProperty(FContext.get(), os::CERT_KEY_PROV_INFO_PROP_ID);
    if (provider.size() >= sizeof(os::CRYPT_KEY_PROV_INFO))
        FKeyContainerName = FromWide(reinterpret_cast<const os::CRYPT_KEY_PROV_INFO*>(provider.data())->pwszContainerName);
    FThumbprint = BytesToHex(ContextProperty(FContext.get(), os::CERT_SHA1_HASH_PROP_ID));
    const TixByteArray keyId = DecodeExtension(info, os::szOID_SUBJECT_KEY_IDENTIFIER);
    if (keyId.size() >= sizeof(os::CRYPT_DATA_BLOB))
        FSubjectKeyIdentifier = BlobHex(*reinterpret_cast<const os::CRYPT_DATA_BLOB*>(keyId.data()));
}

void TixCertificate::LoadEmail()
{
    const os::CERT_INFO& info = *FContext->pCertInfo;
    const TixByteArray name = Decode(os::CryptStructType(os::X509_NAME), info.Subject);
    if (!name.empty())
    {
        const auto& nameInfo = *reinterpret_cast<const os::CERT_NAME_INFO*>(name.data());
        for (const os::CERT_RDN& rdn : std::span(nameInfo.rgRDN, nameInfo.cRDN))
        {
            for (const os::CERT_RDN_ATTR& attr : std::span(rdn.rgRDNAttr, rdn.cRDNAttr))
            {
                if (std::string_view(attr.pszObjId) == os::szOID_RSA_emailAddr)
                {
                    FEmail = TixTranslator::GetString(std::span<const uint8_t>(attr.Value.pbData, attr.Value.cbData), "us-ascii");
                    return;
                }
            }
        }
    }
    const TixByteArray altNames = DecodeExtension(info, os::szOID_SUBJECT_ALT_NAME2);
    if (altNames.empty())
        return;
    const auto& altInfo = *reinterpret_cast<const os::CERT_ALT_NAME_INFO*>(altNames.data());
    for (const os::CERT_ALT_NAME_ENTRY& entry : std::span(altInfo.rgAltEntry, altInfo.cAltEntry))
    {
        if (entry.dwAltNameChoice == os::CERT_ALT_NAME_RFC822_NAME)
        {
            FEmail = FromWide(entry.pwszRfc822Name);
            return;
        }
    }
}

void TixCertificate::LoadEnhancedKeyUsage()
{
    os::DWORD size = 0;
    if (!CertGetEnhancedKeyUsage(FContext.get(), 0, nullptr, &size) || size == 0)
    {
        if (os::GetLastError() == os::CRYPT_E_NOT_FOUND)
            return;
        RaiseCryptError("CertGetEnhancedKeyUsage");
    }
    TixByteArray buffer(size);
    auto* usage = reinterpret_cast<os::CERT_ENHKEY_USAGE*>(buffer.data());
    CheckCrypt(CertGetEnhancedKeyUsage(FContext.get(), 0, usage, &size), "CertGetEnhancedKeyUsage");
    for (const os::LPSTR identifier : std::span(usage->rgpszUsageIdentifier, usage->cUsageIdentifier))
    {
        if (identifier != nullptr && *identifier != '\0')
            FEnhancedKeyUsage += TixTranslator::GetString(
                std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(identifier), std::string_view(identifier).size()),
                "us-ascii") + ",";
    }
    if (!FEnhancedKeyUsage.empty())
        FEnhancedKeyUsage.pop_back();
}

TixCertificateList::TixCertificateList(bool AOwnsItems) : FOwnsItems(AOwnsItems) {}

TixCertificateList::~TixCertificateList()
{
    Clear();
}

void TixCertificateList::Add(TixCertificate* ACertificate)
{
    FItems.push_back(ACertificate);
}

TixCertificate* TixCertificateList::Items(int32_t AIndex) const
{
    if (AIndex < 0 || AIndex >= Count())
        RaiseListIndexError(AIndex);
    return FItems[static_cast<size_t>(AIndex)];
}

void TixCertificateList::Clear()
{
    if (FOwnsItems)
    {
        for (TixCertificate* certificate : FItems)
            delete certificate;
    }
    FItems.clear();
}

} // namespace ix
