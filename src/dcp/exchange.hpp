#pragma once
// The shared pieces of every command exchange: the library mutex, the
// transaction counter, the socket pool, the send and receive steps, and the
// per-interface sockets used to broadcast.

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

// Starts from a number drawn from the system's random source on first use
// (so that ids differ between processes and are hard to guess) and counts
// up, wrapping at 2^32. Not synchronised: the process-wide one is used under the
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

// Sockets bound to 0.0.0.0 that are reused across exchanges. Entries are only
// ever appended and stay open until the process ends, so a leased socket
// stays valid while other threads grow the pool.
class SocketPool {
 public:
  class Lease {
   public:
    Lease(SocketPool& pool, std::size_t index, UDP::Socket& socket) : pool_(&pool), index_(index), socket_(&socket) {}
    Lease(Lease&& other) noexcept : pool_(std::exchange(other.pool_, nullptr)), index_(other.index_), socket_(other.socket_) {}
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    Lease& operator=(Lease&&) = delete;
    ~Lease() {
      if (pool_ != nullptr) pool_->release(index_);
    }
    UDP::Socket& socket() const { return *socket_; }
    std::size_t index() const { return index_; }

   private:
    SocketPool* pool_;
    std::size_t index_;
    UDP::Socket* socket_;
  };

  // Takes the first idle socket, creating one when all are in use. Throws
  // Device::Exception::Network when no socket can be made.
  Lease lease();
  std::size_t size() const;
  std::size_t idle() const;

 private:
  struct Entry {
    std::unique_ptr<UDP::Socket> socket;
    bool in_use = false;
  };
  void release(std::size_t index);

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

// One socket per local IPv4 interface, bound to its address, in ascending
// order of interface name, with as large a receive buffer as the system
// allows (a rack answers a broadcast all at once); owned by one call, never
// pooled.
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
// Reads the sockets without waiting until one yields a well-formed datagram
// from port 30000, dropping anything else. When no socket holds any datagram
// it pauses a millisecond and returns nothing; after 64 dropped datagrams it
// returns nothing at once.
std::optional<Message> collect(const InterfaceSockets& sockets, Bytes& buffer);

}  // namespace varnode::DCP
