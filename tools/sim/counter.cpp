// QU01: four counters fed by pulse trains of fixed rates. A count is kept
// as a base plus the pulses since the last change, so reading costs nothing
// and counts grow with time as on the real thing.
#include <array>
#include <cmath>
#include <cstdio>
#include <limits>

#include <nlohmann/json.hpp>

#include "kinds.hpp"

namespace varnode::sim {
namespace {

class Counter final : public Module {
 public:
  Counter(Common common, const nlohmann::json& settings) : Module(std::move(common)) {
    rates_ = {1, 10, 100, 1000};
    for_each_channel(settings, "rates", 4, [&](unsigned channel, const nlohmann::json& value) {
      rates_[channel - 1] = value.get<double>();
    });
  }

  std::string describe() const override {
    char text[96];
    std::snprintf(text, sizeof text, "pulses %g, %g, %g, %g Hz", rates_[0], rates_[1], rates_[2], rates_[3]);
    return text;
  }

 protected:
  std::optional<Reply> command(const Request& request, Time now) override {
    if (request.code >> 8 != 0x07) return std::nullopt;
    const Bytes& p = request.payload;
    const auto op = request.code & 0xFF;
    if (op > 0x05 || op == 0x03) return std::nullopt;
    if (p.empty() || (p[0] & 0xF0) != 0) return failure();
    const std::uint8_t mask = p[0];
    if (op == 0x05) {
      if (p.size() != 1 + bit_count(mask)) return failure();
      for (std::size_t i = 1; i < p.size(); ++i) {
        if (p[i] > 3) return failure();
      }
    } else if (p.size() != 1) {
      return failure();
    }
    Bytes out;
    if (op == 0x02) put_u64(out, reference(now));
    std::size_t mode_at = 1;
    for (unsigned channel = 1; channel <= 4; ++channel) {
      if ((mask & (1u << (channel - 1))) == 0) continue;
      Channel& c = channels_[channel - 1];
      settle(c, channel, now);
      switch (op) {
        case 0x00:
          c.enabled = false;
          break;
        case 0x01:
          c.enabled = true;
          break;
        case 0x02:
          put_u64(out, static_cast<std::uint64_t>(c.count));
          break;
        case 0x04:
          c.count = 0;
          break;
        case 0x05:
          c.mode = p[mode_at++];
          break;
      }
    }
    if (op == 0x02) return Reply{0x0703, out};
    return acknowledge();
  }

  void restart(Time now) override {
    channels_ = {};
    started_ = now;
    for (Channel& c : channels_) c.since = now;
  }

 private:
  struct Channel {
    bool enabled = false;
    std::uint8_t mode = 0;  // 0 rising edges, 1 falling edges, 2 both edges, 3 counting down
    std::int64_t count = 0;
    Time since{};
  };

  static void put_u64(Bytes& out, std::uint64_t v) {
    wire::put_u32(out, static_cast<std::uint32_t>(v >> 32));
    wire::put_u32(out, static_cast<std::uint32_t>(v));
  }

  // Microseconds since power-on: the time base the counts were taken at.
  std::uint64_t reference(Time now) const {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(now - started_).count());
  }

  // Adds the pulses since the channel last changed.
  void settle(Channel& c, unsigned channel, Time now) const {
    if (c.enabled) {
      const double elapsed = std::chrono::duration<double>(now - c.since).count();
      const auto pulses = static_cast<std::int64_t>(std::floor(rates_[channel - 1] * elapsed));
      const std::int64_t step = c.mode == 2 ? 2 : c.mode == 3 ? -1 : 1;
      // Only whole pulses move the count; the remainder stays in `since`.
      c.count += step * pulses;
      if (rates_[channel - 1] > 0) {
        c.since += std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(static_cast<double>(pulses) / rates_[channel - 1]));
      } else {
        c.since = now;
      }
    } else {
      c.since = now;
    }
  }

  std::array<double, 4> rates_{};
  std::array<Channel, 4> channels_{};
  Time started_{};
};

}  // namespace

std::unique_ptr<Module> make_counter(Common common, const nlohmann::json& settings) {
  return std::make_unique<Counter>(std::move(common), settings);
}

}  // namespace varnode::sim
