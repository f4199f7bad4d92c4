#include "crypto/ixCryptMac.h"

#include "crypto/ixCryptHash.h"
#include "platform/ixOsKernel.h"
#include "util/ixTranslator.h"

#include <algorithm>

namespace ix {

namespace {

constexpr uint8_t InnerPadByte = 0x36;
constexpr uint8_t OuterPadByte = 0x5C;

} // namespace

void TixMac::Init(const TixByteArray& AKey)
{
    Init(AKey, 0, static_cast<int32_t>(AKey.size()));
}

void TixMac::Update(int32_t AValue)
{
    const auto value = static_cast<uint32_t>(AValue);
    const TixByteArray bytes{static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
        static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
    Update(bytes, 0, 4);
}

TixCryptApiHmac::~TixCryptApiHmac()
{
    Release();
}

void TixCryptApiHmac::Release() noexcept
{
    FHash.Reset();
    FProvider.Reset();
    FProviderName.Clear();
    os::SecureZeroMemory(FInnerPad.data(), FInnerPad.size());
    os::SecureZeroMemory(FOuterPad.data(), FOuterPad.size());
}

void TixCryptApiHmac::Init(const TixByteArray& AKey, int32_t AIndex, int32_t ACount)
{
    Release();
    FProvider = AcquireVerifyContext(FProviderName.Get(GetProviderName()), GetProviderType());
    const auto [index, count] = ClipRange(AKey.size(), AIndex, ACount);
    TPad block{};
    if (count > BlockSize)
    {
        // A key longer than the block is replaced by its digest (RFC 2104, section 2).
        const TixCryptHashHandle hash = CreateHash(FProvider, GetAlgorithm());
        HashData(hash, AKey.data() + index, count);
        const TixByteArray digest = ReadHashValue(hash, BlockSize);
        std::copy(digest.begin(), digest.end(), block.begin());
    }
    else
        std::copy_n(AKey.begin() + static_cast<ptrdiff_t>(index), count, block.begin());
    for (size_t i = 0; i < BlockSize; ++i)
    {
        FInnerPad[i] = block[i] ^ InnerPadByte;
        FOuterPad[i] = block[i] ^ OuterPadByte;
    }
    os::SecureZeroMemory(block.data(), block.size());
}

void TixCryptApiHmac::Update(const TixByteArray& ABuffer, int32_t AIndex, int32_t ACount)
{
    if (!FHash.IsValid())
    {
        FHash = CreateHash(FProvider, GetAlgorithm());
        HashData(FHash, FInnerPad.data(), FInnerPad.size());
    }
    const auto [index, count] = ClipRange(ABuffer.size(), AIndex, ACount);
    HashData(FHash, ABuffer.data() + index, count);
}

void TixCryptApiHmac::Done(TixByteArray& ACode)
{
    const TixByteArray inner = ReadHashValue(FHash, BlockSize);
    FHash.Reset();
    const TixCryptHashHandle outer = CreateHash(FProvider, GetAlgorithm());
    HashData(outer, FOuterPad.data(), FOuterPad.size());
    HashData(outer, inner.data(), inner.size());
    ACode = ReadHashValue(outer, static_cast<size_t>(GetHashSize()));
}

std::string HmacMd5(std::string_view AText, std::string_view AKey)
{
    if (AText.empty() || AKey.empty())
        return {};
    const TixByteArray text = TixTranslator::GetBytes(AText, {});
    TixByteArray key = TixTranslator::GetBytes(AKey, {});
    TixHmacMd5 hmac;
    hmac.Init(key);
    os::SecureZeroMemory(key.data(), key.size()); // a password, as a rule
    hmac.Update(text, 0, static_cast<int32_t>(text.size()));
    TixByteArray code;
    hmac.Done(code);
    return LowerHex(code);
}

} // namespace ix
