#pragma once
// The pool of reusable sockets that single exchanges and streams lease.

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <span>
#include <utility>

#include "net/udp.hpp"

namespace varnode::DCP {

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

}  // namespace varnode::DCP
