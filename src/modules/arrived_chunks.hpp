#pragma once
// Bookkeeping of a streamed buffer's chunks.

#include <cstdint>
#include <map>

namespace varnode {

// Which chunks of a streamed buffer have arrived. Neighbouring chunks of the
// same length are kept as one run, so an orderly stream costs a single entry
// however long it is, while an exact repeat of an earlier chunk can still be
// told apart from a chunk that overlaps received bytes in any other way.
class ArrivedChunks {
 public:
  enum class Outcome { added, repeated, overlapping };

  // Records [offset, offset + length); length must not be 0.
  Outcome add(std::uint32_t offset, std::uint32_t length);
  std::size_t runs() const { return runs_.size(); }

 private:
  // Chunks of `length` bytes laid end to end from the key up to `end`.
  struct Run {
    std::uint32_t end;
    std::uint32_t length;
  };
  std::map<std::uint32_t, Run> runs_;
};

}  // namespace varnode
