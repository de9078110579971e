// Streamed measurements from a paced local sender (about 10 MB/s in
// 1,400-byte chunks), taken through ra01_measure and through a bare receive
// loop on a socket with the same 64 KiB receive buffer; the largest case in
// several pairs of runs. Each run is a process of its own, so that its CPU
// time and peak memory are its own. Then short measurements (8 channels x
// 2,000 samples, 64 KB) sent back to back without pacing, the library's and
// the bare loop's calls taking turns in one process: wall and CPU time per
// call, p50/p90/p99, and the ratios of the medians.
//
//   measure_stream [pairs of runs of the largest case, 5] [short calls each, 2000]
//   measure_stream short [short calls each]   (the short case alone)
//
// The program moves itself into a private network namespace and reaches the
// sender in a peer namespace over a veth pair (198.18.0.0/24): the library
// refuses loopback addresses for measurements. Needs root and iproute2.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "netns/namespaces.hpp"
#include "peer.hpp"
#include "varnode/varnode.h"

namespace {

constexpr std::uint32_t module_host = 0xC6120002;  // 198.18.0.2
using bench::bound_socket;
using bench::dcp_port;
using bench::get_u32;
using bench::put_u16;
using bench::put_u32;
using bench::socket_address;
constexpr std::size_t piece = 1400;
constexpr double bytes_per_second = 10e6;
constexpr int receive_buffer = 65536;
// At most this much sending time is made up in a burst (four chunks).
constexpr double largest_lag = 4 * piece / bytes_per_second;

struct Case {
  std::uint8_t channels;
  std::uint32_t samples;
};

enum class Receiver { library, bare };

double seconds(const timespec& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9; }

double now() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return seconds(t);
}

// Both ends run ahead of ordinary work: the receive buffer holds a few
// milliseconds of data, and a busy machine would otherwise lose datagrams
// that neither the library nor the bare loop could have kept. Both mostly
// sleep, and the stream lasts seconds.
void raise_priority(const char* name) {
  prctl(PR_SET_NAME, name);
  sched_param realtime{};
  realtime.sched_priority = 10;
  if (sched_setscheduler(0, SCHED_FIFO, &realtime) != 0) setpriority(PRIO_PROCESS, 0, -10);
}

using varnode::netns::run;

// The value the sender puts at float index i of the buffer: exact in a float
// up to 2^24, far beyond the 8,000,000 floats of the largest measurement.
float expected(std::size_t i) { return static_cast<float>(i); }

// Answers one measurement request with the whole buffer, chunk after chunk,
// each sent no earlier than its place in a 10 MB/s schedule.
int send_stream(const std::string& peer, int ready) {
  try {
    varnode::netns::enter(peer);
  } catch (const std::exception&) {
    return 1;
  }
  prctl(PR_SET_TIMERSLACK, 1000UL);
  const int fd = bound_socket(module_host, dcp_port);
  if (fd < 0) return 1;
  raise_priority("sender");
  if (write(ready, "r", 1) != 1) return 1;
  close(ready);

  pollfd wait{fd, POLLIN, 0};
  if (poll(&wait, 1, 10000) != 1) return 1;
  std::uint8_t request[1500];
  sockaddr_in from{};
  socklen_t from_size = sizeof from;
  if (recvfrom(fd, request, sizeof request, 0, reinterpret_cast<sockaddr*>(&from), &from_size) < 17) return 1;
  const std::size_t total = bench::requested_bytes(request);

  std::uint8_t datagram[8 + 4 + piece];
  double start = now();
  for (std::size_t offset = 0, k = 0; offset < total; offset += piece, ++k) {
    const std::size_t n = std::min(piece, total - offset);
    const std::size_t length = bench::stream_chunk(datagram, request, offset, n, expected);
    // A sender held up by the scheduler resumes its schedule from now rather
    // than catching up in one burst, which would only overrun the receiver.
    const double late = now() - (start + static_cast<double>(k * piece) / bytes_per_second);
    if (late > largest_lag) start += late;
    const double due = start + static_cast<double>(k * piece) / bytes_per_second;
    if (now() < due) {
      timespec at{static_cast<time_t>(due), static_cast<long>((due - static_cast<double>(static_cast<time_t>(due))) * 1e9)};
      clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr);
    }
    if (sendto(fd, datagram, length, 0, reinterpret_cast<const sockaddr*>(&from), from_size) < 0) return 1;
  }
  return 0;
}

