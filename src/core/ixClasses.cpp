#include "core/ixClasses.h"

#include <algorithm>
#include <cxxabi.h>
#include <memory>
#include <typeinfo>

namespace ix {

std::string TObject::ClassName() const
{
    const char* mangled = typeid(*this).name();
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> demangled(abi::__cxa_demangle(mangled, nullptr, nullptr, &status), std::free);
    std::string name = (status == 0 && demangled) ? demangled.get() : mangled;
    const size_t scope = name.rfind("::");
    return scope == std::string::npos ? name : name.substr(scope + 2);
}

void TPersistent::Assign(const TPersistent& ASource)
{
    ASource.AssignTo(*this);
}

void TPersistent::AssignTo(TPersistent& ADest) const
{
    throw EConvertError("Cannot assign a " + ClassName() + " to a " + ADest.ClassName());
}

TComponent::TComponent(TComponent* AOwner)
{
    if (AOwner)
        AOwner->InsertComponent(this);
}

TComponent::~TComponent()
{
    Destroying();
    NotifyRemoval();
    // Owned components go first, newest first; each removes itself from FComponents.
    while (!FComponents.empty())
        delete FComponents.back();
    if (FOwner)
        FOwner->RemoveComponent(this);
}

void TComponent::Destroying() noexcept
{
    FComponentState.Include(csDestroying);
}

void TComponent::NotifyRemoval() noexcept
{
    // A notified component may remove further notifications while we walk the list.
    while (!FFreeNotifies.empty()) {
        TComponent* other = FFreeNotifies.back();
        FFreeNotifies.pop_back();
        std::erase(other->FFreeNotifies, this);
        other->Notification(this, opRemove);
    }
}

TComponent* TComponent::GetComponent(int32_t AIndex) const
{
    if (AIndex < 0 || AIndex >= GetComponentCount())
        RaiseListIndexError(AIndex);
    return FComponents[static_cast<size_t>(AIndex)];
}

void TComponent::InsertComponent(TComponent* AComponent)
{
    FComponents.push_back(AComponent);
    AComponent->FOwner = this;
    Notification(AComponent, opInsert);
}

void TComponent::RemoveComponent(TComponent* AComponent)
{
    std::erase(FComponents, AComponent);
    AComponent->FOwner = nullptr;
    // Siblings and the owner may hold references to the component that goes.
    Notification(AComponent, opRemove);
    for (TComponent* sibling : FComponents)
        sibling->Notification(AComponent, opRemove);
}

void TComponent::FreeNotification(TComponent* AComponent)
{
    if (!AComponent || AComponent == this)
        return;
    if (std::find(FFreeNotifies.begin(), FFreeNotifies.end(), AComponent) == FFreeNotifies.end())
        FFreeNotifies.push_back(AComponent);
    if (std::find(AComponent->FFreeNotifies.begin(), AComponent->FFreeNotifies.end(), this)
        == AComponent->FFreeNotifies.end())
        AComponent->FFreeNotifies.push_back(this);
}

void TComponent::RemoveFreeNotification(TComponent* AComponent)
{
    if (!AComponent)
        return;
    std::erase(FFreeNotifies, AComponent);
    std::erase(AComponent->FFreeNotifies, this);
}

void TComponent::BeginLoading()
{
    FComponentState.Include(csLoading);
}

void TComponent::EndLoading()
{
    FComponentState.Exclude(csLoading);
    Loaded();
}

void TComponent::SetDesigning(bool AValue)
{
    if (AValue)
        FComponentState.Include(csDesigning);
    else
        FComponentState.Exclude(csDesigning);
}

void TComponent::Notification(TComponent*, TOperation) {}

void TComponent::Loaded() {}

} // namespace ix
