#include "crypto/ixCryptHash.h"

#include "platform/ixOsKernel.h"

#include "util/ixTranslator.h"
#include "util/ixUtils.h"

namespace ix {

void TixCryptApiHash::Release() noexcept
{
    FHash.Reset();
    FProvider.Reset();
    FProviderName.Clear();
    FHashSize = 0;
}

void TixCryptApiHash::Init()
{
    Release();
    FProvider = AcquireVerifyContext(FProviderName.Get(GetProviderName()), GetProviderType());
    FHash = CreateHash(FProvider, GetAlgorithm());
    os::DWORD size = 0;
    auto length = static_cast<os::DWORD>(sizeof(size));
    CheckCrypt(CryptGetHashParam(FHash.Get(), os::HP_HASHSIZE, reinterpret_cast<os::BYTE*>(&size),
                   &length, 0),
        "CryptGetHashParam");
    FHashSize = static_cast<int32_t>(size);
}

void TixCryptApiHash::Update(const TixByteArray& ABuffer, int32_t AIndex, int32_t ACount)
{
    const auto [index, count] = ClipRange(ABuffer.size(), AIndex, ACount);
    HashData(FHash, ABuffer.data() + index, count);
}

void TixCryptApiHash::Done(TixByteArray& ADigest)
{
    ADigest = ReadHashValue(FHash, static_cast<size_t>(FHashSize));
    Init();
}

std::string LowerHex(const TixByteArray& ABytes)
{
    return LowerCase(BytesToHex(ABytes));
}

std::string Md5Hex(std::string_view AText)
{
    if (AText.empty())
        return {};
    TixByteArray bytes = TixTranslator::GetBytes(AText, {});
    TixMd5 md5;
    md5.Init();
    md5.Update(bytes, 0, static_cast<int32_t>(bytes.size()));
    os::SecureZeroMemory(bytes.data(), bytes.size()); // the APOP secret follows its time stamp
    TixByteArray digest;
    md5.Done(digest);
    return LowerHex(digest);
}

} // namespace ix
