#pragma once
// Reading a fuzz input as arguments and replies, and failing loudly.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "net/udp.hpp"

namespace varnode::fuzz {

[[noreturn]] inline void fail(const char* what, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
  std::abort();
}

#define FUZZ_CHECK(condition) ((condition) ? (void)0 : ::varnode::fuzz::fail(#condition, __FILE__, __LINE__))

// Takes bytes from the front; past the end every read gives zeros.
class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  std::size_t left() const { return size_ - at_; }
  std::uint8_t u8() { return at_ < size_ ? data_[at_++] : 0; }
  std::uint16_t u16() { return static_cast<std::uint16_t>(u8() << 8 | u8()); }
  std::uint32_t u32() { return std::uint32_t{u16()} << 16 | u16(); }
  float f32() {
    const std::uint32_t bits = u32();
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
  }
  Bytes bytes(std::size_t most) {
    const std::size_t n = most < left() ? most : left();
    Bytes out(data_ + at_, data_ + at_ + n);
    at_ += n;
    return out;
  }
  Bytes rest() { return bytes(left()); }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

}  // namespace varnode::fuzz
