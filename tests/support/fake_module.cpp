#include "support/fake_module.hpp"

#include <atomic>
#include <chrono>

#include "dcp/exchange.hpp"

#if defined(_WIN32)
#include <process.h>
#define varnode_getpid _getpid
#else
#include <unistd.h>
#define varnode_getpid getpid
#endif

namespace varnode::test {

std::optional<IP::Address> receive_datagram(UDP::Socket& socket, std::uint32_t wait, std::uint16_t& port,
                                            Bytes& data) {
  data.resize(UDP::largest_datagram);
  const std::optional<UDP::Datagram> datagram = socket.receive(wait, data.data(), data.size());
  data.resize(datagram ? datagram->size : 0);
  if (!datagram) return std::nullopt;
  port = datagram->port;
  return datagram->source;
}

Reply answer_with_id(std::uint32_t transaction_id, std::uint16_t code, Bytes payload) {
  return Reply{DCP::encode(code, transaction_id, payload)};
}

Reply answer(const Request& request, std::uint16_t code, Bytes payload) {
  return answer_with_id(request.transaction_id, code, std::move(payload));
}

Reply raw(Bytes datagram) { return Reply{std::move(datagram)}; }

IP::Address unique_loopback() {
  static std::atomic<std::uint32_t> next{0};
  const auto pid = static_cast<std::uint32_t>(varnode_getpid());
  for (;;) {
    const std::uint32_t n = next++;
    // 127.P.Q.R with P from the process id and Q.R counting; never .0 or .255.
    const std::uint32_t second = pid % 250 + 2;
    const std::uint32_t third = (n / 250) % 250 + 1;
    const std::uint32_t fourth = n % 250 + 2;
    const IP::Address candidate((127u << 24) | (second << 16) | (third << 8) | fourth);
    // Another test process may have drawn the same address; its module
    // port would then be taken.
    try {
      UDP::Socket probe(candidate, DCP::port);
      return candidate;
    } catch (const UDP::Exception&) {
    }
  }
}

FakeModule::FakeModule(Script script, IP::Address address) : FakeModule(std::move(script), address, address) {}

FakeModule::FakeModule(Script script, IP::Address address, IP::Address bind)
    : address_(address), socket_(bind, DCP::port), script_(std::move(script)), thread_([this] { run(); }) {}

FakeModule::~FakeModule() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  thread_.join();
}

void FakeModule::script(Script script) {
  std::lock_guard lock(mutex_);
  script_ = std::move(script);
}

namespace {
// Datagrams on one socket are read in the order they were queued, so once a
// marker sent now has been read, so has everything before it.
constexpr std::uint16_t marker_code = 0xFFFF;
constexpr std::uint32_t marker_id = 0x5E771E00;
}  // namespace

void FakeModule::settle() const {
  std::uint32_t wanted;
  {
    std::lock_guard lock(mutex_);
    wanted = ++markers_sent_;
  }
  const Bytes marker = DCP::encode(marker_code, marker_id, {});
  UDP::Socket probe(IP::unspecified_address, 0);
  probe.send(address_, DCP::port, marker.data(), marker.size());
  std::unique_lock lock(mutex_);
  arrived_.wait_for(lock, std::chrono::seconds(10), [&] { return markers_seen_ >= wanted; });
}

std::vector<Request> FakeModule::requests() const {
  settle();
  std::lock_guard lock(mutex_);
  return requests_;
}

bool FakeModule::wait_for_requests(std::size_t count, unsigned limit_ms) const {
  std::unique_lock lock(mutex_);
  return arrived_.wait_for(lock, std::chrono::milliseconds(limit_ms), [&] { return requests_.size() >= count; });
}

void FakeModule::send(const Reply& reply, const Request& request) {
  if (reply.delay_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(reply.delay_ms));
  switch (reply.from) {
    case Reply::From::module:
      socket_.send(request.source, request.source_port, reply.datagram.data(), reply.datagram.size());
      break;
    case Reply::From::other_port: {
      UDP::Socket other(address_, 0);
      other.send(request.source, request.source_port, reply.datagram.data(), reply.datagram.size());
      break;
    }
    case Reply::From::other_address: {
      UDP::Socket other(IP::Address(address_.host_value() ^ 0x00008000u), DCP::port);
      other.send(request.source, request.source_port, reply.datagram.data(), reply.datagram.size());
      break;
    }
  }
}

void FakeModule::run() {
  Bytes buffer;
  for (;;) {
    {
      std::lock_guard lock(mutex_);
      if (stop_) return;
    }
    Request request;
    try {
      const auto source = receive_datagram(socket_, 5, request.source_port, buffer);
      if (!source) continue;
      request.source = *source;
    } catch (const UDP::Exception&) {
      continue;
    }
    request.raw = buffer;
    if (buffer == DCP::encode(marker_code, marker_id, {})) {
      {
        std::lock_guard lock(mutex_);
        ++markers_seen_;
      }
      arrived_.notify_all();
      continue;
    }
    try {
      const DCP::Message message = DCP::decode(buffer);
      request.code = message.code;
      request.transaction_id = message.transaction_id;
      request.payload.assign(message.payload.begin(), message.payload.end());
      request.well_formed = true;
    } catch (const DCP::Exception&) {
    }
    Script script;
    {
      std::lock_guard lock(mutex_);
      script = script_;
    }
    std::vector<Reply> replies;
    if (script) replies = script(request);
    for (const Reply& reply : replies) {
      try {
        send(reply, request);
      } catch (const UDP::Exception&) {
      }
    }
    // Recorded after answering, so a test that saw the request can rely on
    // the replies being on their way.
    {
      std::lock_guard lock(mutex_);
      requests_.push_back(std::move(request));
    }
    arrived_.notify_all();
  }
}

}  // namespace varnode::test
