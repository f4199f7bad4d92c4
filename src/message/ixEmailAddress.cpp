#include "message/ixEmailAddress.h"

#include "core/ixProperties.h"
#include "core/ixSysUtils.h"
#include "util/ixUtils.h"

namespace ix {

namespace {

/// Characters that are escaped with "\" inside a quoted display name.
constexpr std::string_view NameEscapes = "\"()\\";
/// Characters that make a display name need quotes (RFC 5322 specials and blanks).
constexpr std::string_view NameSpecials = " \t,.;:<>@[]";

/// Characters of an address besides letters and digits (RFC 5322 atext, "." and "@", and the
/// double quote of a quoted local part).
constexpr TixCharSet AddressPunctuation("!#$%&'*+-/=?_{}|~^.@`\"");

/// Every byte from 128 on is valid too, so that internationalised addresses (RFC 6531) are
/// found while ASCII blanks, commas and comments still end an address token.
bool IsAddressChar(char AChar) noexcept
{
    const auto value = static_cast<uint8_t>(AChar);
    return value >= 128 || (value >= 'a' && value <= 'z') || (value >= 'A' && value <= 'Z') ||
        (value >= '0' && value <= '9') || AddressPunctuation.Includes(AChar);
}

bool IsBlank(char AChar) noexcept
{
    return AChar == ' ' || AChar == '\t' || AChar == '\r' || AChar == '\n';
}

/// The address found in a text, and the stretch of the text it came from ("<...>" included).
struct TAddressMatch
{
    std::string Address;
    size_t Begin = 0;
    size_t End = 0;
};

/// Scans an address text for the mailbox: the last address in angle brackets or the last bare
/// token holding an "@" wins. Quoted strings and comments are opaque; "\" escapes one character.
class TAddressScanner
{
public:
    explicit TAddressScanner(std::string_view AText) : FText(AText) {}

    TAddressMatch Run()
    {
        for (size_t i = 0; i < FText.size(); ++i)
            Step(i);
        // The end of the text ends a bare token like any separator; an unclosed bracket gives
        // its text only when nothing better was found.
        if (FTokenOpen && (FTokenHasAt || (FInAngle && FMatch.Address.empty())))
            SetMatch(FTokenStart, FText.size(), FInAngle ? FAngleStart : FTokenStart, FText.size());
        return FMatch;
    }

private:
    void Step(size_t AIndex)
    {
        const char c = FText[AIndex];
        const bool escaped = FEscapeNext;
        FEscapeNext = !escaped && c == '\\';
        if (FCommentDepth > 0) {
            if (!escaped && c == '(')
                ++FCommentDepth;
            else if (!escaped && c == ')')
                --FCommentDepth;
            return;
        }
        if (!escaped && c == '"')
            FInQuote = !FInQuote;
        if (FInQuote || (!escaped && c == '"')) {
            OpenToken(AIndex);
            return;
        }
        if (!escaped && c == '(' && !FInAngle) {
            EndToken(AIndex);
            FCommentDepth = 1;
        } else if (!escaped && c == '<') {
            FInAngle = true;
            FAngleStart = AIndex;
            ClearToken();
        } else if (!escaped && c == '>' && FInAngle) {
            if (FTokenOpen)
                SetMatch(FTokenStart, AIndex, FAngleStart, AIndex + 1);
            FInAngle = false;
            ClearToken();
        } else {
            StepAddressChar(AIndex, c);
        }
    }

    void StepAddressChar(size_t AIndex, char AChar)
    {
        if (AChar == '@' && AIndex > 0 && AIndex + 1 < FText.size() && IsAddressChar(FText[AIndex - 1]) &&
            IsAddressChar(FText[AIndex + 1]))
            FTokenHasAt = true;
        if (FInAngle) {
            if (FTokenOpen || !IsBlank(AChar))
                OpenToken(AIndex);
        } else if (!IsAddressChar(AChar)) {
            EndToken(AIndex);
        } else {
            OpenToken(AIndex);
        }
    }

    void OpenToken(size_t AIndex)
    {
        if (!FTokenOpen) {
            FTokenOpen = true;
            FTokenStart = AIndex;
        }
    }

    /// Ends the bare token before AIndex; a token holding an "@" becomes the match.
    void EndToken(size_t AIndex)
    {
        if (FTokenOpen && FTokenHasAt)
            SetMatch(FTokenStart, AIndex, FTokenStart, AIndex);
        ClearToken();
    }

    void ClearToken() noexcept
    {
        FTokenOpen = false;
        FTokenHasAt = false;
    }

    void SetMatch(size_t AFrom, size_t ATo, size_t ABegin, size_t AEnd)
    {
        FMatch.Address = Trim(FText.substr(AFrom, ATo - AFrom));
        FMatch.Begin = ABegin;
        FMatch.End = AEnd;
    }

