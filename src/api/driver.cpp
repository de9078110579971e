#include "api/frame.hpp"

using namespace varnode;

extern "C" {

VARNODE_API uint8_t get_driver(char* vendor, uint32_t* vendor_size, char* version, uint32_t* version_size,
                               uint32_t* build) {
  return api::guarded([&] {
    api::require_text(vendor, vendor_size);
    api::require_text(version, version_size);
    api::require_pointer(build);
    api::write_text("Tervane", vendor, vendor_size);
    api::write_text("2.5.0", version, version_size);
    *build = 739110;  // 2023-08-13 as days since 0000-01-01
  });
}

}  // extern "C"
