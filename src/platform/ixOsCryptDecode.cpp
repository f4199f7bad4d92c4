// CryptoAPI certificate names, object decoding, extensions, enhanced key usage and public key
// lengths over OpenSSL.
#include "platform/ixOsCrypt.h"

#include "platform/internal/ixOsCryptContext.h"
#include "platform/ixOsKernel.h"

#include <openssl/err.h>

#include <cstring>

namespace ix::os {

using namespace internal;

namespace {

using TGeneralNamesPtr = std::unique_ptr<GENERAL_NAMES, TOpenSslFree<GENERAL_NAMES, GENERAL_NAMES_free>>;

// ---- names ---------------------------------------------------------------------------------

std::u16string FirstEmailAltName(const GENERAL_NAMES* ANames)
{
    for (int index = 0; index < sk_GENERAL_NAME_num(ANames); ++index)
    {
        const GENERAL_NAME* name = sk_GENERAL_NAME_value(ANames, index);
        if (name->type == GEN_EMAIL)
            return Asn1StringToUtf16(name->d.rfc822Name);
    }
    return {};
}

/// The simple display name: the first of common name, organizational unit, organization and
/// e-mail attribute; else the first e-mail alternative name; else the first attribute.
std::u16string SimpleDisplayName(X509* ACert, bool AIssuer)
{
    const ::X509_NAME* name = AIssuer ? X509_get_issuer_name(ACert) : X509_get_subject_name(ACert);
    for (const int nid : {NID_commonName, NID_organizationalUnitName, NID_organizationName,
             NID_pkcs9_emailAddress})
    {
        const int index = X509_NAME_get_index_by_NID(name, nid, -1);
        if (index >= 0)
            return Asn1StringToUtf16(X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, index)));
    }
    const TGeneralNamesPtr altNames(static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(ACert,
        AIssuer ? NID_issuer_alt_name : NID_subject_alt_name, nullptr, nullptr)));
    ERR_clear_error();
    std::u16string result = FirstEmailAltName(altNames.get());
    if (result.empty() && X509_NAME_entry_count(name) > 0)
        result = Asn1StringToUtf16(X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, 0)));
    return result;
}

// ---- decoded structures --------------------------------------------------------------------

/// The CERT_RDN_ATTR value type and value bytes of an attribute.
std::pair<DWORD, std::vector<BYTE>> RdnValue(const ASN1_STRING* AValue)
{
    const BYTE* data = ASN1_STRING_get0_data(AValue);
    std::vector<BYTE> bytes(data, data + ASN1_STRING_length(AValue));
    switch (ASN1_STRING_type(AValue))
    {
    case V_ASN1_OCTET_STRING: return {CERT_RDN_OCTET_STRING, bytes};
    case V_ASN1_NUMERICSTRING: return {CERT_RDN_NUMERIC_STRING, bytes};
    case V_ASN1_PRINTABLESTRING: return {CERT_RDN_PRINTABLE_STRING, bytes};
    case V_ASN1_T61STRING: return {CERT_RDN_TELETEX_STRING, bytes};
    case V_ASN1_VIDEOTEXSTRING: return {CERT_RDN_VIDEOTEX_STRING, bytes};
    case V_ASN1_IA5STRING: return {CERT_RDN_IA5_STRING, bytes};
    case V_ASN1_GRAPHICSTRING: return {CERT_RDN_GRAPHIC_STRING, bytes};
    case V_ASN1_VISIBLESTRING: return {CERT_RDN_VISIBLE_STRING, bytes};
    case V_ASN1_GENERALSTRING: return {CERT_RDN_GENERAL_STRING, bytes};
    case V_ASN1_UNIVERSALSTRING: return {CERT_RDN_UNIVERSAL_STRING, bytes};
    case V_ASN1_BMPSTRING:
    case V_ASN1_UTF8STRING:
    {
        const std::u16string text = Asn1StringToUtf16(AValue);
        const auto* wide = reinterpret_cast<const BYTE*>(text.data());
        return {ASN1_STRING_type(AValue) == V_ASN1_BMPSTRING ? CERT_RDN_BMP_STRING
                                                             : CERT_RDN_UTF8_STRING,
            std::vector<BYTE>(wide, wide + text.size() * sizeof(char16_t))};
    }
    default: return {CERT_RDN_ENCODED_BLOB, bytes};
    }
}

