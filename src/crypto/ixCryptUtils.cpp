#include "crypto/ixCryptUtils.h"

#include "platform/ixOsKernel.h"

#include <algorithm>

namespace ix {

namespace {

constexpr os::DWORD ErrorTextSize = 256;

} // namespace

std::string GetCryptErrorText(os::DWORD ACode)
{
    char buffer[ErrorTextSize + 1] = {};
    const os::DWORD length = os::FormatMessageA(
        os::FORMAT_MESSAGE_FROM_SYSTEM | os::FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, ACode, 0,
        buffer, ErrorTextSize, nullptr);
    std::string text(buffer, length);
    while (!text.empty() && (static_cast<unsigned char>(text.back()) <= ' ' || text.back() == '.'))
        text.pop_back();
    return text;
}

void RaiseCryptError(std::string_view AFunctionName)
{
    const os::DWORD code = os::GetLastError();
    std::string text = GetCryptErrorText(code);
    if (text.empty())
        text = Format("%s error - %d", AFunctionName, static_cast<int32_t>(code));
    throw EixCryptError(std::move(text), static_cast<int32_t>(code));
}

std::pair<size_t, size_t> ClipRange(size_t ASize, int32_t AIndex, int32_t ACount) noexcept
{
    if (AIndex < 0 || ACount <= 0 || static_cast<size_t>(AIndex) >= ASize)
        return {0, 0};
    const auto index = static_cast<size_t>(AIndex);
    return {index, std::min(static_cast<size_t>(ACount), ASize - index)};
}

void ReleaseCryptProvider(os::HCRYPTPROV AHandle) noexcept
{
    CryptReleaseContext(AHandle, 0);
}

void ReleaseCryptHash(os::HCRYPTHASH AHandle) noexcept
{
    CryptDestroyHash(AHandle);
}

void ReleaseCryptKey(os::HCRYPTKEY AHandle) noexcept
{
    CryptDestroyKey(AHandle);
}

void WipeBytes(TixByteArray& ABytes) noexcept
{
    os::SecureZeroMemory(ABytes.data(), ABytes.size());
    ABytes.clear();
}

const char* TixProviderNameCopy::Get(const std::string& AName)
{
    if (!FName && !Trim(AName).empty())
        FName = AName;
    return FName ? FName->c_str() : nullptr;
}

TixCryptProvider AcquireVerifyContext(const char* AProviderName, os::DWORD AType)
{
    os::HCRYPTPROV handle = 0;
    CheckCrypt(CryptAcquireContextA(&handle, nullptr, AProviderName, AType, os::CRYPT_VERIFYCONTEXT),
        "CryptAcquireContext");
    return TixCryptProvider(handle);
}

TixByteArray GenerateRandomBytes(size_t ACount)
{
    const TixCryptProvider provider = AcquireVerifyContext(nullptr, os::PROV_RSA_FULL);
    TixByteArray bytes(ACount);
    CheckCrypt(CryptGenRandom(provider.Get(), static_cast<os::DWORD>(bytes.size()), bytes.data()), "CryptGenRandom");
    return bytes;
}

TixCryptHashHandle CreateHash(const TixCryptProvider& AProvider, os::ALG_ID AAlgorithm)
{
    os::HCRYPTHASH handle = 0;
    CheckCrypt(CryptCreateHash(AProvider.Get(), AAlgorithm, 0, 0, &handle), "CryptCreateHash");
    return TixCryptHashHandle(handle);
}

void HashData(const TixCryptHashHandle& AHash, const uint8_t* AData, size_t ACount)
{
    CheckCrypt(CryptHashData(AHash.Get(), AData, static_cast<os::DWORD>(ACount), 0), "CryptHashData");
}

TixByteArray ReadHashValue(const TixCryptHashHandle& AHash, size_t ASize)
{
    TixByteArray value(ASize);
    auto length = static_cast<os::DWORD>(value.size());
    CheckCrypt(CryptGetHashParam(AHash.Get(), os::HP_HASHVAL, value.data(), &length, 0),
        "CryptGetHashParam");
    value.resize(std::min<size_t>(length, value.size()));
    return value;
}

} // namespace ix
