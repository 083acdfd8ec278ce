// Feeds AFL++'s edge map from GCC's -fsanitize-coverage=trace-pc callback. GCC calls this at
// every basic block of the instrumented code; the caller's address, hashed, names the block,
// and AFL++'s runtime records the edge from the previous block. This file itself is built
// without instrumentation.

#include <cstdint>

extern "C" void __afl_trace(std::uint32_t location);

extern "C" __attribute__((no_sanitize_coverage)) void __sanitizer_cov_trace_pc() {
  const auto address = reinterpret_cast<std::uintptr_t>(__builtin_return_address(0));
  // Fibonacci hashing spreads nearby addresses over the 64 KiB map.
  const std::uint64_t hashed = static_cast<std::uint64_t>(address) * 0x9E3779B97F4A7C15ull;
  __afl_trace(static_cast<std::uint32_t>(hashed >> 48));
}
