#include "core/ixPropertyForm.h"

#include "core/ixSysUtils.h"

#include <nlohmann/json.hpp>

namespace ix {

namespace {

using TJson = nlohmann::ordered_json;

/// The JSON of AValue, the value of AProperty.
TJson ToJson(const TPublishedProperty& AProperty, const TPropertyValue& AValue)
{
    switch (AProperty.Kind)
    {
    case pkEnumeration:
    {
        const auto ordinal = static_cast<size_t>(std::get<int64_t>(AValue));
        return ordinal < AProperty.ValueNames.size() ? TJson(AProperty.ValueNames[ordinal]) : TJson(ordinal);
    }
    case pkSet:
    {
        TJson names = TJson::array();
        const auto bits = static_cast<uint64_t>(std::get<int64_t>(AValue));
        for (size_t i = 0; i < AProperty.ValueNames.size(); ++i)
            if (bits & (uint64_t{1} << i))
                names.push_back(AProperty.ValueNames[i]);
        return names;
    }
    default:
        return std::visit([](const auto& AItem) { return TJson(AItem); }, AValue);
    }
}

TJson WriteObject(const TPersistent& AObject)
{
    TJson form = TJson::object();
    for (const TPublishedProperty& property : AObject.GetPublishedProperties().Properties())
    {
        if (property.Kind == pkObject)
        {
            TJson nested = WriteObject(property.Object(const_cast<TPersistent&>(AObject)));
            if (!nested.empty())
                form[property.Name] = std::move(nested);
            continue;
        }
        if (property.Kind == pkCollection)
        {
            TJson items = TJson::array();
            for (const TPersistent* item : property.Items(AObject))
                items.push_back(WriteObject(*item));
            if (!items.empty())
                form[property.Name] = std::move(items);
            continue;
        }
        const TPropertyValue value = property.Get(AObject);
        if (property.Default != value)
            form[property.Name] = ToJson(property, value);
    }
    return form;
}

[[noreturn]] void RaiseBadValue(const std::string& APath, const std::string& AExpected, const TJson& AValue)
{
    throw EConvertError("Property " + APath + " needs " + AExpected + ", not " +
        AValue.dump(-1, ' ', false, TJson::error_handler_t::replace));
}

/// The ordinal of the value name AName of AProperty.
int64_t Ordinal(const TPublishedProperty& AProperty, const std::string& APath, const TJson& AName)
{
    std::string names;
    for (size_t i = 0; i < AProperty.ValueNames.size(); ++i)
    {
        if (AName.is_string() && SameText(AName.get<std::string>(), AProperty.ValueNames[i]))
            return static_cast<int64_t>(i);
        names += (i > 0 ? ", " : "") + AProperty.ValueNames[i];
    }
    RaiseBadValue(APath, "one of " + names, AName);
}

/// AJson as a value of AProperty, whose path (for messages) is APath.
TPropertyValue FromJson(const TPublishedProperty& AProperty, const std::string& APath, const TJson& AJson)
{
    switch (AProperty.Kind)
    {
    case pkBoolean:
        if (!AJson.is_boolean())
            RaiseBadValue(APath, "true or false", AJson);
        return AJson.get<bool>();
    case pkInteger:
        if (!AJson.is_number_integer() || (AJson.is_number_unsigned() && AJson.get<uint64_t>() > INT64_MAX) ||
            AJson.get<int64_t>() < AProperty.Min || AJson.get<int64_t>() > AProperty.Max)
            RaiseBadValue(APath,
                "a whole number from " + std::to_string(AProperty.Min) + " to " + std::to_string(AProperty.Max), AJson);
        return AJson.get<int64_t>();
    case pkDateTime:
        if (!AJson.is_number())
            RaiseBadValue(APath, "a number (days since 1899-12-30)", AJson);
        return AJson.get<double>();
    case pkText:
        if (!AJson.is_string())
            RaiseBadValue(APath, "a text", AJson);
        return AJson.get<std::string>();
    case pkEnumeration:
        return Ordinal(AProperty, APath, AJson);
    case pkSet:
    {
        if (!AJson.is_array())
            RaiseBadValue(APath, "an array of value names", AJson);
        int64_t bits = 0;
        for (const TJson& name : AJson)
            bits |= int64_t{1} << Ordinal(AProperty, APath, name);
        return bits;
    }
    default: // pkStrings
    {
        std::vector<std::string> lines;
        if (AJson.is_array())
            for (const TJson& line : AJson)
                if (line.is_string())
                    lines.push_back(line.get<std::string>());
        if (!AJson.is_array() || lines.size() != AJson.size())
            RaiseBadValue(APath, "an array of texts", AJson);
        return lines;
    }
    }
}

void PlanObject(TPersistent& AObject, const TJson& AForm, const std::string& APath,
    std::vector<std::function<void()>>& ASteps);

/// Reads the items of the collection property AProperty of AObject from the array AForm into a
/// new collection and adds to ASteps the step that puts them in place.
void PlanCollection(TPersistent& AObject, const TPublishedProperty& AProperty, const TJson& AForm,
    const std::string& APath, std::vector<std::function<void()>>& ASteps)
{
    if (!AForm.is_array())
        RaiseBadValue(APath, "an array of objects", AForm);
    std::shared_ptr<TPersistent> collection = AProperty.NewCollection();
    for (size_t i = 0; i < AForm.size(); ++i)
    {
        std::vector<std::function<void()>> itemSteps;
        PlanObject(AProperty.AddItem(*collection), AForm[i], APath + "[" + std::to_string(i) + "]", itemSteps);
        for (const auto& step : itemSteps)
            step(); // only the new collection changes
    }
    ASteps.push_back([&AObject, &AProperty, collection] { AProperty.SetItems(AObject, *collection); });
}

/// Checks AForm against AObject's table and adds the setting of each property it names to
/// ASteps, so that nothing is set before the whole form has been checked.
void PlanObject(TPersistent& AObject, const TJson& AForm, const std::string& APath,
    std::vector<std::function<void()>>& ASteps)
{
    const TPropertyTable& table = AObject.GetPublishedProperties();
    if (!AForm.is_object())
        RaiseBadValue(APath, "a JSON object", AForm);
    for (const auto& item : AForm.items())
        if (table.Find(item.key()) == nullptr)
            throw EConvertError("Unknown property " + APath + "." + item.key());
    for (const TPublishedProperty& property : table.Properties())
    {
        const auto found = std::find_if(AForm.items().begin(), AForm.items().end(),
            [&](const auto& AItem) { return SameText(AItem.key(), property.Name); });
        if (found == AForm.items().end())
            continue;
        const std::string path = APath + "." + property.Name;
        if (property.Kind == pkObject)
            PlanObject(property.Object(AObject), found.value(), path, ASteps);
        else if (property.Kind == pkCollection)
            PlanCollection(AObject, property, found.value(), path, ASteps);
        else
            ASteps.push_back([&AObject, &property, value = FromJson(property, path, found.value())] {
                property.Set(AObject, value);
            });
    }
}

} // namespace

std::string PropertyValueText(const TPublishedProperty& AProperty, const TPropertyValue& AValue)
{
    return ToJson(AProperty, AValue).dump(-1, ' ', false, TJson::error_handler_t::replace);
}

std::string WritePropertyForm(const TPersistent& AObject)
{
    try
    {
        return WriteObject(AObject).dump(2);
    }
    catch (const nlohmann::json::type_error&)
    {
        throw EConvertError("A text property of " + AObject.GetPublishedProperties().ClassName() +
            " is not UTF-8 and cannot be written");
    }
}

void ReadPropertyForm(TPersistent& AObject, std::string_view AText)
{
    TJson form;
    try
    {
        form = TJson::parse(AText);
    }
    catch (const nlohmann::json::parse_error& E)
    {
        throw EConvertError("The settings of " + AObject.GetPublishedProperties().ClassName() +
            " are not JSON: " + E.what());
    }
    std::vector<std::function<void()>> steps;
    PlanObject(AObject, form, AObject.GetPublishedProperties().ClassName(), steps);
    auto* component = dynamic_cast<TComponent*>(&AObject);
    if (component != nullptr)
        component->BeginLoading();
    try
    {
        for (const auto& step : steps)
            step();
    }
    catch (...)
    {
        if (component != nullptr)
            component->EndLoading();
        throw;
    }
    if (component != nullptr)
        component->EndLoading();
}

} // namespace ix
