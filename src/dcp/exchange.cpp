#include "dcp/exchange.hpp"

#include <algorithm>
#include <cstdlib>

namespace varnode::DCP {

std::mutex& library_mutex() {
  // Never destroyed, so that a call still running while the process exits
  // finds it intact.
  static std::mutex* mutex = new std::mutex;
  return *mutex;
}

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

void send(UDP::Socket& socket, IP::Address destination, std::uint16_t code, std::uint32_t transaction_id,
          View payload) {
  const Bytes datagram = encode(code, transaction_id, payload);
  try {
    socket.send(destination, port, datagram.data(), datagram.size());
  } catch (const UDP::Exception&) {
    throw Exception::Network{};
  }
}

std::optional<Received> receive_until(UDP::Socket& socket, std::uint64_t deadline, std::span<std::uint8_t> buffer) {
  for (;;) {
    // At least one short attempt, so that a deadline already reached still
    // takes what is queued.
    const std::uint64_t now = current_milliseconds();
    const auto wait = static_cast<std::uint32_t>(std::max<std::uint64_t>(deadline > now ? deadline - now : 0, 1));
    std::optional<UDP::Datagram> datagram;
    try {
      datagram = socket.receive(wait, buffer.data(), buffer.size());
    } catch (const UDP::Exception&) {
      throw Exception::Network{};
    }
    if (datagram && datagram->port == port) {
      try {
        return Received{datagram->source, decode(buffer.first(datagram->size))};
      } catch (const Exception::Parameter&) {
        // Malformed: dropped like any other stranger.
      }
    }
    if (current_milliseconds() >= deadline) return std::nullopt;
  }
}

Received receive(UDP::Socket& socket, std::uint16_t wait, Bytes& buffer) {
  buffer.resize(UDP::largest_datagram);
  const std::optional<Received> received = receive_until(socket, current_milliseconds() + wait, buffer);
  if (!received) throw Exception::Timeout{};
  return *received;
}

Transaction::Transaction(IP::Address destination) : Transaction(destination, std::lock_guard(library_mutex())) {}

// The id and the lease under one hold: two short steps, one lock.
Transaction::Transaction(IP::Address destination, const std::lock_guard<std::mutex>& held)
    : destination_(destination), id_(next_transaction_id(held)), lease_(socket_pool().lease(held)) {}

void Transaction::send(std::uint16_t code, View payload) {
  Bytes& datagram = lease_.request();
  encode(code, id_, payload, datagram);
  try {
    lease_.socket().send(destination_, port, datagram.data(), datagram.size());
  } catch (const UDP::Exception&) {
    throw Exception::Network{};
  }
}

std::optional<Message> Transaction::next_reply(std::uint64_t deadline) {
  for (;;) {
    const std::optional<Received> received = receive_until(lease_.socket(), deadline, lease_.reply());
    if (!received) return std::nullopt;
    if (received->source == destination_ && received->message.transaction_id == id_) return received->message;
  }
}

InterfaceSockets::InterfaceSockets() {
  try {
    for (const std::string& name : IP::interface_names()) {
      const IP::Address address = IP::interface_address(name);
      try {
        sockets_.push_back(std::make_unique<UDP::Socket>(address, 0));
      } catch (const UDP::Exception&) {
        // An interface without a usable socket is simply left out.
      }
    }
  } catch (const IP::Exception&) {
    throw Exception::Network{};
  }
}

void broadcast(const InterfaceSockets& sockets, std::uint16_t code, std::uint32_t transaction_id, View payload) {
  for (const auto& socket : sockets.sockets()) {
    try {
      send(*socket, IP::broadcast_address, code, transaction_id, payload);
    } catch (const Exception&) {
    }
  }
}

std::optional<Message> collect(const InterfaceSockets& sockets, Bytes& buffer) {
  for (const auto& socket : sockets.sockets()) {
    try {
      return receive(*socket, 0, buffer).message;
    } catch (const Exception&) {
    }
  }
  pause_millisecond();
  return std::nullopt;
}

}  // namespace varnode::DCP
