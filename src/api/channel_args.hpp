#pragma once
// The export side of channel arguments: the plain checks every module export
// runs before it builds anything (counts, capacities, a channel listed
// twice), turning the caller's arrays into ordered containers, and writing
// per-channel results back in the caller's order.
//
// Every refusal here throws Device::Exception::Parameter from inside
// api::guarded before the Device is built, so the call returns 3 with
// nothing sent and no time-out registered. Range checks of the channels
// themselves belong to the module operation.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "api/frame.hpp"
#include "device/channels.hpp"

namespace varnode::api {

// The caller's channels as a set: at most `most` of them, none twice.
inline ChannelSet channel_set(const std::uint8_t* channels, std::uint8_t count, std::size_t most) {
  require(count <= most);
  require_entries(channels, count);
  ChannelSet set;
  for (std::size_t i = 0; i < count; ++i) require(set.insert(channels[i]).second);
  return set;
}

// The caller's channels paired with `value_at(i)` for entry i: at most
// `most` channels, exactly `value_count` values, no channel twice (a
// duplicate is refused, not merged).
template <class ValueAt>
auto channel_map(const std::uint8_t* channels, std::uint8_t count, std::uint8_t value_count, std::size_t most,
                 ValueAt value_at) {
  require(count <= most && count == value_count);
  require_entries(channels, count);
  ChannelMap<decltype(value_at(std::size_t{}))> map;
  for (std::size_t i = 0; i < count; ++i) require(map.emplace(channels[i], value_at(i)).second);
  return map;
}

// A caller's bool array, read byte by byte.
inline ChannelMap<bool> flag_map(const std::uint8_t* channels, std::uint8_t count, const bool* flags,
                                 std::uint8_t flag_count, std::size_t most) {
  require_entries(flags, flag_count);
  return channel_map(channels, count, flag_count, most, [flags](std::size_t i) { return flag_at(flags, i); });
}

template <class Value>
ChannelMap<Value> value_map(const std::uint8_t* channels, std::uint8_t count, const Value* values,
                            std::uint8_t value_count, std::size_t most) {
  require_entries(values, value_count);
  return channel_map(channels, count, value_count, most, [values](std::size_t i) { return values[i]; });
}

// The checks of an export that reads one value per channel: at most `most`
// channels, room for all of them in the output, none twice.
template <class Output, class Size>
ChannelSet read_set(const std::uint8_t* channels, std::uint8_t count, const Output* values, const Size* capacity,
                    std::size_t most) {
  require_pointer(capacity);
  require_entries(values, count);
  require(count <= most && *capacity >= count);
  return channel_set(channels, count, most);
}

// Writes the result of channels[i] to values[i] for every entry, then
// `count` to `size`. Everything is looked up before anything is written, so
// a failure leaves the caller's buffers as they were. bool outputs come out
// as 0 or 1.
template <class Result, class Output, class Size>
void write_in_caller_order(const std::uint8_t* channels, std::uint8_t count, const ChannelMap<Result>& result,
                           Output* values, Size* size) {
  std::vector<Output> staged;
  staged.reserve(count);
  for (std::size_t i = 0; i < count; ++i) staged.push_back(static_cast<Output>(result.at(channels[i])));
  for (std::size_t i = 0; i < count; ++i) values[i] = staged[i];
  *size = count;
}

// Whole export bodies for the two commonest shapes, so that twin modules
// share one body.

// Hands the caller's channels and bool flags, as a map, to a module
// operation; writes nothing back.
template <class Module, void (Module::*operation)(const ChannelMap<bool>&) const>
Result apply_flags(std::uint32_t address, const std::uint8_t* channels, std::uint8_t count, const bool* flags,
                   std::uint8_t flag_count) {
  return guarded([&] {
    const ChannelMap<bool> map = flag_map(channels, count, flags, flag_count, Module::channel_count);
    (Module(Device(IP::Address(address))).*operation)(map);
  });
}

// Runs a module operation that returns one value per requested channel and
// writes the values in the caller's order, then the count to `size`.
template <class Module, auto operation, class Output, class Size>
Result read_channels(std::uint32_t address, const std::uint8_t* channels, std::uint8_t count, Output* values,
                     Size* size) {
  return guarded([&] {
    const ChannelSet set = read_set(channels, count, values, size, Module::channel_count);
    const auto result = (Module(Device(IP::Address(address))).*operation)(set);
    write_in_caller_order(channels, count, result, values, size);
  });
}

}  // namespace varnode::api
