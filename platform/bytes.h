#pragma once
// Bounds-checked reading and writing of frames. Every frame of the driver is
// built and parsed through these; reading past the end raises instead of
// touching memory that is not there.
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/exception.h"

namespace mirelo {

class EBoundsError : public Exception {
 public:
  using Exception::Exception;
};

class ByteReader {
 public:
  explicit ByteReader(std::string_view data, size_t position = 0) : data_(data), pos_(position) {}

  size_t position() const { return pos_; }
  size_t size() const { return data_.size(); }
  size_t remaining() const { return pos_ < data_.size() ? data_.size() - pos_ : 0; }
  void seek(size_t position) {
    require(position > data_.size() ? position - pos_ : 0);
    pos_ = position;
  }
  void skip(size_t count) {
    require(count);
    pos_ += count;
  }

  uint8_t u8() {
    require(1);
    return static_cast<uint8_t>(data_[pos_++]);
  }
  uint16_t u16le() { return static_cast<uint16_t>(little(2)); }
  uint16_t u16be() { return static_cast<uint16_t>(big(2)); }
  uint32_t u24le() { return little(3); }
  uint32_t u24be() { return big(3); }
  uint32_t u32le() { return little(4); }
  // Little-endian unsigned of 1 to 4 bytes.
  uint32_t uintLe(size_t count) { return little(count); }

  // Exactly count bytes.
  std::string_view bytes(size_t count) {
    require(count);
    std::string_view out = data_.substr(pos_, count);
    pos_ += count;
    return out;
  }
  // At most count bytes: whatever is left when the data is shorter.
  std::string_view upTo(size_t count) {
    size_t n = count < remaining() ? count : remaining();
    std::string_view out = data_.substr(pos_ < data_.size() ? pos_ : data_.size(), n);
    pos_ += n;
    return out;
  }
  std::string_view rest() { return upTo(remaining()); }

 private:
  void require(size_t count) const {
    if (pos_ > data_.size() || count > data_.size() - pos_)
      throw EBoundsError("Frame too short: " + std::to_string(count) + " bytes needed at offset " +
                         std::to_string(pos_) + " of " + std::to_string(data_.size()));
  }
  uint32_t little(size_t count) {
    require(count);
    uint32_t value = 0;
    for (size_t i = 0; i < count; ++i)
      value |= static_cast<uint32_t>(static_cast<uint8_t>(data_[pos_ + i])) << (8 * i);
    pos_ += count;
    return value;
  }
  uint32_t big(size_t count) {
    require(count);
    uint32_t value = 0;
    for (size_t i = 0; i < count; ++i) value = (value << 8) | static_cast<uint8_t>(data_[pos_ + i]);
    pos_ += count;
    return value;
  }

  std::string_view data_;
  size_t pos_;
};

class ByteWriter {
 public:
  ByteWriter() = default;
  explicit ByteWriter(size_t reserve) { data_.reserve(reserve); }

  ByteWriter& u8(unsigned value) {
    data_ += static_cast<char>(value & 0xFF);
    return *this;
  }
  ByteWriter& u16le(unsigned value) { return u8(value).u8(value >> 8); }
  ByteWriter& u16be(unsigned value) { return u8(value >> 8).u8(value); }
  ByteWriter& u24le(uint32_t value) { return u8(value).u8(value >> 8).u8(value >> 16); }
  ByteWriter& u24be(uint32_t value) { return u8(value >> 16).u8(value >> 8).u8(value); }
  ByteWriter& bytes(std::string_view value) {
    data_ += value;
    return *this;
  }
  // Exactly width bytes: cut, or padded with the fill byte.
  ByteWriter& fixed(std::string_view value, size_t width, char fill = '\0') {
    if (value.size() >= width) {
      data_.append(value.substr(0, width));
    } else {
      data_ += value;
      data_.append(width - value.size(), fill);
    }
    return *this;
  }

  size_t size() const { return data_.size(); }
  const std::string& data() const& { return data_; }
  std::string take() { return std::move(data_); }

 private:
  std::string data_;
};

}  // namespace mirelo
