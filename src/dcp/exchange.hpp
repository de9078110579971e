#pragma once
// The shared pieces of every command exchange: the library mutex, the
// transaction counter, the socket pool, the send and receive steps, and the
// per-interface sockets used to broadcast.

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "dcp/datagram.hpp"

namespace varnode::DCP {

// The one library-wide mutex. It guards the transaction counter, the socket
// pool and the time-out registry, and is held only for short steps, never
// while sending or waiting.
std::mutex& library_mutex();

// Starts from two calls of rand (r2 * 65536 + r1) on first use and counts up,
// wrapping at 2^32. Not synchronised: the process-wide one is used under the
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

// Sockets bound to 0.0.0.0 that are reused across exchanges, each with the
// buffers its exchanges use, so that an exchange allocates nothing. Entries
// are only ever appended and stay open until the process ends, so a leased
// socket stays valid while other threads grow the pool.
class SocketPool {
  struct Entry {
    explicit Entry(std::unique_ptr<UDP::Socket> s) : socket(std::move(s)) {}
    std::unique_ptr<UDP::Socket> socket;
    // Set under the mutex by lease; cleared without it by release, which
    // publishes the buffers to the next holder.
    std::atomic<bool> in_use{true};
    Bytes request;
    std::array<std::uint8_t, UDP::largest_datagram> reply{};
  };

 public:
  class Lease {
   public:
    Lease(std::size_t index, Entry& entry) : index_(index), entry_(&entry) {}
    Lease(Lease&& other) noexcept : index_(other.index_), entry_(std::exchange(other.entry_, nullptr)) {}
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    Lease& operator=(Lease&&) = delete;
    ~Lease() {
      if (entry_ != nullptr) entry_->in_use.store(false, std::memory_order_release);
    }
    UDP::Socket& socket() const { return *entry_->socket; }
    std::size_t index() const { return index_; }
    // Scratch space for the outgoing datagram and the one last received.
    Bytes& request() const { return entry_->request; }
    std::span<std::uint8_t> reply() const { return entry_->reply; }

   private:
    std::size_t index_;
    Entry* entry_;
  };

  // Takes the first idle socket, creating one when all are in use. Throws
  // Exception::Network when no socket can be made.
  Lease lease();
  // The same for a caller that already holds the library mutex.
  Lease lease(const std::lock_guard<std::mutex>& held);
  std::size_t size() const;
  std::size_t idle() const;

 private:
  std::deque<Entry> entries_;
};

SocketPool& socket_pool();

struct Received {
  IP::Address source;
  Message message;  // views the buffer handed to receive
};

// Sends one datagram to port 30000 of `destination`; throws Exception::Network.
void send(UDP::Socket& socket, IP::Address destination, std::uint16_t code, std::uint32_t transaction_id,
          View payload);
// Returns the first well-formed datagram from port 30000 within `wait` ms,
// dropping anything else. Throws Exception::Timeout or Exception::Network.
Received receive(UDP::Socket& socket, std::uint16_t wait, Bytes& buffer);
// The first well-formed datagram from port 30000 before `deadline` (in
// current_milliseconds), or nothing. One readiness wait runs to the deadline
// rather than in slices. Throws Exception::Network.
std::optional<Received> receive_until(UDP::Socket& socket, std::uint64_t deadline, std::span<std::uint8_t> buffer);

// One request and its replies: the transaction id and a pooled socket, taken
// under one hold of the library mutex and given back when it ends. Serves
// the single exchange and the streamed measurement alike.
class Transaction {
 public:
  // Throws Exception::Network when no socket can be made.
  explicit Transaction(IP::Address destination);

  std::uint32_t id() const { return id_; }
  // Throws Exception::Network.
  void send(std::uint16_t code, View payload);
  // The next datagram from the destination's port 30000 that carries this
  // transaction's id, or nothing once `deadline` has passed; anything else
  // (a late reply to an earlier transaction on this socket, say) is dropped.
  // The message views the lease's buffer until the next call. Throws
  // Exception::Network.
  std::optional<Message> next_reply(std::uint64_t deadline);

 private:
  Transaction(IP::Address destination, const std::lock_guard<std::mutex>& held);

  IP::Address destination_;
  std::uint32_t id_;
  SocketPool::Lease lease_;
};

// One socket per local IPv4 interface, bound to its address, in ascending
// order of interface name; owned by one call, never pooled.
class InterfaceSockets {
 public:
  InterfaceSockets();
  const std::vector<std::unique_ptr<UDP::Socket>>& sockets() const { return sockets_; }

 private:
  std::vector<std::unique_ptr<UDP::Socket>> sockets_;
};

// Sends to 255.255.255.255:30000 from every interface socket; a socket that
// fails is skipped.
void broadcast(const InterfaceSockets& sockets, std::uint16_t code, std::uint32_t transaction_id, View payload);
// Polls each socket once; the first acceptable datagram wins. When none has
// one, pauses a millisecond and returns nothing.
std::optional<Message> collect(const InterfaceSockets& sockets, Bytes& buffer);

}  // namespace varnode::DCP
