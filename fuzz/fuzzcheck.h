#pragma once
#include <cstdio>
#include <cstdlib>

// A broken promise ends the run as a crash, so libFuzzer keeps the input; `why` names it
// in the crash report.
inline void Require(bool condition, const char* why = nullptr) {
  if (condition) return;
  if (why) std::fprintf(stderr, "broken promise: %s\n", why);
  std::abort();
}
