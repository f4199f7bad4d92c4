// Arbitrary bytes through the UTF-8 decoder and every character-set conversion: nothing may
// raise, the decoder never yields more code units than bytes, and what its encoder writes
// decodes back to the same code units.
#include "FuzzInput.h"
#include "util/ixTranslator.h"

using namespace ix;

namespace {

constexpr const char* CharSets[] = {"utf-8", "", "koi8-r", "ISO-8859-2", "x-mac-cyrillic", "WIN-KOI8", "unknown"};

} // namespace

void ix::fuzz::CheckInput(const uint8_t* AData, size_t ASize)
{
    const std::string bytes = fuzz::Text(AData, ASize);
    const std::u16string wide = TixTranslator::Utf8Decode(bytes);
    fuzz::Require(wide.size() <= bytes.size());
    fuzz::Require(TixTranslator::Utf8Decode(TixTranslator::Utf8Encode(wide)) == wide);
    for (const char* charSet : CharSets) {
        const std::string text = TixTranslator::GetString({AData, ASize}, charSet);
        const TixByteArray back = TixTranslator::GetBytes(text, charSet);
        fuzz::Require(static_cast<size_t>(TixTranslator::GetByteCount(text, charSet)) == back.size());
    }
}