// Answers `count` measurement requests, each at once with its whole buffer
// in chunks sent back to back; stops early after 5 s without a request.
int serve_short(const std::string& peer, int ready, int count) {
  try {
    varnode::netns::enter(peer);
  } catch (const std::exception&) {
    return 1;
  }
  const int fd = bound_socket(module_host, dcp_port);
  if (fd < 0) return 1;
  raise_priority("sender");
  if (write(ready, "r", 1) != 1) return 1;
  close(ready);
  std::uint8_t request[1500];
  std::uint8_t datagram[8 + 4 + piece];
  for (int served = 0; served < count; ++served) {
    pollfd wait{fd, POLLIN, 0};
    if (poll(&wait, 1, 5000) != 1) return 1;
    sockaddr_in from{};
    socklen_t from_size = sizeof from;
    if (recvfrom(fd, request, sizeof request, 0, reinterpret_cast<sockaddr*>(&from), &from_size) < 17) continue;
    const std::size_t total = bench::requested_bytes(request);
    for (std::size_t offset = 0; offset < total; offset += piece) {
      const std::size_t length = bench::stream_chunk(datagram, request, offset, std::min(piece, total - offset), expected);
      if (sendto(fd, datagram, length, 0, reinterpret_cast<const sockaddr*>(&from), from_size) < 0) return 1;
    }
  }
  return 0;
}

bool through_library(const Case& c, std::vector<float>& values) {
  std::vector<std::uint8_t> channels;
  for (std::uint8_t i = 1; i <= c.channels; ++i) channels.push_back(i);
  std::uint32_t size = static_cast<std::uint32_t>(values.size());
  return ra01_measure(module_host, channels.data(), c.channels, c.samples, 1000.0f, values.data(), &size) == 0;
}

// What a program without the library would do at the least: one request,
// chunks copied by offset until the byte count is reached, then the decode
// into the same layout. The socket is the caller's: fresh for the long case,
// kept across calls for the short one.
bool bare_measure(int fd, std::uint32_t id, int wait_ms, const Case& c, std::vector<float>& values) {
  std::uint8_t request[17];
  put_u16(request, 0x0400);
  put_u16(request + 2, 9);
  put_u32(request + 4, id);
  request[8] = static_cast<std::uint8_t>((1u << c.channels) - 1);
  put_u32(request + 9, c.samples);
  put_u32(request + 13, std::bit_cast<std::uint32_t>(1000.0f));
  const std::size_t size = std::size_t{c.channels} * c.samples * 4;
  std::vector<std::uint8_t> buffer(size);
  const sockaddr_in module = socket_address(module_host, dcp_port);
  if (sendto(fd, request, sizeof request, 0, reinterpret_cast<const sockaddr*>(&module), sizeof module) < 0)
    return false;
  std::size_t remaining = size;
  std::uint8_t datagram[1500];
  while (remaining > 0) {
    pollfd wait{fd, POLLIN, 0};
    if (poll(&wait, 1, wait_ms) != 1) return false;
    const ssize_t n = recv(fd, datagram, sizeof datagram, 0);
    if (n < 12 || datagram[1] != 0x01 || get_u32(datagram + 4) != id) continue;
    const std::size_t offset = get_u32(datagram + 8);
    const std::size_t length = static_cast<std::size_t>(n) - 12;
    if (offset + length > size || length > remaining) return false;
    std::memcpy(buffer.data() + offset, datagram + 12, length);
    remaining -= length;
  }
  for (std::size_t i = 0; i < values.size(); ++i) values[i] = std::bit_cast<float>(get_u32(buffer.data() + 4 * i));
  return true;
}