void PutRdnAttr(TCryptFlatBlock& ABlock, size_t AOffset, const X509_NAME_ENTRY* AEntry)
{
    const auto [type, value] = RdnValue(X509_NAME_ENTRY_get_data(AEntry));
    ABlock.Put(AOffset, CERT_RDN_ATTR{nullptr, type, {}});
    ABlock.Link(AOffset + offsetof(CERT_RDN_ATTR, pszObjId),
        ABlock.AddText(OidText(X509_NAME_ENTRY_get_object(AEntry))));
    ABlock.PutBlob(AOffset + offsetof(CERT_RDN_ATTR, Value), value.data(), value.size());
}

/// Lays out a CERT_NAME_INFO: one CERT_RDN per set of attributes, in order.
void BuildNameInfo(TCryptFlatBlock& ABlock, const ::X509_NAME* AName)
{
    const int count = X509_NAME_entry_count(AName);
    std::vector<std::vector<const X509_NAME_ENTRY*>> rdns;
    for (int index = 0; index < count; ++index)
    {
        const X509_NAME_ENTRY* entry = X509_NAME_get_entry(AName, index);
        const auto set = static_cast<size_t>(X509_NAME_ENTRY_set(entry));
        rdns.resize(std::max(rdns.size(), set + 1));
        rdns[set].push_back(entry);
    }
    const size_t info = ABlock.Add(CERT_NAME_INFO{static_cast<DWORD>(rdns.size()), nullptr});
    if (rdns.empty())
        return;
    const size_t rdnArray = ABlock.Reserve(sizeof(CERT_RDN) * rdns.size());
    ABlock.Link(info + offsetof(CERT_NAME_INFO, rgRDN), rdnArray);
    for (size_t rdn = 0; rdn < rdns.size(); ++rdn)
    {
        const size_t rdnOffset = rdnArray + sizeof(CERT_RDN) * rdn;
        ABlock.Put(rdnOffset, CERT_RDN{static_cast<DWORD>(rdns[rdn].size()), nullptr});
        if (rdns[rdn].empty())
            continue;
        const size_t attrArray = ABlock.Reserve(sizeof(CERT_RDN_ATTR) * rdns[rdn].size());
        ABlock.Link(rdnOffset + offsetof(CERT_RDN, rgRDNAttr), attrArray);
        for (size_t attr = 0; attr < rdns[rdn].size(); ++attr)
            PutRdnAttr(ABlock, attrArray + sizeof(CERT_RDN_ATTR) * attr, rdns[rdn][attr]);
    }
}

/// Appends the DER of AValue and points the blob at ABlobOffset to it.
template <typename T>
void PutDer(TCryptFlatBlock& ABlock, size_t ABlobOffset, const T* AValue,
    int (*AEncode)(const T*, unsigned char**))
{
    const std::vector<BYTE> der = ToDer(AValue, AEncode);
    ABlock.PutBlob(ABlobOffset, der.data(), der.size());
}

void PutOtherName(TCryptFlatBlock& ABlock, size_t AField, const OTHERNAME* AName)
{
    const size_t other = ABlock.Add(CERT_OTHER_NAME{});
    ABlock.Link(AField, other);
    ABlock.Link(other + offsetof(CERT_OTHER_NAME, pszObjId), ABlock.AddText(OidText(AName->type_id)));
    PutDer<ASN1_TYPE>(ABlock, other + offsetof(CERT_OTHER_NAME, Value), AName->value, i2d_ASN1_TYPE);
}

