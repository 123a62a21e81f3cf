#pragma once
#include <cstdlib>

// A broken promise ends the run as a crash, so libFuzzer keeps the input.
inline void Require(bool condition) {
  if (!condition) std::abort();
}
