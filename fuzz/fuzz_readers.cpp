// Arbitrary input through the readers of untrusted text and bytes (the header readers, DKIM, the
// domain encoder, the translator, DNS replies, NTLM challenges and RSA keys), built once per check
// (IX_FUZZ_CHECK names the check of the target):
// - fuzz_dkim_key: a DKIM key record raises only EixDkimError; one that parses builds into a
//   record that parses to the same fields;
// - fuzz_dkim_signature: a DKIM-Signature field value raises only EixDkimError; the same text as
//   a message is canonicalized both ways over the names of its h tag, and a field that parses
//   builds into it again (raising at most EixDkimError or the domain encoder's EixIdnError);
// - fuzz_mail_date: the mail date, time and zone readers raise only the conversion error
//   (EConvertError), and a zone is less than a day;
// - fuzz_utf8_decode: the UTF-8 decoder and every character-set conversion never raise, the
//   decoder never yields more code units than bytes, and what its encoder writes decodes back to
//   the same code units;
// - fuzz_idn_encode: domain encoding of 8-bit text never crashes; the result is ASCII, or the
//   overflow error is raised; an all-ASCII domain without control characters comes back unchanged;
// - fuzz_utf8_ansi: the translator's paths for an ANSI code page of UTF-8: character lengths
//   cover the text, UTF-8 reads and writes back unchanged where it is well-formed, the table sets
//   convert without raising, and header words cut per character decode to the same text;
// - fuzz_encoded_words: RFC 2047 decoding never crashes or raises; any text encoded as base64
//   words (and, without CR, as quoted-printable words) decodes back to itself;
// - fuzz_decoded_item_value: reading parameter items (RFC 2231 pieces, encoded words, plain),
//   removing and clearing them never crash or raise; any value written as an extended
//   parameter reads back unchanged;
// - fuzz_quoted_pair: any text written as a quoted string reads back unchanged and adds no item
//   of its own, and reading arbitrary values never crashes;
// - fuzz_email_address: parsing single addresses and address lists never crashes or raises; a
//   name and a plain mailbox written as a full address parse back unchanged.
// - fuzz_dns_message: a DNS reply raises only EixDnsError (malformed bytes, -1, or the response
//   code of a well-formed reply); one that parses is built again into a 64 KB buffer, raising at
//   most EixDnsError or the conversion error of an A record text, and the built form parses to
//   the same number of records;
// - fuzz_ntlm_challenge: an NTLM CHALLENGE message from the server is refused or accepted without
//   reading outside the input, and an accepted one gives an answer whose size follows from what
//   was accepted;
// - fuzz_rsa_key_import: every RSA key import (PKCS #1 RSAPrivateKey and RSAPublicKey DER,
//   SubjectPublicKeyInfo DER, a modulus with an exponent, and, first byte 0x80 or above, a raw key
//   blob; below 0x80 the first byte modulo 4 picks the import) raises only EixCryptError; a key
//   that imports exports and re-imports to the same encoding, does not take the data as its own
//   signature, and a private key signs what its public key verifies.
// The first byte of the encoded words and parameter inputs picks their options.
#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <span>
#include <string_view>

#include "FuzzInput.h"
#include "core/ixStrings.h"
#include "core/ixSysUtils.h"
#include "crypto/ixCryptSignature.h"
#include "dkim/ixDkimCanonicalizer.h"
#include "dkim/ixDkimKey.h"
#include "dkim/ixDkimSignature.h"
#include "dns/ixDnsMessage.h"
#include "message/ixEmailAddress.h"
#include "message/ixHeaderFieldList.h"
#include "message/ixIdnTranslator.h"
#include "message/ixMailHeader.h"
#include "platform/internal/ixOsNtlm.h"
#include "platform/ixOsKernel.h"
#include "util/ixUtils.h"
#include "util/ixTranslator.h"

using namespace ix;

