// Domain encoding of arbitrary 8-bit text: never crashes; the result is ASCII, or the overflow
// error is raised; an all-ASCII domain without control characters comes back unchanged.
#include <algorithm>

#include "FuzzInput.h"
#include "message/ixIdnTranslator.h"

using namespace ix;

void ix::fuzz::CheckInput(const uint8_t* AData, size_t ASize)
{
    const std::string domain = fuzz::Text(AData, ASize);
    std::string encoded;
    try {
        encoded = TixIdnTranslator::EncodeDomain(domain);
    } catch (const EixIdnError& e) {
        fuzz::Require(e.Message() == "Input value needs wider integers to translate");
        return;
    }
    fuzz::Require(TixIdnTranslator::IsAscii(encoded));
    // Control characters other than NUL and TAB are not kept.
    const auto control = [](char AChar) { return AChar > 0 && AChar < 0x20 && AChar != '\t'; };
    const bool plain = TixIdnTranslator::IsAscii(domain) && std::none_of(domain.begin(), domain.end(), control);
    fuzz::Require(!plain || encoded == domain);
}
