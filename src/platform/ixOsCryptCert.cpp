// CryptoAPI certificate contexts over OpenSSL: creation from DER, PEM and PKCS #12, duplication,
// properties, and the decoded CERT_INFO every context carries.
#include "platform/ixOsCrypt.h"

#include "platform/internal/ixOsCryptContext.h"
#include "platform/ixOsKernel.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

namespace ix::os {

using namespace internal;

namespace internal {

namespace {

TLiveSet& LiveStores()
{
    static TLiveSet stores;
    return stores;
}

TLiveSet& LiveContexts()
{
    static TLiveSet contexts;
    return contexts;
}

/// Seconds between 1601-01-01 and 1970-01-01.
constexpr int64_t FileTimeEpochOffset = 11644473600;

FILETIME FileTimeOf(const ASN1_TIME* ATime)
{
    std::tm parts{};
    if (ATime == nullptr || ASN1_TIME_to_tm(ATime, &parts) != 1)
        return {};
    const uint64_t ticks = static_cast<uint64_t>(timegm(&parts) + FileTimeEpochOffset) * 10000000u;
    return {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

/// The serial number's content octets in the little-endian order of CERT_INFO.
std::vector<BYTE> SerialBytes(const ASN1_INTEGER* ASerial)
{
    std::vector<BYTE> der = ToDer(ASerial, i2d_ASN1_INTEGER);
    if (der.size() < 2)
        return {};
    const size_t header = der[1] < 0x80 ? 2 : 2 + (der[1] & 0x7F);
    std::vector<BYTE> content(der.begin() + static_cast<ptrdiff_t>(std::min(header, der.size())),
        der.end());
    std::reverse(content.begin(), content.end());
    return content;
}

void PutBitBlob(TCryptFlatBlock& ABlock, size_t AOffset, const BYTE* AData, size_t ASize,
    DWORD AUnusedBits)
{
    ABlock.Put(AOffset, CRYPT_BIT_BLOB{static_cast<DWORD>(ASize), nullptr, AUnusedBits});
    if (ASize != 0)
        ABlock.Link(AOffset + offsetof(CRYPT_BIT_BLOB, pbData), ABlock.AddBytes(AData, ASize));
}

void PutBitString(TCryptFlatBlock& ABlock, size_t AOffset, const ASN1_BIT_STRING* AValue)
{
    if (AValue == nullptr)
        return;
    const DWORD unused = (AValue->flags & ASN1_STRING_FLAG_BITS_LEFT) != 0 ? AValue->flags & 7 : 0;
    PutBitBlob(ABlock, AOffset, ASN1_STRING_get0_data(AValue),
        static_cast<size_t>(ASN1_STRING_length(AValue)), unused);
}

void PutAlgorithm(TCryptFlatBlock& ABlock, size_t AOffset, const X509_ALGOR* AAlgorithm)
{
    if (AAlgorithm == nullptr)
        return;
    ABlock.Link(AOffset + offsetof(CRYPT_ALGORITHM_IDENTIFIER, pszObjId),
        ABlock.AddText(OidText(AAlgorithm->algorithm)));
    const std::vector<BYTE> parameters = ToDer<ASN1_TYPE>(AAlgorithm->parameter, i2d_ASN1_TYPE);
    ABlock.PutBlob(AOffset + offsetof(CRYPT_ALGORITHM_IDENTIFIER, Parameters), parameters.data(),
        parameters.size());
}

void PutName(TCryptFlatBlock& ABlock, size_t AOffset, const ::X509_NAME* AName)
{
    const std::vector<BYTE> der = ToDer(AName, i2d_X509_NAME);
    ABlock.PutBlob(AOffset, der.data(), der.size());
}

void PutPublicKeyInfo(TCryptFlatBlock& ABlock, size_t AOffset, X509* ACert)
{
    const unsigned char* key = nullptr;
    int keySize = 0;
    X509_ALGOR* algorithm = nullptr;
    if (X509_PUBKEY_get0_param(nullptr, &key, &keySize, &algorithm,
            X509_get_X509_PUBKEY(ACert)) != 1)
        return;
    PutAlgorithm(ABlock, AOffset + offsetof(CERT_PUBLIC_KEY_INFO, Algorithm), algorithm);
    PutBitBlob(ABlock, AOffset + offsetof(CERT_PUBLIC_KEY_INFO, PublicKey), key,
        static_cast<size_t>(keySize), 0);
}

void PutExtensions(TCryptFlatBlock& ABlock, size_t AInfo, const X509* ACert)
{
    const int count = X509_get_ext_count(ACert);
    if (count <= 0)
        return;
    const size_t array = ABlock.Reserve(sizeof(CERT_EXTENSION) * static_cast<size_t>(count));
    ABlock.Link(AInfo + offsetof(CERT_INFO, rgExtension), array);
    for (int index = 0; index < count; ++index)
    {
        X509_EXTENSION* extension = X509_get_ext(ACert, index);
        const size_t item = array + sizeof(CERT_EXTENSION) * static_cast<size_t>(index);
        ABlock.Put(item, CERT_EXTENSION{nullptr, X509_EXTENSION_get_critical(extension) ? 1 : 0, {}});
        ABlock.Link(item + offsetof(CERT_EXTENSION, pszObjId),
            ABlock.AddText(OidText(X509_EXTENSION_get_object(extension))));
        const ASN1_OCTET_STRING* value = X509_EXTENSION_get_data(extension);
        ABlock.PutBlob(item + offsetof(CERT_EXTENSION, Value), ASN1_STRING_get0_data(value),
            static_cast<size_t>(ASN1_STRING_length(value)));
    }
}

/// The CERT_INFO of a certificate, laid out with everything it points to.
TCryptFlatBlock BuildCertInfo(X509* ACert)
{
    TCryptFlatBlock block;
    const size_t info = block.Reserve(sizeof(CERT_INFO));
    CERT_INFO header{};
    header.dwVersion = static_cast<DWORD>(X509_get_version(ACert));
    header.NotBefore = FileTimeOf(X509_get0_notBefore(ACert));
    header.NotAfter = FileTimeOf(X509_get0_notAfter(ACert));
    header.cExtension = static_cast<DWORD>(std::max(X509_get_ext_count(ACert), 0));
    block.Put(info, header);

    const std::vector<BYTE> serial = SerialBytes(X509_get0_serialNumber(ACert));
    block.PutBlob(info + offsetof(CERT_INFO, SerialNumber), serial.data(), serial.size());
    PutAlgorithm(block, info + offsetof(CERT_INFO, SignatureAlgorithm), X509_get0_tbs_sigalg(ACert));
    PutName(block, info + offsetof(CERT_INFO, Issuer), X509_get_issuer_name(ACert));
    PutName(block, info + offsetof(CERT_INFO, Subject), X509_get_subject_name(ACert));
    PutPublicKeyInfo(block, info + offsetof(CERT_INFO, SubjectPublicKeyInfo), ACert);
    const ASN1_BIT_STRING* issuerId = nullptr;
    const ASN1_BIT_STRING* subjectId = nullptr;
    X509_get0_uids(ACert, &issuerId, &subjectId);
    PutBitString(block, info + offsetof(CERT_INFO, IssuerUniqueId), issuerId);
    PutBitString(block, info + offsetof(CERT_INFO, SubjectUniqueId), subjectId);
    PutExtensions(block, info, ACert);
    return block;
}

} // namespace

DWORD DecodeError()
{
    bool wrongTag = false;
    while (const unsigned long error = ERR_get_error())
        wrongTag = wrongTag || ERR_GET_REASON(error) == ASN1_R_WRONG_TAG;
    return wrongTag ? CRYPT_E_ASN1_BADTAG : CRYPT_E_ASN1_CORRUPT;
}

TX509Ptr UpRef(X509* AValue) noexcept
{
    if (AValue == nullptr || X509_up_ref(AValue) != 1)
        return nullptr;
    return TX509Ptr(AValue);
}

std::string OidText(const ASN1_OBJECT* AObject)
{
    const int size = AObject == nullptr ? 0 : OBJ_obj2txt(nullptr, 0, AObject, 1);
    if (size <= 0)
        return {};
    std::string text(static_cast<size_t>(size) + 1, '\0');
    OBJ_obj2txt(text.data(), size + 1, AObject, 1);
    text.resize(static_cast<size_t>(size));
    return text;
}

std::u16string Utf8ToUtf16(std::string_view AText)
{
    if (AText.empty())
        return {};
    const int size = static_cast<int>(AText.size());
    std::u16string result(
        static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, AText.data(), size, nullptr, 0)), u'\0');
    MultiByteToWideChar(CP_UTF8, 0, AText.data(), size, result.data(),
        static_cast<int>(result.size()));
    return result;
}

std::string Utf16ToUtf8(std::u16string_view AText)
{
    if (AText.empty())
        return {};
    const int size = static_cast<int>(AText.size());
    std::string result(static_cast<size_t>(WideCharToMultiByte(CP_UTF8, 0, AText.data(), size,
                           nullptr, 0, nullptr, nullptr)),
        '\0');
    WideCharToMultiByte(CP_UTF8, 0, AText.data(), size, result.data(),
        static_cast<int>(result.size()), nullptr, nullptr);
    return result;
}

std::u16string Asn1StringToUtf16(const ASN1_STRING* AValue)
{
    unsigned char* utf8 = nullptr;
    const int size = AValue == nullptr ? -1 : ASN1_STRING_to_UTF8(&utf8, AValue);
    if (size < 0)
        return {};
    std::u16string result =
        Utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(utf8), static_cast<size_t>(size)));
    OPENSSL_free(utf8);
    return result;
}

