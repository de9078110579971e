// varnode-sim: plays a rack of modules on the network, in a private network
// namespace or on loopback addresses.
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <future>
#include <iostream>
#include <memory>
#include <optional>
#include <thread>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "characteristic.hpp"
#include "private_network.hpp"
#include "rack.hpp"
#include "server.hpp"

using namespace varnode;
using namespace varnode::sim;

namespace {

const char* example = R"({
  "client": "198.18.0.1",
  "prefix": 24,
  "modules": [
    {"kind": "KL01", "address": "198.18.0.11", "serial": 4097, "directions": "0x0F", "inputs": "0xA0"},
    {"kind": "RE01", "address": "198.18.0.12", "identity": "legacy", "stream_speed": 4,
     "channels": {"1": {"signal": "sine", "offset": 0, "amplitude": 5, "hz": 10},
                  "2": {"signal": "ramp", "from": -10, "to": 10, "period": 1},
                  "3": {"signal": "noise", "mean": 2.5, "deviation": 0.01, "seed": 7}}},
    {"kind": "HX01", "cold_junction": 25,
     "channels": {"1": {"sensor": "K", "celsius": 100}, "2": {"sensor": "J", "celsius": {"signal": "sine", "offset": 250, "amplitude": 2, "hz": 0.1}}}},
    {"kind": "HX02", "channels": {"1": {"sensor": "platinum", "range": 0.5, "current": 0.001, "nominal": 100, "celsius": 21.5}}},
    {"kind": "QU01", "rates": {"1": 50}},
    {"kind": "RA01", "faults": [{"fault": "abort", "commands": ["0x0400"], "chunks": 2},
                                {"fault": "drop", "commands": ["0x0408"], "probability": 0.5}]},
    {"kind": "WE01", "status": [{"name": "supply", "unit": "V", "value": 16.2, "lower": 18, "upper": 30}]}
  ]
})";

std::string layout_name(const Module& m) { return m.common().layout == Layout::legacy ? "legacy" : "extended"; }

void print_rack(const Rack& rack) {
  std::printf("%-5s %-15s %-10s %-9s %s\n", "kind", "address", "serial", "identity", "behaviour");
  for (const auto& m : rack.modules) {
    std::string behaviour = m->describe();
    for (const FaultRule& rule : m->common().faults) behaviour += (behaviour.empty() ? "" : "; ") + ("fault: " + rule.describe());
    std::printf("%-5s %-15s %-10u %-9s %s\n", kind_name(m->kind()), format_address(m->address()).c_str(), m->serial(),
                layout_name(*m).c_str(), behaviour.c_str());
  }
}

// Whether the description places a module outside loopback, so that it
// can run only with --netns.
bool on_private_link(const nlohmann::json& description) {
  if (!description.is_object() || !description.contains("modules") || !description["modules"].is_array())
    return false;
  for (const auto& entry : description["modules"]) {
    if (entry.is_object() && entry.contains("address") && entry["address"].is_string() &&
        entry["address"].get<std::string>().rfind("127.", 0) != 0)
      return true;
  }
  return false;
}

