#pragma once
// Channel numbers, masks and the payload shapes built from them, shared by
// every module that addresses channels. They live below the module and
// temperature families so that neither reaches into the other. A mask is one byte in which bit
// (n - 1) stands for channel n; per-channel data follows the mask in
// ascending channel order, which the ordered containers give for free.

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>

#include "device/device.hpp"

namespace varnode {

using Channel = std::uint8_t;
using ChannelSet = std::set<Channel>;
template <class Value>
using ChannelMap = std::map<Channel, Value>;

namespace channels {

// The mask bit of `channel`. A channel outside 1..last is refused before
// anything is sent.
inline std::uint8_t bit(Channel channel, Channel last) {
  if (channel < 1 || channel > last) throw Device::Exception::Parameter{};
  return static_cast<std::uint8_t>(1u << (channel - 1));
}

// Operations that have nothing to do without a channel refuse an empty list.
template <class Channels>
void require_some(const Channels& channels) {
  if (channels.empty()) throw Device::Exception::Parameter{};
}

inline std::uint8_t mask(const ChannelSet& channels, Channel last) {
  std::uint8_t result = 0;
  for (const Channel channel : channels) result |= bit(channel, last);
  return result;
}

template <class Value>
std::uint8_t mask(const ChannelMap<Value>& entries, Channel last) {
  std::uint8_t result = 0;
  for (const auto& entry : entries) result |= bit(entry.first, last);
  return result;
}

// The mask, then one byte of the same layout with the bit of every channel
// whose flag is set.
inline Bytes mask_and_flags(const ChannelMap<bool>& flags, Channel last) {
  std::uint8_t set = 0;
  for (const auto& [channel, flag] : flags)
    if (flag) set |= bit(channel, last);
  return Bytes{mask(flags, last), set};
}

// The mask, then each channel's value as `put(out, value)` appends it, in
// ascending channel order. `put` may refuse a value by throwing; every
// channel is checked before its value.
template <class Value, class Put>
Bytes mask_and_values(const ChannelMap<Value>& values, Channel last, Put put) {
  Bytes payload{0};
  for (const auto& [channel, value] : values) {
    payload[0] |= bit(channel, last);
    put(payload, value);
  }
  return payload;
}

// The requested channels' bits of a byte in mask layout; the others are
// ignored.
inline ChannelMap<bool> flags_of(std::uint8_t byte, const ChannelSet& channels) {
  ChannelMap<bool> result;
  for (const Channel channel : channels) result.emplace(channel, ((byte >> (channel - 1)) & 1u) != 0);
  return result;
}

// Consecutive values of `width` bytes, one per requested channel in
// ascending order, decoded by `get(pointer)`. The caller has checked that
// `data` holds channels.size() * width bytes.
template <class Get>
auto values_of(const ChannelSet& channels, const std::uint8_t* data, std::size_t width, Get get) {
  ChannelMap<decltype(get(data))> result;
  for (const Channel channel : channels) {
    result.emplace(channel, get(data));
    data += width;
  }
  return result;
}

}  // namespace channels
}  // namespace varnode
