// Identity replies in both tag layouts. A decoded identity, written out
// again in the extended layout, decodes to the same fields.
#include "dcp/datagram.hpp"
#include "device/info.hpp"
#include "input.hpp"

using namespace varnode;

namespace {

void put_text(Bytes& out, std::uint8_t tag, const Bytes& text) {
  if (!text.empty()) DCP::append_element(out, tag, text);
}

void put_number(Bytes& out, std::uint8_t tag, std::uint32_t value) {
  Bytes bytes;
  DCP::put_u32(bytes, value);
  DCP::append_element(out, tag, bytes);
}

void put_address(Bytes& out, std::uint8_t tag, IP::Address address) {
  const auto& b = address.bytes();
  DCP::append_element(out, tag, Bytes(b.begin(), b.end()));
}

Bytes extended(const Device::Info& info) {
  Bytes out;
  put_text(out, 1, info.text_1);
  put_text(out, 2, info.text_2);
  put_text(out, 3, info.text_3);
  put_number(out, 4, info.serial_number);
  put_text(out, 5, info.text_5);
  put_text(out, 6, info.text_6);
  put_text(out, 7, info.text_7);
  put_number(out, 8, info.number_8);
  put_number(out, 9, info.number_9);
  put_text(out, 10, info.text_10);
  put_number(out, 11, info.date_11.days());
  put_number(out, 12, info.date_12.days());
  put_number(out, 13, info.date_13.days());
  put_number(out, 14, info.number_14);
  put_number(out, 15, info.number_15);
  put_number(out, 16, info.number_16);
  DCP::append_element(out, 17, Bytes(info.mac_address.begin(), info.mac_address.end()));
  put_address(out, 18, info.ip_address);
  put_address(out, 19, info.address_19);
  put_address(out, 20, info.address_20);
  put_text(out, 21, info.text_21);
  put_text(out, 22, info.text_22);
  DCP::append_element(out, 23, Bytes{info.flag_23});
  put_text(out, 24, info.text_24);
  // Always present, so that the highest tag is 25 and never taken for the
  // older layout.
  DCP::append_element(out, 25, info.text_25);
  return out;
}

// Dates compare by day, all the identity carries: a day beyond the last a
// Date holds comes back as the last moment of that day, not its start.
bool same(const Device::Info& a, const Device::Info& b) {
  return a.flag_23 == b.flag_23 && a.number_16 == b.number_16 && a.number_8 == b.number_8 &&
         a.number_9 == b.number_9 && a.serial_number == b.serial_number && a.number_14 == b.number_14 &&
         a.number_15 == b.number_15 && a.text_6 == b.text_6 && a.text_2 == b.text_2 && a.text_22 == b.text_22 &&
         a.text_21 == b.text_21 && a.text_1 == b.text_1 && a.text_3 == b.text_3 && a.text_24 == b.text_24 &&
         a.text_7 == b.text_7 && a.text_5 == b.text_5 && a.text_25 == b.text_25 && a.text_10 == b.text_10 &&
         a.date_12.days() == b.date_12.days() && a.date_13.days() == b.date_13.days() &&
         a.date_11.days() == b.date_11.days() &&
         a.mac_address == b.mac_address && a.address_20 == b.address_20 && a.ip_address == b.ip_address &&
         a.address_19 == b.address_19;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Device::Info info;
  try {
    info = Device::Info(DCP::View(data, size));
  } catch (const DCP::Exception::Parameter&) {
    return 0;
  }
  FUZZ_CHECK(!info.text_1.empty() && !info.text_2.empty() && !info.text_3.empty() && info.serial_number != 0);
  const Bytes encoded = extended(info);
  Device::Info again;
  try {
    again = Device::Info(encoded);
  } catch (const DCP::Exception::Parameter&) {
    FUZZ_CHECK(!"a decoded identity written out again does not decode");
  }
  FUZZ_CHECK(same(info, again));
  return 0;
}
