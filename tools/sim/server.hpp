#pragma once
// Plays a rack on the network: one socket per module bound to the module's
// own address and port 30000, from which it answers, plus (in a private
// namespace) one socket on 0.0.0.0:30000 that hears broadcasts. One thread
// runs everything; time-outs of the poll call pace the streams.

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <queue>
#include <span>
#include <unordered_map>
#include <vector>

#include "module.hpp"
#include "rack.hpp"
#include "traffic.hpp"

namespace varnode::sim {

class Socket;

class Server final : public Outbox {
 public:
  struct Options {
    bool hear_broadcasts = false;
    // Called when a configure command moved a module; false keeps it where
    // it was (for instance when the new address cannot be made local).
    std::function<bool(Address from, Address to)> move_address;
    // Sees every datagram the rack receives (incoming) and sends, as it
    // crossed the socket; called on the serving thread.
    std::function<void(const Hop& hop, std::span<const std::uint8_t> datagram, bool incoming)> observe;
  };

  Server(Rack rack, Options options);
  ~Server() override;

  // Serves until stop(). Throws std::runtime_error when a socket cannot be
  // bound (before serving).
  void run();
  void bind();
  // Safe from any thread and from a signal handler.
  void stop();

  const Rack& rack() const { return rack_; }
  void send(Address from, Endpoint to, Bytes datagram, Time at) override;

 private:
  struct Pending {
    Time at;
    std::uint64_t sequence;
    Address from;
    Endpoint to;
    Bytes datagram;
    bool operator>(const Pending& other) const {
      return at != other.at ? at > other.at : sequence > other.sequence;
    }
  };

  void serve_once();
  void drain(Socket& socket, Module* module);
  bool carry_out_moves();
  void dispatch(const Request& request, Address destination, Module* module);
  bool is_broadcast(Address destination) const;
  void move(Module& module, Address to);
  void transmit(Address from, const Endpoint& to, const Bytes& datagram);

  Rack rack_;
  Options options_;
  std::map<Module*, std::unique_ptr<Socket>> sockets_;
  // The same sockets by host-order address: a rack of a thousand modules
  // answers a broadcast with a thousand sends.
  std::unordered_map<std::uint32_t, Socket*> by_address_;
  std::unique_ptr<Socket> wildcard_;
  int wake_[2] = {-1, -1};
  std::atomic<bool> stopping_{false};
  std::priority_queue<Pending, std::vector<Pending>, std::greater<>> pending_;
  std::uint64_t sequence_ = 0;
  std::optional<Time> next_wake_;
};

}  // namespace varnode::sim