bool through_bare_loop(const Case& c, std::vector<float>& values) {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) return false;
  const sockaddr_in any = socket_address(INADDR_ANY, 0);
  const bool done = bind(fd, reinterpret_cast<const sockaddr*>(&any), sizeof any) == 0 &&
                    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer) == 0 &&
                    bare_measure(fd, 1, 1000, c, values);
  close(fd);
  return done;
}

int receive(Receiver receiver, const Case& c) {
  raise_priority(receiver == Receiver::library ? "library" : "bare");
  const double start = now();
  std::vector<float> values(std::size_t{c.channels} * c.samples);
  const bool completed = receiver == Receiver::library ? through_library(c, values) : through_bare_loop(c, values);
  const double wall = now() - start;
  std::size_t wrong = 0;
  for (std::size_t i = 0; i < values.size(); ++i) wrong += values[i] != expected(i);
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
  std::printf("%-8s %u x %-8u %9.1f MB  wall %6.3f s  cpu %6.3f s  peak %6.1f MB  completed %-3s values %s\n",
              receiver == Receiver::library ? "library" : "bare", c.channels, c.samples,
              static_cast<double>(values.size()) * 4 / 1e6, wall, cpu,
              static_cast<double>(usage.ru_maxrss) / 1024.0, completed ? "yes" : "no",
              completed && wrong == 0 ? "ok" : "WRONG");
  std::fflush(stdout);
  return completed && wrong == 0 ? 0 : 1;
}

double cpu_now() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return seconds(t);
}

// The bare side of the short case: one socket kept for every call, as the
// library keeps its pooled one, and a fresh transaction id each time.
class BareShort {
 public:
  BareShort() : fd_(socket(AF_INET, SOCK_DGRAM, 0)) {
    const sockaddr_in any = socket_address(INADDR_ANY, 0);
    ok_ = fd_ >= 0 && bind(fd_, reinterpret_cast<const sockaddr*>(&any), sizeof any) == 0 &&
          setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer) == 0;
  }
  ~BareShort() { close(fd_); }

  bool measure(const Case& c, std::vector<float>& values) { return ok_ && bare_measure(fd_, ++id_, 200, c, values); }

 private:
  int fd_;
  bool ok_ = false;
  std::uint32_t id_ = 0;
};

struct Percentiles {
  double p50, p90, p99;
};

Percentiles percentiles(std::vector<double> v) {
  if (v.empty()) return {0, 0, 0};
  std::sort(v.begin(), v.end());
  const auto at = [&](double q) {
    return v[std::min(v.size() - 1, static_cast<std::size_t>(q * static_cast<double>(v.size())))];
  };
  return {at(0.5), at(0.9), at(0.99)};
}

