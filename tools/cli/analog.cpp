// ra01/re01 frequency, stop, measure: streamed samples with a progress line.
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <future>
#include <memory>

#include "arguments.hpp"
#include "commands.hpp"
#include "varnode/varnode.h"

namespace varnode::cli {
namespace {

using Measure = std::uint8_t (*)(std::uint32_t, const std::uint8_t*, std::uint8_t, std::uint32_t, float, float*,
                                 std::uint32_t*);

struct Request {
  std::string address;
  std::vector<std::string> channels;
  std::uint32_t samples = 1000;
  float frequency = 1000;
};

// Runs the measurement on a worker thread; meanwhile, when stderr is a
// terminal, shows how long it has run against how long it should take.
std::uint8_t measure_with_progress(Measure call, std::uint32_t address, const std::vector<std::uint8_t>& channels,
                                   const Request& r, std::vector<float>& values, std::uint32_t& size) {
  auto running = std::async(std::launch::async, [&] {
    return call(address, channels.data(), static_cast<std::uint8_t>(channels.size()), r.samples, r.frequency,
                values.data(), &size);
  });
  const bool show = ::isatty(STDERR_FILENO) != 0;
  const double expected = r.samples > 1 && r.frequency > 0 ? r.samples / static_cast<double>(r.frequency) : 0;
  const auto start = std::chrono::steady_clock::now();
  bool shown = false;
  while (running.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready) {
    if (!show) continue;
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::fprintf(stderr, "\rmeasuring %zu channel(s) x %u samples at %g Hz: %.1f s of about %.1f s ", channels.size(),
                 r.samples, static_cast<double>(r.frequency), elapsed, expected);
    shown = true;
  }
  if (shown) std::fprintf(stderr, "\r%*s\r", 79, "");
  return running.get();
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
      for (std::size_t i = 0; i < n; ++i) std::cout << "," << format_number(values[s * n + i], 9);
      std::cout << "\n";
    }
    return;
  }
  if (c.json) {
    nlohmann::json series = nlohmann::json::object();
    for (std::size_t i = 0; i < n; ++i) {
      nlohmann::json list = nlohmann::json::array();
      for (std::uint32_t s = 0; s < r.samples; ++s) list.push_back(values[s * n + i]);
      series[std::to_string(channels[i])] = std::move(list);
    }
    return print_json({{"address", r.address}, {"samples", r.samples}, {"frequency", r.frequency}, {"values", series}});
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
    table.add({std::to_string(channels[i]), std::to_string(r.samples), format_number(low),
               format_number(sum / r.samples), format_number(high), format_number(values[i]),
               format_number(values[(r.samples - 1) * n + i])});
  }
  table.print();
  std::cout << "(--csv or --json for every sample)\n";
}

void add_family(CLI::App& app, const Context& c, const char* name, const char* help,
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
    check(stop(address), prefix + " stop " + r->address);
    if (c.json) return print_json({{"address", r->address}, {"result", "success"}});
    std::cout << prefix << " stop " << r->address << ": done\n";
  });

  auto* take = family->add_subcommand("measure", "stream samples of channels (summary; --csv or --json for all)");
  take->add_option("address", r->address, "the module's IPv4 address")->required();
  take->add_option("channels", r->channels, "channels 1 to 8")->required();
  take->add_option("-n,--samples", r->samples, "samples per channel, 1 to 1000000 (default 1000)")
      ->check(CLI::Range(1u, 1000000u));
  take->add_option("-f,--frequency", r->frequency, "samples per second, 6 to 3000 (default 1000)");
  take->callback([&c, r, measure, prefix] {
    const std::uint32_t address = parse_address(r->address);
    const auto channels = parse_channels(r->channels, 8);
    if (r->samples > 1 && !(r->frequency >= 6 && r->frequency <= 3000))
      throw UsageError("--frequency runs from 6 to 3000 Hz when more than one sample is taken");
    std::vector<float> values(static_cast<std::size_t>(r->samples) * channels.size());
    auto size = static_cast<std::uint32_t>(values.size());
    c.prepare(address);
    check(measure_with_progress(measure, address, channels, *r, values, size), prefix + " measure " + r->address);
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
  auto* set = family.add_subcommand("frequency", "set the converter frequency: 6 12 25 50 100 200 400 800 1500 3000");
  set->add_option("address", s->address, "the module's IPv4 address")->required();
  set->add_option("hertz", s->hertz, "the setting")
      ->required()
      ->check(CLI::IsMember({6, 12, 25, 50, 100, 200, 400, 800, 1500, 3000}));
  set->callback([&c, s, prefix, call] {
    const std::uint32_t address = parse_address(s->address);
    c.prepare(address);
    check(call(address, static_cast<std::uint16_t>(s->hertz)), prefix + " frequency " + s->address);
    if (c.json) return print_json({{"address", s->address}, {"frequency", s->hertz}, {"result", "success"}});
    std::cout << prefix << " frequency " << s->address << ": " << s->hertz << " Hz\n";
  });
}

void add_analog_commands(CLI::App& app, Context& context) {
  add_family(app, context, "ra01", "ra01 current inputs, channels 1 to 8", ra01_set_frequency, ra01_stop, ra01_measure);
  add_family(app, context, "re01", "re01 voltage inputs, channels 1 to 8", re01_set_frequency, re01_stop, re01_measure);
}

}  // namespace varnode::cli
