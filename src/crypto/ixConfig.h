// A registry of classes that can be created by name, with name=value settings.
#pragma once

#include "core/ixClasses.h"
#include "core/ixStrings.h"

#include <functional>
#include <memory>
#include <string>

namespace ix {

/// Root of the objects a TixConfig can create by name.
class TixConfigObject : public TObject
{
public:
    TixConfigObject() = default;
};

/// Makes a new object of a registered class (the class's virtual constructor).
using TixConfigObjectClass = std::function<std::unique_ptr<TixConfigObject>()>;

/// The class T as a TixConfigObjectClass.
template <typename T>
TixConfigObjectClass ConfigClassOf()
{
    return [] { return std::unique_ptr<TixConfigObject>(std::make_unique<T>()); };
}

/// Registered classes by name, and settings by name.
class TixConfig : public TObject
{
public:
    TixConfig();

    /// Registers AClass under AName, replacing an earlier class of that name; an empty AClass
    /// unregisters the name.
    void RegisterClass(const std::string& AName, TixConfigObjectClass AClass);
    /// A new object of the class registered under AName; null when none is.
    std::unique_ptr<TixConfigObject> CreateInstance(const std::string& AName) const;
    /// The setting AName; empty when it is not set.
    std::string GetSetting(const std::string& AName) const;

    /// The registered names, in order of registration.
    const TStringList& GetClasses() const noexcept { return FClasses; }
    /// The name=value settings.
    TStringList& GetSettings() noexcept { return FSettings; }

private:
    TStringList FClasses;
    TStringList FSettings;
};

} // namespace ix
