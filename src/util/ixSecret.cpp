#include "util/ixSecret.h"

#include "core/ixStreams.h"
#include "platform/ixOsKernel.h"

namespace ix {

void WipeString(std::string& AText) noexcept
{
    os::SecureZeroMemory(AText.data(), AText.size());
    AText.clear();
}

void WipeStream(TMemoryStream& AStream) noexcept
{
    if (AStream.Memory() != nullptr)
        os::SecureZeroMemory(AStream.Memory(), static_cast<size_t>(AStream.Size()));
}

TSecretString::TSecretString(std::string_view APrefix, std::string_view ASecret) : FPublicLength(APrefix.size())
{
    FText.reserve(APrefix.size() + ASecret.size());
    FText.append(APrefix).append(ASecret);
}

TWipeOnExit::~TWipeOnExit()
{
    if (FData != nullptr && FSize > 0)
        os::SecureZeroMemory(FData, FSize);
}

} // namespace ix
