#pragma once
// The seeds compiled into a replay program.

#include <cstddef>

struct Seed {
  const char* name;  // nullptr ends the list
  const unsigned char* data;
  std::size_t size;
};

extern const Seed seeds[];