TCertStore::TCertStore()
{
    LiveStores().Add(this);
}

TCertStore::~TCertStore()
{
    LiveStores().Remove(this);
}

TCertStore* FindCertStore(HCERTSTORE AHandle) noexcept
{
    return LiveStores().Contains(AHandle) ? static_cast<TCertStore*>(AHandle) : nullptr;
}

TCertContext::TCertContext(TX509Ptr ACert, std::vector<BYTE> AEncoded,
    std::shared_ptr<TCertStore> AStore)
    : CERT_CONTEXT{}, FCert(std::move(ACert)), FStore(std::move(AStore)),
      FEncoded(std::move(AEncoded))
{
    dwCertEncodingType = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
    pbCertEncoded = FEncoded.data();
    cbCertEncoded = static_cast<DWORD>(FEncoded.size());
    pCertInfo = reinterpret_cast<CERT_INFO*>(BuildCertInfo(FCert.get()).PlaceIn(FInfo));
    hCertStore = FStore.get();
    LiveContexts().Add(static_cast<const CERT_CONTEXT*>(this));
}

TCertContext::~TCertContext()
{
    LiveContexts().Remove(static_cast<const CERT_CONTEXT*>(this));
}

bool TCertContext::GetProperty(DWORD AId, TCryptFlatBlock& AValue) const
{
    std::lock_guard lock(FPropertyLock);
    const auto found = FProperties.find(AId);
    if (found == FProperties.end())
        return false;
    AValue = found->second;
    return true;
}

