// Published properties. Each class that publishes properties lists its own in one table
// (name, kind, default, getter, setter) that extends its ancestor's table; the virtual
// TPersistent::GetPublishedProperties gives an object's table. core/ixPropertyForm writes a
// component's non-default properties as text and reads them back through these tables.
#pragma once

#include "core/ixClasses.h"
#include "core/ixStrings.h"

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

namespace ix {

/// What a property holds: a Boolean, a whole number, a text, a value of an enumeration, a set
/// of such values, a list of texts, a date-time, an owned persistent object with published
/// properties of its own, or an owned collection of such objects (empty by default).
enum TPropertyKind : uint8_t {
    pkBoolean,
    pkInteger,
    pkText,
    pkEnumeration,
    pkSet,
    pkStrings,
    pkDateTime,
    pkObject,
    pkCollection
};

/// A property value: Boolean; whole number (also an enumeration's ordinal and a set's bits);
/// date-time; text; list of texts.
using TPropertyValue = std::variant<bool, int64_t, double, std::string, std::vector<std::string>>;

/// One published property.
struct TPublishedProperty
{
    /// The name in forms and messages ("UseTLS"); found without regard to ASCII letter case.
    std::string Name;
    /// What the property holds; it decides which members below are used.
    TPropertyKind Kind = pkText;
    /// The value that is never stored; none: the value is always stored. Unused for pkObject
    /// and pkCollection (stored when it has items).
    std::optional<TPropertyValue> Default;
    /// pkEnumeration and pkSet: the value names by ordinal ("ctNone", "ctAutomatic"...).
    std::vector<std::string> ValueNames;
    /// pkInteger: the least value the property's type holds.
    int64_t Min = 0;
    /// pkInteger: the greatest value the property's type holds (at most INT64_MAX).
    int64_t Max = 0;
    /// The current value of the property of AObject (not pkObject or pkCollection).
    std::function<TPropertyValue(const TPersistent& AObject)> Get;
    /// Sets the property of AObject to AValue, which has the property's kind (not pkObject or
    /// pkCollection).
    std::function<void(TPersistent& AObject, const TPropertyValue& AValue)> Set;
    /// pkObject: the object that the property of AObject holds.
    std::function<TPersistent&(TPersistent& AObject)> Object;
    /// pkCollection: the items that the property of AObject holds, in order.
    std::function<std::vector<TPersistent*>(const TPersistent& AObject)> Items;
    /// pkCollection: a new empty collection of the property's class, owned by the caller.
    std::function<std::unique_ptr<TPersistent>()> NewCollection;
    /// pkCollection: appends an item with its defaults to ACollection (from NewCollection).
    std::function<TPersistent&(TPersistent& ACollection)> AddItem;
    /// pkCollection: replaces the items of the property of AObject with copies of those of
    /// ACollection (from NewCollection).
    std::function<void(TPersistent& AObject, const TPersistent& ACollection)> SetItems;
};

/// The published properties of one class: its ancestor's, then its own.
class TPropertyTable
{
public:
    /// The table of AClassName: AAncestor's properties (none when null), then AOwn. An own
    /// property with an ancestor's name takes the ancestor's place (a new default).
    TPropertyTable(std::string AClassName, const TPropertyTable* AAncestor, std::vector<TPublishedProperty> AOwn);