// The short case's calls, library and bare taking turns; the results are
// printed here, the exit status says whether every call completed whole.
int receive_short(int count) {
  raise_priority("short");
  const Case c{8, 2'000};
  std::vector<float> values(std::size_t{c.channels} * c.samples);
  std::vector<std::uint8_t> channels{1, 2, 3, 4, 5, 6, 7, 8};
  set_timeout(module_host, 200);
  BareShort bare;
  std::vector<double> wall[2], cpu[2];
  int failed[2] = {0, 0};
  for (int i = 0; i < 2 * count; ++i) {
    const int side = i % 2;  // 0 library, 1 bare
    std::fill(values.begin(), values.end(), -1.0f);
    const double wall_start = now();
    const double cpu_start = cpu_now();
    bool ok;
    if (side == 0) {
      std::uint32_t size = static_cast<std::uint32_t>(values.size());
      ok = ra01_measure(module_host, channels.data(), c.channels, c.samples, 1000.0f, values.data(), &size) == 0;
    } else {
      ok = bare.measure(c, values);
    }
    const double cpu_used = cpu_now() - cpu_start;
    const double wall_used = now() - wall_start;
    for (std::size_t k = 0; ok && k < values.size(); ++k) ok = values[k] == expected(k);
    if (!ok) {
      ++failed[side];
      continue;
    }
    wall[side].push_back(wall_used * 1e3);
    cpu[side].push_back(cpu_used * 1e3);
  }
  const char* names[2] = {"library", "bare"};
  Percentiles w[2], u[2];
  for (int side = 0; side < 2; ++side) {
    w[side] = percentiles(wall[side]);
    u[side] = percentiles(cpu[side]);
    std::printf("%-8s 8 x 2000 back to back, %zu calls (%d failed): wall ms p50 %.3f p90 %.3f p99 %.3f  "
                "cpu ms p50 %.3f p90 %.3f p99 %.3f\n",
                names[side], wall[side].size(), failed[side], w[side].p50, w[side].p90, w[side].p99, u[side].p50,
                u[side].p90, u[side].p99);
  }
  if (w[1].p50 > 0 && u[1].p50 > 0)
    std::printf("8 x 2000 back to back: library/bare median wall %.2f, median cpu %.2f\n", w[0].p50 / w[1].p50,
                u[0].p50 / u[1].p50);
  std::fflush(stdout);
  return failed[0] == 0 && failed[1] == 0 ? 0 : 1;
}

// A sender and a receiver in processes of their own: the sender writes a
// byte to `ready` once it listens, and only then does the receiver start.
struct Pair {
  bool listening = false;
  int sent = 1;
  int received = 1;
  rusage usage{};  // the receiver's
};

template <class Send, class Receive>
Pair run_pair(Send send, Receive receive) {
  Pair pair;
  std::fflush(stdout);
  int ready[2];
  if (pipe(ready) != 0) return pair;
  const pid_t sender = fork();
  if (sender == 0) {
    close(ready[0]);
    _exit(send(ready[1]));
  }
  close(ready[1]);
  char byte = 0;
  pair.listening = sender > 0 && read(ready[0], &byte, 1) == 1;
  close(ready[0]);
  if (pair.listening) {
    const pid_t receiving = fork();
    if (receiving == 0) _exit(receive());
    if (receiving > 0) wait4(receiving, &pair.received, 0, &pair.usage);
  }
  if (sender > 0) waitpid(sender, &pair.sent, 0);
  return pair;
}

bool measure_short(const std::string& peer, int count) {
  // A sender still waiting for calls that failed gives up by itself.
  const Pair pair = run_pair([&](int ready) { return serve_short(peer, ready, 2 * count); },
                             [&] { return receive_short(count); });
  return pair.listening && pair.received == 0;
}

// Datagrams this namespace dropped for want of receive buffer space.
long receive_buffer_drops() {
  std::FILE* file = std::fopen("/proc/self/net/snmp", "r");
  if (file == nullptr) return -1;
  char names[512];
  char numbers[512];
  long drops = -1;
  while (std::fgets(names, sizeof names, file) != nullptr && std::fgets(numbers, sizeof numbers, file) != nullptr) {
    if (std::strncmp(names, "Udp:", 4) != 0) continue;
    // Count the fields up to RcvbufErrors and read the same field of the numbers.
    const char* at = std::strstr(names, " RcvbufErrors");
    if (at == nullptr) break;
    int field = 0;
    for (const char* p = names; p < at; ++p) field += *p == ' ';
    const char* value = numbers;
    for (int i = 0; i <= field && value != nullptr; ++i) value = std::strchr(value + 1, ' ');
    if (value != nullptr) drops = std::strtol(value, nullptr, 10);
    break;
  }
  std::fclose(file);
  return drops;
}

// One measurement in processes of its own; the receiver's CPU seconds, or a
// negative number when it failed.
double measure(const std::string& peer, Receiver receiver, const Case& c) {
  const long drops_before = receive_buffer_drops();
  const Pair pair = run_pair([&](int ready) { return send_stream(peer, ready); }, [&] { return receive(receiver, c); });
  std::printf("         datagrams dropped by the receive buffer: %ld\n", receive_buffer_drops() - drops_before);
  if (!pair.listening || pair.sent != 0 || pair.received != 0) return -1;
  return static_cast<double>(pair.usage.ru_utime.tv_sec + pair.usage.ru_stime.tv_sec) +
         static_cast<double>(pair.usage.ru_utime.tv_usec + pair.usage.ru_stime.tv_usec) * 1e-6;
}

}  // namespace

