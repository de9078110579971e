#pragma once
// The CSV files of data/sensors, compiled in as text by the build (see
// CMakeLists.txt), so that the simulator runs from any folder.

#include <span>
#include <string_view>

namespace varnode::sim {

struct SensorFile {
  std::string_view name;  // without .csv
  std::string_view text;
};

extern const std::span<const SensorFile> sensor_files;

}  // namespace varnode::sim
