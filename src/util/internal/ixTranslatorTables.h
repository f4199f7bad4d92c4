// The generated character-set table of TixTranslator (ixTranslatorTables.cpp).
#pragma once

#include <array>
#include <cstddef>

#include "util/ixTranslator.h"

namespace ix::detail {

inline constexpr size_t CharSetCount = 12;
extern const std::array<TixCharSetInfo, CharSetCount> CharSetTable;

} // namespace ix::detail
