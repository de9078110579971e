// The identity export: every field of a module's identity, each through its
// own output.
#include <algorithm>
#include <utility>

#include "api/frame.hpp"
#include "device/info.hpp"

using namespace varnode;

extern "C" {

VARNODE_API uint8_t get_info(uint32_t address, char* text_1, uint32_t* text_1_size, char* text_2,
                             uint32_t* text_2_size, char* text_3, uint32_t* text_3_size, uint32_t* serial_number,
                             char* text_5, uint32_t* text_5_size, char* text_6, uint32_t* text_6_size,
                             uint32_t* number_8, uint32_t* number_9, char* text_7, uint32_t* text_7_size,
                             char* text_10, uint32_t* text_10_size, uint32_t* date_11, uint32_t* date_12,
                             uint32_t* date_13, uint32_t* number_14, uint32_t* number_15, uint32_t* number_16,
                             uint8_t* mac_address, uint32_t* ip_address, uint32_t* address_19,
                             uint32_t* address_20, uint8_t* flag_23, char* text_21, uint32_t* text_21_size,
                             char* text_22, uint32_t* text_22_size, char* text_24, uint32_t* text_24_size,
                             char* text_25, uint32_t* text_25_size) {
  return api::guarded([&] {
    for (const auto& [buffer, size] : {std::pair{text_1, text_1_size}, {text_2, text_2_size}, {text_3, text_3_size},
                                       {text_5, text_5_size}, {text_6, text_6_size}, {text_7, text_7_size},
                                       {text_10, text_10_size}, {text_21, text_21_size}, {text_22, text_22_size},
                                       {text_24, text_24_size}, {text_25, text_25_size}})
      api::require_text(buffer, size);
    for (const void* number : {serial_number, number_8, number_9, date_11, date_12, date_13, number_14, number_15,
                               number_16, ip_address, address_19, address_20})
      api::require_pointer(number);
    api::require_pointer(mac_address);
    api::require_pointer(flag_23);
    const Device::Info info = Device(IP::Address(address)).get_info();
    api::write_text(info.text_1, text_1, text_1_size);
    api::write_text(info.text_2, text_2, text_2_size);
    api::write_text(info.text_3, text_3, text_3_size);
    api::write_text(info.text_5, text_5, text_5_size);
    api::write_text(info.text_6, text_6, text_6_size);
    api::write_text(info.text_7, text_7, text_7_size);
    api::write_text(info.text_10, text_10, text_10_size);
    api::write_text(info.text_21, text_21, text_21_size);
    api::write_text(info.text_22, text_22, text_22_size);
    api::write_text(info.text_24, text_24, text_24_size);
    api::write_text(info.text_25, text_25, text_25_size);
    *serial_number = info.serial_number;
    *number_8 = info.number_8;
    *number_9 = info.number_9;
    *number_14 = info.number_14;
    *number_15 = info.number_15;
    *number_16 = info.number_16;
    *date_11 = info.date_11.days();
    *date_12 = info.date_12.days();
    *date_13 = info.date_13.days();
    *ip_address = info.ip_address.host_value();
    *address_19 = info.address_19.host_value();
    *address_20 = info.address_20.host_value();
    *flag_23 = info.flag_23;
    std::ranges::copy(info.mac_address, mac_address);
  });
}

}  // extern "C"
