#include "dcp/socket_pool.hpp"

#include <algorithm>

#include "dcp/datagram.hpp"
#include "dcp/lock.hpp"

namespace varnode::DCP {

namespace {

// Requests are short; only replies can take a whole datagram.
constexpr std::size_t request_capacity = 1500;

}  // namespace

SocketPool::Lease SocketPool::lease(const std::lock_guard<std::mutex>&) {
  Entry* closed = nullptr;
  std::size_t closed_index = 0;
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    Entry& entry = entries_[i];
    if (entry.in_use) continue;
    if (entry.socket) {
      entry.in_use = true;
      --idle_;
      return Lease(*this, i, entry);
    }
    if (closed == nullptr) {
      closed = &entry;
      closed_index = i;
    }
  }
  std::unique_ptr<UDP::Socket> socket;
  try {
    socket = std::make_unique<UDP::Socket>(IP::unspecified_address, 0);
  } catch (const UDP::Exception&) {
    throw Exception::Network{};
  }
  if (closed == nullptr) {
    closed = &entries_.emplace_back();
    closed_index = entries_.size() - 1;
  }
  closed->reply.resize(UDP::largest_datagram);
  closed->request.reserve(request_capacity);
  closed->socket = std::move(socket);
  closed->in_use = true;
  return Lease(*this, closed_index, *closed);
}

SocketPool::Lease SocketPool::lease() {
  const std::lock_guard lock(library_mutex());
  return lease(lock);
}

void SocketPool::release(Entry& entry) {
  std::unique_ptr<UDP::Socket> closing;
  {
    const std::lock_guard lock(library_mutex());
    entry.in_use = false;
    if (idle_ < idle_socket_limit) {
      ++idle_;
      return;
    }
    closing = std::move(entry.socket);
    Bytes().swap(entry.reply);
    Bytes().swap(entry.request);
  }
  // Closed outside the lock: the mutex is held only for short steps.
}

std::size_t SocketPool::size() const {
  const std::lock_guard lock(library_mutex());
  return static_cast<std::size_t>(
      std::count_if(entries_.begin(), entries_.end(), [](const Entry& entry) { return entry.socket != nullptr; }));
}

std::size_t SocketPool::idle() const {
  const std::lock_guard lock(library_mutex());
  return idle_;
}

SocketPool& socket_pool() {
  static SocketPool* pool = new SocketPool;
  return *pool;
}

}  // namespace varnode::DCP