void TCertContext::SetProperty(DWORD AId, const TCryptFlatBlock* AValue)
{
    std::lock_guard lock(FPropertyLock);
    if (AValue == nullptr)
        FProperties.erase(AId);
    else
        FProperties.insert_or_assign(AId, *AValue);
}

TCertContext* FindCertContext(PCCERT_CONTEXT AContext) noexcept
{
    if (!LiveContexts().Contains(AContext))
    {
        SetLastError(E_INVALIDARG);
        return nullptr;
    }
    return static_cast<TCertContext*>(const_cast<CERT_CONTEXT*>(AContext));
}

TCertContext* NewCertContext(TX509Ptr ACert, std::shared_ptr<TCertStore> AStore)
{
    std::vector<BYTE> encoded = ToDer<X509>(ACert.get(), i2d_X509);
    if (encoded.empty())
    {
        SetLastError(CRYPT_E_ASN1_CORRUPT);
        return nullptr;
    }
    if (!AStore)
        AStore = std::make_shared<TCertStore>();
    return new TCertContext(std::move(ACert), std::move(encoded), std::move(AStore));
}

X509* CertContextCertificate(PCCERT_CONTEXT AContext) noexcept
{
    const TCertContext* context = FindCertContext(AContext);
    return context == nullptr ? nullptr : context->Certificate();
}

EVP_PKEY* CertContextPrivateKey(PCCERT_CONTEXT AContext) noexcept
{
    const TCertContext* context = FindCertContext(AContext);
    return context == nullptr ? nullptr : context->PrivateKey();
}

std::vector<X509*> CertContextStoreCertificates(PCCERT_CONTEXT AContext)
{
    std::vector<X509*> result;
    if (const TCertContext* context = FindCertContext(AContext))
    {
        for (const TX509Ptr& cert : context->Store()->Certificates)
            result.push_back(cert.get());
    }
    return result;
}

