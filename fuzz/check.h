#pragma once
// What every fuzz target shares: a broken property stops the run with a
// crash, which libFuzzer reports together with the input that caused it.

#include <cstdio>
#include <cstdlib>

#define FUZZ_REQUIRE(condition)                                                             \
  do {                                                                                      \
    if (!(condition)) {                                                                     \
      std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                         \
    }                                                                                       \
  } while (false)
