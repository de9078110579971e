#pragma once
// The pool of reusable sockets that single exchanges and streams lease.

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <span>
#include <utility>

#include "net/udp.hpp"

namespace varnode::DCP {

// How many idle sockets the pool keeps open for the next exchanges; a socket
// given back beyond that is closed, so that a burst of threads does not hold
// the process's descriptors once it is over.
inline constexpr std::size_t idle_socket_limit = 8;

// Sockets bound to 0.0.0.0 that are reused across exchanges, each with the
// buffers its exchanges use, so that an exchange allocates nothing. Slots are
// only ever appended, so a leased slot stays valid while other threads grow
// the pool; a slot whose socket was closed gets a new one when next leased.
class SocketPool {
  struct Entry {
    std::unique_ptr<UDP::Socket> socket;  // null while the slot is closed
    // Guarded by the library mutex, like the rest of the pool.
    bool in_use = false;
    Bytes request;
    Bytes reply;  // largest_datagram bytes while the socket is open
  };

 public:
  class Lease {
   public:
    Lease(SocketPool& pool, std::size_t index, Entry& entry) : pool_(&pool), index_(index), entry_(&entry) {}
    Lease(Lease&& other) noexcept
        : pool_(other.pool_), index_(other.index_), entry_(std::exchange(other.entry_, nullptr)) {}
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    Lease& operator=(Lease&&) = delete;
    // Takes the library mutex: never destroyed by a holder of it.
    ~Lease() {
      if (entry_ != nullptr) pool_->release(*entry_);
    }
    UDP::Socket& socket() const { return *entry_->socket; }
    std::size_t index() const { return index_; }
    // Scratch space for the outgoing datagram and the one last received.
    Bytes& request() const { return entry_->request; }
    std::span<std::uint8_t> reply() const { return entry_->reply; }

   private:
    SocketPool* pool_;
    std::size_t index_;
    Entry* entry_;
  };

  // Takes the first idle socket, opening one when all are in use. Throws
  // Exception::Network when no socket can be made; nothing is left open then.
  Lease lease();
  // The same for a caller that already holds the library mutex.
  Lease lease(const std::lock_guard<std::mutex>& held);
  // Open sockets, and those of them not leased.
  std::size_t size() const;
  std::size_t idle() const;

 private:
  void release(Entry& entry);

  std::deque<Entry> entries_;
  std::size_t idle_ = 0;
};

SocketPool& socket_pool();

}  // namespace varnode::DCP