PCCERT_CONTEXT CertCreateContextFromX509(X509* ACert, STACK_OF(X509)* AChain, EVP_PKEY* AKey)
{
    auto store = std::make_shared<TCertStore>();
    for (int index = 0; index < sk_X509_num(AChain); ++index)
    {
        X509* cert = sk_X509_value(AChain, index);
        if (X509_cmp(cert, ACert) != 0)
            store->Certificates.push_back(UpRef(cert));
    }
    TCertContext* context = NewCertContext(UpRef(ACert), std::move(store));
    if (context != nullptr && AKey != nullptr && EVP_PKEY_up_ref(AKey) == 1)
        context->SetPrivateKey(TEvpPkeyPtr(AKey));
    return context;
}

} // namespace internal

// ---- creation and release ------------------------------------------------------------------

PCCERT_CONTEXT CertCreateCertificateContext(DWORD dwCertEncodingType, const BYTE* pbCertEncoded,
    DWORD cbCertEncoded)
{
    if ((dwCertEncodingType & X509_ASN_ENCODING) == 0 || pbCertEncoded == nullptr)
    {
        SetLastError(E_INVALIDARG);
        return nullptr;
    }
    const unsigned char* next = pbCertEncoded;
    TX509Ptr cert(d2i_X509(nullptr, &next, static_cast<long>(cbCertEncoded)));
    if (!cert)
    {
        SetLastError(DecodeError());
        return nullptr;
    }
    if (next != pbCertEncoded + cbCertEncoded)
    {
        SetLastError(CRYPT_E_ASN1_CORRUPT);
        return nullptr;
    }
    return new TCertContext(std::move(cert), std::vector<BYTE>(pbCertEncoded, next),
        std::make_shared<TCertStore>());
}

PCCERT_CONTEXT CertDuplicateCertificateContext(PCCERT_CONTEXT pCertContext)
{
    if (pCertContext == nullptr)
        return nullptr;
    TCertContext* context = FindCertContext(pCertContext);
    if (context == nullptr)
        return nullptr;
    context->AddRef();
    return pCertContext;
}

BOOL CertFreeCertificateContext(PCCERT_CONTEXT pCertContext)
{
    if (pCertContext == nullptr)
        return TRUE;
    TCertContext* context = FindCertContext(pCertContext);
    if (context == nullptr)
        return FALSE;
    if (context->Release())
        delete context;
    return TRUE;
}

// ---- properties ----------------------------------------------------------------------------

namespace {

TCryptFlatBlock Sha1Of(const CERT_CONTEXT& AContext)
{
    BYTE digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_Digest(AContext.pbCertEncoded, AContext.cbCertEncoded, digest, &size, EVP_sha1(), nullptr);
    TCryptFlatBlock block;
    block.AddBytes(digest, size);
    return block;
}

size_t AddWideTextOrNull(TCryptFlatBlock& ABlock, size_t AField, LPCWSTR AText)
{
    if (AText != nullptr)
        ABlock.Link(AField, ABlock.AddWideText(AText));
    return AField;
}

TCryptFlatBlock BuildKeyProvInfo(const CRYPT_KEY_PROV_INFO& AInfo)
{
    TCryptFlatBlock block;
    CRYPT_KEY_PROV_INFO header = AInfo;
    header.pwszContainerName = nullptr;
    header.pwszProvName = nullptr;
    header.rgProvParam = nullptr;
    header.cProvParam = AInfo.rgProvParam == nullptr ? 0 : AInfo.cProvParam;
    const size_t info = block.Add(header);
    AddWideTextOrNull(block, info + offsetof(CRYPT_KEY_PROV_INFO, pwszContainerName),
        AInfo.pwszContainerName);
    AddWideTextOrNull(block, info + offsetof(CRYPT_KEY_PROV_INFO, pwszProvName), AInfo.pwszProvName);
    if (header.cProvParam == 0)
        return block;
    const size_t array = block.Reserve(sizeof(CRYPT_KEY_PROV_PARAM) * header.cProvParam);
    block.Link(info + offsetof(CRYPT_KEY_PROV_INFO, rgProvParam), array);
    for (DWORD index = 0; index < header.cProvParam; ++index)
    {
        const CRYPT_KEY_PROV_PARAM& param = AInfo.rgProvParam[index];
        const size_t item = array + sizeof(CRYPT_KEY_PROV_PARAM) * index;
        block.Put(item, CRYPT_KEY_PROV_PARAM{param.dwParam, nullptr, param.cbData, param.dwFlags});
        if (param.cbData != 0 && param.pbData != nullptr)
            block.Link(item + offsetof(CRYPT_KEY_PROV_PARAM, pbData),
                block.AddBytes(param.pbData, param.cbData));
    }
    return block;
}

} // namespace

