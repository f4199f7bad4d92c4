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

using TNotifyEvent = std::function<void(TObject* Sender)>;
/// Progress of transfers, replies and encoders.
using TixProgressEvent = std::function<void(TObject* Sender, int64_t ABytesProceed, int64_t ATotalBytes)>;
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
    constexpr TSet(std::initializer_list<E> AValues) noexcept
    {
        for (E value : AValues)
            Include(value);
    }
    static constexpr TSet FromValue(uint64_t ABits) noexcept
    {
        TSet result;
        result.FBits = ABits;
        return result;
    }

    constexpr bool Includes(E AValue) const noexcept { return (FBits & Bit(AValue)) != 0; }
    constexpr void Include(E AValue) noexcept { FBits |= Bit(AValue); }
    constexpr void Exclude(E AValue) noexcept { FBits &= ~Bit(AValue); }
    constexpr bool Empty() const noexcept { return FBits == 0; }
    /// The stored bits.
    constexpr uint64_t Value() const noexcept { return FBits; }

    constexpr TSet operator+(TSet AOther) const noexcept { return FromValue(FBits | AOther.FBits); }
    constexpr TSet operator-(TSet AOther) const noexcept { return FromValue(FBits & ~AOther.FBits); }
    constexpr TSet operator*(TSet AOther) const noexcept { return FromValue(FBits & AOther.FBits); }
    constexpr bool operator==(const TSet&) const noexcept = default;

private:
    static constexpr uint64_t Bit(E AValue) noexcept { return uint64_t{1} << static_cast<unsigned>(AValue); }
    uint64_t FBits = 0;
};

enum TOperation : uint8_t { opInsert, opRemove };
enum TComponentStateFlag : uint8_t { csLoading, csDestroying, csDesigning, csReading, csWriting };
using TComponentState = TSet<TComponentStateFlag>;

/// A component: may have an owner, which destroys it; tells the components that asked for it
/// (FreeNotification) when it goes away, so that they clear their references.
class TComponent : public TPersistent
{
public:
    explicit TComponent(TComponent* AOwner = nullptr);
    ~TComponent() override;

    TComponent* GetOwner() const noexcept { return FOwner; }
    const std::string& GetName() const noexcept { return FName; }
    void SetName(const std::string& AValue) { FName = AValue; }
    TComponentState GetComponentState() const noexcept { return FComponentState; }

    /// The components this one owns, in creation order.
    int32_t GetComponentCount() const noexcept { return static_cast<int32_t>(FComponents.size()); }
    TComponent* GetComponent(int32_t AIndex) const;

    /// Asks this component to call AComponent->Notification(this, opRemove) when it is destroyed
    /// (and the other way round).
    void FreeNotification(TComponent* AComponent);
    void RemoveFreeNotification(TComponent* AComponent);

    /// Marks the component as being loaded; EndLoading clears the mark and calls Loaded.
    void BeginLoading();
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
