#include "core/ixProperties.h"

#include "core/ixSysUtils.h"

namespace ix {

TPropertyTable::TPropertyTable(std::string AClassName, const TPropertyTable* AAncestor,
    std::vector<TPublishedProperty> AOwn)
    : FClassName(std::move(AClassName))
{
    if (AAncestor != nullptr)
        FProperties = AAncestor->Properties();
    for (TPublishedProperty& property : AOwn)
    {
        auto* inherited = const_cast<TPublishedProperty*>(Find(property.Name));
        if (inherited != nullptr)
            *inherited = std::move(property);
        else
            FProperties.push_back(std::move(property));
    }
}

const TPublishedProperty* TPropertyTable::Find(std::string_view AName) const
{
    for (const TPublishedProperty& property : FProperties)
        if (SameText(property.Name, AName))
            return &property;
    return nullptr;
}

const TPropertyTable& TPersistent::GetPublishedProperties() const
{
    static const TPropertyTable table("TPersistent", nullptr, {});
    return table;
}

} // namespace ix
