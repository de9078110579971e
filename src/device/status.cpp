#include "device/status.hpp"

#include <algorithm>
#include <cmath>

#include "device/commands.hpp"

namespace varnode {
namespace {

constexpr std::uint8_t name_tag = 1;

float number(const DCP::Element& element) {
  if (element.value.size() != 4) throw DCP::Exception::Parameter{};
  return DCP::get_f32(element.value.data());
}

// The export joins names and texts with tabs, so a tab inside one would
// split it in two beside a single set of numbers.
Bytes text(const DCP::Element& element) {
  if (std::find(element.value.begin(), element.value.end(), '\t') != element.value.end())
    throw DCP::Exception::Parameter{};
  return Bytes(element.value.begin(), element.value.end());
}

}  // namespace

bool Device::StatusItem::within(float value, float lower_limit, float upper_limit) {
  // Written as "not inside" so that a NaN value fails a numeric limit.
  if (!std::isnan(lower_limit) && !(value >= lower_limit)) return false;
  if (!std::isnan(upper_limit) && !(value <= upper_limit)) return false;
  return true;
}

Device::Status::Status(DCP::View payload) {
  DCP::View rest = payload;
  while (!rest.empty()) {
    const DCP::Element first = DCP::take_element(rest);
    if (first.tag != name_tag || first.value.empty()) throw DCP::Exception::Parameter{};
    StatusItem item;
    item.name = text(first);
    while (!rest.empty() && rest[0] != name_tag) {
      const DCP::Element element = DCP::take_element(rest);
      switch (element.tag) {
        case 2: item.text_2 = text(element); break;
        case 3: item.text_3 = text(element); break;
        case 4: item.number_4 = number(element); break;
        case 5: item.lower_limit = number(element); break;
        case 6: item.upper_limit = number(element); break;
        case 7: item.value = number(element); break;
        default: break;
      }
    }
    item.in_range = StatusItem::within(item.value, item.lower_limit, item.upper_limit);
    ok = ok && item.in_range;
    Bytes name = item.name;
    items.try_emplace(std::move(name), std::move(item));
  }
}

Device::Status Device::get_status() const { return query<Status>(commands::status_command, commands::status_reply); }

}  // namespace varnode
