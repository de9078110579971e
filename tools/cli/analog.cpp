// ra01/re01 frequency, stop, measure: streamed samples with a progress line.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <memory>

#include "arguments.hpp"
#include "catalogue.hpp"
#include "commands.hpp"
#include "varnode/varnode.h"

namespace varnode::cli {
namespace {

namespace cat = varnode::catalogue;
// The twins share their channel count and limits.
constexpr unsigned analog_channels = VARNODE_RA01_CHANNELS;
static_assert(VARNODE_RE01_CHANNELS == analog_channels);
constexpr float lowest_hertz = VARNODE_MEASURE_FREQUENCY_LOWEST;
constexpr float highest_hertz = VARNODE_MEASURE_FREQUENCY_HIGHEST;

// A whole number of hertz as the help writes it.
std::string figure(float hertz) { return std::to_string(static_cast<long>(hertz)); }

using Measure = std::uint8_t (*)(std::uint32_t, const std::uint8_t*, std::uint8_t, std::uint32_t, float, float*,
                                 std::uint32_t*);

struct Request {
  std::string address;
  std::vector<std::string> channels;
  std::uint32_t samples = 1000;
  float frequency = 1000;
};

// 1234567 as 1,234,567.
std::string grouped(std::uint64_t n) {
  std::string digits = std::to_string(n);
  for (auto at = static_cast<std::ptrdiff_t>(digits.size()) - 3; at > 0; at -= 3) digits.insert(at, ",");
  return digits;
}

// The progress line on stderr, shown only when stderr is a terminal and
// always ended before the tool prints anything else or exits. The library
// hands over samples only when the stream is complete, so the count is the
// number due by now at the requested rate.
class Progress {
 public:
  Progress(const std::string& what, std::uint64_t total, double per_second)
      : what_(what), total_(total), per_second_(per_second), show_(::isatty(STDERR_FILENO) != 0) {}
  ~Progress() { end(); }
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  void update() {
    if (!show_) return;
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    const auto due = static_cast<std::uint64_t>(std::min<double>(static_cast<double>(total_), elapsed * per_second_));
    const double left = per_second_ > 0 ? static_cast<double>(total_ - due) / per_second_ : 0;
    char text[160];
    std::snprintf(text, sizeof text, "%s: %s of %s samples, %s/s, %.0f s left", what_.c_str(),
                  grouped(due).c_str(), grouped(total_).c_str(), grouped(static_cast<std::uint64_t>(per_second_)).c_str(),
                  std::ceil(left));
    const std::string line = text;
    std::fprintf(stderr, "\r%s%*s", line.c_str(), static_cast<int>(width_ > line.size() ? width_ - line.size() : 0), "");
    width_ = std::max(width_, line.size());
  }
  void end() {
    if (width_ > 0) std::fprintf(stderr, "\r%*s\r", static_cast<int>(width_), "");
    width_ = 0;
  }

