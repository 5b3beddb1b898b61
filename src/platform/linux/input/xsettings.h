#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace tavren::input {

// The integer setting `name` in the bytes of an _XSETTINGS_SETTINGS property (the XSETTINGS
// wire format: byte order, serial, count, then typed, 4-byte padded records). None when the
// setting is absent, not an integer, or the data is cut short.
std::optional<int32_t> xsettingsInteger(std::string_view data, std::string_view name);

}  // namespace tavren::input
