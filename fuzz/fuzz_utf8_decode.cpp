// Arbitrary bytes through the UTF-8 decoder and every character-set conversion: nothing may
// raise, the decoder never yields more code units than bytes, and what its encoder writes
// decodes back to the same code units.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "util/ixTranslator.h"

namespace {

constexpr const char* CharSets[] = {"utf-8", "", "koi8-r", "ISO-8859-2", "x-mac-cyrillic", "WIN-KOI8", "unknown"};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize)
{
    using ix::TixTranslator;
    const std::string_view bytes(reinterpret_cast<const char*>(AData), ASize);
    const std::u16string wide = TixTranslator::Utf8Decode(bytes);
    if (wide.size() > bytes.size())
        __builtin_trap();
    if (TixTranslator::Utf8Decode(TixTranslator::Utf8Encode(wide)) != wide)
        __builtin_trap();
    for (const char* charSet : CharSets) {
        const std::string text = TixTranslator::GetString({AData, ASize}, charSet);
        const ix::TixByteArray back = TixTranslator::GetBytes(text, charSet);
        if (static_cast<size_t>(TixTranslator::GetByteCount(text, charSet)) != back.size())
            __builtin_trap();
    }
    return 0;
}
