// varnode-soak: drives the soak rack (see rack.hpp) from many threads with
// every export of the library, checks every call, and prints a report.
// Run it on the client side of the rack:
//   varnode-soak --rack > rack.json
//   varnode-sim --netns --config rack.json --exec 'varnode-soak --calls 100000'
// Exit status 1 on any wrong success, undocumented code, over-long call or
// growth of memory; 2 when the rack could not be prepared.

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <mutex>
#include <thread>

#include <CLI/CLI.hpp>

#include "calls.hpp"

namespace {

using namespace soak;

struct Options {
  std::uint64_t calls = 100000;
  double seconds = 0;
  unsigned threads = 16;
  double margin_ms = 100;
  long rss_slack_kib = 4096;
  std::uint64_t seed = 1;
};

struct Tally {
  std::uint64_t calls = 0;
  std::array<std::uint64_t, 256> codes{};
  std::uint64_t wrong = 0, undocumented = 0, over_long = 0;
  void add(const Tally& other) {
    calls += other.calls;
    for (std::size_t i = 0; i < codes.size(); ++i) codes[i] += other.codes[i];
    wrong += other.wrong;
    undocumented += other.undocumented;
    over_long += other.over_long;
  }
};

struct Longest {
  double overshoot_ms = -1e9;  // took − allowed
  double took_ms = 0, allowed_ms = 0;
  std::string call;
};

long rss_kib() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

class Soak {
 public:
  Soak(Options options) : options_(options), calls_(all_calls()) {
    for (const Call& call : calls_) total_weight_ += call.weight;
  }

  void run() {
    rss_before_ = rss_kib();
    const auto start = std::chrono::steady_clock::now();
    const auto stop_at = start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                     std::chrono::duration<double>(options_.seconds));
    std::vector<std::thread> threads;
    std::vector<Tally> tallies(calls_.size() * options_.threads);
    std::vector<Longest> longest(options_.threads);
    for (unsigned t = 0; t < options_.threads; ++t) {
      threads.emplace_back([&, t] {
        Random random(options_.seed * 1000003 + t);
        std::uniform_int_distribution<unsigned> pick(0, total_weight_ - 1);
        for (;;) {
          const std::uint64_t n = issued_.fetch_add(1);
          if (n >= options_.calls) break;
          if (options_.seconds > 0 && std::chrono::steady_clock::now() >= stop_at) break;
          // RSS at start: once the socket pool and the tables have grown.
          if (n == warm_up()) rss_start_ = rss_kib();
          std::size_t index = 0;
          for (unsigned w = pick(random); w >= calls_[index].weight; ++index) w -= calls_[index].weight;
          const Call& call = calls_[index];
          const Outcome outcome = call.run(random);
          record(call, outcome, tallies[t * calls_.size() + index], longest[t]);
        }
      });
    }
    for (std::thread& thread : threads) thread.join();
    seconds_ = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    rss_end_ = rss_kib();
    if (rss_start_ == 0) rss_start_ = rss_before_;
    for (unsigned t = 0; t < options_.threads; ++t) {
      for (std::size_t i = 0; i < calls_.size(); ++i) {
        per_call_[i].add(tallies[t * calls_.size() + i]);
      }
      if (longest[t].overshoot_ms > longest_.overshoot_ms) longest_ = longest[t];
    }
  }

  // Prints the report; true when the soak passed.
  bool report() const {
    std::map<std::string, Tally> families;
    std::vector<std::string> order;
    Tally all;
    for (std::size_t i = 0; i < calls_.size(); ++i) {
      if (!families.contains(calls_[i].family)) order.push_back(calls_[i].family);
      families[calls_[i].family].add(per_call_.at(i));
      all.add(per_call_.at(i));
    }
    std::printf("soak: %llu calls from %u threads in %.1f s (%.0f calls/s)\n",
                static_cast<unsigned long long>(all.calls), options_.threads, seconds_, all.calls / seconds_);
    std::printf("%-8s %8s %8s %6s %6s %6s %6s %6s %6s %6s %6s %6s %6s %6s %6s\n", "family", "calls", "success", "1",
                "2", "3", "4", "5", "6", "7", "8", "9", "other", "wrong", "undoc");
    const auto row = [](const std::string& name, const Tally& t) {
      std::uint64_t other = 0;
      for (std::size_t c = 10; c < t.codes.size(); ++c) other += t.codes[c];
      std::printf("%-8s %8llu %8llu %6llu %6llu %6llu %6llu %6llu %6llu %6llu %6llu %6llu %6llu %6llu %6llu\n",
                  name.c_str(), static_cast<unsigned long long>(t.calls),
                  static_cast<unsigned long long>(t.codes[0]), static_cast<unsigned long long>(t.codes[1]),
                  static_cast<unsigned long long>(t.codes[2]), static_cast<unsigned long long>(t.codes[3]),
                  static_cast<unsigned long long>(t.codes[4]), static_cast<unsigned long long>(t.codes[5]),
                  static_cast<unsigned long long>(t.codes[6]),
                  static_cast<unsigned long long>(t.codes[7]), static_cast<unsigned long long>(t.codes[8]),
                  static_cast<unsigned long long>(t.codes[9]), static_cast<unsigned long long>(other),
                  static_cast<unsigned long long>(t.wrong), static_cast<unsigned long long>(t.undocumented));
    };
    for (const std::string& family : order) row(family, families.at(family));
    row("all", all);
    std::printf("wrong successes (or failures that wrote outputs): %llu\n",
                static_cast<unsigned long long>(all.wrong));
    std::printf("undocumented codes: %llu\n", static_cast<unsigned long long>(all.undocumented));
    std::printf("longest past its time-out: %s, %.1f ms against %.0f ms (%+.1f ms; margin %.0f ms); over-long calls: %llu\n",
                longest_.call.c_str(), longest_.took_ms, longest_.allowed_ms, longest_.overshoot_ms,
                options_.margin_ms, static_cast<unsigned long long>(all.over_long));
    const long growth = rss_end_ - rss_start_;
    std::printf("RSS: %ld KiB before the first call, %ld KiB at start (after %llu calls), %ld KiB at end (%+ld KiB; slack %ld KiB)\n",
                rss_before_, rss_start_.load(), static_cast<unsigned long long>(warm_up()), rss_end_, growth,
                options_.rss_slack_kib);
    for (const std::string& problem : problems_) std::printf("  %s\n", problem.c_str());
    const bool passed = all.wrong == 0 && all.undocumented == 0 && all.over_long == 0 && growth <= options_.rss_slack_kib;
    std::printf("soak %s\n", passed ? "passed" : "FAILED");
    return passed;
  }

