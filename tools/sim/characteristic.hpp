#pragma once
// What a sensor reports at a given temperature: the inverse of what the
// library converts. The simulator asks only this interface, so the source
// of the curves can change without touching the modules.

#include <cstdint>
#include <string_view>

namespace varnode::sim {

class Characteristic {
 public:
  virtual ~Characteristic() = default;
  // Thermoelectric voltage in volts of thermocouple `code` (2-14) at
  // `kelvin`, against a reference junction at 273.15 K.
  virtual double thermocouple_volts(std::uint8_t code, double kelvin) const = 0;
  // The table input of HX02 sensor `code` (2-10) at `kelvin`: resistance
  // ratio R/R0 for platinum, forward voltage for the diodes, ohms for PTC.
  virtual double sensor_x(std::uint8_t code, double kelvin) const = 0;
  virtual std::string_view source() const = 0;
};

// The characteristic the rack shows: the simulator's own curves through the
// rows of data/sensors, independent of the library's generated tables and
// splines, so that a fault in those shows in the integration tests.
const Characteristic& characteristic();

// Resistance ratio R/R0 of a platinum element at `kelvin`, by the formula
// the library's platinum and cold-junction tables are computed from.
double platinum_ratio(double kelvin);

}  // namespace varnode::sim
