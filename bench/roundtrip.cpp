// What the exchange adds to the wire: `reset` through the library next to a
// bare UDP request/response on the same responder, in the same run.
//
//   bench_roundtrip [round trips, 5000] [seconds per threaded run, 0.5] [pairs, 15]
//
// Single thread: round trips through the library and the bare client in turn
// (so both see the same load), reported as p50/p90/p99 and CPU per call.
// Threaded: aggregate calls per second of 16 threads against 16 and against
// 1,000 modules, in pairs of short runs, and the sockets the pool grew to.
//
// The program moves itself into a private network namespace, where every
// 127.0.0.0/8 address is local: the modules are 127.58.x.y, answered by
// responder threads sharing one socket that reply from the address each
// request was sent to. Needs root (or an unprivileged user namespace).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "netns/namespaces.hpp"
#include "peer.hpp"
#include "varnode/varnode.h"

// Heap allocations while `counting` is set, for the allocations-per-call
// figure: the program's malloc stands in for glibc's in every library loaded.
extern "C" void* __libc_malloc(std::size_t size);
namespace {
std::atomic<bool> counting{false};
std::atomic<long> allocations{0};
}  // namespace
extern "C" void* malloc(std::size_t size) {
  if (counting.load(std::memory_order_relaxed)) allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_malloc(size);
}

namespace {

using bench::dcp_port;
using bench::get_u32;
using bench::put_u32;
using bench::responder_socket;
using bench::socket_address;
constexpr std::uint32_t first_module = 0x7F3A0002;  // 127.58.0.2

using Clock = std::chrono::steady_clock;

double thread_cpu_us() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_nsec) * 1e-3;
}

// What a program without the library does at the least: its own socket, one
// request, then a wait until the deadline for the reply with its id from
// that address.
class BareClient {
 public:
  BareClient() : fd_(socket(AF_INET, SOCK_DGRAM, 0)) {
    const sockaddr_in any = socket_address(INADDR_ANY, 0);
    if (fd_ < 0 || bind(fd_, reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0) std::exit(1);
  }
  ~BareClient() { close(fd_); }

  bool reset(std::uint32_t module) {
    std::uint8_t request[8] = {0, 3, 0, 0};
    const std::uint32_t id = ++id_;
    put_u32(request + 4, id);
    const sockaddr_in to = socket_address(module, dcp_port);
    if (sendto(fd_, request, sizeof request, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 8) return false;
    const auto deadline = Clock::now() + std::chrono::seconds(1);
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      pollfd wait{fd_, POLLIN, 0};
      if (left < 0 || poll(&wait, 1, static_cast<int>(left) + 1) != 1) return false;
      std::uint8_t reply[1500];
      sockaddr_in from{};
      socklen_t size = sizeof from;
      const ssize_t n = recvfrom(fd_, reply, sizeof reply, 0, reinterpret_cast<sockaddr*>(&from), &size);
      if (n >= 8 && get_u32(reply + 4) == id && from.sin_addr.s_addr == to.sin_addr.s_addr) return reply[1] == 1;
    }
  }

 private:
  int fd_;
  std::uint32_t id_ = 0;
};

std::string load_average() {
  char text[128] = "unknown\n";
  if (std::FILE* file = std::fopen("/proc/loadavg", "r")) {
    if (std::fgets(text, sizeof text, file) == nullptr) std::strcpy(text, "unknown\n");
    std::fclose(file);
  }
  return text;
}

struct Percentiles {
  double p50, p90, p99;
};

Percentiles percentiles(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  const auto at = [&](double q) { return samples[static_cast<std::size_t>(q * static_cast<double>(samples.size() - 1))]; };
  return {at(0.5), at(0.9), at(0.99)};
}

struct Single {
  Percentiles library, bare;
  double library_cpu_us, bare_cpu_us;
};

Single single_thread(int rounds) {
  std::vector<double> library, bare;
  double library_cpu = 0, bare_cpu = 0;
  BareClient client;
  const auto timed = [](std::vector<double>& times, double& cpu_total, auto&& call) {
    const double cpu = thread_cpu_us();
    const auto start = Clock::now();
    if (!call()) {
      std::fprintf(stderr, "a request failed\n");
      std::exit(1);
    }
    times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    cpu_total += thread_cpu_us() - cpu;
  };
  for (int i = 0; i < rounds; ++i) {
    // Who goes first alternates, so that neither always follows the other.
    for (const bool through_library : {i % 2 == 0, i % 2 != 0}) {
      if (through_library)
        timed(library, library_cpu, [] { return reset(first_module) == 0; });
      else
        timed(bare, bare_cpu, [&] { return client.reset(first_module); });
    }
  }
  return {percentiles(library), percentiles(bare), library_cpu / rounds, bare_cpu / rounds};
}

// Calls per second of `threads` threads, each cycling through `modules`
// addresses (thread t starts at module t) for `seconds`.
double throughput(bool through_library, int threads, int modules, double seconds) {
  std::atomic<bool> go{false}, stop{false};
  std::atomic<long> calls{0};
  std::atomic<int> failures{0};
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([&, t] {
      BareClient client;
      long mine = 0;
      int m = t % modules;
      while (!go) std::this_thread::yield();
      while (!stop) {
        const std::uint32_t module = first_module + static_cast<std::uint32_t>(m);
        const bool ok = through_library ? reset(module) == 0 : client.reset(module);
        if (!ok) ++failures;
        ++mine;
        if (++m == modules) m = 0;
      }
      calls += mine;
    });
  }
  const auto start = Clock::now();
  go = true;
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  stop = true;
  for (std::thread& w : workers) w.join();
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  if (failures != 0) std::fprintf(stderr, "%d calls failed\n", failures.load());
  return static_cast<double>(calls) / elapsed;
}