namespace {

/// AText encoded as words of ACharSet at most AWidth long, folded as a header carries them (each
/// word on its own line after ABlank), decodes back to itself.
void CheckEncodedWordsRoundTrip(const std::string& AText, const char* ACharSet, int32_t AWidth, TixEncodeMethod AMethod,
    const char* ABlank = "\t")
{
    const std::string words = TixMailHeaderFieldList::EncodeHeaderText(AText, ACharSet, AWidth, AMethod);
    const std::string folded = StringReplace(words, "\r\n", std::string("\r\n") + ABlank);
    fuzz::Require(TixMailHeaderFieldList::DecodeEncodedWords(folded, ACharSet) == AText);
}

void EncodedWords(uint8_t AOptions, const std::string& AText)
{
    constexpr const char* CharSets[] = {"iso-8859-1", "utf-8", "koi8-r", ""};
    TixMailHeaderFieldList::DecodeEncodedWords(AText, CharSets[AOptions % std::size(CharSets)]);
    // The round trip runs on a short prefix: at small widths every character is a word.
    const std::string prefix = AText.substr(0, 256);
    if (!prefix.empty()) {
        CheckEncodedWordsRoundTrip(prefix, "iso-8859-1", AOptions / 4, cmBase64);
        if (prefix.find('\r') == std::string::npos)
            CheckEncodedWordsRoundTrip(prefix, "iso-8859-1", AOptions / 4, cmQuotedPrintable);
    }
}

void DecodedItemValue(uint8_t AOptions, const std::string& AValue)
{
    constexpr const char* ItemNames[] = {"filename*", "filename", "name", "name*", "", "charset", "x*0*", "boundary"};
    const std::string_view item = ItemNames[AOptions % std::size(ItemNames)];
    const int32_t width = AOptions / 2;
    TixMailHeaderFieldList list("utf-8", width, cmNone);
    list.GetDecodedItemValue(AValue, item);
    fuzz::Require(!list.GetRfc2231Mode());
    list.RemoveItem(AValue, item);
    list.ClearItemValue(AValue, item);
    if (Trim(AValue).empty())
        return;
    TStringList source{"Content-Disposition: attachment", ""};
    TixMailHeaderFieldList extended("iso-8859-1", width, cmNone);
    extended.Parse(0, source);
    extended.AddEncodedFieldItem(0, "filename*", AValue);
    fuzz::Require(extended.GetDecodedItemValue(extended.GetFieldValue(0), "filename*") == AValue);
}

void QuotedPair(const std::string& AText)
{
    TixHeaderFieldList list;
    TixHeaderFieldList::UnquoteItemValue(AText, list.GetQuoteChars());
    list.GetItems(AText);
    list.GetItemValue(AText, "name");
    // Written quoted between two other items, the text comes back whole and alone.
    const std::string value = "attachment; a=1; name=" + TixHeaderFieldList::QuoteItemValue(AText) + "; z=2";
    fuzz::Require(list.GetItemValue(value, "name") == AText && list.GetItemValue(value, "z") == "2" &&
        list.GetItemValue(value, "a") == "1");
    const auto items = list.GetItems(value);
    fuzz::Require(items.size() == 3 && items[1].second == AText);
}

/// True for the names a full address gives back as written: printable, without surrounding
/// blanks, and not wrapped in the single quotes or parentheses that parsing removes.
bool IsRoundTripName(const std::string& AName)
{
    const auto control = [](char AChar) { return static_cast<uint8_t>(AChar) < 32 || AChar == 127; };
    if (AName.empty() || AName == "box@example.test" || Trim(AName) != AName ||
        std::any_of(AName.begin(), AName.end(), control))
        return false;
    const bool wrapped = AName.size() >= 2 &&
        ((AName.front() == '\'' && AName.back() == '\'') || (AName.front() == '(' && AName.back() == ')'));
    return !wrapped;
}

void EmailAddress(const std::string& AText)
{
    TixEmailAddressItem item;
    item.SetFullAddress(AText);
    item.GetFullAddress();
    TStringList source;
    source.SetText("To: " + AText);
    TixMailHeaderFieldList list("utf-8", 76, cmNone);
    list.Parse(0, source);
    TixEmailAddressList addresses;
    list.GetDecodedEmailList("to", addresses);
    list.GetDecodedEmail("to");
    if (!IsRoundTripName(AText))
        return;
    const std::string full = TixEmailAddressItem::BuildFullAddress(AText, "box@example.test");
    std::string name;
    std::string address;
    fuzz::Require(TixEmailAddressItem::ParseFullAddress(full, name, address) && name == AText &&
        address == "box@example.test");
}

void DkimKey(const std::string& AText)
{
    TixDkimKey key;
    if (!fuzz::Completes<EixDkimError>([&] { key.Parse(AText); }))
        return;
    std::string first;
    key.Build(first);
    TixDkimKey again;
    again.Parse(first);
    std::string second;
    again.Build(second);
    fuzz::Require(first == second);
}

void DkimSignature(const std::string& AText)
{
    TixDkimSignature signature;
    if (!fuzz::Completes<EixDkimError>([&] { signature.Parse(AText); }))
        return;
    TStringList message;
    message.SetText(AText);
    TixDkimSimpleCanonicalizer simple;
    TixDkimRelaxedCanonicalizer relaxed;
    for (TixDkimCanonicalizer* canonicalizer : {static_cast<TixDkimCanonicalizer*>(&simple),
             static_cast<TixDkimCanonicalizer*>(&relaxed)}) {
        canonicalizer->CanonicalizeHeader(message, signature.SignedHeaderFields);
        canonicalizer->CanonicalizeBody(message);
    }
    fuzz::Completes<EixDkimError, EixIdnError>([&] {
        signature.GetHashAlgorithm();
        signature.Build(message, 76);
        signature.SetSignatureValue(message, 76);
    });
}

void MailDate(const std::string& AText)
{
    // A zone with daylight saving time, so that local times meet its changes; set once.
    static const bool zoneSet = [] {
        setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
        tzset();
        return true;
    }();
    fuzz::Require(zoneSet);
    TDateTime date = 0;
    TDateTime zone = 0;
    fuzz::Completes<EConvertError>([&] { ParseMailDate(AText, date, zone); });
    fuzz::Completes<EConvertError>([&] { ParseTime(AText); });
    const TDateTime offset = ParseTimeZone(AText);
    fuzz::Require(offset > -1 && offset < 1);
}

void Utf8Decode(std::span<const uint8_t> ABytes)
{
    constexpr const char* CharSets[] = {"utf-8", "", "koi8-r", "ISO-8859-2", "x-mac-cyrillic", "WIN-KOI8", "unknown"};
    const std::string bytes(ABytes.begin(), ABytes.end());
    const std::u16string wide = TixTranslator::Utf8Decode(bytes);
    fuzz::Require(wide.size() <= bytes.size());
    fuzz::Require(TixTranslator::Utf8Decode(TixTranslator::Utf8Encode(wide)) == wide);
    for (const char* charSet : CharSets) {
        const std::string text = TixTranslator::GetString(ABytes, charSet);
        const TixByteArray back = TixTranslator::GetBytes(text, charSet);
        fuzz::Require(static_cast<size_t>(TixTranslator::GetByteCount(text, charSet)) == back.size());
    }
}

void IdnEncode(const std::string& ADomain)
{
    std::string encoded;
    try {
        encoded = TixIdnTranslator::EncodeDomain(ADomain);
    } catch (const EixIdnError& e) {
        fuzz::Require(e.Message() == "Input value needs wider integers to translate");
        return;
    }
    fuzz::Require(TixIdnTranslator::IsAscii(encoded));
    // Control characters other than NUL and TAB are not kept.
    const auto control = [](char AChar) { return AChar > 0 && AChar < 0x20 && AChar != '\t'; };
    const bool plain = TixIdnTranslator::IsAscii(ADomain) && std::none_of(ADomain.begin(), ADomain.end(), control);
    fuzz::Require(!plain || encoded == ADomain);
}

void Utf8Ansi(std::span<const uint8_t> ABytes)
{
    constexpr const char* CharSets[] = {"koi8-r", "ISO-8859-2", "Windows-1251", "ibm866", "Latin1"};
    os::SetAnsiCodePage(os::CP_UTF8);
    size_t covered = 0;
    for (std::string_view rest(reinterpret_cast<const char*>(ABytes.data()), ABytes.size()); !rest.empty();) {
        const size_t length = TixTranslator::CharLength(rest);
        fuzz::Require(length != 0 && length <= rest.size());
        rest.remove_prefix(length);
        covered += length;
    }
    fuzz::Require(covered == ABytes.size());

    // Text read from UTF-8 is well-formed UTF-8 and writes back as it reads.
    const std::string text = TixTranslator::GetString(ABytes, "utf-8");
    const TixByteArray back = TixTranslator::GetBytes(text, "utf-8");
    fuzz::Require(std::string(back.begin(), back.end()) == text && TixTranslator::GetString(back, "utf-8") == text);
    fuzz::Require(TixTranslator::AnsiToCodePoints(text).size() <= text.size());
    for (const char* charSet : CharSets) {
        TixTranslator::GetBytes(TixTranslator::GetString(ABytes, charSet), charSet);
        TixTranslator::GetBytes(text, charSet);
    }
    // Encoded words of at most a few characters each decode to the whole text.
    if (!text.empty() && text.find_first_of("\r\n") == std::string::npos && ABytes.size() < 4096)
        for (const TixEncodeMethod method : {cmQuotedPrintable, cmBase64})
            CheckEncodedWordsRoundTrip(text, "utf-8", 1 + ABytes[0] % 40, method, " ");
}

void DnsMessage(std::span<const uint8_t> ABytes)
{
    TixDnsMessage message;
    TMemoryStream built;
    if (!fuzz::Completes<EixDnsError>([&] { message.Parse(ABytes); }) ||
        !fuzz::Completes<EixDnsError, EConvertError>([&] { message.Build(built, 65535); }))
        return;
    TixDnsMessage copy;
    copy.Parse(std::span<const uint8_t>(built.Memory(), static_cast<size_t>(built.Size())));
    fuzz::Require(copy.GetAnswers().Count() == message.GetAnswers().Count() &&
        copy.GetAdditionalRecords().Count() == message.GetAdditionalRecords().Count());
}

void NtlmChallenge(std::span<const uint8_t> ABytes)
{
    using namespace os::internal;
    TNtlmChallenge challenge;
    if (!ParseNtlmChallenge(ABytes, challenge))
        return;
    fuzz::Require(challenge.TargetInfo.size() <= ABytes.size());
    TNtlmUser user{"user", "DOMAIN", {}};
    TNtlmClientValues values;
    values.Workstation = "HOST";
    const TNtlmBytes answer = BuildNtlmAuthenticate(challenge, user, values);
    // Header, texts (Unicode or not), LM response, NTProofStr and blob, at most a 16-byte key.
    const size_t blob = 28 + (challenge.TargetInfo.empty() ? 4 : challenge.TargetInfo.size()) + 4;
    fuzz::Require(answer.size() >= 72 + 10 + 24 + 16 + blob && answer.size() <= 72 + 28 + 24 + 16 + blob + 16);
}

/// Imports a key blob as the provider takes it.
void ImportBlob(const TixByteArray& AInput)
{
    os::HCRYPTPROV provider = 0;
    os::HCRYPTKEY handle = 0;
    fuzz::Require(os::CryptAcquireContextA(&provider, nullptr, nullptr, os::PROV_RSA_FULL, os::CRYPT_VERIFYCONTEXT));
    const auto size = static_cast<os::DWORD>(AInput.size());
    if (os::CryptImportKey(provider, AInput.data(), size, 0, os::CRYPT_EXPORTABLE, &handle))
        os::CryptDestroyKey(handle);
    os::CryptReleaseContext(provider, 0);
}

using TImport = void (*)(TixCryptApiRsaKey&, const TixByteArray&);

/// The imports, picked by the first byte modulo 4; the first one takes a private key.
const TImport Imports[] = {
    [](TixCryptApiRsaKey& AKey, const TixByteArray& AInput) { AKey.SetRsaPrivateKey(AInput); },
    [](TixCryptApiRsaKey& AKey, const TixByteArray& AInput) { AKey.SetRsaPublicKey(AInput); },
    [](TixCryptApiRsaKey& AKey, const TixByteArray& AInput) { AKey.SetPublicKeyInfo(AInput); },
    [](TixCryptApiRsaKey& AKey, const TixByteArray& AInput) {
        // A modulus and an exponent: the first byte tells how many bytes the exponent takes.
        const size_t split = AInput.empty() ? 0 : AInput[0] % 8;
        const auto middle = AInput.begin() + static_cast<ptrdiff_t>(std::min(split, AInput.size()));
        AKey.SetRsaKey(TixByteArray(middle, AInput.end()), TixByteArray(AInput.begin(), middle));
    },
};

void CheckImportedKey(TixCryptApiRsaKey& AKey, uint8_t AKind, const TixByteArray& AInput)
{
    const TixByteArray publicKey = AKey.GetRsaPublicKey();
    TixCryptApiRsaKey again;
    again.Init();
    again.SetPublicKeyInfo(AKey.GetPublicKeyInfo());
    fuzz::Require(again.GetRsaPublicKey() == publicKey);
    TixSignatureRsaSha256 signature;
    signature.Init();
    signature.SetPublicKey(AKey);
    signature.Update(AInput, 0, static_cast<int32_t>(AInput.size()));
    fuzz::Require(!signature.VerifySignature(AInput)); // the data as its own signature
    if (AKind % 4 == 0)
    {
        const TixByteArray privateKey = AKey.GetRsaPrivateKey();
        again.SetRsaPrivateKey(privateKey);
        fuzz::Require(again.GetRsaPrivateKey() == privateKey);
        TixSignatureRsaSha1 signer;
        signer.Init();
        signer.SetPrivateKey(AKey);
        signer.Update(AInput, 0, static_cast<int32_t>(AInput.size()));
        const TixByteArray signed_ = signer.Sign();
        signer.Init();
        signer.SetPublicKey(again);
        signer.Update(AInput, 0, static_cast<int32_t>(AInput.size()));
        fuzz::Require(signer.VerifySignature(signed_));
    }
}

void RsaKeyImport(std::span<const uint8_t> ABytes)
{
    if (ABytes.empty())
        return;
    const TixByteArray input(ABytes.begin() + 1, ABytes.end());
    if (ABytes[0] >= 0x80)
    {
        ImportBlob(input);
        return;
    }
    TixCryptApiRsaKey key;
    if (fuzz::Completes<EixCryptError>([&] {
            key.Init();
            Imports[ABytes[0] % 4](key, input);
        }))
        CheckImportedKey(key, ABytes[0], input);
}

/// Runs a check of the input's bytes.
void Run(void (*ACheck)(std::span<const uint8_t>), const uint8_t* AData, size_t ASize)
{
    ACheck({AData, ASize});
}

/// Runs a check of the whole input as text.
void Run(void (*ACheck)(const std::string&), const uint8_t* AData, size_t ASize)
{
    ACheck(fuzz::Text(AData, ASize));
}

/// Runs a check of the first byte as options and the rest as text.
void Run(void (*ACheck)(uint8_t, const std::string&), const uint8_t* AData, size_t ASize)
{
    // Every byte stands for a character of Windows-1252, so that any text round-trips.
    os::SetAnsiCodePage(1252);
    if (ASize > 0)
        ACheck(AData[0], fuzz::Text(AData, ASize, 1));
}

} // namespace

void ix::fuzz::CheckInput(const uint8_t* AData, size_t ASize)
{
    Run(IX_FUZZ_CHECK, AData, ASize);
}
