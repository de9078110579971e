// RA01/RE01: eight analog inputs that answer a measurement with a paced
// stream of data chunks, each placed by its byte offset.
#include <array>
#include <cmath>
#include <limits>

#include <nlohmann/json.hpp>

#include "kinds.hpp"
#include "signal.hpp"

namespace varnode::sim {
namespace {

constexpr std::size_t chunk_bytes = 1400;
constexpr std::uint32_t most_samples = 1'000'000;
constexpr unsigned chunks_per_pump = 64;

class AnalogInput final : public Module {
 public:
  AnalogInput(Common common, const nlohmann::json& settings)
      : Module(std::move(common)), power_on_frequency_(settings.value("frequency", std::uint16_t{3000})) {
    if (!accepted_frequency(power_on_frequency_)) throw std::invalid_argument("frequency: not an accepted setting");
    const bool current = kind() == Kind::RA01;
    for (unsigned c = 1; c <= 8; ++c) {
      // Current loops of 4-20 mA, or voltages of +-10 V, each a little different.
      signals_[c - 1] = current ? Signal::constant(0.004 + 0.002 * c) : Signal::constant(0.5 * c);
    }
    signals_[0] = current ? Signal::sine(0.012, 0.008, 1) : Signal::sine(0, 5, 10);
    signals_[1] = current ? Signal::ramp(0.004, 0.020, 2) : Signal::ramp(-10, 10, 1);
    signals_[2] = current ? Signal::noise(0.012, 0.0002, common_seed()) : Signal::noise(2.5, 0.01, common_seed());
    for_each_channel(settings, "channels", 8, [&](unsigned channel, const nlohmann::json& value) {
      signals_[channel - 1] = Signal::from_json(value);
    });
  }

  std::string describe() const override {
    return "1: " + signals_[0].describe() + "; 2: " + signals_[1].describe() + "; 3: " + signals_[2].describe();
  }

 protected:
  std::optional<Reply> command(const Request& request, Time now) override {
    if (request.code >> 8 != family()) return std::nullopt;
    const Bytes& p = request.payload;
    switch (request.code & 0xFF) {
      case 0x08:
        return set_frequency(p, frequency_);
      case 0x04:
        if (!p.empty()) return failure();
        measurement_.reset();
        return acknowledge();
      case 0x00:
        return start(request, now);
      default:
        return std::nullopt;
    }
  }

  void restart(Time) override {
    frequency_ = power_on_frequency_;
    measurement_.reset();
  }

  std::optional<std::uint16_t> refusal_code(Refusal refusal) const override {
    const std::uint16_t low = refusal == Refusal::reserved ? 0x02 : refusal == Refusal::configuration ? 0x03 : 0x05;
    return static_cast<std::uint16_t>(family() << 8 | low);
  }

  void add_status(std::vector<StatusItem>& items, Time now) const override {
    Module::add_status(items, now);
    constexpr float none = std::numeric_limits<float>::quiet_NaN();
    items.push_back({"frequency", "Hz", "converter frequency setting", 0, none, none, static_cast<float>(frequency_)});
    items.push_back({"measuring", "", "1 while a measurement streams", 0, none, none, measurement_ ? 1.0f : 0.0f});
  }

  std::optional<Time> stream(Time now) override {
    for (unsigned sent = 0; measurement_ && sent < chunks_per_pump; ++sent) {
      Measurement& m = *measurement_;
      const Time due = m.due(m.offset + std::min(chunk_bytes, m.total - m.offset));
      if (due > now) return due;
      send_chunk(m, due);
    }
    return measurement_ ? std::optional<Time>(now) : std::nullopt;
  }

 private:
  struct Measurement {
    Endpoint to;
    std::uint32_t id = 0;
    std::vector<unsigned> channels;  // ascending
    std::uint32_t samples = 0;
    float frequency = 0;
    double speed = 1;
    Time start{};
    double start_seconds = 0;  // on the module's time base
    std::size_t total = 0;
    std::size_t offset = 0;
    unsigned chunk = 0;
    FaultPlan plan;

    // A chunk leaves once the last sample it carries has been taken.
    Time due(std::size_t end) const {
      if (samples <= 1 || !(frequency > 0)) return start;
      const std::size_t sample = (end - 1) / (4 * channels.size());
      const double s = static_cast<double>(sample + 1) / frequency / speed;
      return start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(s));
    }
  };

  std::uint32_t common_seed() const { return common().seed * 8 + 3; }

  Reply start(const Request& request, Time now) {
    const Bytes& p = request.payload;
    const std::uint16_t base = static_cast<std::uint16_t>(family() << 8);
    const Reply configuration{static_cast<std::uint16_t>(base | 0x03), {}};
    if (p.size() != 9) return failure();
    if (measurement_) return Reply{static_cast<std::uint16_t>(base | 0x02), {}};
    const std::uint32_t samples = wire::get_u32(p.data() + 1);
    const float frequency = wire::get_f32(p.data() + 5);
    // The converter cannot sample faster than its frequency setting.
    if (p[0] == 0 || samples == 0 || samples > most_samples) return configuration;
    if (samples > 1 && !(frequency > 0 && frequency <= frequency_)) return configuration;
    Measurement m;
    m.to = request.from;
    m.id = request.transaction_id;
    for (unsigned c = 1; c <= 8; ++c) {
      if ((p[0] & (1u << (c - 1))) != 0) m.channels.push_back(c);
    }
    m.samples = samples;
    m.frequency = frequency;
    m.speed = common().stream_speed > 0 ? common().stream_speed : 1;
    m.start = now;
    m.start_seconds = seconds(now);
    m.total = m.channels.size() * samples * 4;
    m.plan = plan();
    measurement_ = std::move(m);
    return silence();
  }

  void send_chunk(Measurement& m, Time due) {
    const std::uint16_t base = static_cast<std::uint16_t>(family() << 8);
    if (const FaultRule* silent = m.plan.find(FaultRule::Kind::silent); silent && m.chunk >= silent->chunks) {
      measurement_.reset();
      return;
    }
    if (const FaultRule* abort = m.plan.find(FaultRule::Kind::abort); abort && m.chunk >= abort->chunks) {
      deliver(m.plan, m.to, m.id, static_cast<std::uint16_t>(base | 0x05), {}, due);
      measurement_.reset();
      return;
    }
    const std::size_t length = std::min(chunk_bytes, m.total - m.offset);
    Bytes payload;
    payload.reserve(4 + length);
    wire::put_u32(payload, static_cast<std::uint32_t>(m.offset));
    const std::size_t n = m.channels.size();
    for (std::size_t value = m.offset / 4; value < (m.offset + length) / 4; ++value) {
      const std::size_t sample = value / n;
      const double t = m.start_seconds + (m.samples > 1 ? static_cast<double>(sample) / m.frequency : 0);
      wire::put_f32(payload, static_cast<float>(signals_[m.channels[value % n] - 1].at(t)));
    }
    const FaultPlan plan = m.plan;
    const Endpoint to = m.to;
    const std::uint32_t id = m.id;
    m.offset += length;
    ++m.chunk;
    if (m.offset >= m.total) measurement_.reset();
    deliver(plan, to, id, static_cast<std::uint16_t>(base | 0x01), payload, due);
  }

  std::uint16_t power_on_frequency_;
  std::uint16_t frequency_ = 3000;
  std::array<Signal, 8> signals_;
  std::optional<Measurement> measurement_;
};

}  // namespace

std::unique_ptr<Module> make_analog_input(Common common, const nlohmann::json& settings) {
  return std::make_unique<AnalogInput>(std::move(common), settings);
}

}  // namespace varnode::sim
