// E-mail addresses: a display name and a mailbox address, parsed from and written to the
// full-address form of header text ("Name" <mailbox@domain>).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/ixClasses.h"

namespace ix {

class TixEmailAddressList;

/// One address: display name and mailbox.
class TixEmailAddressItem : public TPersistent
{
public:
    /// A new empty item, belonging to ACollection when one is given.
    explicit TixEmailAddressItem(TixEmailAddressList* ACollection = nullptr);

    /// The list that holds this item; null for a free item.
    TixEmailAddressList* GetCollection() const noexcept { return FCollection; }

    /// Display name, unquoted and unescaped.
    const std::string& GetName() const noexcept { return FName; }
    void SetName(const std::string& AValue) { FName = AValue; }
    /// Mailbox address.
    const std::string& GetEmail() const noexcept { return FEmail; }
    void SetEmail(const std::string& AValue) { FEmail = AValue; }
    /// Text written between the quoted name and "<address>"; one blank by default.
    const std::string& GetNameDelimiter() const noexcept { return FNameDelimiter; }
    void SetNameDelimiter(const std::string& AValue) { FNameDelimiter = AValue; }

    /// The name (quoted where it needs it), NameDelimiter and "<address>"; the address alone
    /// when the name is empty or equals it.
    std::string GetFullAddress() const;
    /// Splits an address text into Email (the last bracketed address, else the last bare
    /// address token) and Name (the rest, unquoted and unescaped).
    void SetFullAddress(std::string_view AValue);

    /// Copies Name and Email from another address item.
    void Assign(const TPersistent& ASource) override;
    /// Name and Email, both empty by default (FullAddress is made of them).
    const TPropertyTable& GetPublishedProperties() const override;
    /// Name, or Email when Name is empty.
    virtual std::string GetDisplayName() const;
    /// Empties Name and Email.
    virtual void Clear();

    /// Splits AText into AName and AAddress; true when the name is not empty. When it is
    /// empty AName receives the address.
    static bool ParseFullAddress(std::string_view AText, std::string& AName, std::string& AAddress);
    /// The full-address text of AName and AAddress.
    static std::string BuildFullAddress(std::string_view AName, std::string_view AAddress);

protected:
    /// Sets the defaults of a new item (NameDelimiter one blank).
    virtual void InitItem();

private:
    TixEmailAddressList* FCollection;
    std::string FName;
    std::string FEmail;
    std::string FNameDelimiter;
};

/// An owning, ordered list of address items.
class TixEmailAddressList : public TPersistent
{
public:
    /// A list owned by AOwner (the message), or a free list.
    explicit TixEmailAddressList(TPersistent* AOwner = nullptr) noexcept : FOwner(AOwner) {}
    /// Frees the items.
    ~TixEmailAddressList() override;

    /// The owner given at construction; may be null.
    TPersistent* GetOwner() const noexcept { return FOwner; }
    /// The number of items.
    int32_t Count() const noexcept { return static_cast<int32_t>(FItems.size()); }
    /// Item AIndex; raises EListError for a bad index.
    TixEmailAddressItem& GetItem(int32_t AIndex) const;
    /// Item AIndex, as GetItem.
    TixEmailAddressItem& operator[](int32_t AIndex) const { return GetItem(AIndex); }

    /// Appends a new empty item.
    TixEmailAddressItem& Add();
    /// Appends an item with its FullAddress set to AFullAddress.
    TixEmailAddressItem& AddAddress(std::string_view AFullAddress);
    /// Removes item AIndex; raises EListError for a bad index.
    void Delete(int32_t AIndex);
    /// Frees all items.
    void Clear() noexcept;
    /// Copies the items of another address list.
    void Assign(const TPersistent& ASource) override;

private:
    TPersistent* FOwner;
    std::vector<std::unique_ptr<TixEmailAddressItem>> FItems;
};

} // namespace ix
