#include "dcp/socket_pool.hpp"

#include "dcp/lock.hpp"
#include "dcp/datagram.hpp"

namespace varnode::DCP {

SocketPool::Lease SocketPool::lease(const std::lock_guard<std::mutex>&) {
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    // Only leasing sets the flag, and it holds the mutex: a clear flag stays
    // clear until this store.
    if (!entries_[i].in_use.load(std::memory_order_acquire)) {
      entries_[i].in_use.store(true, std::memory_order_relaxed);
      return Lease(i, entries_[i]);
    }
  }
  std::unique_ptr<UDP::Socket> socket;
  try {
    socket = std::make_unique<UDP::Socket>(IP::unspecified_address, 0);
  } catch (const UDP::Exception&) {
    throw Exception::Network{};
  }
  Entry& entry = entries_.emplace_back(std::move(socket));
  entry.request.reserve(UDP::largest_datagram);
  return Lease(entries_.size() - 1, entry);
}

SocketPool::Lease SocketPool::lease() {
  const std::lock_guard lock(library_mutex());
  return lease(lock);
}

std::size_t SocketPool::size() const {
  const std::lock_guard lock(library_mutex());
  return entries_.size();
}

std::size_t SocketPool::idle() const {
  const std::lock_guard lock(library_mutex());
  std::size_t count = 0;
  for (const Entry& entry : entries_) count += entry.in_use.load(std::memory_order_acquire) ? 0 : 1;
  return count;
}

SocketPool& socket_pool() {
  static SocketPool* pool = new SocketPool;
  return *pool;
}

}  // namespace varnode::DCP
