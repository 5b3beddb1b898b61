#include "platform/linux/input/xsettings.h"

#include <cstddef>

namespace tavren::input {
namespace {

// Reads the settings stream in the byte order its first byte names.
class Cursor {
 public:
  Cursor(std::string_view data, bool msbFirst) : data_(data), msbFirst_(msbFirst) {}
  bool skip(size_t n) {
    if (data_.size() - pos_ < n) return false;
    pos_ += n;
    return true;
  }
  std::optional<uint32_t> word(size_t bytes) {
    if (data_.size() - pos_ < bytes) return std::nullopt;
    uint32_t v = 0;
    for (size_t i = 0; i < bytes; ++i) {
      const auto b = static_cast<uint8_t>(data_[pos_ + (msbFirst_ ? i : bytes - 1 - i)]);
      v = (v << 8) | b;
    }
    pos_ += bytes;
    return v;
  }
  std::optional<std::string_view> padded(size_t length) {
    const size_t total = (length + 3) & ~size_t{3};
    if (data_.size() - pos_ < total) return std::nullopt;
    std::string_view s = data_.substr(pos_, length);
    pos_ += total;
    return s;
  }

 private:
  std::string_view data_;
  bool msbFirst_;
  size_t pos_ = 0;
};

enum : uint32_t { kInteger = 0, kString = 1, kColor = 2 };

}  // namespace

std::optional<int32_t> xsettingsInteger(std::string_view data, std::string_view name) {
  if (data.empty()) return std::nullopt;
  Cursor in(data, data[0] == 1);
  if (!in.skip(4) || !in.word(4)) return std::nullopt;  // byte order and padding, serial
  auto count = in.word(4);
  if (!count) return std::nullopt;
  for (uint32_t i = 0; i < *count; ++i) {
    auto type = in.word(1);
    if (!type || !in.skip(1)) return std::nullopt;
    auto nameLength = in.word(2);
    if (!nameLength) return std::nullopt;
    auto settingName = in.padded(*nameLength);
    if (!settingName || !in.word(4)) return std::nullopt;  // name, last-change serial
    switch (*type) {
      case kInteger: {
        auto value = in.word(4);
        if (!value) return std::nullopt;
        if (*settingName == name) return static_cast<int32_t>(*value);
        break;
      }
      case kString: {
        auto length = in.word(4);
        if (!length || !in.padded(*length)) return std::nullopt;
        break;
      }
      case kColor:
        if (!in.skip(8)) return std::nullopt;
        break;
      default:
        return std::nullopt;  // an unknown type has no known length
    }
  }
  return std::nullopt;
}

}  // namespace tavren::input