BOOL CertGetCertificateContextProperty(PCCERT_CONTEXT pCertContext, DWORD dwPropId, void* pvData,
    DWORD* pcbData)
{
    const TCertContext* context = FindCertContext(pCertContext);
    if (context == nullptr)
        return FALSE;
    TCryptFlatBlock value;
    if (dwPropId == CERT_SHA1_HASH_PROP_ID)
        value = Sha1Of(*context);
    else if (!context->GetProperty(dwPropId, value))
        return Fail(CRYPT_E_NOT_FOUND);
    return value.CopyOut(pvData, pcbData);
}

BOOL CertSetCertificateContextProperty(PCCERT_CONTEXT pCertContext, DWORD dwPropId, DWORD dwFlags,
    const void* pvData)
{
    (void)dwFlags;
    TCertContext* context = FindCertContext(pCertContext);
    if (context == nullptr)
        return FALSE;
    TCryptFlatBlock value;
    if (dwPropId == CERT_FRIENDLY_NAME_PROP_ID && pvData != nullptr)
    {
        const auto* blob = static_cast<const CRYPT_DATA_BLOB*>(pvData);
        if (blob->pbData == nullptr && blob->cbData != 0)
            return Fail(E_INVALIDARG);
        value.AddBytes(blob->pbData, blob->cbData);
    }
    else if (dwPropId == CERT_KEY_PROV_INFO_PROP_ID && pvData != nullptr)
        value = BuildKeyProvInfo(*static_cast<const CRYPT_KEY_PROV_INFO*>(pvData));
    else if (dwPropId != CERT_FRIENDLY_NAME_PROP_ID && dwPropId != CERT_KEY_PROV_INFO_PROP_ID)
        return Fail(E_INVALIDARG);
    context->SetProperty(dwPropId, pvData == nullptr ? nullptr : &value);
    return TRUE;
}

// ---- contexts with a private key -----------------------------------------------------------

namespace {

using TBioPtr = std::unique_ptr<BIO, TOpenSslFree<BIO, BIO_free_all>>;


struct TX509StackFree
{
    void operator()(STACK_OF(X509) * AValue) const noexcept { sk_X509_pop_free(AValue, X509_free); }
};
using TX509StackPtr = std::unique_ptr<STACK_OF(X509), TX509StackFree>;

/// Opens a file for reading; null with the last error set when it cannot be opened.
TBioPtr OpenFile(LPCSTR APath)
{
    errno = 0;
    TBioPtr file(APath == nullptr ? nullptr : BIO_new_file(APath, "rb"));
    if (!file)
    {
        ERR_clear_error();
        SetLastError(errno == EACCES ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND);
    }
    return file;
}

/// Hands the application's password to OpenSSL; never asks on a terminal.
int PasswordCallback(char* ABuffer, int ASize, int, void* APassword)
{
    if (APassword == nullptr)
        return -1;
    const size_t length = std::strlen(static_cast<const char*>(APassword));
    if (length > static_cast<size_t>(ASize))
        return -1;
    std::memcpy(ABuffer, APassword, length);
    return static_cast<int>(length);
}

TX509StackPtr ReadPemCertificates(BIO* AFile)
{
    TX509StackPtr certs(sk_X509_new_null());
    while (X509* cert = PEM_read_bio_X509(AFile, nullptr, nullptr, nullptr))
        sk_X509_push(certs.get(), cert);
    ERR_clear_error();
    return certs;
}

/// Reads the first private key of a PEM file; null with the last error set when there is none
/// or APassword does not unlock it.
TEvpPkeyPtr ReadPemKey(LPCSTR APath, LPCSTR APassword)
{
    const TBioPtr file = OpenFile(APath);
    if (!file)
        return nullptr;
    TEvpPkeyPtr key(PEM_read_bio_PrivateKey(file.get(), nullptr, PasswordCallback,
        const_cast<char*>(APassword)));
    if (!key)
    {
        // An encrypted key that did not open means a missing or wrong password.
        BIO_reset(file.get());
        char line[256];
        bool encrypted = false;
        while (!encrypted && BIO_gets(file.get(), line, sizeof(line)) > 0)
            encrypted = std::strstr(line, "ENCRYPTED") != nullptr;
        ERR_clear_error();
        SetLastError(encrypted ? ERROR_INVALID_PASSWORD : CRYPT_E_NOT_FOUND);
    }
    return key;
}

void SetKeyContainer(PCCERT_CONTEXT AContext, LPCSTR AContainer)
{
    std::u16string container = Utf8ToUtf16(AContainer);
    CRYPT_KEY_PROV_INFO info{};
    info.pwszContainerName = container.data();
    info.dwKeySpec = AT_KEYEXCHANGE;
    CertSetCertificateContextProperty(AContext, CERT_KEY_PROV_INFO_PROP_ID, 0, &info);
}

/// Makes the context once certificate and key are known to belong together.
PCCERT_CONTEXT MakeKeyedContext(X509* ACert, STACK_OF(X509) * AChain, EVP_PKEY* AKey,
    LPCSTR AContainer)
{
    if (X509_check_private_key(ACert, AKey) != 1)
    {
        ERR_clear_error();
        SetLastError(NTE_BAD_KEY);
        return nullptr;
    }
    PCCERT_CONTEXT context = CertCreateContextFromX509(ACert, AChain, AKey);
    if (context != nullptr)
        SetKeyContainer(context, AContainer);
    return context;
}

} // namespace

