#include "rig.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <future>

namespace varnode::sim::test {

Rig::Rig(const nlohmann::json& description, Server::Options options) {
  start(nullptr, description, Placement::loopback, std::move(options));
}

Rig::Rig(const varnode::test::Peer& peer, const nlohmann::json& description, Server::Options options) {
  start(&peer, description, Placement::namespaced, std::move(options));
}

void Rig::start(const varnode::test::Peer* peer, const nlohmann::json& description, Placement placement,
                Server::Options options) {
  auto observe = std::move(options.observe);
  options.observe = [this, observe](const Hop& hop, std::span<const std::uint8_t> datagram, bool incoming) {
    if (observe) observe(hop, datagram, incoming);
    if (!incoming || datagram.size() < 2) return;
    {
      const std::lock_guard lock(mutex_);
      ++received_[wire::get_u16(datagram.data())];
    }
    arrived_.notify_all();
  };
  server_ = std::make_unique<Server>(parse_rack(description, placement), std::move(options));
  // The library keeps time-outs per address for the life of the process:
  // each rack starts from the default whatever an earlier test set.
  for (const auto& module : server_->rack().modules) set_timeout(module->address().host_value(), 1000);
  std::promise<bool> bound;
  std::future<bool> ready = bound.get_future();
  const std::string netns = peer != nullptr ? "/run/netns/" + peer->name() : std::string();
  thread_ = std::thread([this, netns, &bound] {
    if (!netns.empty()) {
      const int fd = ::open(netns.c_str(), O_RDONLY | O_CLOEXEC);
      const bool entered = fd >= 0 && ::setns(fd, CLONE_NEWNET) == 0;
      if (fd >= 0) ::close(fd);
      if (!entered) {
        bound.set_value(false);
        return;
      }
    }
    try {
      server_->bind();
    } catch (const std::exception&) {
      bound.set_value(false);
      return;
    }
    bound.set_value(true);
    server_->run();
  });
  if (!ready.get()) {
    thread_.join();
    throw std::runtime_error("the rack could not bind its sockets");
  }
}

Rig::~Rig() {
  server_->stop();
  thread_.join();
}

void Rig::await_requests(std::uint16_t code, unsigned count) {
  std::unique_lock lock(mutex_);
  arrived_.wait(lock, [&] { return received_[code] >= count; });
}

std::uint64_t milliseconds() {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now().time_since_epoch())
                                        .count());
}

namespace {

sockaddr_in socket_address(std::uint32_t host, std::uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(host);
  return a;
}

}  // namespace

WireClient::WireClient(std::uint32_t local, bool broadcast) : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
  if (fd_ < 0) throw std::runtime_error("no socket");
  const int on = 1;
  if (broadcast) ::setsockopt(fd_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
  const sockaddr_in a = socket_address(local, 0);
  if (::bind(fd_, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
    ::close(fd_);
    throw std::runtime_error("cannot bind the test's socket");
  }
}

WireClient::~WireClient() { ::close(fd_); }

std::uint32_t WireClient::send(std::uint32_t to, std::uint16_t code, const Bytes& payload) {
  const std::uint32_t id = next_id_++;
  const Bytes datagram = wire::encode(code, id, payload);
  const sockaddr_in a = socket_address(to, wire::port);
  const ssize_t sent =
      ::sendto(fd_, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&a), sizeof a);
  EXPECT_EQ(sent, static_cast<ssize_t>(datagram.size())) << "sending " << code;
  return id;
}

std::optional<Answer> WireClient::receive(int wait_ms) {
  pollfd p{fd_, POLLIN, 0};
  if (::poll(&p, 1, wait_ms) <= 0) return std::nullopt;
  Bytes buffer(65536);
  sockaddr_in from{};
  socklen_t length = sizeof from;
  const ssize_t n =
      ::recvfrom(fd_, buffer.data(), buffer.size(), MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &length);
  if (n < 0) return std::nullopt;
  buffer.resize(static_cast<std::size_t>(n));
  Answer answer;
  answer.source = ntohl(from.sin_addr.s_addr);
  answer.at_ms = milliseconds();
  try {
    const wire::Message m = wire::decode(buffer);
    answer.code = m.code;
    answer.id = m.transaction_id;
    answer.payload.assign(m.payload.begin(), m.payload.end());
  } catch (const wire::Malformed&) {
    ADD_FAILURE() << "a datagram of " << n << " bytes that does not decode";
  }
  return answer;
}

std::vector<Answer> WireClient::listen(unsigned window_ms) {
  std::vector<Answer> answers;
  const std::uint64_t end = milliseconds() + window_ms;
  for (std::uint64_t now = milliseconds(); now < end; now = milliseconds()) {
    if (auto a = receive(static_cast<int>(end - now))) answers.push_back(std::move(*a));
  }
  return answers;
}

std::optional<Answer> WireClient::await(std::uint32_t id, unsigned limit_ms) {
  const std::uint64_t end = milliseconds() + limit_ms;
  for (std::uint64_t now = milliseconds(); now < end; now = milliseconds()) {
    auto a = receive(static_cast<int>(end - now));
    if (a && a->id == id) return a;
  }
  return std::nullopt;
}

Answer WireClient::ask(std::uint32_t to, std::uint16_t code, const Bytes& payload) {
  const auto answer = await(send(to, code, payload));
  EXPECT_TRUE(answer.has_value()) << "no answer to " << code;
  return answer.value_or(Answer{});
}

std::vector<Answer> WireClient::stream(std::uint32_t id, std::size_t bytes, unsigned gap_ms) {
  std::vector<Answer> chunks;
  std::size_t received = 0;
  while (received < bytes) {
    const auto answer = await(id, gap_ms);
    if (!answer) break;
    chunks.push_back(*answer);
    if ((answer->code & 0xFF) != 0x01 || answer->payload.size() < 4) break;
    received += answer->payload.size() - 4;
  }
  return chunks;
}

std::map<std::uint8_t, Bytes> elements(const Bytes& payload) {
  std::map<std::uint8_t, Bytes> found;
  wire::View rest(payload);
  while (!rest.empty()) {
    const wire::Element e = wire::take_element(rest);
    found[e.tag] = Bytes(e.value.begin(), e.value.end());
  }
  return found;
}

float f32(const Bytes& bytes, std::size_t at) { return wire::get_f32(bytes.data() + at); }

Bytes measure_request(std::uint8_t mask, std::uint32_t samples, float frequency) {
  Bytes p{mask};
  wire::put_u32(p, samples);
  wire::put_f32(p, frequency);
  return p;
}

}  // namespace varnode::sim::test