void PutAltNameEntry(TCryptFlatBlock& ABlock, size_t AOffset, const GENERAL_NAME* AName)
{
    // The choices of CERT_ALT_NAME_ENTRY are OpenSSL's GEN_* values plus one.
    ABlock.Put(AOffset, CERT_ALT_NAME_ENTRY{static_cast<DWORD>(AName->type + 1), {}});
    const size_t field = AOffset + offsetof(CERT_ALT_NAME_ENTRY, pwszDNSName);
    switch (AName->type)
    {
    case GEN_OTHERNAME:
        PutOtherName(ABlock, field, AName->d.otherName);
        break;
    case GEN_EMAIL:
    case GEN_DNS:
    case GEN_URI:
        ABlock.Link(field, ABlock.AddWideText(Asn1StringToUtf16(AName->d.ia5)));
        break;
    case GEN_DIRNAME:
        PutDer<::X509_NAME>(ABlock, field, AName->d.directoryName, i2d_X509_NAME);
        break;
    case GEN_IPADD:
        ABlock.PutBlob(field, ASN1_STRING_get0_data(AName->d.iPAddress),
            static_cast<size_t>(ASN1_STRING_length(AName->d.iPAddress)));
        break;
    case GEN_RID:
        ABlock.Link(field, ABlock.AddText(OidText(AName->d.registeredID)));
        break;
    default:
        break;
    }
}

/// Decodes exactly ASize bytes of DER with D2i and lays out the result with ABuild.
template <typename T, T* (*D2i)(T**, const unsigned char**, long), void (*Free)(T*),
    typename TBuild>
BOOL DecodeInto(const BYTE* AData, DWORD ASize, TCryptFlatBlock& ABlock, TBuild ABuild)
{
    const unsigned char* next = AData;
    ERR_clear_error();
    const std::unique_ptr<T, TOpenSslFree<T, Free>> value(D2i(nullptr, &next, static_cast<long>(ASize)));
    if (!value)
        return Fail(DecodeError());
    if (next != AData + ASize)
        return Fail(CRYPT_E_ASN1_CORRUPT);
    ABuild(ABlock, value.get());
    return TRUE;
}

void BuildOctetBlob(TCryptFlatBlock& ABlock, const ASN1_OCTET_STRING* AValue)
{
    ABlock.PutBlob(ABlock.Add(CRYPT_DATA_BLOB{}), ASN1_STRING_get0_data(AValue),
        static_cast<size_t>(ASN1_STRING_length(AValue)));
}

enum class TStructType { Unknown, Name, AltName, OctetString, EnhKeyUsage };

TStructType StructTypeOf(LPCSTR AType)
{
    const auto number = reinterpret_cast<uintptr_t>(AType);
    if (number <= 0xFFFF)
    {
        switch (number)
        {
        case X509_NAME: return TStructType::Name;
        case X509_ALTERNATE_NAME: return TStructType::AltName;
        case X509_OCTET_STRING: return TStructType::OctetString;
        case X509_ENHANCED_KEY_USAGE: return TStructType::EnhKeyUsage;
        default: return TStructType::Unknown;
        }
    }
    const std::string_view oid = AType;
    if (oid == szOID_SUBJECT_ALT_NAME2 || oid == szOID_ISSUER_ALT_NAME2 || oid == "2.5.29.7"
        || oid == "2.5.29.8")
        return TStructType::AltName;
    if (oid == szOID_SUBJECT_KEY_IDENTIFIER)
        return TStructType::OctetString;
    if (oid == szOID_ENHANCED_KEY_USAGE)
        return TStructType::EnhKeyUsage;
    return TStructType::Unknown;
}

BOOL DecodeStruct(TStructType AType, const BYTE* AData, DWORD ASize, TCryptFlatBlock& ABlock)
{
    switch (AType)
    {
    case TStructType::Name:
        return DecodeInto<::X509_NAME, d2i_X509_NAME, X509_NAME_free>(AData, ASize, ABlock, BuildNameInfo);
    case TStructType::AltName:
        return DecodeInto<GENERAL_NAMES, d2i_GENERAL_NAMES, GENERAL_NAMES_free>(AData, ASize, ABlock,
            BuildAltNameInfo);
    case TStructType::OctetString:
        return DecodeInto<ASN1_OCTET_STRING, d2i_ASN1_OCTET_STRING, ASN1_OCTET_STRING_free>(AData,
            ASize, ABlock, BuildOctetBlob);
    case TStructType::EnhKeyUsage:
        return DecodeInto<EXTENDED_KEY_USAGE, d2i_EXTENDED_KEY_USAGE, EXTENDED_KEY_USAGE_free>(AData,
            ASize, ABlock, BuildEnhKeyUsage);
    default:
        // The system reports a structure type without a decoder this way.
        return Fail(ERROR_FILE_NOT_FOUND);
    }
}

} // namespace

