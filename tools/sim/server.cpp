#include "server.hpp"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace varnode::sim {

// A non-blocking UDP socket on port 30000 that can tell where a datagram was
// sent to, so that broadcasts and unicasts can be told apart.
class Socket {
 public:
  Socket(Address local, bool broadcast) {
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd_ < 0) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
    const int on = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    ::setsockopt(fd_, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
    if (broadcast) ::setsockopt(fd_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    const int buffer = 1 << 20;
    ::setsockopt(fd_, SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(wire::port);
    std::memcpy(&address.sin_addr.s_addr, local.bytes().data(), 4);
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      const int error = errno;
      ::close(fd_);
      throw std::runtime_error("cannot bind " + format_address(local) + ":30000: " + std::strerror(error));
    }
  }
  ~Socket() { ::close(fd_); }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  int fd() const { return fd_; }

  // False when nothing is queued.
  bool receive(Endpoint& source, Address& destination, Bytes& data) {
    data.resize(65536);
    sockaddr_in from{};
    iovec vector{data.data(), data.size()};
    alignas(cmsghdr) char control[256];
    msghdr message{};
    message.msg_name = &from;
    message.msg_namelen = sizeof from;
    message.msg_iov = &vector;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t received = ::recvmsg(fd_, &message, 0);
    if (received < 0) return false;
    data.resize(static_cast<std::size_t>(received));
    std::array<std::uint8_t, 4> bytes{};
    std::memcpy(bytes.data(), &from.sin_addr.s_addr, 4);
    source = {Address(bytes), ntohs(from.sin_port)};
    destination = broadcast_address;
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
      if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
        in_pktinfo info{};
        std::memcpy(&info, CMSG_DATA(c), sizeof info);
        std::memcpy(bytes.data(), &info.ipi_addr.s_addr, 4);
        destination = Address(bytes);
      }
    }
    return true;
  }

  void send(const Endpoint& to, const Bytes& datagram) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(to.port);
    std::memcpy(&address.sin_addr.s_addr, to.address.bytes().data(), 4);
    // A full send buffer loses the datagram, as a busy link would.
    ::sendto(fd_, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&address), sizeof address);
  }

 private:
  int fd_ = -1;
};

