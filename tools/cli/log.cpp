// log: channels of any number of modules recorded row by row (polled) or
// block by block (streamed) into the log format, flushed as they arrive.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include "acquire.hpp"
#include "arguments.hpp"
#include "catalogue.hpp"
#include "commands.hpp"
#include "varnode/varnode.h"

namespace varnode::cli {
namespace {

namespace aq = varnode::acquire;
namespace cat = varnode::catalogue;
using nlohmann::json;

constexpr const char* format_help = R"(The file (CSV; --format jsonl or influx give the same records):
  # varnode-log 1
  # start: 2026-12-09T07:40:00.123456Z
  # tool: varnode 2.5.0
  # library: 2.5.0
  # mode: polled
  # interval: 1
  # module: id=hx01-1019 kind=HX01 address=198.18.0.19 serial=1019 name="oven" firmware=1.0
  # channel: column=hx01-1019.1 module=hx01-1019 channel=1 quantity=temperature sensor=K unit=K
  utc,seconds,index,hx01-1019.1,status.hx01-1019
  2026-12-09T07:40:00.124001Z,0.000545,0,373.149994,ok
  2026-12-09T07:40:01.125120Z,1.001664,1,,timeout
  # event: utc=2026-12-09T07:40:02.123700Z seconds=2.000244 module=hx01-1019 what=back
  2026-12-09T07:40:02.124170Z,2.000714,2,373.149994,ok
A failed reading is an empty cell and its status (ok, timeout, failed, ..., missed);
an interval not served at all leaves its index out. docs/log-format.md has it all.
Exit status: 0 done, 64 bad arguments or plan, 74 the file could not be written,
130 interrupted (the row is finished and the file closed), else the library's code.)";

struct WriteError {
  std::string what;
};

struct ModulePlan {
  std::uint32_t address = 0;
  std::string id;
  std::vector<std::string> channels;
  std::map<std::string, std::string> sensors;  // HX01 channel -> sensor name
  unsigned timeout_ms = 0;
};

struct Plan {
  double interval = 1;
  std::uint64_t count = 0;  // rows (polled) or blocks (streamed); 0: until stopped
  double duration = 0;
  bool stream = false;
  double frequency = 1000;
  std::uint32_t samples = 1000;
  std::string format = "csv";
  std::string output;
  std::string rotate;
  std::vector<ModulePlan> modules;
};

// ---- The plan file: keys checked by path, as the rack description is ----

[[noreturn]] void refuse(const std::string& file, const std::string& path, const std::string& why) {
  throw UsageError(file + ": " + (path.empty() ? "" : path + ": ") + why);
}

void keys(const json& v, const std::string& file, const std::string& path, std::initializer_list<const char*> known) {
  if (!v.is_object()) refuse(file, path, "an object, not " + v.dump());
  for (const auto& [key, value] : v.items()) {
    bool found = false;
    for (const char* k : known) found = found || key == k;
    if (!found) {
      std::string list;
      for (const char* k : known) list += std::string(list.empty() ? "" : ", ") + k;
      refuse(file, path.empty() ? key : path + "." + key, "unknown key \"" + key + "\"; the keys here: " + list);
    }
  }
}

double number(const json& v, const std::string& file, const std::string& path) {
  if (!v.is_number()) refuse(file, path, "a number, not " + v.dump());
  return v.get<double>();
}

// A whole number 0 to `most`, refused before it is cast.
std::uint64_t whole(const json& v, const std::string& file, const std::string& path, double most) {
  const double n = number(v, file, path);
  if (!(n >= 0 && n <= most) || n != std::floor(n))
    refuse(file, path, "a whole number 0 to " + std::to_string(static_cast<std::uint64_t>(most)) + ", not " + v.dump());
  return static_cast<std::uint64_t>(n);
}

std::string text(const json& v, const std::string& file, const std::string& path) {
  if (!v.is_string()) refuse(file, path, "a string, not " + v.dump());
  return v.get<std::string>();
}

void read_plan(const std::string& file, Plan& plan) {
  std::ifstream in(file);
  if (!in) throw UsageError(file + ": cannot be read: " + std::strerror(errno));
  json j;
  try {
    j = json::parse(in, nullptr, true, true);
  } catch (const json::parse_error& e) {
    throw UsageError(file + ": not JSON: " + e.what());
  }
  keys(j, file, "", {"interval", "count", "duration", "format", "output", "rotate", "stream", "modules"});
  if (j.contains("interval")) plan.interval = number(j["interval"], file, "interval");
  if (j.contains("count")) plan.count = whole(j["count"], file, "count", 1e15);
  if (j.contains("duration")) plan.duration = number(j["duration"], file, "duration");
  if (j.contains("format")) plan.format = text(j["format"], file, "format");
  if (j.contains("output")) plan.output = text(j["output"], file, "output");
  if (j.contains("rotate")) plan.rotate = text(j["rotate"], file, "rotate");
  if (j.contains("stream")) {
    keys(j["stream"], file, "stream", {"frequency", "samples"});
    plan.stream = true;
    if (j["stream"].contains("frequency")) plan.frequency = number(j["stream"]["frequency"], file, "stream.frequency");
    if (j["stream"].contains("samples"))
      plan.samples = static_cast<std::uint32_t>(whole(j["stream"]["samples"], file, "stream.samples", VARNODE_SAMPLE_LIMIT));
  }
  if (!j.contains("modules") || !j["modules"].is_array() || j["modules"].empty())
    refuse(file, "modules", "a list of at least one module");
  for (std::size_t i = 0; i < j["modules"].size(); ++i) {
    const json& m = j["modules"][i];
    const std::string path = "modules[" + std::to_string(i) + "]";
    keys(m, file, path, {"address", "id", "channels", "sensors", "timeout"});
    ModulePlan mp;
    if (!m.contains("address")) refuse(file, path, "needs \"address\"");
    try {
      mp.address = parse_address(text(m["address"], file, path + ".address"));
    } catch (const UsageError& e) {
      refuse(file, path + ".address", e.what());
    }
    if (m.contains("id")) mp.id = text(m["id"], file, path + ".id");
    if (!m.contains("channels") || !m["channels"].is_array()) refuse(file, path + ".channels", "a list of channels");
    for (std::size_t c = 0; c < m["channels"].size(); ++c) {
      const json& ch = m["channels"][c];
      mp.channels.push_back(ch.is_number_unsigned() ? std::to_string(ch.get<unsigned>())
                                                    : text(ch, file, path + ".channels[" + std::to_string(c) + "]"));
    }
    if (m.contains("sensors")) {
      if (!m["sensors"].is_object()) refuse(file, path + ".sensors", "an object {\"1\": \"K\"}");
      for (const auto& [ch, name] : m["sensors"].items())
        mp.sensors[ch] = text(name, file, path + ".sensors." + ch);
    }
    if (m.contains("timeout")) mp.timeout_ms = static_cast<unsigned>(whole(m["timeout"], file, path + ".timeout", 65535));
    plan.modules.push_back(std::move(mp));
  }
}

// ADDRESS:CH,CH,...  e.g. 198.18.0.19:1,2,status.supply
ModulePlan parse_channels(const std::string& argument) {
  const auto colon = argument.find(':');
  if (colon == std::string::npos) throw UsageError("'" + argument + "': write ADDRESS:CHANNEL,CHANNEL, e.g. 198.18.0.19:1,2");
  ModulePlan m;
  m.address = parse_address(argument.substr(0, colon));
  std::size_t start = colon + 1;
  for (std::size_t comma; (comma = argument.find(',', start)) != std::string::npos; start = comma + 1)
    m.channels.push_back(argument.substr(start, comma - start));
  m.channels.push_back(argument.substr(start));
  return m;
}

// "10s", "30m", "1h", "1d" (seconds) or "100k", "10M", "1G" (bytes).
void parse_rotate(const std::string& text, double& seconds, std::uint64_t& bytes) {
  if (text.empty()) return;
  std::size_t used = 0;
  double n = 0;
  try {
    n = std::stod(text, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  std::string unit = text.substr(used);
  if (!unit.empty() && (unit.back() == 'B' || unit.back() == 'b') && unit.size() > 1) unit.pop_back();
  const std::map<std::string, double> times{{"s", 1}, {"m", 60}, {"h", 3600}, {"d", 86400}};
  const std::map<std::string, double> sizes{{"k", 1e3}, {"K", 1e3}, {"M", 1e6}, {"G", 1e9}};
  if (used == 0 || !(n > 0)) throw UsageError("--rotate '" + text + "': a time (10s, 30m, 1h) or a size (100k, 10M)");
  if (times.contains(unit))
    seconds = n * times.at(unit);
  else if (sizes.contains(unit))
    bytes = static_cast<std::uint64_t>(n * sizes.at(unit));
  else
    throw UsageError("--rotate '" + text + "': a time (10s, 30m, 1h) or a size (100k, 10M)");
}

// ---- The file ------------------------------------------------------------

// One output file (or standard output) written with write(2), so that a
// full disk is seen at once and by its cause.
class Sink {
 public:
  Sink(std::string path, const aq::Encoder& encoder, double rotate_seconds, std::uint64_t rotate_bytes)
      : base_(std::move(path)), encoder_(encoder), rotate_seconds_(rotate_seconds), rotate_bytes_(rotate_bytes) {}
  ~Sink() { close(); }
  Sink(const Sink&) = delete;
  Sink& operator=(const Sink&) = delete;

  void open(std::int64_t utc_us, double seconds) {
    path_ = rotating() ? named(utc_us) : base_;
    if (path_ == "-") {
      fd_ = STDOUT_FILENO;
    } else {
      fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
      if (fd_ < 0) throw WriteError{path_ + ": " + std::strerror(errno)};
    }
    opened_ = seconds;
    bytes_ = 0;
    rows_in_file_ = 0;
    put(encoder_.header_text());
  }

  // A record; rotates first when the file is due and already holds one.
  void record(const std::string& text, const aq::Stamp& at) {
    if (rotating() && rows_in_file_ > 0 &&
        ((rotate_seconds_ > 0 && at.seconds - opened_ >= rotate_seconds_) ||
         (rotate_bytes_ > 0 && bytes_ + text.size() > rotate_bytes_))) {
      const std::string next = named(at.utc_us);
      const std::pair<std::string, std::string> pair[] = {{"next", next.substr(next.rfind('/') + 1)}};
      put(encoder_.event(at, "rotate", "", pair));
      close();
      open(at.utc_us, at.seconds);
    }
    put(text);
    ++rows_in_file_;
  }
  void put(const std::string& text) {
    for (std::size_t done = 0; done < text.size();) {
      const ssize_t n = ::write(fd_, text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) throw WriteError{(path_ == "-" ? "standard output" : path_) + ": " + std::strerror(errno)};
      done += static_cast<std::size_t>(n);
    }
    bytes_ += text.size();
    total_ += text.size();
  }
  void close() {
    if (fd_ >= 0 && fd_ != STDOUT_FILENO) ::close(fd_);
    fd_ = -1;
  }
  std::uint64_t total() const { return total_; }

 private:
  bool rotating() const { return (rotate_seconds_ > 0 || rotate_bytes_ > 0) && base_ != "-"; }
  // base.csv -> base-20261209T074000.123456Z.csv: named by its first record's time, so that
  // the names sort in order.
  std::string named(std::int64_t utc_us) {
    std::string stamp = aq::iso_utc(utc_us);
    std::erase(stamp, '-');
    std::erase(stamp, ':');
    const auto slash = base_.rfind('/');
    const auto dot = base_.rfind('.');
    const bool has_ext = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    const std::string stem = has_ext ? base_.substr(0, dot) : base_, ext = has_ext ? base_.substr(dot) : "";
    std::string name = stem + "-" + stamp + ext;
    for (int n = 2; ::access(name.c_str(), F_OK) == 0 || name == path_; ++n)
      name = stem + "-" + stamp + "-" + std::to_string(n) + ext;
    return name;
  }
  std::string base_, path_;
  const aq::Encoder& encoder_;
  double rotate_seconds_;
  std::uint64_t rotate_bytes_;
  int fd_ = -1;
  double opened_ = 0;
  std::uint64_t bytes_ = 0, total_ = 0, rows_in_file_ = 0;
};

// ---- The run -------------------------------------------------------------

struct Module {
  ModulePlan plan;
  aq::Family family{};
  aq::Identity identity;
  std::vector<aq::Channel> channels;
  std::vector<std::uint8_t> numbers;  // streamed: the channel numbers
};


struct Pending {
  std::vector<aq::Value> values;
  std::vector<std::uint8_t> codes;
  std::size_t reported = 0;
  aq::Stamp latest;
  std::string events;
};

std::atomic<bool> stopping{false};

class Progress {
 public:
  Progress() : show_(::isatty(STDERR_FILENO) != 0) {}
  void show(const std::string& line) {
    if (!show_) return;
    std::fprintf(stderr, "\r%s%*s", line.c_str(), static_cast<int>(width_ > line.size() ? width_ - line.size() : 0),
                 "");
    width_ = std::max(width_, line.size());
  }
  void end() {
    if (width_ > 0) std::fprintf(stderr, "\r%*s\r", static_cast<int>(width_), "");
    width_ = 0;
  }

 private:
  bool show_;
  std::size_t width_ = 0;
};

std::string library_version() {
  char vendor[64], version[64];
  std::uint32_t vendor_size = sizeof vendor, version_size = sizeof version, build = 0;
  if (get_driver(vendor, &vendor_size, version, &version_size, &build) != VARNODE_SUCCESS) return "unknown";
  return std::string(version, version_size);
}

std::vector<Module> prepare(const Plan& plan) {
  std::vector<Module> modules;
  for (const ModulePlan& mp : plan.modules) {
    Module m;
    m.plan = mp;
    if (mp.timeout_ms > 0) check(set_timeout(mp.address, static_cast<std::uint16_t>(mp.timeout_ms)), "log: timeout");
    check(aq::identify(mp.address, m.identity), "log: info " + aq::dotted(mp.address), mp.address);
    const auto family = aq::family_named(m.identity.kind);
    if (!family) throw UsageError(aq::dotted(mp.address) + " is a '" + m.identity.kind + "', which the log cannot read");
    m.family = *family;
    if (m.plan.id.empty()) {
      std::string kind = aq::info(m.family).name;
      for (char& c : kind) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      m.plan.id = kind + "-" + std::to_string(m.identity.serial);
    }
    if (mp.channels.empty()) throw UsageError(m.plan.id + ": no channel to log");
    for (const std::string& text : mp.channels) {
      aq::Channel channel;
      const std::string why = aq::parse_channel(m.family, text, channel);
      if (!why.empty()) throw UsageError(m.plan.id + ": " + why);
      if (plan.stream && channel.kind != aq::Channel::Kind::number)
        throw UsageError(m.plan.id + ": a stream takes numbered channels only");
      m.channels.push_back(channel);
      m.numbers.push_back(channel.number);
    }
    if (plan.stream && !aq::info(m.family).streams)
      throw UsageError(m.plan.id + ": " + aq::info(m.family).name + " does not stream; leave out --stream");
    for (const auto& [ch, name] : mp.sensors) {
      const cat::Sensor* known = cat::find_sensor(cat::hx01_sensors, name);
      if (m.family != aq::Family::HX01 || known == nullptr)
        throw UsageError(m.plan.id + ": sensor '" + name + "': HX01 thermocouples B to T, voltage or none");
      std::set<std::uint8_t> seen;
      const std::uint8_t channel = parse_channel(ch, VARNODE_HX01_CHANNELS, seen);
      const std::uint8_t sensor = known->code;
      check(hx01_set_sensor(mp.address, &channel, 1, &sensor, 1), "log: hx01 sensor " + m.plan.id, mp.address);
    }
    modules.push_back(std::move(m));
  }
  for (std::size_t i = 0; i < modules.size(); ++i)
    for (std::size_t k = 0; k < i; ++k)
      if (modules[i].plan.id == modules[k].plan.id) throw UsageError("module id '" + modules[i].plan.id + "' twice");
  return modules;
}

aq::ChannelHeader channel_header(const Module& m, const aq::Channel& c) {
  aq::ChannelHeader h{m.plan.id + "." + c.name(), m.plan.id, c.name(), aq::info(m.family).quantity, "",
                      aq::info(m.family).unit};
  if (c.kind == aq::Channel::Kind::reference) h.quantity = "reference";
  if (c.kind == aq::Channel::Kind::status) h.quantity = "status";
  if (m.family == aq::Family::HX01 && c.kind == aq::Channel::Kind::number) {
    const auto s = m.plan.sensors.find(c.name());
    const cat::Sensor* known = s == m.plan.sensors.end() ? nullptr : cat::find_sensor(cat::hx01_sensors, s->second);
    if (known != nullptr) {
      h.sensor = known->name;
      h.quantity = known->unit == "V" ? "voltage" : "temperature";
      h.unit = known->unit.empty() ? "K" : known->unit;
    }
  }
  return h;
}

aq::Header header_for(const Plan& plan, const std::vector<const Module*>& modules, std::int64_t start_us) {
  aq::Header h;
  h.start_us = start_us;
  h.tool = "varnode " VARNODE_TOOL_VERSION;
  h.library = library_version();
  h.streamed = plan.stream;
  h.interval = plan.interval;
  h.frequency = plan.frequency;
  h.samples = plan.samples;
  for (const Module* m : modules) {
    h.modules.push_back({m->plan.id, aq::info(m->family).name, aq::dotted(m->plan.address), m->identity.serial,
                         m->identity.name, m->identity.firmware});
    for (const aq::Channel& c : m->channels) h.channels.push_back(channel_header(*m, c));
  }
  return h;
}

// Waits for Ctrl-C or SIGTERM (blocked in every thread) while `done` is
// false, showing progress; sets `stopping` on a signal.
void wait_for_end(const std::function<bool()>& done, const std::function<std::string()>& progress_line,
                  const std::function<void()>& on_signal) {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  Progress progress;
  const timespec slice{0, 200'000'000};
  while (!done()) {
    if (sigtimedwait(&signals, nullptr, &slice) > 0 && !stopping.exchange(true)) on_signal();
    if (stopping) on_signal();
    progress.show(progress_line());
  }
  progress.end();
}

int run_polled(const Plan& plan, std::vector<Module>& modules, const std::string& output, aq::Encoding encoding,
               double rotate_seconds, std::uint64_t rotate_bytes) {
  std::vector<const Module*> all;
  for (const Module& m : modules) all.push_back(&m);
  // The schedule starts a little ahead, so the first deadline is not already late.
  const auto t0 = std::chrono::steady_clock::now() + std::chrono::milliseconds(20);
  const double t0_seconds = std::chrono::duration<double>(t0.time_since_epoch()).count();
  const std::int64_t start_us = aq::utc_now_us() + 20'000;
  const aq::Encoder encoder(encoding, header_for(plan, all, start_us));
  Sink sink(output, encoder, rotate_seconds, rotate_bytes);
  sink.open(start_us, 0);

  std::vector<std::size_t> first_column;  // per module, where its columns start
  std::size_t columns = 0;
  for (const Module& m : modules) first_column.push_back(std::exchange(columns, columns + m.channels.size()));
  const std::uint64_t last = plan.count > 0 ? plan.count
                             : plan.duration > 0 ? static_cast<std::uint64_t>(std::ceil(plan.duration / plan.interval))
                                                 : UINT64_MAX;

  std::mutex lock;
  std::condition_variable changed;
  std::map<std::uint64_t, Pending> pending;
  std::size_t finished_workers = 0;
  std::uint64_t rows = 0, missed_readings = 0, failed_readings = 0;
  std::optional<WriteError> write_error;

  const auto deposit = [&](std::size_t m, std::uint64_t index, const aq::Reading* reading, std::uint8_t code,
                           const aq::Stamp& at, const std::string& event) {
    Pending& p = pending[index];
    if (p.codes.empty()) {
      p.values.assign(columns, aq::Value{});
      p.codes.assign(modules.size(), aq::missed);
    }
    p.codes[m] = code;
    if (reading != nullptr)
      for (std::size_t c = 0; c < reading->values.size(); ++c) p.values[first_column[m] + c] = reading->values[c];
    if (code != aq::missed && at.seconds >= p.latest.seconds) p.latest = at;
    p.events += event;
    ++p.reported;
  };

  std::vector<std::thread> workers;
  for (std::size_t m = 0; m < modules.size(); ++m) {
    workers.emplace_back([&, m] {
      const Module& module = modules[m];
      bool lost = false;
      std::uint64_t index = 0;
      while (index < last && !stopping) {
        const auto deadline = t0 + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                       std::chrono::duration<double>(plan.interval * static_cast<double>(index)));
        {
          std::unique_lock<std::mutex> hold(lock);
          if (changed.wait_until(hold, deadline, [] { return stopping.load(); })) break;
        }
        const aq::Reading reading = aq::read(module.plan.address, module.family, module.channels);
        const aq::Stamp at{aq::utc_now_us(), aq::monotonic_seconds() - t0_seconds};
        std::string event;
        const bool silent = reading.code == VARNODE_TIMEOUT || reading.code == VARNODE_NETWORK;
        if (silent != lost) event = encoder.event(at, silent ? "lost" : "back", module.plan.id);
        lost = silent;
        // Intervals whose deadline passed during the call are missed, not shifted.
        const double now = at.seconds;
        std::uint64_t next = static_cast<std::uint64_t>(std::floor(now / plan.interval)) + 1;
        next = std::max(next, index + 1);
        std::lock_guard<std::mutex> hold(lock);
        deposit(m, index, &reading, reading.code, at, event);
        if (reading.code != 0) ++failed_readings;
        for (std::uint64_t skipped = index + 1; skipped < std::min(next, last); ++skipped) {
          deposit(m, skipped, nullptr, aq::missed, at, "");
          ++missed_readings;
        }
        index = next;
        changed.notify_all();
      }
      std::lock_guard<std::mutex> hold(lock);
      ++finished_workers;
      changed.notify_all();
    });
  }

  std::thread writer([&] {
    std::unique_lock<std::mutex> hold(lock);
    for (;;) {
      changed.wait(hold, [&] {
        return finished_workers == modules.size() ||
               (!pending.empty() && pending.begin()->second.reported == modules.size());
      });
      while (!pending.empty() && (pending.begin()->second.reported == modules.size() ||
                                  finished_workers == modules.size())) {
        auto node = pending.extract(pending.begin());
        const std::uint64_t index = node.key();
        Pending& p = node.mapped();
        if (p.reported < modules.size()) break;  // an interval some module never reached: the run ended first
        const bool served = std::any_of(p.codes.begin(), p.codes.end(), [](std::uint8_t c) { return c != aq::missed; });
        hold.unlock();
        try {
          if (!p.events.empty()) sink.put(p.events);
          if (served) sink.record(encoder.row(p.latest, static_cast<std::int64_t>(index), p.values, p.codes), p.latest);
        } catch (const WriteError& e) {
          hold.lock();
          write_error = e;
          stopping = true;
          changed.notify_all();
          return;
        }
        hold.lock();
        if (served) ++rows;
      }
      if (finished_workers == modules.size()) return;
    }
  });

  wait_for_end(
      [&] {
        std::lock_guard<std::mutex> hold(lock);
        return finished_workers == modules.size();
      },
      [&] {
        std::lock_guard<std::mutex> hold(lock);
        return "log: " + std::to_string(rows) + " rows, " + std::to_string(sink.total() / 1024) + " KiB, " +
               std::to_string(failed_readings) + " failed, " + std::to_string(missed_readings) + " missed";
      },
      [&] {
        std::lock_guard<std::mutex> hold(lock);
        changed.notify_all();
      });
  for (std::thread& w : workers) w.join();
  writer.join();
  if (write_error) {
    std::fprintf(stderr, "varnode: log: cannot write %s; what was written before stays\n", write_error->what.c_str());
    return 74;
  }
  const aq::Stamp end{aq::utc_now_us(), aq::monotonic_seconds() - t0_seconds};
  const std::pair<std::string, std::string> reason[] = {{"reason", stopping ? "signal" : "end"}};
  try {
    sink.put(encoder.event(end, "stop", "", reason));
  } catch (const WriteError& e) {
    std::fprintf(stderr, "varnode: log: cannot write %s; what was written before stays\n", e.what.c_str());
    return 74;
  }
  sink.close();
  return stopping ? 130 : 0;
}

// A short queue from one thread to another; the receiver drains what is
// left after the sender closes it.
template <class T>
class Handoff {
 public:
  explicit Handoff(std::size_t depth) : depth_(depth) {}
  // Waits while the queue is full.
  void push(T item) {
    std::unique_lock<std::mutex> hold(mutex_);
    room_.wait(hold, [&] { return queue_.size() < depth_; });
    queue_.push_back(std::move(item));
    ready_.notify_one();
  }
  // The next item, or nothing once the queue is closed and empty.
  std::optional<T> pop() {
    std::unique_lock<std::mutex> hold(mutex_);
    ready_.wait(hold, [&] { return !queue_.empty() || closed_; });
    if (queue_.empty()) return std::nullopt;
    T item = std::move(queue_.front());
    queue_.pop_front();
    room_.notify_one();
    return item;
  }
  void close() {
    std::lock_guard<std::mutex> hold(mutex_);
    closed_ = true;
    ready_.notify_all();
  }

 private:
  std::size_t depth_;
  std::mutex mutex_;
  std::condition_variable ready_, room_;
  std::deque<T> queue_;
  bool closed_ = false;
};

// A measured block on its way to the file.
struct Measured {
  aq::Stamp first;
  std::int64_t index = 0;
  std::optional<double> gap;
  aq::Block block;
  std::string event;  // "lost" or "back" before the block, or empty
};

// The measurement frequencies the library takes, as the help and errors say them.
std::string frequency_range() {
  return std::to_string(static_cast<int>(VARNODE_MEASURE_FREQUENCY_LOWEST)) + " to " +
         std::to_string(static_cast<int>(VARNODE_MEASURE_FREQUENCY_HIGHEST));
}

int run_streamed(const Plan& plan, std::vector<Module>& modules, const std::string& output, aq::Encoding encoding,
                 double rotate_seconds, std::uint64_t rotate_bytes) {
  const double t0 = aq::monotonic_seconds();
  const std::int64_t start_us = aq::utc_now_us();
  std::vector<std::unique_ptr<aq::Encoder>> encoders;
  std::vector<std::unique_ptr<Sink>> sinks;
  for (const Module& m : modules) {
    std::string path = output;
    if (modules.size() > 1 && path != "-") {
      const auto dot = path.rfind('.');
      path = dot == std::string::npos || (path.rfind('/') != std::string::npos && dot < path.rfind('/'))
                 ? path + "-" + m.plan.id
                 : path.substr(0, dot) + "-" + m.plan.id + path.substr(dot);
    }
    encoders.push_back(std::make_unique<aq::Encoder>(encoding, header_for(plan, {&m}, start_us)));
    sinks.push_back(std::make_unique<Sink>(path, *encoders.back(), rotate_seconds, rotate_bytes));
    sinks.back()->open(start_us, 0);
  }
  std::atomic<std::size_t> finished{0};
  std::atomic<std::uint64_t> samples_total{0}, blocks_total{0};
  std::mutex error_lock;
  std::optional<WriteError> write_error;
  std::vector<std::thread> workers;
  for (std::size_t i = 0; i < modules.size(); ++i) {
    workers.emplace_back([&, i] {
      const Module& m = modules[i];
      // Blocks are encoded and written by a thread of their own, so that the
      // next request goes out as soon as a block ends: the module samples
      // only while a request runs, and formatting a block's values here
      // would be a gap before every block. A slow disk still shows, as gaps,
      // once a few blocks wait.
      Handoff<Measured> handoff(4);
      std::thread writer([&] {
        bool failed = false;
        while (std::optional<Measured> w = handoff.pop()) {
          if (failed) continue;  // drained, so that the measuring side never waits on a dead writer
          std::string text;
          if (!w->event.empty()) text = encoders[i]->event(w->first, w->event, m.plan.id);
          text += encoders[i]->block(w->first, w->index, w->gap, w->block.values, w->block.code);
          try {
            sinks[i]->record(text, w->first);
          } catch (const WriteError& e) {
            std::lock_guard<std::mutex> hold(error_lock);
            write_error = e;
            stopping = true;
            failed = true;
          }
        }
      });
      std::int64_t index = 0;
      std::optional<double> previous_end;
      bool lost = false;
      for (std::uint64_t b = 0; (plan.count == 0 || b < plan.count) && !stopping; ++b) {
        if (plan.duration > 0 && aq::monotonic_seconds() - t0 >= plan.duration) break;
        const aq::Stamp first{aq::utc_now_us(), aq::monotonic_seconds() - t0};
        aq::Block block = aq::stream(m.plan.address, m.family, m.numbers, plan.samples,
                                           static_cast<float>(plan.frequency));
        const double end = aq::monotonic_seconds() - t0;
        if (stopping && block.code != 0) break;  // cut short by our own stop
        std::optional<double> gap;
        if (previous_end) gap = first.seconds - *previous_end;
        previous_end = end;
        const bool silent = block.code == VARNODE_TIMEOUT || block.code == VARNODE_NETWORK;
        const std::string event = silent != lost ? (silent ? "lost" : "back") : "";
        lost = silent;
        const std::uint8_t code = block.code;
        handoff.push(Measured{first, index, gap, std::move(block), event});
        if (code == 0) {
          index += static_cast<std::int64_t>(plan.samples);
          samples_total += plan.samples;
        } else if (code == VARNODE_RESERVED) {
          aq::stop(m.plan.address, m.family);  // a stream left running by an earlier block
        }
        ++blocks_total;
      }
      handoff.close();
      writer.join();
      ++finished;
    });
  }
  int stops = 0;
  wait_for_end([&] { return finished == modules.size(); },
               [&] {
                 return "log: " + std::to_string(blocks_total) + " blocks, " + std::to_string(samples_total) +
                        " samples";
               },
               [&] {
                 // A stop may overtake the request it is meant to end: sent again each second.
                 if (stops++ % 5 == 0)
                   for (const Module& m : modules) aq::stop(m.plan.address, m.family);
               });
  for (std::thread& w : workers) w.join();
  if (write_error) {
    std::fprintf(stderr, "varnode: log: cannot write %s; what was written before stays\n", write_error->what.c_str());
    return 74;
  }
  const aq::Stamp end{aq::utc_now_us(), aq::monotonic_seconds() - t0};
  const std::pair<std::string, std::string> reason[] = {{"reason", stopping ? "signal" : "end"}};
  for (std::size_t i = 0; i < sinks.size(); ++i) {
    try {
      sinks[i]->put(encoders[i]->event(end, "stop", modules[i].plan.id, reason));
    } catch (const WriteError& e) {
      std::fprintf(stderr, "varnode: log: cannot write %s; what was written before stays\n", e.what.c_str());
      return 74;
    }
    sinks[i]->close();
  }
  return stopping ? 130 : 0;
}

struct Options {
  std::vector<std::string> specs;
  std::string plan_file;
  Plan plan;
  std::string format, output, rotate;
  double interval = 0, duration = 0, frequency = 0;
  std::uint64_t count = 0;
  std::uint32_t samples = 0;
  bool stream = false;
};

int run(const Context& c, Options& o) {
  Plan plan;
  if (!o.plan_file.empty()) read_plan(o.plan_file, plan);
  for (const std::string& argument : o.specs) plan.modules.push_back(parse_channels(argument));
  if (plan.modules.empty()) throw UsageError("log: name channels (ADDRESS:CH,CH) or a plan (--plan FILE)");
  if (o.interval > 0) plan.interval = o.interval;
  if (o.count > 0) plan.count = o.count;
  if (o.duration > 0) plan.duration = o.duration;
  if (o.stream) plan.stream = true;
  if (o.frequency > 0) plan.frequency = o.frequency;
  if (o.samples > 0) plan.samples = o.samples;
  if (!o.format.empty()) plan.format = o.format;
  if (!o.output.empty()) plan.output = o.output;
  if (!o.rotate.empty()) plan.rotate = o.rotate;
  const auto encoding = aq::encoding_named(plan.format);
  if (!encoding) throw UsageError("--format '" + plan.format + "': csv, jsonl or influx");
  if (!(plan.interval >= 0.001 && plan.interval <= 86400)) throw UsageError("--interval: 0.001 to 86400 seconds");
  // Refused here, before prepare() asks any module for its identity.
  if (plan.stream &&
      !(plan.frequency >= VARNODE_MEASURE_FREQUENCY_LOWEST && plan.frequency <= VARNODE_MEASURE_FREQUENCY_HIGHEST))
    throw UsageError("--frequency: " + frequency_range() + " Hz for a stream");
  if (plan.stream && (plan.samples < 2 || plan.samples > VARNODE_SAMPLE_LIMIT))
    throw UsageError("--samples: 2 to " + std::to_string(VARNODE_SAMPLE_LIMIT) + " per block");
  double rotate_seconds = 0;
  std::uint64_t rotate_bytes = 0;
  parse_rotate(plan.rotate, rotate_seconds, rotate_bytes);
  if (c.timeout_ms > 0)
    for (ModulePlan& m : plan.modules)
      if (m.timeout_ms == 0) m.timeout_ms = c.timeout_ms;
  for (ModulePlan& m : plan.modules)
    if (m.timeout_ms > 65535) throw UsageError("timeout: 1 to 65535 ms");
  if (plan.output.empty()) {
    std::string stamp = aq::iso_utc(aq::utc_now_us()).substr(0, 19) + "Z";
    std::erase(stamp, '-');
    std::erase(stamp, ':');
    plan.output = "varnode-log-" + stamp + "." + (plan.format == "influx" ? "lp" : plan.format);
  }

  // Blocked before any thread starts, so that every thread inherits the mask
  // and the signals wait for the main thread.
  sigset_t signals, previous;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, &previous);
  std::vector<Module> modules = prepare(plan);
  try {
    const int status = plan.stream ? run_streamed(plan, modules, plan.output, *encoding, rotate_seconds, rotate_bytes)
                                   : run_polled(plan, modules, plan.output, *encoding, rotate_seconds, rotate_bytes);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return status;
  } catch (const WriteError& e) {
    std::fprintf(stderr, "varnode: log: cannot write %s\n", e.what.c_str());
    return 74;
  }
}

}  // namespace

void add_log_command(CLI::App& app, Context& context) {
  auto o = std::make_shared<Options>();
  auto* log = app.add_subcommand("log", "record channels of modules into a file, row by row or block by block");
  log->add_option("channels", o->specs, "ADDRESS:CH,CH,... per module (CH: a number, reference, status.ITEM)");
  log->add_option("--plan", o->plan_file, "a JSON plan: modules, channels, interval, ... (docs/tools/log.md)");
  log->add_option("-i,--interval", o->interval, "seconds between rows (default 1)");
  log->add_option("-n,--count", o->count, "stop after this many rows (blocks when streaming)");
  log->add_option("-d,--duration", o->duration, "stop after this many seconds");
  log->add_flag("--stream", o->stream, "stream RA01/RE01 channels in blocks instead of polling");
  log->add_option("-f,--frequency", o->frequency, "streamed: samples per second, " + frequency_range() + " (default 1000)");
  log->add_option("-s,--samples", o->samples, "streamed: samples per block (default 1000)");
  log->add_option("--format", o->format, "csv (default), jsonl or influx");
  log->add_option("-o,--output", o->output, "the file, '-' for standard output (default varnode-log-TIME.csv)");
  log->add_option("--rotate", o->rotate, "start a new file after a time (30m, 1h) or a size (10M)");
  log->footer(format_help);
  log->callback([&context, o] {
    const int status = run(context, *o);
    if (status == 130) throw Interrupted{};
    if (status != 0) std::exit(status);
  });
}

}  // namespace varnode::cli
