// The translator's paths for an ANSI code page of UTF-8 on arbitrary bytes: character lengths
// cover the text, UTF-8 reads and writes back unchanged where it is well-formed, the table
// sets convert without raising, and header words cut per character decode to the same text.
#include <string_view>

#include "FuzzInput.h"
#include "message/ixMailHeader.h"
#include "platform/ixOsKernel.h"
#include "util/ixTranslator.h"

using namespace ix;

namespace {

constexpr const char* CharSets[] = {"koi8-r", "ISO-8859-2", "Windows-1251", "ibm866", "Latin1"};

} // namespace

void ix::fuzz::CheckInput(const uint8_t* AData, size_t ASize)
{
    os::SetAnsiCodePage(os::CP_UTF8);
    const std::string_view bytes(reinterpret_cast<const char*>(AData), ASize);

    size_t covered = 0;
    for (std::string_view rest = bytes; !rest.empty();) {
        const size_t length = TixTranslator::CharLength(rest);
        fuzz::Require(length != 0 && length <= rest.size());
        rest.remove_prefix(length);
        covered += length;
    }
    fuzz::Require(covered == bytes.size());

    // Text read from UTF-8 is well-formed UTF-8 and writes back as it reads.
    const std::string text = TixTranslator::GetString({AData, ASize}, "utf-8");
    const TixByteArray back = TixTranslator::GetBytes(text, "utf-8");
    fuzz::Require(std::string(back.begin(), back.end()) == text && TixTranslator::GetString(back, "utf-8") == text);
    fuzz::Require(TixTranslator::AnsiToCodePoints(text).size() <= text.size());
    for (const char* charSet : CharSets) {
        const std::string converted = TixTranslator::GetString({AData, ASize}, charSet);
        TixTranslator::GetBytes(converted, charSet);
        TixTranslator::GetBytes(text, charSet);
    }

    // Encoded words of at most a few characters each decode to the whole text.
    if (!text.empty() && text.find_first_of("\r\n") == std::string::npos && ASize < 4096) {
        for (const TixEncodeMethod method : {cmQuotedPrintable, cmBase64}) {
            std::string words = TixMailHeaderFieldList::EncodeHeaderText(text, "utf-8", 1 + AData[0] % 40, method);
            std::string unfolded;
            for (const char c : words)
                unfolded += c == '\n' ? std::string("\n ") : std::string(1, c);
            fuzz::Require(TixMailHeaderFieldList::DecodeEncodedWords(unfolded, "utf-8") == text);
        }
    }
}
