#include "crypto/ixConfig.h"

namespace ix {

namespace {

/// The class stored with its name in the class list.
class TixConfigClassEntry : public TObject
{
public:
    explicit TixConfigClassEntry(TixConfigObjectClass AClass) : Class(std::move(AClass)) {}

    TixConfigObjectClass Class;
};

} // namespace

TixConfig::TixConfig()
{
    FClasses.SetOwnsObjects(true);
}

void TixConfig::RegisterClass(const std::string& AName, TixConfigObjectClass AClass)
{
    const int32_t index = FClasses.IndexOf(AName);
    if (index >= 0)
        FClasses.Delete(index);
    if (AClass)
        FClasses.AddObject(AName, new TixConfigClassEntry(std::move(AClass)));
}

std::unique_ptr<TixConfigObject> TixConfig::CreateInstance(const std::string& AName) const
{
    const int32_t index = FClasses.IndexOf(AName);
    if (index < 0)
        return nullptr;
    return static_cast<const TixConfigClassEntry*>(FClasses.GetObject(index))->Class();
}

std::string TixConfig::GetSetting(const std::string& AName) const
{
    return FSettings.GetValue(AName);
}

} // namespace ix