namespace internal {

std::vector<BYTE> DerElement(BYTE ATag, const std::vector<BYTE>& AContent)
{
    std::vector<BYTE> result{ATag};
    const size_t size = AContent.size();
    if (size < 0x80)
        result.push_back(static_cast<BYTE>(size));
    else
    {
        std::vector<BYTE> length;
        for (size_t rest = size; rest != 0; rest >>= 8)
            length.insert(length.begin(), static_cast<BYTE>(rest & 0xFF));
        result.push_back(static_cast<BYTE>(0x80 | length.size()));
        result.insert(result.end(), length.begin(), length.end());
    }
    result.insert(result.end(), AContent.begin(), AContent.end());
    return result;
}

std::vector<BYTE> BlobBytes(const BYTE* AData, DWORD ASize)
{
    return AData == nullptr ? std::vector<BYTE>() : std::vector<BYTE>(AData, AData + ASize);
}

std::vector<BYTE> EncodePublicKeyInfo(const CERT_PUBLIC_KEY_INFO& AInfo)
{
    ASN1_OBJECT* oid = AInfo.Algorithm.pszObjId == nullptr ? nullptr
                                                           : OBJ_txt2obj(AInfo.Algorithm.pszObjId, 1);
    unsigned char* oidDer = nullptr;
    const int oidSize = oid == nullptr ? 0 : i2d_ASN1_OBJECT(oid, &oidDer);
    ASN1_OBJECT_free(oid);
    if (oidSize <= 0)
        return {};
    std::vector<BYTE> algorithm(oidDer, oidDer + oidSize);
    OPENSSL_free(oidDer);
    const std::vector<BYTE> parameters =
        BlobBytes(AInfo.Algorithm.Parameters.pbData, AInfo.Algorithm.Parameters.cbData);
    algorithm.insert(algorithm.end(), parameters.begin(), parameters.end());
    std::vector<BYTE> bits{static_cast<BYTE>(AInfo.PublicKey.cUnusedBits)};
    const std::vector<BYTE> key = BlobBytes(AInfo.PublicKey.pbData, AInfo.PublicKey.cbData);
    bits.insert(bits.end(), key.begin(), key.end());
    std::vector<BYTE> content = DerElement(0x30, algorithm);
    const std::vector<BYTE> bitString = DerElement(0x03, bits);
    content.insert(content.end(), bitString.begin(), bitString.end());
    return DerElement(0x30, content);
}

void BuildAltNameInfo(TCryptFlatBlock& ABlock, const GENERAL_NAMES* ANames)
{
    const auto count = static_cast<size_t>(sk_GENERAL_NAME_num(ANames));
    const size_t info = ABlock.Add(CERT_ALT_NAME_INFO{static_cast<DWORD>(count), nullptr});
    if (count == 0)
        return;
    const size_t array = ABlock.Reserve(sizeof(CERT_ALT_NAME_ENTRY) * count);
    ABlock.Link(info + offsetof(CERT_ALT_NAME_INFO, rgAltEntry), array);
    for (size_t index = 0; index < count; ++index)
        PutAltNameEntry(ABlock, array + sizeof(CERT_ALT_NAME_ENTRY) * index,
            sk_GENERAL_NAME_value(ANames, static_cast<int>(index)));
}

void BuildEnhKeyUsage(TCryptFlatBlock& ABlock, const EXTENDED_KEY_USAGE* AUsage)
{
    const auto count = static_cast<size_t>(sk_ASN1_OBJECT_num(AUsage));
    const size_t usage = ABlock.Add(CERT_ENHKEY_USAGE{static_cast<DWORD>(count), nullptr});
    if (count == 0)
        return;
    const size_t array = ABlock.Reserve(sizeof(LPSTR) * count);
    ABlock.Link(usage + offsetof(CERT_ENHKEY_USAGE, rgpszUsageIdentifier), array);
    for (size_t index = 0; index < count; ++index)
        ABlock.Link(array + sizeof(LPSTR) * index,
            ABlock.AddText(OidText(sk_ASN1_OBJECT_value(AUsage, static_cast<int>(index)))));
}

} // namespace internal

