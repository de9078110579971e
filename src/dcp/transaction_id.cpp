#include "dcp/transaction_id.hpp"

#include <cstdlib>

#include "dcp/lock.hpp"

namespace varnode::DCP {

std::uint32_t TransactionCounter::next() {
  if (!value_) {
    const auto r1 = static_cast<std::uint32_t>(std::rand());
    const auto r2 = static_cast<std::uint32_t>(std::rand());
    value_ = r2 * 65536u + r1;
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
