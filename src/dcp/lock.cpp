#include "dcp/lock.hpp"

namespace varnode::DCP {

std::mutex& library_mutex() {
  // Never destroyed, so that a call still running while the process exits
  // finds it intact.
  static std::mutex* mutex = new std::mutex;
  return *mutex;
}

}  // namespace varnode::DCP
