// The datagram header and the tag-length-value elements of a payload.
#include <algorithm>

#include "dcp/datagram.hpp"
#include "input.hpp"

using namespace varnode;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const DCP::View bytes(data, size);
  DCP::Message message;
  try {
    message = DCP::decode(bytes);
  } catch (const DCP::Exception::Parameter&) {
    FUZZ_CHECK(size < DCP::header_size || DCP::header_size + DCP::get_u16(data + 2) > size);
    return 0;
  }
  // The payload is exactly the length the header claims, right after it, and
  // encoding the message again gives back the bytes it came from.
  FUZZ_CHECK(message.payload.size() == DCP::get_u16(data + 2));
  FUZZ_CHECK(message.payload.data() == data + DCP::header_size);
  const Bytes again = DCP::encode(message.code, message.transaction_id, message.payload);
  FUZZ_CHECK(again.size() <= size && std::equal(again.begin(), again.end(), data));

  // Elements taken one by one and appended again rebuild the payload up to
  // the first element that is cut short.
  DCP::View rest = message.payload;
  Bytes rebuilt;
  try {
    while (!rest.empty()) {
      const std::size_t before = rest.size();
      const DCP::Element element = DCP::take_element(rest);
      FUZZ_CHECK(rest.size() == before - 2 - element.value.size());
      DCP::append_element(rebuilt, element.tag, element.value);
    }
  } catch (const DCP::Exception::Parameter&) {
    FUZZ_CHECK(rest.size() < 2 || std::size_t{rest[1]} + 2 > rest.size());
  }
  FUZZ_CHECK(rebuilt.size() + rest.size() == message.payload.size());
  FUZZ_CHECK(std::equal(rebuilt.begin(), rebuilt.end(), message.payload.begin()));
  return 0;
}
