// A rack of many modules on one link, found by the library: every module
// in all mode, and the last one in serial mode. Runs the rack in private
// namespaces through varnode-sim and joins the client's namespace itself.
//
//   varnode_large_rack [--modules N] [--runs R]
//
// Prints one line per run and exits 0 only when every run found the whole
// rack and the last module; 77 when the machine cannot make the namespaces.
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim_process.hpp"
#include "varnode/varnode.h"

namespace {

constexpr const char* kinds[] = {"KL01", "KL02", "KS01", "KS02", "QU01", "RA01", "RE01", "WE01", "HX01", "HX02"};

std::uint32_t serial_of(unsigned index) { return 100001 + index; }

// Modules at .11 and on from 198.18.0.0, on a prefix that holds them all,
// /22 at the least.
nlohmann::json rack(unsigned modules) {
  unsigned prefix = 22;
  while (prefix > 8 && (1u << (32 - prefix)) < modules + 13) --prefix;
  nlohmann::json list = nlohmann::json::array();
  for (unsigned i = 0; i < modules; ++i) list.push_back({{"kind", kinds[i % 10]}, {"serial", serial_of(i)}});
  return {{"client", "198.18.0.1"}, {"prefix", prefix}, {"modules", list}};
}

double milliseconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  unsigned modules = 1000, runs = 1;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--modules") modules = static_cast<unsigned>(std::stoul(argv[i + 1]));
    else if (option == "--runs") runs = static_cast<unsigned>(std::stoul(argv[i + 1]));
  }
  if (::geteuid() != 0) {
    std::printf("SKIPPED: a rack in network namespaces needs root\n");
    return 77;
  }

  const std::string name = "vn-lr-" + std::to_string(::getpid());
  const std::string description = "/tmp/" + name + ".json";
  if (FILE* file = std::fopen(description.c_str(), "w")) {
    std::fputs(rack(modules).dump().c_str(), file);
    std::fclose(file);
  }
  // A thousand replies must cross within the 1000 ms window, and a rack
  // program and a client that wait behind busy compilers would measure the
  // machine's load rather than the library. The simulator inherits this.
  ::setpriority(PRIO_PROCESS, 0, -10);
  SimProcess sim;
  const auto started = std::chrono::steady_clock::now();
  const bool ready = sim.start(VARNODE_SIM_PATH, name, description);
  std::remove(description.c_str());
  if (!ready) {
    // 69: the machine cannot make the namespaces; anything else is a fault.
    const bool unavailable = sim.exit_status() == 69;
    std::printf("%s: the simulator did not start\n", unavailable ? "SKIPPED" : "FAILED");
    return unavailable ? 77 : 1;
  }
  std::printf("rack of %u modules ready after %.0f ms\n", modules, milliseconds_since(started));
  if (!sim.join_client()) return 1;

  unsigned whole = 0, located = 0;
  double slowest = 0;
  std::vector<std::uint32_t> addresses(modules + 16);
  for (unsigned run = 1; run <= runs; ++run) {
    auto size = static_cast<std::uint32_t>(addresses.size());
    const std::uint8_t all = find(addresses.data(), &size, nullptr, 0);
    const std::uint32_t last = serial_of(modules - 1);
    std::uint32_t address = 0, one = 1;
    const auto start = std::chrono::steady_clock::now();
    const std::uint8_t serial = find(&address, &one, &last, 1);
    const double serial_ms = milliseconds_since(start);
    const bool found_last = serial == 0 && address == addresses[size == 0 ? 0 : size - 1];
    whole += all == 0 && size == modules;
    located += found_last;
    if (found_last && serial_ms > slowest) slowest = serial_ms;
    std::printf("run %2u: find listed %u of %u (result %u); serial mode for the last module: result %u in %.1f ms\n",
                run, size, modules, all, serial, serial_ms);
    std::fflush(stdout);
  }
  std::printf("%u modules: whole in %u of %u runs, last module located in %u of %u, slowest serial mode %.1f ms\n",
              modules, whole, runs, located, runs, slowest);

  sim.stop();
  return whole == runs && located == runs ? 0 : 1;
}
