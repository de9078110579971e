#pragma once
// The frame every export runs in: argument checks, the operation, outputs
// written only on success, and every exception turned into a result code.

#include <cstdint>
#include <span>
#include <string_view>

#include "device/device.hpp"
#include "varnode/varnode.h"

namespace varnode::api {

using Result = std::uint8_t;

// Maps by exact dynamic type; a derived or base class of a listed kind is 1.
Result result_code(const Device::Exception& exception) noexcept;

// Runs `operation` and returns 0, or the code of what it threw. Nothing escapes.
template <class Operation>
Result guarded(Operation&& operation) noexcept {
  try {
    operation();
    return VARNODE_SUCCESS;
  } catch (const Device::Exception& exception) {
    return result_code(exception);
  } catch (...) {
    return VARNODE_ERROR;
  }
}

// One plain argument check of an export: refused with 3 before anything is
// sent or written.
inline void require(bool condition) {
  if (!condition) throw Device::Exception::Parameter{};
}

// Every pointer a call reads or writes is checked before anything is sent.
// An array pointer may be NULL only where the call touches none of it.
inline void require_entries(const void* pointer, std::size_t count) { require(pointer != nullptr || count == 0); }
inline void require_pointer(const void* pointer) { require(pointer != nullptr); }
// A text output needs its capacity, and a buffer unless that capacity is 0.
inline void require_text(const char* buffer, const std::uint32_t* size) {
  require(size != nullptr && (buffer != nullptr || *size == 0));
}

// Copies min(capacity, length) bytes, no terminator, and stores the count.
void write_text(std::span<const std::uint8_t> text, char* buffer, std::uint32_t* size) noexcept;
inline void write_text(std::string_view text, char* buffer, std::uint32_t* size) noexcept {
  write_text(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()), buffer, size);
}

// A caller's bool is read as a byte: anything but 0 is set, whatever a C++
// bool would promise.
inline bool flag_at(const bool* flags, std::size_t index) {
  return reinterpret_cast<const unsigned char*>(flags)[index] != 0;
}

}  // namespace varnode::api