// Sockets the process holds: the library's pool is the only thing that
// adds any once the responder and the bare clients are gone.
int open_sockets() {
  int count = 0;
  for (int fd = 0; fd < 4096; ++fd) {
    sockaddr_storage address{};
    socklen_t size = sizeof address;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0) ++count;
  }
  return count;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0.0 : v[v.size() / 2];
}

// Library and bare client in alternating short runs, the order swapped
// every pair. One run's calls/s swings by 15 % either way on a shared
// machine, so a handful of runs cannot resolve a 10 % gap; the ratio reported
// is the median of the pairs' ratios, each pair having seen the same load.
struct Paired {
  double bare, library, ratio, low, high;  // low, high: quartiles of the ratios
};

Paired paired(int threads, int modules, int pairs, double seconds) {
  std::vector<double> bare, library, ratios;
  for (int p = 0; p < pairs; ++p) {
    const bool library_first = p % 2 == 0;
    double b = 0, l = 0;
    for (const bool through_library : {library_first, !library_first})
      (through_library ? l : b) = throughput(through_library, threads, modules, seconds);
    bare.push_back(b);
    library.push_back(l);
    ratios.push_back(l / b);
  }
  std::sort(ratios.begin(), ratios.end());
  const auto quartile = [&](std::size_t q) { return ratios[q * (ratios.size() - 1) / 4]; };
  return {median(bare), median(library), median(ratios), quartile(1), quartile(3)};
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 5000;
  const double seconds = argc > 2 ? std::atof(argv[2]) : 0.5;
  const int pairs = argc > 3 ? std::atoi(argv[3]) : 15;
  if (rounds < 1 || seconds <= 0 || pairs < 1) {
    std::fprintf(stderr, "usage: bench_roundtrip [round trips] [seconds per threaded run] [pairs of runs]\n");
    return 2;
  }
  std::string why;
  if (!varnode::netns::enter_fresh(why)) {
    std::printf("skipped: cannot make a private network namespace (%s)\n", why.c_str());
    return 0;
  }
  std::atomic<bool> stop{false};
  std::vector<std::thread> responders;
  const int responder = responder_socket();
  for (int i = 0; i < 2; ++i) responders.emplace_back(bench::acknowledge, responder, std::cref(stop));
  const int sockets_before = open_sockets();

  // Warm up both paths (pool, registry, caches) before anything is counted.
  single_thread(200);
  const Single s = single_thread(rounds);
  counting = true;
  for (int i = 0; i < 1000; ++i) reset(first_module);
  counting = false;
  const double allocations_per_call = static_cast<double>(allocations) / 1000;
  // Register the 1,000 addresses first, as a long-running poller would have.
  for (std::uint32_t m = 0; m < 1000; ++m) reset(first_module + m);
  const Paired few = paired(16, 16, pairs, seconds);
  const Paired many = paired(16, 1000, pairs, seconds);
  const int pool = open_sockets() - sockets_before;
  stop = true;
  for (std::thread& r : responders) r.join();
  close(responder);

  std::printf("reset round trips: %d single-thread, library and bare in turn; threaded: %d pairs of\n"
              "%.1f s runs, median calls/s and median of the pairs' ratios [quartiles]; 2 responder threads;\n"
              "load average %s",
              rounds, pairs, seconds, load_average().c_str());
  std::printf("%-36s %10s %10s %6s\n", "", "bare UDP", "library", "ratio");
  const auto row = [](const char* name, double bare, double library) {
    std::printf("%-36s %10.1f %10.1f %6.2f\n", name, bare, library, library / bare);
  };
  row("round trip p50 (us)", s.bare.p50, s.library.p50);
  row("round trip p90 (us)", s.bare.p90, s.library.p90);
  row("round trip p99 (us)", s.bare.p99, s.library.p99);
  row("CPU per call (us)", s.bare_cpu_us, s.library_cpu_us);
  const auto threaded = [](const char* name, const Paired& p) {
    std::printf("%-36s %10.0f %10.0f %6.2f [%.2f-%.2f]\n", name, p.bare, p.library, p.ratio, p.low, p.high);
  };
  threaded("16 threads x 16 modules (calls/s)", few);
  threaded("16 threads x 1000 modules (calls/s)", many);
  std::printf("library pool sockets after the threaded runs: %d (peak concurrent calls: 16)\n", pool);
  std::printf("heap allocations per library reset: %.2f\n", allocations_per_call);
  return 0;
}