    std::string_view FText;
    TAddressMatch FMatch;
    size_t FTokenStart = 0;
    size_t FAngleStart = 0;
    int32_t FCommentDepth = 0;
    bool FTokenOpen = false;
    bool FTokenHasAt = false;
    bool FInQuote = false;
    bool FInAngle = false;
    bool FEscapeNext = false;
};

/// "\" takes the next character literally; any other double quote becomes a blank.
std::string UnescapeName(std::string_view AText)
{
    std::string name;
    name.reserve(AText.size());
    for (size_t i = 0; i < AText.size(); ++i) {
        if (AText[i] == '\\') {
            if (++i < AText.size())
                name += AText[i];
        } else {
            name += AText[i] == '"' ? ' ' : AText[i];
        }
    }
    return name;
}

/// The display name as written in a full address: escaped and quoted when it needs it.
std::string QuoteName(std::string_view AName)
{
    std::string quoted;
    bool needsQuotes = false;
    for (char c : AName) {
        if (NameEscapes.find(c) != std::string_view::npos) {
            quoted += '\\';
            needsQuotes = true;
        }
        needsQuotes = needsQuotes || NameSpecials.find(c) != std::string_view::npos;
        quoted += c;
    }
    return needsQuotes ? "\"" + quoted + "\"" : quoted;
}

} // namespace

// ---- TixEmailAddressItem -------------------------------------------------------------------

TixEmailAddressItem::TixEmailAddressItem(TixEmailAddressList* ACollection) : FCollection(ACollection)
{
    InitItem();
}

void TixEmailAddressItem::InitItem()
{
    FNameDelimiter = " ";
}

std::string TixEmailAddressItem::GetFullAddress() const
{
    if (FName.empty() || FName == FEmail)
        return FEmail;
    return Format("%s%s<%s>", QuoteName(FName), FNameDelimiter, FEmail);
}

void TixEmailAddressItem::SetFullAddress(std::string_view AValue)
{
    const TAddressMatch match = TAddressScanner(AValue).Run();
    FEmail = match.Address;
    std::string rest(AValue.substr(0, match.Begin));
    rest.append(AValue.substr(match.End));
    FName = UnquoteString(UnquoteString(Trim(UnescapeName(rest)), '\'', '\''), '(', ')');
}

void TixEmailAddressItem::Assign(const TPersistent& ASource)
{
    const auto* source = AssignSource<TixEmailAddressItem>(ASource);
    if (!source)
        return;
    FName = source->FName;
    FEmail = source->FEmail;
}

std::string TixEmailAddressItem::GetDisplayName() const
{
    return FName.empty() ? FEmail : FName;
}

void TixEmailAddressItem::Clear()
{
    FName.clear();
    FEmail.clear();
}

bool TixEmailAddressItem::ParseFullAddress(std::string_view AText, std::string& AName, std::string& AAddress)
{
    TixEmailAddressItem item;
    item.SetFullAddress(AText);
    AAddress = item.GetEmail();
    AName = item.GetName().empty() ? item.GetEmail() : item.GetName();
    return !item.GetName().empty();
}

std::string TixEmailAddressItem::BuildFullAddress(std::string_view AName, std::string_view AAddress)
{
    TixEmailAddressItem item;
    item.SetName(std::string(AName));
    item.SetEmail(std::string(AAddress));
    return item.GetFullAddress();
}

// ---- TixEmailAddressList -------------------------------------------------------------------

TixEmailAddressList::~TixEmailAddressList() = default;

TixEmailAddressItem& TixEmailAddressList::GetItem(int32_t AIndex) const
{
    if (AIndex < 0 || AIndex >= Count())
        RaiseListIndexError(AIndex);
    return *FItems[static_cast<size_t>(AIndex)];
}

TixEmailAddressItem& TixEmailAddressList::Add()
{
    return *FItems.emplace_back(std::make_unique<TixEmailAddressItem>(this));
}

TixEmailAddressItem& TixEmailAddressList::AddAddress(std::string_view AFullAddress)
{
    TixEmailAddressItem& item = Add();
    item.SetFullAddress(AFullAddress);
    return item;
}

void TixEmailAddressList::Delete(int32_t AIndex)
{
    GetItem(AIndex);
    FItems.erase(FItems.begin() + AIndex);
}

void TixEmailAddressList::Clear() noexcept
{
    FItems.clear();
}

void TixEmailAddressList::Assign(const TPersistent& ASource)
{
    const auto* source = AssignSource<TixEmailAddressList>(ASource);
    if (!source || source == this)
        return;
    Clear();
    for (const auto& item : source->FItems)
        Add().Assign(*item);
}

const TPropertyTable& TixEmailAddressItem::GetPublishedProperties() const
{
    using C = TixEmailAddressItem;
    static const TPropertyTable table("TixEmailAddressItem", &TPersistent::GetPublishedProperties(),
        {
            Published<&C::GetName, &C::SetName>("Name", ""),
            Published<&C::GetEmail, &C::SetEmail>("Email", ""),
        });
    return table;
}

} // namespace ix
