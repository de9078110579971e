#pragma once
// HX02: four channels of platinum, diode or PTC sensors.

#include <cstdint>
#include <limits>

#include "device/device.hpp"
#include "device/channels.hpp"

namespace varnode {

class HX02 {
 public:
  // Only Configuration is ever raised here (a refused measurement); the
  // other kinds exist for the result-code table.
  struct Exception : Device::Exception {
    struct Aborted;
    struct Configuration;
    struct Reserved;
  };

  // One channel's configuration. Sensor codes: 0 none, 1 a plain voltage
  // input, 2 a platinum resistance thermometer, 3 and 4 silicon diode
  // curves, 5 to 10 PTC resistance sensors. A NaN current or range leaves
  // the choice to the library, which makes it from the code when sending.
  class Sensor {
   public:
    static constexpr std::uint8_t highest_code = 10;
    // Bytes of one configuration on the wire: code, range, current, nominal.
    static constexpr std::size_t wire_size = 13;

    // The tables are built by the first use that needs them, not here.
    Sensor() = default;

    std::uint8_t code() const { return code_; }
    float current() const { return current_; }
    float nominal() const { return nominal_; }
    float range() const { return range_; }

    // Each refuses a value outside its set with Device::Exception::Parameter:
    // a code up to 10; a current of exactly 0, 0.00001 or 0.001 A, or NaN;
    // a nominal resistance from 1 to 1000 ohms; a range of exactly 0.5, 1,
    // 2.5 or 5 V, or NaN.
    void set_code(std::uint8_t code);
    void set_current(float amperes);
    void set_nominal(float ohms);
    void set_range(float volts);

    // Appends the configuration as it is sent, an open current or range
    // filled in. An explicit current of 0 for a sensor that needs one is
    // refused with Device::Exception::Parameter.
    void append_completed(Bytes& out) const;
    // A configuration as the module reports it; any value outside its set
    // fails with Device::Exception::Failed.
    static Sensor reported(const std::uint8_t* data);

    // The reading in kelvin (volts for a voltage input). A reading off the
    // sensor's table gives the infinity on that side; no sensor, no
    // current, an open range or current, or a NaN temperature fails with
    // Device::Exception::Failed.
    float convert(float reading) const;

   private:
    std::uint8_t code_ = 0;
    float current_ = std::numeric_limits<float>::quiet_NaN();
    float nominal_ = 100.0f;
    float range_ = std::numeric_limits<float>::quiet_NaN();
  };

  static constexpr Channel channel_count = 4;

  explicit HX02(const Device& device) : device_(device) {}

  // One value per requested channel, converted with the configuration the
  // module reports for it.
  ChannelMap<float> measure(const ChannelSet& channels) const;
  void set_sensor(const ChannelMap<Sensor>& sensors) const;
  void set_frequency(std::uint16_t frequency) const;

 private:
  Device device_;
};

struct HX02::Exception::Aborted : HX02::Exception {};
struct HX02::Exception::Configuration : HX02::Exception {};
struct HX02::Exception::Reserved : HX02::Exception {};

}  // namespace varnode
