// How a fuzz target reports a broken property: a line naming it, then an abort that
// libFuzzer saves the input for.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace fuzzsupport {

[[noreturn]] inline void Fail(const char* target, const char* what) {
  std::fprintf(stderr, "%s: %s\n", target, what);
  std::abort();
}

}  // namespace fuzzsupport