DWORD CertGetNameStringW(PCCERT_CONTEXT pCertContext, DWORD dwType, DWORD dwFlags,
    void* pvTypePara, LPWSTR pszNameString, DWORD cchNameString)
{
    (void)pvTypePara;
    const TCertContext* context = FindCertContext(pCertContext);
    std::u16string name;
    if (context != nullptr && dwType == CERT_NAME_SIMPLE_DISPLAY_TYPE)
        name = SimpleDisplayName(context->Certificate(), (dwFlags & CERT_NAME_ISSUER_FLAG) != 0);
    if (pszNameString == nullptr || cchNameString == 0)
        return static_cast<DWORD>(name.size() + 1);
    const size_t count = std::min<size_t>(name.size(), cchNameString - 1);
    std::memcpy(pszNameString, name.data(), count * sizeof(char16_t));
    pszNameString[count] = u'\0';
    return static_cast<DWORD>(count + 1);
}

BOOL CryptDecodeObject(DWORD dwCertEncodingType, LPCSTR lpszStructType, const BYTE* pbEncoded,
    DWORD cbEncoded, DWORD dwFlags, void* pvStructInfo, DWORD* pcbStructInfo)
{
    (void)dwFlags;
    if ((dwCertEncodingType & X509_ASN_ENCODING) == 0 || lpszStructType == nullptr
        || pbEncoded == nullptr || pcbStructInfo == nullptr)
        return Fail(E_INVALIDARG);
    TCryptFlatBlock block;
    if (!DecodeStruct(StructTypeOf(lpszStructType), pbEncoded, cbEncoded, block))
        return FALSE;
    return block.CopyOut(pvStructInfo, pcbStructInfo);
}

PCERT_EXTENSION CertFindExtension(LPCSTR pszObjId, DWORD cExtensions,
    CERT_EXTENSION rgExtensions[])
{
    for (DWORD index = 0; pszObjId != nullptr && rgExtensions != nullptr && index < cExtensions;
         ++index)
    {
        if (rgExtensions[index].pszObjId != nullptr
            && std::strcmp(rgExtensions[index].pszObjId, pszObjId) == 0)
            return &rgExtensions[index];
    }
    SetLastError(CRYPT_E_NOT_FOUND);
    return nullptr;
}

BOOL CertGetEnhancedKeyUsage(PCCERT_CONTEXT pCertContext, DWORD dwFlags, PCERT_ENHKEY_USAGE pUsage,
    DWORD* pcbUsage)
{
    (void)dwFlags;
    const TCertContext* context = FindCertContext(pCertContext);
    if (context == nullptr)
        return FALSE;
    int critical = 0;
    auto* usage = static_cast<EXTENDED_KEY_USAGE*>(
        X509_get_ext_d2i(context->Certificate(), NID_ext_key_usage, &critical, nullptr));
    const std::unique_ptr<EXTENDED_KEY_USAGE, TOpenSslFree<EXTENDED_KEY_USAGE, EXTENDED_KEY_USAGE_free>>
        owner(usage);
    ERR_clear_error();
    if (usage == nullptr)
        return Fail(critical == -1 ? CRYPT_E_NOT_FOUND : CRYPT_E_ASN1_CORRUPT);
    TCryptFlatBlock block;
    BuildEnhKeyUsage(block, usage);
    return block.CopyOut(pUsage, pcbUsage);
}

DWORD CertGetPublicKeyLength(DWORD dwCertEncodingType, PCERT_PUBLIC_KEY_INFO pPublicKey)
{
    if ((dwCertEncodingType & X509_ASN_ENCODING) == 0 || pPublicKey == nullptr)
    {
        SetLastError(E_INVALIDARG);
        return 0;
    }
    const std::vector<BYTE> der = EncodePublicKeyInfo(*pPublicKey);
    const unsigned char* next = der.data();
    EVP_PKEY* key = der.empty() ? nullptr : d2i_PUBKEY(nullptr, &next, static_cast<long>(der.size()));
    ERR_clear_error();
    if (key == nullptr)
    {
        SetLastError(NTE_BAD_KEY);
        return 0;
    }
    const int bits = EVP_PKEY_get_bits(key);
    EVP_PKEY_free(key);
    return static_cast<DWORD>(std::max(bits, 0));
}

} // namespace ix::os