PCCERT_CONTEXT CertCreateContextFromPemFile(LPCSTR ACertPath, LPCSTR AKeyPath, LPCSTR APassword)
{
    const TBioPtr file = OpenFile(ACertPath);
    if (!file)
        return nullptr;
    const TX509StackPtr certs = ReadPemCertificates(file.get());
    if (sk_X509_num(certs.get()) == 0)
    {
        SetLastError(CRYPT_E_NOT_FOUND);
        return nullptr;
    }
    LPCSTR keyPath = AKeyPath != nullptr ? AKeyPath : ACertPath;
    const TEvpPkeyPtr key = ReadPemKey(keyPath, APassword);
    if (!key)
        return nullptr;
    return MakeKeyedContext(sk_X509_value(certs.get(), 0), certs.get(), key.get(), keyPath);
}

PCCERT_CONTEXT CertCreateContextFromPfxFile(LPCSTR APath, LPCSTR APassword)
{
    const TBioPtr file = OpenFile(APath);
    if (!file)
        return nullptr;
    const std::unique_ptr<PKCS12, TOpenSslFree<PKCS12, PKCS12_free>> pfx(d2i_PKCS12_bio(file.get(), nullptr));
    if (!pfx)
    {
        SetLastError(DecodeError());
        return nullptr;
    }
    EVP_PKEY* key = nullptr;
    X509* cert = nullptr;
    STACK_OF(X509)* chain = nullptr;
    if (PKCS12_mac_present(pfx.get()) == 1 && PKCS12_verify_mac(pfx.get(), APassword, -1) != 1)
    {
        ERR_clear_error();
        SetLastError(ERROR_INVALID_PASSWORD);
        return nullptr;
    }
    if (PKCS12_parse(pfx.get(), APassword, &key, &cert, &chain) != 1)
    {
        SetLastError(DecodeError());
        return nullptr;
    }
    const TEvpPkeyPtr keyOwner(key);
    const TX509Ptr certOwner(cert);
    const TX509StackPtr chainOwner(chain);
    if (cert == nullptr || key == nullptr)
    {
        SetLastError(CRYPT_E_NOT_FOUND);
        return nullptr;
    }
    PCCERT_CONTEXT context = MakeKeyedContext(cert, chain, key, APath);
    int aliasSize = 0;
    const unsigned char* alias = X509_alias_get0(cert, &aliasSize);
    if (context != nullptr && alias != nullptr)
    {
        const std::u16string name = Utf8ToUtf16(std::string_view(
            reinterpret_cast<const char*>(alias), static_cast<size_t>(aliasSize)));
        CRYPT_DATA_BLOB blob{static_cast<DWORD>((name.size() + 1) * sizeof(char16_t)),
            reinterpret_cast<BYTE*>(const_cast<char16_t*>(name.c_str()))};
        CertSetCertificateContextProperty(context, CERT_FRIENDLY_NAME_PROP_ID, 0, &blob);
    }
    return context;
}

} // namespace ix::os
