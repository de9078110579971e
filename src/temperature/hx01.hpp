#pragma once
// HX01: eight thermocouple channels with a cold-junction sensor.

#include <cstdint>

#include "device/device.hpp"
#include "device/channels.hpp"

namespace varnode {

class HX01 {
 public:
  // Only Configuration is ever raised here (a refused measurement); the
  // other kinds exist for the result-code table.
  struct Exception : Device::Exception {
    struct Aborted;
    struct Configuration;
    struct Reserved;
  };

  // One channel's sensor code: 0 none, 1 a plain voltage input, 2 to 14 the
  // thermocouple types B, C, D, E, G, J, K, M, N, P, R, S and T.
  class Sensor {
   public:
    static constexpr std::uint8_t highest_code = 14;

    // The thermocouple tables are built by the first conversion, not here,
    // so that setting sensors sends its few bytes without building them.
    Sensor() = default;
    explicit Sensor(std::uint8_t code) { set_code(code); }

    std::uint8_t code() const { return code_; }
    // Refuses a code above 14 with Device::Exception::Parameter.
    void set_code(std::uint8_t code);

    // The channel's value from its measured voltage and the cold-junction
    // temperature in kelvin: a compensated temperature in kelvin, or for a
    // voltage input the voltage itself. A voltage off the thermocouple's
    // table gives the infinity on that side; no sensor, a cold junction
    // outside the table, or a NaN temperature fails with Device::Exception::Failed.
    float convert(float voltage, float cold_junction) const;

   private:
    std::uint8_t code_ = 0;
  };

  static constexpr Channel channel_count = 8;

  explicit HX01(const Device& device) : device_(device) {}

  // One value per requested channel, converted with the sensor code the
  // module reports for it (whatever was set last).
  ChannelMap<float> measure(const ChannelSet& channels) const;
  void set_sensor(const ChannelMap<Sensor>& sensors) const;
  void set_frequency(std::uint16_t frequency) const;

 private:
  Device device_;
};

struct HX01::Exception::Aborted : HX01::Exception {};
struct HX01::Exception::Configuration : HX01::Exception {};
struct HX01::Exception::Reserved : HX01::Exception {};

}  // namespace varnode
