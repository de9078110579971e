#pragma once
// Transaction ids: the counter and the process-wide sequence.

#include <cstdint>
#include <mutex>
#include <optional>

namespace varnode::DCP {

// Starts from the system's random source on first use (the steady clock
// when there is none) and counts up, wrapping at 2^32. Not synchronised: the process-wide one is used under the
// library mutex through next_transaction_id.
class TransactionCounter {
 public:
  TransactionCounter() = default;
  explicit TransactionCounter(std::uint32_t first) : value_(first) {}
  std::uint32_t next();

 private:
  std::optional<std::uint32_t> value_;
};

std::uint32_t next_transaction_id();
// The same for a caller that already holds the library mutex.
std::uint32_t next_transaction_id(const std::lock_guard<std::mutex>& held);

}  // namespace varnode::DCP
