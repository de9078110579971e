// The status export: the items as three tab-separated text lists and four
// number arrays in name order, and the overall in-range flag.
#include <algorithm>
#include <utility>

#include "api/frame.hpp"
#include "device/status.hpp"

using namespace varnode;

extern "C" {

VARNODE_API uint8_t get_status(uint32_t address, char* names, uint32_t* names_size, char* texts_2,
                               uint32_t* texts_2_size, char* texts_3, uint32_t* texts_3_size, float* numbers_4,
                               float* lower_limits, float* upper_limits, float* values, uint32_t* size,
                               uint8_t* ok) {
  return api::guarded([&] {
    api::require_text(names, names_size);
    api::require_text(texts_2, texts_2_size);
    api::require_text(texts_3, texts_3_size);
    api::require_pointer(size);
    for (const float* array : {numbers_4, lower_limits, upper_limits, values}) api::require_entries(array, *size);
    api::require_pointer(ok);
    const Device::Status status = Device(IP::Address(address)).get_status();
    // The text lists always hold every item; only the arrays are bounded by
    // the caller's count.
    Bytes name_list, text_2_list, text_3_list;
    bool first = true;
    for (const auto& [name, item] : status.items) {
      if (!std::exchange(first, false)) {
        name_list.push_back('\t');
        text_2_list.push_back('\t');
        text_3_list.push_back('\t');
      }
      name_list.insert(name_list.end(), name.begin(), name.end());
      text_2_list.insert(text_2_list.end(), item.text_2.begin(), item.text_2.end());
      text_3_list.insert(text_3_list.end(), item.text_3.begin(), item.text_3.end());
    }
    const std::uint32_t count = static_cast<std::uint32_t>(std::min<std::size_t>(*size, status.items.size()));

    *size = count;
    std::uint32_t i = 0;
    for (const auto& [name, item] : status.items) {
      if (i == count) break;
      numbers_4[i] = item.number_4;
      lower_limits[i] = item.lower_limit;
      upper_limits[i] = item.upper_limit;
      values[i] = item.value;
      ++i;
    }
    api::write_text(name_list, names, names_size);
    api::write_text(text_2_list, texts_2, texts_2_size);
    api::write_text(text_3_list, texts_3, texts_3_size);
    *ok = status.ok ? 1 : 0;
  });
}

}  // extern "C"
