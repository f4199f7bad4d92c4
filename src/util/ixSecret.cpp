#include "util/ixSecret.h"

#include "platform/ixOsKernel.h"

namespace ix {

void WipeString(std::string& AText) noexcept
{
    os::SecureZeroMemory(AText.data(), AText.size());
    AText.clear();
}

TSecretString::TSecretString(std::string_view APrefix, std::string_view ASecret)
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
