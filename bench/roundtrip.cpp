// Median round trip of `reset` against a local responder, next to a bare UDP
// request/response on the same responder: what the exchange adds to the wire.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "dcp/datagram.hpp"
#include "net/udp.hpp"
#include "varnode/varnode.h"

using namespace varnode;
using Clock = std::chrono::steady_clock;

namespace {

// Acknowledges every DCP request with code 1, echoing its transaction id.
void respond(UDP::Socket& socket, const std::atomic<bool>& stop) {
  Bytes data;
  while (!stop) {
    std::uint16_t port = 0;
    IP::Address source;
    try {
      source = socket.receive(10, port, data);
    } catch (const UDP::Exception&) {
      continue;
    }
    const Bytes reply = DCP::encode(1, DCP::get_u32(data.data() + 4), {});
    socket.send(source, port, reply.data(), reply.size());
  }
}

struct Figures {
  double median_us, p90_us, p99_us;
};

Figures summarise(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  const auto at = [&](double q) { return samples[static_cast<std::size_t>(q * (samples.size() - 1))]; };
  return {at(0.5), at(0.9), at(0.99)};
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 2000;
  const IP::Address module(0x7F3A0102);  // 127.58.1.2
  UDP::Socket responder(module, DCP::port);
  std::atomic<bool> stop{false};
  std::thread thread(respond, std::ref(responder), std::cref(stop));

  std::vector<double> library, bare;
  UDP::Socket client(IP::Address(0x7F000001), 0);
  Bytes reply;
  for (int i = 0; i < rounds; ++i) {
    // Interleaved, so both see the same machine load.
    auto start = Clock::now();
    if (reset(module.host_value()) != 0) {
      std::fprintf(stderr, "reset failed\n");
      return 1;
    }
    library.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());

    start = Clock::now();
    const Bytes request = DCP::encode(3, static_cast<std::uint32_t>(i), {});
    client.send(module, DCP::port, request.data(), request.size());
    std::uint16_t port = 0;
    client.receive(1000, port, reply);
    bare.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  stop = true;
  thread.join();

  const Figures l = summarise(library), b = summarise(bare);
  std::printf("%d round trips on loopback (microseconds)\n", rounds);
  std::printf("%-22s %10s %10s %10s\n", "", "median", "p90", "p99");
  std::printf("%-22s %10.1f %10.1f %10.1f\n", "reset (library)", l.median_us, l.p90_us, l.p99_us);
  std::printf("%-22s %10.1f %10.1f %10.1f\n", "bare UDP request", b.median_us, b.p90_us, b.p99_us);
  std::printf("median ratio library/bare: %.2f\n", l.median_us / b.median_us);
  return 0;
}
