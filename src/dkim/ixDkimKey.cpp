#include "dkim/ixDkimKey.h"

#include "dkim/ixDkimUtils.h"

#include <array>

namespace ix {

namespace {

constexpr std::array<const char*, 2> ServiceNames{"*", "email"};
constexpr std::array<const char*, 2> FlagNames{"y", "s"};

/// The members of a set named by the ":"-separated parts of AValue (case-sensitive).
template <typename E, size_t N>
TSet<E> ParseSet(const std::string& AValue, const std::array<const char*, N>& ANames)
{
    TSet<E> result;
    size_t at = 0;
    while (at <= AValue.size()) {
        const size_t end = std::min(AValue.find(':', at), AValue.size());
        const std::string part = Trim(std::string_view(AValue).substr(at, end - at));
        for (size_t i = 0; i < N; ++i)
            if (part == ANames[i])
                result.Include(static_cast<E>(i));
        at = end + 1;
    }
    return result;
}

template <typename E, size_t N>
std::string BuildSet(TSet<E> ASet, const std::array<const char*, N>& ANames)
{
    std::string result;
    for (size_t i = 0; i < N; ++i)
        if (ASet.Includes(static_cast<E>(i)))
            result.append(result.empty() ? "" : ":").append(ANames[i]);
    return result;
}

} // namespace

TixDkimKey::TixDkimKey()
{
    Clear();
}

void TixDkimKey::Clear()
{
    Version.clear();
    AcceptableHashAlgorithms.Clear();
    KeyType.clear();
    Notes.clear();
    PublicKey.clear();
    ServiceType = {};
    Flags = {};
}

void TixDkimKey::Parse(const std::string& ARecord)
{
    Clear();
    TixDkimTagList tags;
    tags.Parse(ARecord, DkimKeyRecordText, DkimKeyRecordCode);
    Version = tags.Value("v");
    const std::string hashes = RemoveWhitespace(tags.Value("h"));
    if (!hashes.empty()) {
        size_t at = 0;
        while (at <= hashes.size()) {
            const size_t end = std::min(hashes.find(':', at), hashes.size());
            AcceptableHashAlgorithms.Add(hashes.substr(at, end - at));
            at = end + 1;
        }
    }
    KeyType = tags.Value("k");
    Notes = TixDkimQuotedPrintableEncoder::Decode(tags.Value("n"));
    PublicKey = RemoveWhitespace(tags.Value("p"));
    ServiceType = ParseSet<TixDkimKeyServiceType>(tags.Value("s"), ServiceNames);
    Flags = ParseSet<TixDkimKeyFlag>(tags.Value("t"), FlagNames);
}

void TixDkimKey::Build(std::string& ARecord)
{
    ARecord.clear();
    const auto add = [&ARecord](const char* ATag, const std::string& AValue, bool AAlways) {
        if (AValue.empty() && !AAlways)
            return;
        ARecord.append(ARecord.empty() ? "" : "; ").append(ATag).append("=").append(AValue);
    };
    add("v", Version, false);
    add("h", AcceptableHashAlgorithms.Join(":"), false);
    add("k", KeyType, false);
    add("n", TixDkimQuotedPrintableEncoder::Encode(Notes), false);
    add("s", BuildSet(ServiceType, ServiceNames), false);
    add("t", BuildSet(Flags, FlagNames), false);
    add("p", PublicKey, true);
}

} // namespace ix