    /// The class whose table this is ("TixPop3"); forms name properties after it.
    const std::string& ClassName() const noexcept { return FClassName; }
    /// Every property, in declaration order.
    const std::vector<TPublishedProperty>& Properties() const noexcept { return FProperties; }
    /// The property named AName (ASCII letter case ignored); null when there is none.
    const TPublishedProperty* Find(std::string_view AName) const;

private:
    std::string FClassName;
    std::vector<TPublishedProperty> FProperties;
};

namespace property_detail {

/// The class of a pointer to member (defined for those only).
template <typename T>
struct TMemberOf;
/// The class C of a pointer to a member of C.
template <typename M, typename C>
struct TMemberOf<M C::*>
{
    /// The class the member belongs to.
    using Class = C;
};

template <typename T>
struct TIsSet : std::false_type
{
};
template <typename E>
struct TIsSet<TSet<E>> : std::true_type
{
};

/// The class whose member AGetter is.
template <auto AGetter>
using TClassOf = typename TMemberOf<decltype(AGetter)>::Class;

/// The type of value that AGetter gives.
template <auto AGetter>
using TTypeOf = std::remove_cvref_t<std::invoke_result_t<decltype(AGetter), TClassOf<AGetter>&>>;

template <typename T>
inline constexpr bool IsStrings = std::is_base_of_v<TStrings, T>;
template <typename T>
inline constexpr bool IsObject = std::is_base_of_v<TPersistent, T> && !IsStrings<T>;

/// How a default of a property of type T is written in a table.
template <typename T>
using TDefaultOf = std::conditional_t<IsStrings<T>, std::vector<std::string>, T>;

template <typename T>
constexpr TPropertyKind KindOf()
{
    if constexpr (std::is_same_v<T, bool>)
        return pkBoolean;
    else if constexpr (std::is_enum_v<T>)
        return pkEnumeration;
    else if constexpr (TIsSet<T>::value)
        return pkSet;
    else if constexpr (std::is_integral_v<T>)
        return pkInteger;
    else if constexpr (std::is_floating_point_v<T>)
        return pkDateTime;
    else if constexpr (IsStrings<T>)
        return pkStrings;
    else if constexpr (IsObject<T>)
        return pkObject;
    else
        return pkText;
}

template <typename T>
TPropertyValue ToValue(const T& AValue)
{
    if constexpr (std::is_same_v<T, bool> || std::is_floating_point_v<T> || std::is_same_v<T, std::string>)
        return AValue;
    else if constexpr (std::is_enum_v<T> || std::is_integral_v<T>)
        return static_cast<int64_t>(AValue);
    else if constexpr (TIsSet<T>::value)
        return static_cast<int64_t>(AValue.Value());
    else if constexpr (IsStrings<T>)
    {
        std::vector<std::string> lines;
        for (int32_t i = 0; i < AValue.Count(); ++i)
            lines.push_back(AValue[i]);
        return lines;
    }
    else
        return std::vector<std::string>(AValue); // a list default
}

/// AValue as the argument of a setter of a property of type T (not a list of texts).
template <typename T>
T FromValue(const TPropertyValue& AValue)
{
    if constexpr (std::is_same_v<T, bool> || std::is_floating_point_v<T> || std::is_same_v<T, std::string>)
        return std::get<T>(AValue);
    else if constexpr (std::is_enum_v<T> || std::is_integral_v<T>)
        return static_cast<T>(std::get<int64_t>(AValue));
    else
        return T::FromValue(static_cast<uint64_t>(std::get<int64_t>(AValue)));
}

/// Calls ASet with a list of the texts of AValue.
template <typename TSetter>
void WithStringList(const TPropertyValue& AValue, TSetter ASet)
{
    TStringList list;
    for (const std::string& line : std::get<std::vector<std::string>>(AValue))
        list.Add(line);
    ASet(list);
}

template <typename C>
C& Cast(const TPersistent& AObject)
{
    return const_cast<C&>(static_cast<const C&>(AObject));
}

} // namespace property_detail

/// The property AName read through AGetter and written through ASetter. AGetter may be a data
/// member, and ASetter nullptr: the value is then assigned to what AGetter gives (a list of
/// texts through its Assign).
/// ADefault: the value that is not stored (none: always stored); AValueNames: the names of an
/// enumeration's or a set's values by ordinal.
template <auto AGetter, auto ASetter = nullptr>
TPublishedProperty Published(std::string AName,
    std::optional<property_detail::TDefaultOf<property_detail::TTypeOf<AGetter>>> ADefault,
    std::vector<std::string> AValueNames = {})
{
    using namespace property_detail;
    using C = TClassOf<AGetter>;
    using T = TTypeOf<AGetter>;
    TPublishedProperty result;
    result.Name = std::move(AName);
    result.Kind = KindOf<T>();
    result.ValueNames = std::move(AValueNames);
    if constexpr (std::is_integral_v<T> && !std::is_same_v<T, bool>)
    {
        result.Min = std::numeric_limits<T>::min();
        result.Max = static_cast<int64_t>(std::min<uint64_t>(std::numeric_limits<T>::max(), INT64_MAX));
    }
    if (ADefault)
        result.Default = ToValue(*ADefault);
    result.Get = [](const TPersistent& AObject) { return ToValue(std::invoke(AGetter, Cast<C>(AObject))); };
    if constexpr (IsStrings<T> && std::is_null_pointer_v<decltype(ASetter)>)
        result.Set = [](TPersistent& AObject, const TPropertyValue& AValue) {
            WithStringList(AValue, [&](const TStringList& AList) { std::invoke(AGetter, Cast<C>(AObject)).Assign(AList); });
        };
    else if constexpr (IsStrings<T>)
        result.Set = [](TPersistent& AObject, const TPropertyValue& AValue) {
            WithStringList(AValue, [&](const TStringList& AList) { std::invoke(ASetter, Cast<C>(AObject), AList); });
        };
    else if constexpr (std::is_null_pointer_v<decltype(ASetter)>) // a data member
        result.Set = [](TPersistent& AObject, const TPropertyValue& AValue) {
            std::invoke(AGetter, Cast<C>(AObject)) = FromValue<T>(AValue);
        };
    else
        result.Set = [](TPersistent& AObject, const TPropertyValue& AValue) {
            std::invoke(ASetter, Cast<C>(AObject), FromValue<T>(AValue));
        };
    return result;
}

/// The owned persistent object AName that AGetter gives; its own table lists what is stored.
template <auto AGetter>
TPublishedProperty PublishedObject(std::string AName)
{
    using C = property_detail::TClassOf<AGetter>;
    TPublishedProperty result;
    result.Name = std::move(AName);
    result.Kind = pkObject;
    result.Object = [](TPersistent& AObject) -> TPersistent& {
        return std::invoke(AGetter, property_detail::Cast<C>(AObject));
    };
    return result;
}

/// The owned collection AName that AGetter gives and ASetter replaces (from a collection of its
/// class). The collection needs Count, GetItem, Add and a free constructor; its items' own
/// table lists what is stored of each.
template <auto AGetter, auto ASetter>
TPublishedProperty PublishedCollection(std::string AName)
{
    using namespace property_detail;
    using C = TClassOf<AGetter>;
    using TCollection = TTypeOf<AGetter>;
    TPublishedProperty result;
    result.Name = std::move(AName);
    result.Kind = pkCollection;
    result.Items = [](const TPersistent& AObject) {
        const TCollection& collection = std::invoke(AGetter, Cast<C>(AObject));
        std::vector<TPersistent*> items;
        for (int32_t i = 0; i < collection.Count(); ++i)
            items.push_back(&collection.GetItem(i));
        return items;
    };
    result.NewCollection = []() -> std::unique_ptr<TPersistent> { return std::make_unique<TCollection>(); };
    result.AddItem = [](TPersistent& ACollection) -> TPersistent& { return Cast<TCollection>(ACollection).Add(); };
    result.SetItems = [](TPersistent& AObject, const TPersistent& ACollection) {
        std::invoke(ASetter, Cast<C>(AObject), static_cast<const TCollection&>(ACollection));
    };
    return result;
}

/// The value names of an enumeration or set, for tables: AValueNames by ordinal.
using TValueNames = std::vector<std::string>;

} // namespace ix
