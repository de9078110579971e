#include "device/info.hpp"

#include <algorithm>

#include "device/commands.hpp"

namespace varnode {
namespace {

// Older modules send a layout without number_16, flag_23, text_24 and
// text_25, in which the tags from the MAC address on are one lower. They are
// recognised by their highest tag being exactly 21.
constexpr std::uint8_t legacy_highest_tag = 21;

std::uint8_t extended_tag(std::uint8_t tag, bool legacy) {
  if (!legacy) return tag <= 25 ? tag : 0;
  if (tag <= 15) return tag;
  return tag <= legacy_highest_tag ? static_cast<std::uint8_t>(tag + 1) : 0;
}

DCP::View sized(const DCP::Element& element, std::size_t size) {
  if (element.value.size() != size) throw DCP::Exception::Parameter{};
  return element.value;
}

std::uint32_t read_number(const DCP::Element& element) { return DCP::get_u32(sized(element, 4).data()); }

IP::Address read_address(const DCP::Element& element) {
  const DCP::View value = sized(element, 4);
  return IP::Address({value[0], value[1], value[2], value[3]});
}

Date read_date(const DCP::Element& element) { return Date::from_days(read_number(element)); }

}  // namespace

Device::Info::Info(DCP::View payload) {
  std::uint8_t highest = 0;
  for (DCP::View rest = payload; !rest.empty();) highest = std::max(highest, DCP::take_element(rest).tag);
  const bool legacy = highest == legacy_highest_tag;

  for (DCP::View rest = payload; !rest.empty();) {
    const DCP::Element element = DCP::take_element(rest);
    const auto text = [&] { return Bytes(element.value.begin(), element.value.end()); };
    switch (extended_tag(element.tag, legacy)) {
      case 1: text_1 = text(); break;
      case 2: text_2 = text(); break;
      case 3: text_3 = text(); break;
      case 4: serial_number = read_number(element); break;
      case 5: text_5 = text(); break;
      case 6: text_6 = text(); break;
      case 7: text_7 = text(); break;
      case 8: number_8 = read_number(element); break;
      case 9: number_9 = read_number(element); break;
      case 10: text_10 = text(); break;
      case 11: date_11 = read_date(element); break;
      case 12: date_12 = read_date(element); break;
      case 13: date_13 = read_date(element); break;
      case 14: number_14 = read_number(element); break;
      case 15: number_15 = read_number(element); break;
      case 16: number_16 = read_number(element); break;
      case 17: std::ranges::copy(sized(element, 6), mac_address.begin()); break;
      case 18: ip_address = read_address(element); break;
      case 19: address_19 = read_address(element); break;
      case 20: address_20 = read_address(element); break;
      case 21: text_21 = text(); break;
      case 22: text_22 = text(); break;
      case 23: flag_23 = element.value.empty() ? 0 : element.value[0]; break;
      case 24: text_24 = text(); break;
      case 25: text_25 = text(); break;
      default: break;
    }
  }
  if (text_1.empty() || text_2.empty() || text_3.empty() || serial_number == 0) throw DCP::Exception::Parameter{};
}

Device::Info Device::get_info() const { return query<Info>(commands::identity_command, commands::identity_reply); }

}  // namespace varnode
