// Status replies: items, their numbers and the range judgement.
#include <cmath>
#include <cstring>
#include <set>

#include "dcp/datagram.hpp"
#include "device/status.hpp"
#include "input.hpp"

using namespace varnode;

namespace {

bool same_float(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0 || (std::isnan(a) && std::isnan(b)); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Device::Status status;
  try {
    status = Device::Status(DCP::View(data, size));
  } catch (const DCP::Exception::Parameter&) {
    return 0;
  }
  bool all_in_range = true;
  for (const auto& [name, item] : status.items) {
    FUZZ_CHECK(!name.empty() && name == item.name);
    FUZZ_CHECK(item.in_range == Device::StatusItem::within(item.value, item.lower_limit, item.upper_limit));
    all_in_range = all_in_range && item.in_range;
  }
  // A later item with a name already seen is dropped but still counts.
  if (!all_in_range) FUZZ_CHECK(!status.ok);
  if (size == 0) FUZZ_CHECK(status.items.empty() && status.ok);

  // Every item kept is the first group of its name, with the numbers of that
  // group and no other.
  DCP::View rest(data, size);
  std::size_t groups = 0;
  std::set<Bytes, ByteOrder> seen;
  while (!rest.empty()) {
    const DCP::Element name = DCP::take_element(rest);
    ++groups;
    float numbers[8];
    for (float& n : numbers) n = Device::StatusItem::absent;
    while (!rest.empty() && rest[0] != 1) {
      const DCP::Element element = DCP::take_element(rest);
      if (element.tag >= 4 && element.tag <= 7) numbers[element.tag] = DCP::get_f32(element.value.data());
    }
    const Bytes key(name.value.begin(), name.value.end());
    const auto found = status.items.find(key);
    FUZZ_CHECK(found != status.items.end());
    if (!seen.insert(key).second) continue;
    const Device::StatusItem& item = found->second;
    FUZZ_CHECK(same_float(item.number_4, numbers[4]) && same_float(item.lower_limit, numbers[5]) &&
               same_float(item.upper_limit, numbers[6]) && same_float(item.value, numbers[7]));
  }
  FUZZ_CHECK(seen.size() == status.items.size() && groups >= seen.size());
  return 0;
}
