// The component framework: objects, persistent objects, owned components with free
// notification, events and small sets.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <type_traits>
#include <vector>

#include "core/ixSysUtils.h"

namespace ix {

class TPropertyTable;

/// The root of the library's classes: not copyable, destroyed through its virtual destructor.
class TObject
{
public:
    TObject() = default;
    TObject(const TObject&) = delete;
    TObject& operator=(const TObject&) = delete;
    virtual ~TObject() = default;

    /// The class name, for messages and the class registries.
    virtual std::string ClassName() const;
};

/// An object that can copy its state from another one.
class TPersistent : public TObject
{
public:
    /// Copies ASource; raises EConvertError "Cannot assign a X to a Y" when the classes don't fit.
    virtual void Assign(const TPersistent& ASource);
    /// The published properties of the object's class (core/ixProperties); none here.
    virtual const TPropertyTable& GetPublishedProperties() const;

protected:
    /// Lets the source copy itself into ADest; the default raises the conversion error.
    virtual void AssignTo(TPersistent& ADest) const;

    /// ASource as a TSource, for an Assign that copies from that class. When ASource is none,
    /// the inherited Assign runs (the source's AssignTo, else the conversion error) and the
    /// result is null.
    template <typename TSource>
    const TSource* AssignSource(const TPersistent& ASource)
    {
        const auto* source = dynamic_cast<const TSource*>(&ASource);
        if (source == nullptr)
            TPersistent::Assign(ASource);
        return source;
    }
};

/// A plain notification: Sender is the object that fires it.
using TNotifyEvent = std::function<void(TObject* Sender)>;
/// Progress of transfers, replies and encoders.
using TixProgressEvent = std::function<void(TObject* Sender, int64_t ABytesProceed, int64_t ATotalBytes)>;
/// Binary data: digests, keys, decoded bytes.
using TixByteArray = std::vector<uint8_t>;

/// Calls a copy of the handler when one is assigned: a handler may reassign its own event
/// while it runs (window messages are dispatched inside waits).
template <typename TEvent, typename... TArgs>
void CallEvent(const TEvent& AEvent, TArgs&&... AArgs)
{
    if (!AEvent)
        return;
    const TEvent handler = AEvent;
    handler(std::forward<TArgs>(AArgs)...);
}

/// Stores AValue in AField; returns true when the stored value changed.
template <typename T, typename U>
[[nodiscard]] bool AssignIfChanged(T& AField, const U& AValue)
{
    if (AField == AValue)
        return false;
    AField = AValue;
    return true;
}

/// A set of values of a plain enumeration with at most 64 members, stored as bits
/// (value v is bit 1 << v).
template <typename E>
    requires std::is_enum_v<E>
class TSet
{
public:
    constexpr TSet() noexcept = default;
    /// The set of AValues.
    constexpr TSet(std::initializer_list<E> AValues) noexcept
    {
        for (E value : AValues)
            Include(value);
    }
    /// The set whose stored bits are ABits.
    static constexpr TSet FromValue(uint64_t ABits) noexcept
    {
        TSet result;
        result.FBits = ABits;
        return result;
    }

    /// True when AValue is in the set.
    constexpr bool Includes(E AValue) const noexcept { return (FBits & Bit(AValue)) != 0; }
    /// Adds AValue.
    constexpr void Include(E AValue) noexcept { FBits |= Bit(AValue); }
    /// Removes AValue.
    constexpr void Exclude(E AValue) noexcept { FBits &= ~Bit(AValue); }
    /// True when the set holds no value.
    constexpr bool Empty() const noexcept { return FBits == 0; }
    /// The stored bits.
    constexpr uint64_t Value() const noexcept { return FBits; }

    /// The union.
    constexpr TSet operator+(TSet AOther) const noexcept { return FromValue(FBits | AOther.FBits); }
    /// The values of this set that are not in AOther.
    constexpr TSet operator-(TSet AOther) const noexcept { return FromValue(FBits & ~AOther.FBits); }
    /// The intersection.
    constexpr TSet operator*(TSet AOther) const noexcept { return FromValue(FBits & AOther.FBits); }
    /// Equal when both hold the same values.
    constexpr bool operator==(const TSet&) const noexcept = default;

private:
    static constexpr uint64_t Bit(E AValue) noexcept { return uint64_t{1} << static_cast<unsigned>(AValue); }
    uint64_t FBits = 0;
};

/// What Notification reports: a component was inserted into an owner, or is going away.
enum TOperation : uint8_t { opInsert, opRemove };
/// A component's state: being loaded, being destroyed, edited at design time, being read or
/// written.
enum TComponentStateFlag : uint8_t { csLoading, csDestroying, csDesigning, csReading, csWriting };
/// The state flags of a component.
using TComponentState = TSet<TComponentStateFlag>;

/// A component: may have an owner, which destroys it; tells the components that asked for it
/// (FreeNotification) when it goes away, so that they clear their references.
class TComponent : public TPersistent
{
public:
    /// A component owned by AOwner (which then destroys it) when one is given; AOwner's
    /// Notification reports opInsert.
    explicit TComponent(TComponent* AOwner = nullptr);
    /// Tells the components that asked (FreeNotification) with opRemove, destroys the owned
    /// components newest first, then leaves its owner.
    ~TComponent() override;

    /// The owner given at construction; null when none.
    TComponent* GetOwner() const noexcept { return FOwner; }
    /// The component's name; empty by default.
    const std::string& GetName() const noexcept { return FName; }
    void SetName(const std::string& AValue) { FName = AValue; }
    /// The state flags (loading, destroying, designing...).
    TComponentState GetComponentState() const noexcept { return FComponentState; }

    /// The components this one owns, in creation order.
    int32_t GetComponentCount() const noexcept { return static_cast<int32_t>(FComponents.size()); }
    /// Owned component AIndex; raises EListError outside 0..ComponentCount-1.
    TComponent* GetComponent(int32_t AIndex) const;

    /// Asks this component to call AComponent->Notification(this, opRemove) when it is destroyed
    /// (and the other way round).
    void FreeNotification(TComponent* AComponent);
    /// Undoes FreeNotification in both directions; nothing for null.
    void RemoveFreeNotification(TComponent* AComponent);

    /// Marks the component as being loaded; EndLoading clears the mark and calls Loaded.
    void BeginLoading();
    /// Clears the loading mark, then calls Loaded.
    void EndLoading();
    /// Marks the component as being edited at design time.
    void SetDesigning(bool AValue);

protected:
    /// Called when AComponent is inserted into or removed from the component's world; a
    /// component that refers to AComponent clears its reference on opRemove.
    virtual void Notification(TComponent* AComponent, TOperation AOperation);
    /// Called once loading has finished.
    virtual void Loaded();
    /// Sets csDestroying; descendants call it first thing in their destructors so that
    /// notifications are held back while they come apart.
    void Destroying() noexcept;

private:
    void InsertComponent(TComponent* AComponent);
    void RemoveComponent(TComponent* AComponent);
    void NotifyRemoval() noexcept;

    TComponent* FOwner = nullptr;
    std::string FName;
    TComponentState FComponentState;
    std::vector<TComponent*> FComponents;
    std::vector<TComponent*> FFreeNotifies;
};

} // namespace ix
