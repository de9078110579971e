#include <chrono>
#include <thread>

#include "net/clock.hpp"

namespace varnode {

// Steady rather than wall time: a wall-clock step would stretch or cut every
// time-out in flight.
std::uint64_t current_milliseconds() {
  using namespace std::chrono;
  return static_cast<std::uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void pause_millisecond() { std::this_thread::sleep_for(std::chrono::milliseconds(1)); }

}  // namespace varnode