Server::Server(Rack rack, Options options) : rack_(std::move(rack)), options_(std::move(options)) {
  if (::pipe2(wake_, O_NONBLOCK | O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
}

Server::~Server() {
  ::close(wake_[0]);
  ::close(wake_[1]);
}

void Server::bind() {
  for (auto& module : rack_.modules) {
    if (!sockets_.contains(module.get())) sockets_[module.get()] = std::make_unique<Socket>(module->address(), false);
    by_address_[module->address().host_value()] = sockets_.at(module.get()).get();
  }
  if (options_.hear_broadcasts && !wildcard_) wildcard_ = std::make_unique<Socket>(unspecified_address, true);
}

void Server::stop() {
  stopping_ = true;
  const char byte = 1;
  [[maybe_unused]] const ssize_t ignored = ::write(wake_[1], &byte, 1);
}

void Server::run() {
  bind();
  const Time now = Clock::now();
  for (auto& module : rack_.modules) module->power_on(now);
  while (!stopping_) serve_once();
}

void Server::send(Address from, Endpoint to, Bytes datagram, Time at) {
  if (at <= Clock::now() && pending_.empty()) {
    transmit(from, to, datagram);
    return;
  }
  pending_.push(Pending{at, sequence_++, from, to, std::move(datagram)});
}

void Server::transmit(Address from, const Endpoint& to, const Bytes& datagram) {
  if (options_.observe) options_.observe(Hop{from, wire::port, to.address, to.port}, datagram, false);
  if (const auto found = by_address_.find(from.host_value()); found != by_address_.end()) {
    found->second->send(to, datagram);
    return;
  }
  // A module that was just given a new address still sends from its old
  // socket until the move is carried out.
  for (auto& [module, socket] : sockets_) {
    if (module->address() == from) {
      socket->send(to, datagram);
      return;
    }
  }
}

void Server::serve_once() {
  Time now = Clock::now();
  while (!pending_.empty() && pending_.top().at <= now) {
    const Pending& next = pending_.top();
    transmit(next.from, next.to, next.datagram);
    pending_.pop();
  }
  std::optional<Time> wake;
  const auto earliest = [&](std::optional<Time> t) {
    if (t && (!wake || *t < *wake)) wake = t;
  };
  for (auto& module : rack_.modules) earliest(module->pump(now, *this));
  carry_out_moves();
  if (!pending_.empty()) earliest(pending_.top().at);

  std::vector<pollfd> ready;
  std::vector<Module*> owners;
  ready.push_back({wake_[0], POLLIN, 0});
  owners.push_back(nullptr);
  if (wildcard_) {
    ready.push_back({wildcard_->fd(), POLLIN, 0});
    owners.push_back(nullptr);
  }
  for (auto& [module, socket] : sockets_) {
    ready.push_back({socket->fd(), POLLIN, 0});
    owners.push_back(module);
  }
  int wait_ms = 1000;
  if (wake) {
    const auto until = std::chrono::ceil<std::chrono::milliseconds>(*wake - Clock::now()).count();
    wait_ms = static_cast<int>(std::clamp<std::int64_t>(until, 0, 1000));
  }
  if (::poll(ready.data(), ready.size(), wait_ms) <= 0) return;
  if (ready[0].revents != 0) {
    char drained[64];
    while (::read(wake_[0], drained, sizeof drained) > 0) {
    }
  }
  for (std::size_t i = 1; i < ready.size(); ++i) {
    if ((ready[i].revents & POLLIN) == 0) continue;
    Socket* socket = owners[i] != nullptr ? sockets_.at(owners[i]).get() : wildcard_.get();
    drain(*socket, owners[i]);
  }
}

void Server::drain(Socket& socket, Module* module) {
  Endpoint source;
  Address destination;
  Bytes data;
  for (int i = 0; i < 64 && socket.receive(source, destination, data); ++i) {
    if (options_.observe) options_.observe(Hop{source.address, source.port, destination, wire::port}, data, true);
    Request request;
    try {
      const wire::Message message = wire::decode(data);
      request.code = message.code;
      request.transaction_id = message.transaction_id;
      request.payload.assign(message.payload.begin(), message.payload.end());
    } catch (const wire::Malformed&) {
      continue;  // not a DCP datagram
    }
    request.from = source;
    dispatch(request, destination, module);
    // A configure takes effect before the next datagram is answered, as on
    // a real module: otherwise a search in the same batch would report the
    // new address before anything listens there. A move may replace the
    // socket being drained, so the rest waits for the next round.
    if (carry_out_moves()) return;
  }
}

bool Server::carry_out_moves() {
  bool moved = false;
  for (auto& module : rack_.modules) {
    if (auto to = module->take_moved_address()) {
      move(*module, *to);
      moved = true;
    }
  }
  return moved;
}

void Server::dispatch(const Request& request, Address destination, Module* module) {
  const Time now = Clock::now();
  if (module != nullptr) {
    module->receive(request, now, *this);
    return;
  }
  // The catch-all socket: a datagram for a module's address that arrived
  // here (the module is moving), or a broadcast for every module.
  for (auto& m : rack_.modules) {
    if (m->address() == destination) {
      m->receive(request, now, *this);
      return;
    }
  }
  // Anything else here went to a unicast address that is no module's (one
  // a module has left, say): no module answers it, as none would on a link.
  if (!is_broadcast(destination)) return;
  Request broadcast = request;
  broadcast.broadcast = true;
  for (auto& m : rack_.modules) m->receive(broadcast, now, *this);
}

bool Server::is_broadcast(Address destination) const {
  if (destination == broadcast_address) return true;
  for (const auto& m : rack_.modules) {
    const std::uint32_t mask = m->common().netmask.host_value();
    if (mask != 0xFFFFFFFFu && destination.host_value() == (m->address().host_value() | ~mask)) return true;
  }
  return false;
}

void Server::move(Module& module, Address to) {
  auto& socket = sockets_.at(&module);
  const Address from = [&] {
    // The socket still knows the old address.
    sockaddr_in local{};
    socklen_t length = sizeof local;
    ::getsockname(socket->fd(), reinterpret_cast<sockaddr*>(&local), &length);
    std::array<std::uint8_t, 4> bytes{};
    std::memcpy(bytes.data(), &local.sin_addr.s_addr, 4);
    return Address(bytes);
  }();
  for (auto& other : rack_.modules) {
    if (other.get() != &module && other->address() == to) {
      std::fprintf(stderr, "varnode-sim: %s is taken; serial %u stays at %s\n", format_address(to).c_str(),
                   module.serial(), format_address(from).c_str());
      module.set_address(from);
      return;
    }
  }
  if (options_.move_address && !options_.move_address(from, to)) {
    module.set_address(from);
    return;
  }
  try {
    socket = std::make_unique<Socket>(to, false);
    by_address_.erase(from.host_value());
    by_address_[to.host_value()] = socket.get();
    std::printf("moved: serial %u from %s to %s\n", module.serial(), format_address(from).c_str(),
                format_address(to).c_str());
    std::fflush(stdout);
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "varnode-sim: %s\n", failure.what());
    module.set_address(from);
  }
}

}  // namespace varnode::sim
