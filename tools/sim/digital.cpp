// KL01/KL02 digital I/O, KS01/KS02 digital outputs and the WE01 voltage
// output: modules whose state is what was last written.
#include <array>
#include <limits>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "kinds.hpp"
#include "signal.hpp"

namespace varnode::sim {
namespace {

// A set direction bit makes the channel an output. Writing to an input is
// refused, as the module's configuration forbids it.
class DigitalIO final : public Module {
 public:
  DigitalIO(Common common, const nlohmann::json& settings)
      : Module(std::move(common)),
        power_on_directions_(byte_setting(settings, "directions", 0x0F)),
        inputs_(byte_setting(settings, "inputs", 0xA0)) {}

  std::string describe() const override {
    char text[64];
    std::snprintf(text, sizeof text, "outputs %02X, inputs read %02X", power_on_directions_, inputs_);
    return text;
  }

 protected:
  std::optional<Reply> command(const Request& request, Time) override {
    if (request.code >> 8 != family()) return std::nullopt;
    const Bytes& p = request.payload;
    const std::uint16_t base = static_cast<std::uint16_t>(family() << 8);
    switch (request.code & 0xFF) {
      case 0x00:
        if (p.size() != 2) return failure();
        directions_ = static_cast<std::uint8_t>((directions_ & ~p[0]) | (p[1] & p[0]));
        return acknowledge();
      case 0x01: {
        if (p.size() != 1) return failure();
        const auto levels = static_cast<std::uint8_t>((latch_ & directions_) | (inputs_ & ~directions_));
        return Reply{static_cast<std::uint16_t>(base | 0x04), Bytes{static_cast<std::uint8_t>(levels & p[0])}};
      }
      case 0x02:
        if (p.size() != 2) return failure();
        if ((p[0] & ~directions_) != 0) return Reply{static_cast<std::uint16_t>(base | 0x03), {}};
        latch_ = static_cast<std::uint8_t>((latch_ & ~p[0]) | (p[1] & p[0]));
        return acknowledge();
      default:
        return std::nullopt;
    }
  }

  void restart(Time) override {
    directions_ = power_on_directions_;
    latch_ = 0;
  }

  std::optional<std::uint16_t> refusal_code(Refusal refusal) const override {
    if (refusal != Refusal::configuration) return std::nullopt;
    return static_cast<std::uint16_t>(family() << 8 | 0x03);
  }

 private:
  std::uint8_t power_on_directions_;
  std::uint8_t inputs_;
  std::uint8_t directions_ = 0;
  std::uint8_t latch_ = 0;
};

// KS01 also measures the current each output drives into its load.
class DigitalOutput final : public Module {
 public:
  DigitalOutput(Common common, const nlohmann::json& settings) : Module(std::move(common)) {
    for (unsigned channel = 1; channel <= 8; ++channel) loads_[channel - 1] = Signal::constant(0.1 * channel);
    for_each_channel(settings, "loads", 8, [&](unsigned channel, const nlohmann::json& value) {
      loads_[channel - 1] = Signal::from_json(value);
    });
  }

 protected:
  std::optional<Reply> command(const Request& request, Time now) override {
    if (request.code >> 8 != family()) return std::nullopt;
    const Bytes& p = request.payload;
    switch (request.code & 0xFF) {
      case 0x00:
        if (p.size() != 2) return failure();
        state_ = static_cast<std::uint8_t>((state_ & ~p[0]) | (p[1] & p[0]));
        return acknowledge();
      case 0x01: {
        if (kind() != Kind::KS01) return std::nullopt;
        if (p.size() != 1) return failure();
        Bytes values;
        for (unsigned channel = 1; channel <= 8; ++channel) {
          const unsigned bit = 1u << (channel - 1);
          if ((p[0] & bit) == 0) continue;
          const bool on = (state_ & bit) != 0;
          wire::put_f32(values, on ? static_cast<float>(loads_[channel - 1].at(seconds(now))) : 0.0f);
        }
        return Reply{0x0102, values};
      }
      default:
        return std::nullopt;
    }
  }

  void restart(Time) override { state_ = 0; }

  void add_status(std::vector<StatusItem>& items, Time now) const override {
    Module::add_status(items, now);
    constexpr float none = std::numeric_limits<float>::quiet_NaN();
    items.push_back({"outputs", "", "outputs switched on, one bit per channel", 0, none, none,
                     static_cast<float>(state_)});
  }

 private:
  std::array<Signal, 8> loads_;
  std::uint8_t state_ = 0;
};

class AnalogOutput final : public Module {
 public:
  AnalogOutput(Common common, const nlohmann::json& settings)
      : Module(std::move(common)),
        lowest_(settings.value("lowest", -10.0f)),
        highest_(settings.value("highest", 10.0f)) {}

 protected:
  std::optional<Reply> command(const Request& request, Time) override {
    if (request.code != 0x0800) return std::nullopt;
    const Bytes& p = request.payload;
    if (p.empty() || p.size() != 1 + 4 * bit_count(p[0])) return failure();
    std::size_t at = 1;
    for (unsigned channel = 1; channel <= 8; ++channel) {
      if ((p[0] & (1u << (channel - 1))) == 0) continue;
      outputs_[channel - 1] = wire::get_f32(p.data() + at);
      at += 4;
    }
    return acknowledge();
  }

  void restart(Time) override { outputs_.fill(0); }

  // The outputs read back as status items, out of range beyond what the
  // module can drive.
  void add_status(std::vector<StatusItem>& items, Time now) const override {
    Module::add_status(items, now);
    for (unsigned channel = 1; channel <= 8; ++channel) {
      items.push_back({"output " + std::to_string(channel), "V", "voltage set on channel " + std::to_string(channel),
                       0, lowest_, highest_, outputs_[channel - 1]});
    }
  }

 private:
  float lowest_;
  float highest_;
  std::array<float, 8> outputs_{};
};

}  // namespace

std::unique_ptr<Module> make_digital_io(Common common, const nlohmann::json& settings) {
  return std::make_unique<DigitalIO>(std::move(common), settings);
}
std::unique_ptr<Module> make_digital_output(Common common, const nlohmann::json& settings) {
  return std::make_unique<DigitalOutput>(std::move(common), settings);
}
std::unique_ptr<Module> make_analog_output(Common common, const nlohmann::json& settings) {
  return std::make_unique<AnalogOutput>(std::move(common), settings);
}

}  // namespace varnode::sim
