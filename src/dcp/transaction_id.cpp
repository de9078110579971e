#include "dcp/transaction_id.hpp"

#include <chrono>

#include "dcp/lock.hpp"
#include "net/random.hpp"

namespace varnode::DCP {
namespace {

std::uint64_t current_nanoseconds() {
  return static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
}

}  // namespace

std::uint32_t TransactionCounter::next() {
  if (!value_) {
    // Without a system source, the clock still sets processes apart.
    value_ = system_random().value_or(static_cast<std::uint32_t>(current_nanoseconds()));
  }
  return (*value_)++;
}

std::uint32_t next_transaction_id(const std::lock_guard<std::mutex>&) {
  static TransactionCounter* counter = new TransactionCounter;
  return counter->next();
}

std::uint32_t next_transaction_id() {
  const std::lock_guard lock(library_mutex());
  return next_transaction_id(lock);
}

}  // namespace varnode::DCP
