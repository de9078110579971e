#include "dcp/exchange.hpp"

#include <chrono>

#include "device/device.hpp"
#include "net/random.hpp"

namespace varnode::DCP {
namespace {

std::uint64_t current_nanoseconds() {
  return static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
}

}  // namespace

std::mutex& library_mutex() {
  // Never destroyed, so that a call still running while the process exits
  // finds it intact.
  static std::mutex* mutex = new std::mutex;
  return *mutex;
}

std::uint32_t TransactionCounter::next() {
  if (!value_) {
    // Without a system source, the clock still sets processes apart.
    value_ = system_random().value_or(static_cast<std::uint32_t>(current_nanoseconds()));
  }
  return (*value_)++;
}

std::uint32_t next_transaction_id() {
  static TransactionCounter* counter = new TransactionCounter;
  std::lock_guard lock(library_mutex());
  return counter->next();
}

SocketPool::Lease SocketPool::lease() {
  std::lock_guard lock(library_mutex());
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    if (!entries_[i].in_use) {
      entries_[i].in_use = true;
      return Lease(*this, i, *entries_[i].socket);
    }
  }
  std::unique_ptr<UDP::Socket> socket;
  try {
    socket = std::make_unique<UDP::Socket>(IP::unspecified_address, 0);
  } catch (const UDP::Exception&) {
    throw Device::Exception::Network{};
  }
  entries_.push_back(Entry{std::move(socket), true});
  return Lease(*this, entries_.size() - 1, *entries_.back().socket);
}

void SocketPool::release(std::size_t index) {
  std::lock_guard lock(library_mutex());
  entries_[index].in_use = false;
}

std::size_t SocketPool::size() const {
  std::lock_guard lock(library_mutex());
  return entries_.size();
}

std::size_t SocketPool::idle() const {
  std::lock_guard lock(library_mutex());
  std::size_t count = 0;
  for (const Entry& entry : entries_) count += entry.in_use ? 0 : 1;
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

Received receive(UDP::Socket& socket, std::uint16_t wait, Bytes& buffer) {
  const std::uint64_t deadline = current_milliseconds() + wait;
  for (;;) {
    try {
      std::uint16_t source_port = 0;
      const IP::Address source = socket.receive(1, source_port, buffer);
      if (source_port == port) return Received{source, decode(buffer)};
    } catch (const UDP::Exception::Timeout&) {
    } catch (const Exception::Parameter&) {
    } catch (const UDP::Exception&) {
      throw Exception::Network{};
    }
    if (current_milliseconds() >= deadline) throw Exception::Timeout{};
  }
}

InterfaceSockets::InterfaceSockets() {
  try {
    for (const std::string& name : IP::interface_names()) {
      const IP::Address address = IP::interface_address(name);
      try {
        auto socket = std::make_unique<UDP::Socket>(address, 0);
        socket->enlarge_receive_buffer();
        sockets_.push_back(std::move(socket));
      } catch (const UDP::Exception&) {
        // An interface without a usable socket is simply left out.
      }
    }
  } catch (const IP::Exception&) {
    throw Device::Exception::Network{};
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
  // Replies to a broadcast come as one burst; every datagram already queued
  // is read before the pause, so that the sockets' buffers never overflow
  // while the loop sleeps. A run of dropped datagrams ends the step without
  // a pause, so that a flood of them cannot hold the caller past its window.
  std::size_t dropped = 0;
  while (dropped < 64) {
    bool pending = false;
    for (const auto& socket : sockets.sockets()) {
      try {
        std::uint16_t source_port = 0;
        socket->receive(0, source_port, buffer);
        pending = true;
        if (source_port == port) return decode(buffer);
        ++dropped;
      } catch (const UDP::Exception::Timeout&) {
      } catch (const Exception::Parameter&) {
        ++dropped;
      } catch (const UDP::Exception&) {
        // A failing socket counts as empty, so that it cannot keep the loop spinning.
      }
    }
    if (!pending) {
      pause_millisecond();
      return std::nullopt;
    }
  }
  return std::nullopt;
}

}  // namespace varnode::DCP