 private:
  // Calls before RSS is taken at start: the socket pool, the temperature
  // tables and the allocator's arenas have grown by then.
  std::uint64_t warm_up() const { return std::min<std::uint64_t>(options_.calls / 10, 5000); }

  void record(const Call& call, const Outcome& outcome, Tally& tally, Longest& longest) {
    ++tally.calls;
    ++tally.codes[outcome.code];
    std::string problem;
    const std::string name = std::string(call.family) + " " + call.name;
    if (!outcome.wrong.empty()) {
      ++tally.wrong;
      problem = name + ": " + outcome.wrong + " (code " + std::to_string(outcome.code) + ")";
    }
    if ((outcome.documented >> outcome.code & 1) == 0) {
      ++tally.undocumented;
      problem = name + ": undocumented code " + std::to_string(outcome.code);
    }
    const double overshoot = outcome.took_ms - outcome.allowed_ms;
    if (overshoot > options_.margin_ms) {
      ++tally.over_long;
      problem = name + ": took " + std::to_string(outcome.took_ms) + " ms against " +
                std::to_string(outcome.allowed_ms) + " ms (code " + std::to_string(outcome.code) + ")";
    }
    if (overshoot > longest.overshoot_ms) longest = {overshoot, outcome.took_ms, outcome.allowed_ms, name};
    if (!problem.empty()) {
      std::lock_guard lock(problems_mutex_);
      if (problems_.size() < 20) problems_.push_back(problem);
    }
  }

  Options options_;
  std::vector<Call> calls_;
  unsigned total_weight_ = 0;
  std::atomic<std::uint64_t> issued_{0};
  std::atomic<long> rss_start_{0};
  long rss_before_ = 0, rss_end_ = 0;
  double seconds_ = 0;
  std::map<std::size_t, Tally> per_call_;
  Longest longest_;
  std::mutex problems_mutex_;
  std::vector<std::string> problems_;
};

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Fault-injection soak of the varnode library against a virtual rack.\n"
               "  varnode-soak --rack > rack.json\n"
               "  varnode-sim --netns --config rack.json --exec 'varnode-soak --calls 100000'"};
  Options options;
  bool print_rack = false;
  app.add_flag("--rack", print_rack, "print the rack description for varnode-sim --config and exit");
  app.add_option("--calls", options.calls, "calls in all (default 100000)");
  app.add_option("--seconds", options.seconds, "stop after this long, if the calls last longer (0: no limit)");
  app.add_option("--threads", options.threads, "calling threads (default 16)")->check(CLI::Range(1u, 1024u));
  app.add_option("--margin-ms", options.margin_ms, "how far a call may run past its time-out (default 100)");
  app.add_option("--rss-slack-kib", options.rss_slack_kib, "allowed growth of RSS from start to end (default 4096)");
  app.add_option("--seed", options.seed, "seed of the calls' random choices (default 1)");
  CLI11_PARSE(app, argc, argv);
  if (print_rack) {
    std::fputs(rack_json().c_str(), stdout);
    return 0;
  }
  std::string failure;
  if (!prepare_rack(failure) || !learn_references(failure)) {
    std::fprintf(stderr, "varnode-soak: %s (is the soak rack running? varnode-soak --rack)\n", failure.c_str());
    return 2;
  }
  Soak soak(options);
  soak.run();
  return soak.report() ? 0 : 1;
}
