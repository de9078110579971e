#include "modules/arrived_chunks.hpp"

#include <iterator>

namespace varnode {

ArrivedChunks::Outcome ArrivedChunks::add(std::uint32_t offset, std::uint32_t length) {
  const std::uint32_t end = offset + length;
  auto next = runs_.upper_bound(offset);
  auto previous = next == runs_.begin() ? runs_.end() : std::prev(next);
  if (previous != runs_.end() && previous->second.end > offset) {
    const Run& run = previous->second;
    const bool same_chunk = (offset - previous->first) % run.length == 0 && length == run.length;
    return same_chunk ? Outcome::repeated : Outcome::overlapping;
  }
  if (next != runs_.end() && next->first < end) return Outcome::overlapping;

  const bool joins_previous =
      previous != runs_.end() && previous->second.end == offset && previous->second.length == length;
  const bool joins_next = next != runs_.end() && next->first == end && next->second.length == length;
  if (joins_previous) {
    previous->second.end = joins_next ? next->second.end : end;
    if (joins_next) runs_.erase(next);
  } else if (joins_next) {
    const Run run{next->second.end, length};
    runs_.emplace_hint(runs_.erase(next), offset, run);
  } else {
    runs_.emplace_hint(next, offset, Run{end, length});
  }
  return Outcome::added;
}

}  // namespace varnode
