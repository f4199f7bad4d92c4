// DKIM building blocks shared by the signature, key and component units: the error class and
// its codes, the tag=value list of RFC 6376 section 3.2, the DKIM variant of quoted-printable and
// the header field list that takes repeated field names from the bottom up.
#pragma once

#include "core/ixErrorCodes.h"
#include "core/ixStrings.h"
#include "core/ixSysUtils.h"
#include "message/ixHeaderFieldList.h"

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ix {

/// A DKIM failure; ErrorCode is one of DkimErrorCodes (core/ixErrorCodes.h).
class EixDkimError : public EixCodedError
{
public:
    /// The message and one of DkimErrorCodes.
    using EixCodedError::EixCodedError;
};

/// Text of DkimInvalidFormatCode, as callers compare it (misspelling kept).
inline constexpr char DkimInvalidFormatText[] = "The format of the DKIM-Signature header field is ivalid";
/// Text of DkimSignatureParamsCode.
inline constexpr char DkimSignatureParamsText[] = "There are errors in signature parameters";
/// Text of DkimInvalidAlgorithmCode.
inline constexpr char DkimInvalidAlgorithmText[] = "The SignatureAlgorithm is invalid";
/// Text of DkimBodyHashCode.
inline constexpr char DkimBodyHashText[] = "Body hash values differ";
/// Text of DkimUnknownVersionCode.
inline constexpr char DkimUnknownVersionText[] = "The version of the DKIM-Signature is unknown";
/// Text of DkimKeyRequiredCode.
inline constexpr char DkimKeyRequiredText[] = "The key is required to complete the operation";
/// Text of DkimKeyRevokedCode.
inline constexpr char DkimKeyRevokedText[] = "The key is revoked";
/// Text of DkimInvalidKeyCode, as callers compare it (misspelling kept).
inline constexpr char DkimInvalidKeyText[] = "The publik key is invalid or has wrong parameters";
/// Text of DkimFromNotSignedCode.
inline constexpr char DkimFromNotSignedText[] = "The From header field is not signed";
/// Text of DkimIdentityDomainCode.
inline constexpr char DkimIdentityDomainText[] = "The identity is not in the signing domain";
/// Text of DkimStrictIdentityCode.
inline constexpr char DkimStrictIdentityText[] =
    "The key does not allow an identity in a subdomain of the signing domain";
/// Text of DkimExpiredCode.
inline constexpr char DkimExpiredText[] = "The signature has expired";
/// Text of DkimKeyTooShortCode.
inline constexpr char DkimKeyTooShortText[] = "The RSA key is shorter than 1024 bits";
/// Text of DkimKeyRecordCode.
inline constexpr char DkimKeyRecordText[] = "The format of the DKIM key record is invalid";

/// An owning ordered list of T (the signature and key lists).
template <typename T>
class TixDkimObjectList
{
public:
    /// Takes AItem and returns it.
    T* Add(std::unique_ptr<T> AItem)
    {
        FItems.push_back(std::move(AItem));
        return FItems.back().get();
    }
    /// The number of items.
    int32_t Count() const noexcept { return static_cast<int32_t>(FItems.size()); }
    /// Item AIndex; raises EListError outside 0..Count-1.
    T* GetItems(int32_t AIndex) const
    {
        if (AIndex < 0 || AIndex >= Count())
            throw EListError("List index out of bounds (" + std::to_string(AIndex) + ")");
        return FItems[static_cast<size_t>(AIndex)].get();
    }
    /// Item AIndex, as GetItems.
    T* operator[](int32_t AIndex) const { return GetItems(AIndex); }
    /// Destroys every item.
    void Clear() noexcept { FItems.clear(); }

private:
    std::vector<std::unique_ptr<T>> FItems;
};

/// Raises EixDkimError with AText and ACode.
[[noreturn]] void RaiseDkimError(const char* AText, int32_t ACode);

/// The tags of a tag=value list in their order. Parse raises EixDkimError AErrorCode for a tag
/// that appears twice or an element that is not tag=value; values keep their inner whitespace.
class TixDkimTagList
{
public:
    /// Reads AText ("a=1; b = 2;"); an empty AText or a trailing ";" is allowed.
    void Parse(std::string_view AText, const char* AErrorText, int32_t AErrorCode);
    /// Whether the tag ATag (case-sensitive) was present.
    bool Has(std::string_view ATag) const noexcept;
    /// The trimmed value of ATag; empty when absent.
    std::string Value(std::string_view ATag) const;

private:
    std::vector<std::pair<std::string, std::string>> FTags;
};

/// ASource without any blank, TAB, CR or LF (base64 tag values may be folded anywhere).
std::string RemoveWhitespace(std::string_view ASource);

/// The DKIM quoted-printable of the "i" and "z" tags and of key notes.
class TixDkimQuotedPrintableEncoder
{
public:
    TixDkimQuotedPrintableEncoder() = delete;
    /// AText as us-ascii bytes, each byte outside 0x21..0x3A, 0x3C, 0x3E..0x7E written as "=XX".
    static std::string Encode(std::string_view AText);
    /// "=XX" (upper-case digits) to the byte; any other "=" stays as it is.
    static std::string Decode(std::string_view AText);
};

/// A header field list for DKIM: items separated by ";" only, and field lookup by name from the
/// bottom of the header upwards, one occurrence per call.
class TixDkimHeaderFieldList : public TixHeaderFieldList
{
public:
    std::string_view GetItemDelimiters() const override { return ";"; }
    /// The first line's value and each continuation line, each trimmed, joined without separator.
    std::string GetFieldValueRaw(int32_t AIndex) override;
    /// The next field named AName (case ignored) above the one last taken for that name, or
    /// from the end of the header; -1 when there is none.
    int32_t NextFieldIndex(std::string_view AName);
    /// Forgets the fields taken.
    void ResetUsedFields() { FUsedFields.Clear(); }
    /// Lower-case field name = index of the occurrence last taken.
    const TStringList& GetUsedFields() const noexcept { return FUsedFields; }

private:
    TStringList FUsedFields;
};

} // namespace ix
