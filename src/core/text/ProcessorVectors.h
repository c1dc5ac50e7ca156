#pragma once
// Which vector instructions beyond the baseline this processor runs, and the
// system saves across a switch (or they are not there to use). Asked of the
// processor once, when first needed: the probe behind
// __builtin_cpu_supports runs in every process as it starts, the window's
// too, and each of its many CPUID instructions traps to the host in a
// virtual machine.

namespace melo::text {

struct ProcessorVectors {
  bool avx2 = false;
  // 64-byte compares into mask registers.
  bool avx512bw = false;
  // And byte compression, bit deposits and population counts with them.
  bool avx512Compress = false;
};

const ProcessorVectors& Vectors();

}  // namespace melo::text