 private:
  std::string what_;
  std::uint64_t total_;
  double per_second_;
  bool show_;
  std::size_t width_ = 0;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// Runs the measurement on a worker thread while this one shows progress
// and waits for Ctrl-C or SIGTERM. On either it sends the module's stop, so
// the module is ready for the next measurement rather than busy streaming
// to a process that has gone, waits for the library call to give up, and
// throws Interrupted.
std::uint8_t measure_with_progress(Measure call, std::uint8_t (*stop)(std::uint32_t), const std::string& what,
                                   std::uint32_t address, const std::vector<std::uint8_t>& channels, const Request& r,
                                   std::vector<float>& values, std::uint32_t& size) {
  sigset_t stopping, previous;
  sigemptyset(&stopping);
  sigaddset(&stopping, SIGINT);
  sigaddset(&stopping, SIGTERM);
  // Blocked before the worker starts, so it inherits the mask and the
  // signals wait here for sigtimedwait.
  pthread_sigmask(SIG_BLOCK, &stopping, &previous);
  auto running = std::async(std::launch::async, [&] {
    return call(address, channels.data(), static_cast<std::uint8_t>(channels.size()), r.samples, r.frequency,
                values.data(), &size);
  });
  const auto ready = [&] { return running.wait_for(std::chrono::seconds(0)) == std::future_status::ready; };
  const timespec slice{0, 100'000'000};
  const timespec none{0, 0};
  // Short enough for an 80-column terminal: a wrapped line cannot be
  // rewritten in place.
  Progress progress(what.substr(0, what.rfind(' ')), static_cast<std::uint64_t>(r.samples) * channels.size(),
                    r.samples > 1 ? static_cast<double>(r.frequency) * static_cast<double>(channels.size()) : 0);
  bool interrupted = false;
  while (!ready()) {
    if (sigtimedwait(&stopping, nullptr, &slice) > 0) {
      interrupted = true;
      break;
    }
    progress.update();
  }
  progress.end();
  if (!interrupted) {
    interrupted = sigtimedwait(&stopping, nullptr, &none) > 0;  // one that came as the stream ended
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (!interrupted) return running.get();
    throw Interrupted{};
  }
  std::fprintf(stderr, "%s: stopping the stream\n", what.c_str());
  // A stop could overtake the measure request it is meant to end, so it is
  // sent again every second until the library call returns. A second
  // signal leaves at once.
  for (int slices = 0; !ready(); ++slices) {
    if (slices % 10 == 0) stop(address);
    if (sigtimedwait(&stopping, nullptr, &slice) > 0) {
      std::fprintf(stderr, "interrupted\n");
      std::_Exit(130);
    }
  }
  running.get();
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  throw Interrupted{};
}

void print_samples(const Context& c, const Request& r, const std::vector<std::uint8_t>& channels,
                   const std::vector<float>& values) {
  const std::size_t n = channels.size();
  if (c.csv) {
    std::cout << "sample,seconds";
    for (std::uint8_t ch : channels) std::cout << ",channel_" << int(ch);
    std::cout << "\n";
    for (std::uint32_t s = 0; s < r.samples; ++s) {
      std::cout << s << "," << format_number(r.samples > 1 ? s / static_cast<double>(r.frequency) : 0, 9);
      for (std::size_t i = 0; i < n; ++i) std::cout << "," << format_float(values[s * n + i]);
      std::cout << "\n";
    }
    return;
  }
  if (c.json) {
    nlohmann::json series = nlohmann::json::object();
    for (std::size_t i = 0; i < n; ++i) {
      nlohmann::json list = nlohmann::json::array();
      for (std::uint32_t s = 0; s < r.samples; ++s) list.push_back(json_float(values[s * n + i]));
      series[std::to_string(channels[i])] = std::move(list);
    }
    return print_json({{"address", r.address}, {"samples", r.samples}, {"frequency", json_float(r.frequency)}, {"values", series}});
  }
  Table table({"channel", "samples", "min", "mean", "max", "first", "last"});
  for (std::size_t i = 0; i < n; ++i) {
    double low = INFINITY, high = -INFINITY, sum = 0;
    for (std::uint32_t s = 0; s < r.samples; ++s) {
      const double v = values[s * n + i];
      low = std::min(low, v);
      high = std::max(high, v);
      sum += v;
    }
    table.add({std::to_string(channels[i]), std::to_string(r.samples), format_float(static_cast<float>(low)),
               format_float(static_cast<float>(sum / r.samples)), format_float(static_cast<float>(high)),
               format_float(values[i]), format_float(values[(r.samples - 1) * n + i])});
  }
  table.print();
  std::cout << "(--csv or --json for every sample)\n";
}

void add_family(CLI::App& app, const Context& c, const char* name, const std::string& help,
                std::uint8_t (*frequency)(std::uint32_t, std::uint16_t), std::uint8_t (*stop)(std::uint32_t),
                Measure measure) {
  auto* family = app.add_subcommand(name, help);
  family->require_subcommand(1);
  auto r = std::make_shared<Request>();
  const std::string prefix = name;

  add_frequency_command(*family, c, prefix, frequency);

  auto* halt = family->add_subcommand("stop", "stop a running measurement");
  halt->add_option("address", r->address, "the module's IPv4 address")->required();
  halt->callback([&c, r, stop, prefix] {
    const std::uint32_t address = parse_address(r->address);
    c.prepare(address);
    check(stop(address), prefix + " stop " + r->address, address);
    if (c.json) return print_json({{"address", r->address}, {"result", "success"}});
    std::cout << prefix << " stop " << r->address << ": done\n";
  });

  auto* take = family->add_subcommand("measure", "stream samples of channels (summary; --csv or --json for all)");
  take->add_option("address", r->address, "the module's IPv4 address")->required();
  take->add_option("channels", r->channels, "channels 1 to " + std::to_string(analog_channels))->required();
  take->add_option("-n,--samples", r->samples,
                   "samples per channel, 1 to " + std::to_string(VARNODE_SAMPLE_LIMIT) + " (default 1000)")
      ->check(CLI::Range(1u, VARNODE_SAMPLE_LIMIT));
  take->add_option("-f,--frequency", r->frequency,
                   "samples per second, " + figure(lowest_hertz) + " to " + figure(highest_hertz) + " (default 1000)");
  take->callback([&c, r, measure, stop, prefix] {
    const std::uint32_t address = parse_address(r->address);
    const auto channels = parse_channels(r->channels, analog_channels);
    if ((r->samples > 1 || !std::isfinite(r->frequency)) &&
        !(r->frequency >= lowest_hertz && r->frequency <= highest_hertz))
      throw UsageError("--frequency runs from " + figure(lowest_hertz) + " to " + figure(highest_hertz) +
                       " Hz when more than one sample is taken");
    std::vector<float> values(static_cast<std::size_t>(r->samples) * channels.size());
    auto size = static_cast<std::uint32_t>(values.size());
    c.prepare(address);
    const std::string what = prefix + " measure " + r->address;
    check(measure_with_progress(measure, stop, what, address, channels, *r, values, size), what, address);
    print_samples(c, *r, channels, values);
  });
}

}  // namespace

void add_frequency_command(CLI::App& family, const Context& c, const std::string& prefix,
                           std::uint8_t (*call)(std::uint32_t, std::uint16_t)) {
  struct Setting {
    std::string address;
    unsigned hertz = 0;
  };
  auto s = std::make_shared<Setting>();
  std::string settings;
  for (const std::uint16_t f : cat::frequencies) settings += " " + std::to_string(f);
  auto* set = family.add_subcommand("frequency", "set the converter frequency:" + settings);
  set->add_option("address", s->address, "the module's IPv4 address")->required();
  set->add_option("hertz", s->hertz, "the setting")
      ->required()
      ->check(CLI::IsMember(std::vector<unsigned>(std::begin(cat::frequencies), std::end(cat::frequencies))));
  set->callback([&c, s, prefix, call] {
    const std::uint32_t address = parse_address(s->address);
    c.prepare(address);
    check(call(address, static_cast<std::uint16_t>(s->hertz)), prefix + " frequency " + s->address, address);
    if (c.json) return print_json({{"address", s->address}, {"frequency", s->hertz}, {"result", "success"}});
    std::cout << prefix << " frequency " << s->address << ": " << s->hertz << " Hz\n";
  });
}

void add_analog_commands(CLI::App& app, Context& context) {
  add_family(app, context, "ra01", "ra01 current inputs, channels 1 to " + std::to_string(VARNODE_RA01_CHANNELS),
             ra01_set_frequency, ra01_stop, ra01_measure);
  add_family(app, context, "re01", "re01 voltage inputs, channels 1 to " + std::to_string(VARNODE_RE01_CHANNELS),
             re01_set_frequency, re01_stop, re01_measure);
}

}  // namespace varnode::cli