int exit_status(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status); }

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Plays a rack of virtual I/O modules that answer DCP on UDP port 30000.\n"
               "With --netns the modules live in a private network namespace joined to a\n"
               "client namespace; run the library or the varnode tool there with\n"
               "  ip netns exec NAME varnode find\n"
               "or give the command to --exec. Without --netns the modules take loopback\n"
               "addresses (127.0.10.11 and on); find cannot reach them there, since\n"
               "broadcasts do not cross loopback.",
               "varnode-sim"};
  std::string config, name, command;
  std::vector<std::string> quick;
  std::string pcap;
  bool netns = false, list = false, print_example = false, trace = false;
  double speed = 0;
  app.add_option("-c,--config", config, "rack description (JSON; see --example)");
  app.add_option("-m,--module", quick, "a module KIND[@ADDRESS] instead of a description; repeatable");
  app.add_flag("--netns", netns, "run in a private network namespace (root needed)");
  app.add_option("--name", name, "name of the client namespace (default varnode-PID)");
  app.add_option("--exec", command, "run this shell command on the client side, then stop; exits with its status");
  app.add_option("--stream-speed", speed, "stream every measurement this many times faster than real time")
      ->check(CLI::PositiveNumber);
  app.add_option("--pcap", pcap, "write every datagram the rack receives and sends to this pcap file");
  app.add_flag("--trace", trace, "print one line per datagram on stderr");
  app.add_flag("--list", list, "print the rack and exit");
  app.add_flag("--example", print_example, "print an example rack description and exit");
  app.footer("Without --config or --module the rack holds one module of each kind:\n"
             "KL01 KL02 KS01 KS02 QU01 RA01 RE01 WE01 HX01 HX02 at .11 to .20.");
  CLI11_PARSE(app, argc, argv);
  if (print_example) {
    std::cout << example << "\n";
    return 0;
  }
  if (!config.empty() && !quick.empty()) {
    std::fprintf(stderr, "varnode-sim: give --config or --module, not both\n");
    return 64;
  }

  Placement placement = netns ? Placement::namespaced : Placement::loopback;
  Rack rack;
  try {
    nlohmann::json description = !config.empty() ? read_description(config)
                                 : !quick.empty() ? quick_description(quick)
                                                  : default_description();
    if (speed > 0 && description.contains("modules") && description["modules"].is_array()) {
      for (auto& entry : description["modules"]) {
        if (entry.is_object()) entry["stream_speed"] = speed;
      }
    }
    // Listing runs nothing, so a rack meant for --netns is shown as it
    // would run there.
    if (list && !netns && on_private_link(description)) placement = Placement::namespaced;
    rack = parse_rack(description, placement);
  } catch (const MissingFile& failure) {
    std::fprintf(stderr, "varnode-sim: %s\n", failure.what());
    return 66;
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "varnode-sim: %s\n", failure.what());
    return 64;
  }
  if (list) {
    print_rack(rack);
    if (placement == Placement::namespaced && !netns) std::printf("(these addresses need --netns)\n");
    return 0;
  }

  // Each module holds a socket of its own; a large rack needs more than the
  // usual 1,024 descriptors.
  if (rlimit files{}; ::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &files);
  }

  sigset_t signals;
  sigemptyset(&signals);
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGCHLD}) sigaddset(&signals, s);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  std::optional<PrivateNetwork> network;
  if (netns) {
    std::vector<Address> addresses;
    for (const auto& m : rack.modules) addresses.push_back(m->address());
    try {
      network.emplace(name.empty() ? "varnode-" + std::to_string(::getpid()) : name, rack.client, rack.prefix,
                      addresses);
    } catch (const std::exception& failure) {
      std::fprintf(stderr, "varnode-sim: %s\n", failure.what());
      return 69;
    }
  }

  Server::Options options;
  options.hear_broadcasts = netns;
  options.move_address = [&](Address from, Address to) {
    if (!network) return to.is_loopback();
    if (!network->add_address(to)) return false;
    network->remove_address(from);
    return true;
  };
  std::unique_ptr<PcapWriter> capture;
  if (!pcap.empty()) {
    try {
      capture = std::make_unique<PcapWriter>(pcap);
    } catch (const std::exception& failure) {
      std::fprintf(stderr, "varnode-sim: %s\n", failure.what());
      return 73;
    }
  }
  std::optional<Tracer> tracer;
  if (trace) tracer.emplace(stderr);
  if (capture || tracer) {
    options.observe = [&](const Hop& hop, std::span<const std::uint8_t> datagram, bool incoming) {
      if (capture) capture->write(hop, datagram);
      if (tracer) tracer->write(hop, datagram, incoming);
    };
  }
  Server server(std::move(rack), options);
  std::promise<std::string> bound;
  std::thread serving([&] {
    try {
      if (network) network->enter_rack();
      server.bind();
      bound.set_value({});
    } catch (const std::exception& failure) {
      bound.set_value(failure.what());
      return;
    }
    server.run();
  });
  if (const std::string failure = bound.get_future().get(); !failure.empty()) {
    serving.join();
    std::fprintf(stderr, "varnode-sim: %s\n", failure.c_str());
    return 69;
  }

  print_rack(server.rack());
  std::printf("sensor curves: %s\n", std::string(characteristic().source()).c_str());
  if (network) {
    std::printf("ready: %zu modules; client side: ip netns exec %s ... (address %s)\n", server.rack().modules.size(),
                network->client_namespace().c_str(), format_address(server.rack().client).c_str());
  } else {
    std::printf("ready: %zu modules on loopback\n", server.rack().modules.size());
  }
  std::fflush(stdout);

  pid_t child = -1;
  if (!command.empty()) {
    child = ::fork();
    if (child == 0) {
      pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
      try {
        if (network) network->enter_client();
      } catch (const std::exception& failure) {
        std::fprintf(stderr, "varnode-sim: %s\n", failure.what());
        _exit(69);
      }
      ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
  }

  int status = 0;
  for (;;) {
    int received = 0;
    sigwait(&signals, &received);
    if (received == SIGCHLD) {
      int child_status = 0;
      if (child > 0 && ::waitpid(child, &child_status, WNOHANG) == child) {
        status = exit_status(child_status);
        break;
      }
      continue;
    }
    if (child > 0) {
      ::kill(child, SIGTERM);
      int child_status = 0;
      ::waitpid(child, &child_status, 0);
    }
    status = 128 + received;
    break;
  }
  server.stop();
  serving.join();
  return status;
}
