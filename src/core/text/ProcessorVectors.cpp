#include "core/text/ProcessorVectors.h"

#if defined(__x86_64__)
#include <cpuid.h>
#endif

namespace melo::text {
namespace {

#if defined(__x86_64__)
// XCR0: the parts of the register state the system saves.
constexpr unsigned kSavesVectors256 = 0x06;  // SSE and AVX halves
constexpr unsigned kSavesVectors512 = 0xE6;  // and the mask and upper registers

ProcessorVectors Probe() {
  ProcessorVectors vectors;
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (!__get_cpuid(1, &a, &b, &c, &d) || !(c & bit_OSXSAVE))
    return vectors;
  const bool popcnt = (c & bit_POPCNT) != 0;
  unsigned low = 0, high = 0;
  __asm__("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
  if (!__get_cpuid_count(7, 0, &a, &b, &c, &d))
    return vectors;
  vectors.avx2 = (low & kSavesVectors256) == kSavesVectors256 && (b & bit_AVX2);
  vectors.avx512bw =
      (low & kSavesVectors512) == kSavesVectors512 && (b & bit_AVX512F) && (b & bit_AVX512BW);
  vectors.avx512Compress = vectors.avx512bw && popcnt && (b & bit_BMI2) && (c & bit_AVX512VBMI2);
  return vectors;
}
#else
ProcessorVectors Probe() {
  return {};
}
#endif

}  // namespace

const ProcessorVectors& Vectors() {
  static const ProcessorVectors vectors = Probe();
  return vectors;
}

}  // namespace melo::text