int main(int argc, char** argv) {
  // The largest case runs in this many pairs: one run's CPU time moves by
  // 10 % either way on a shared machine.
  const bool short_only = argc > 1 && std::strcmp(argv[1], "short") == 0;
  const int pairs = short_only ? 0 : argc > 1 ? std::atoi(argv[1]) : 5;
  const int short_calls = argc > 2 ? std::atoi(argv[2]) : 2000;
  if ((!short_only && pairs < 1) || short_calls < 1) {
    std::fprintf(stderr, "usage: measure_stream [pairs of runs of the largest case] [short calls each]\n"
                         "       measure_stream short [short calls each]\n");
    return 2;
  }
  std::string why;
  if (geteuid() != 0 || !varnode::netns::enter_fresh(why)) {
    std::printf("skipped: cannot make a private network namespace (needs root and iproute2)\n");
    return 0;
  }
  const std::string id = std::to_string(getpid());
  const std::string peer = "varnode-bench-" + id;
  const std::string near = "vb" + id + "a";
  const std::string far = "vb" + id + "b";
  // Removed however the benchmark ends, Ctrl-C included.
  std::optional<varnode::netns::Namespaces> namespaces;
  try {
    namespaces.emplace(std::vector{peer});
  } catch (const std::exception& e) {
    std::printf("skipped: %s\n", e.what());
    return 0;
  }
  const bool linked = run("ip link add " + near + " type veth peer name " + far + " netns " + peer) &&
                      run("ip addr add 198.18.0.1/24 dev " + near) && run("ip link set " + near + " up") &&
                      run("ip netns exec " + peer + " ip addr add 198.18.0.2/24 dev " + far) &&
                      run("ip netns exec " + peer + " ip link set " + far + " up");
  bool all = linked;
  if (linked && short_only) {
    all = measure_short(peer, short_calls);
  } else if (linked) {
    std::printf("paced sender: %.0f MB/s in %zu-byte chunks; receive buffer %d bytes\n", bytes_per_second / 1e6,
                piece, receive_buffer);
    for (const Case c : {Case{2, 10'000}, Case{8, 100'000}, Case{8, 1'000'000}}) {
      const int runs = c.samples == 1'000'000 ? pairs : 1;
      std::vector<double> ratios;
      for (int p = 0; p < runs; ++p) {
        double cpu[2] = {0, 0};
        for (const Receiver receiver : p % 2 == 0 ? std::array{Receiver::library, Receiver::bare}
                                                  : std::array{Receiver::bare, Receiver::library}) {
          cpu[static_cast<int>(receiver)] = measure(peer, receiver, c);
          all = cpu[static_cast<int>(receiver)] >= 0 && all;
        }
        if (cpu[0] > 0 && cpu[1] > 0) ratios.push_back(cpu[0] / cpu[1]);
      }
      std::sort(ratios.begin(), ratios.end());
      if (!ratios.empty())
        std::printf("%u x %u: CPU library/bare, median of %zu pairs %.2f [%.2f-%.2f]\n", c.channels, c.samples,
                    ratios.size(), ratios[ratios.size() / 2], ratios.front(), ratios.back());
    }
    all = measure_short(peer, short_calls) && all;
  } else {
    std::printf("could not link the peer namespace\n");
  }
  return all ? 0 : 1;
}
