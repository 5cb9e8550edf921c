#include "workload/cpu/float_mode.h"

#if defined(__x86_64__) || defined(__i386__)
#include <pmmintrin.h>
#include <xmmintrin.h>
#endif

namespace ventaro::gpu::cpu {

bool enableFlushToZero() {
#if defined(__x86_64__) || defined(__i386__)
  _MM_SET_FLUSH_ZERO_MODE(_MM_FLUSH_ZERO_ON);
  _MM_SET_DENORMALS_ZERO_MODE(_MM_DENORMALS_ZERO_ON);
  return true;
#elif defined(__aarch64__)
  // FPCR.FZ (bit 24) flushes both denormal inputs and results of single precision.
  unsigned long fpcr = 0;
  __asm__ volatile("mrs %0, fpcr" : "=r"(fpcr));
  fpcr |= 1UL << 24;
  __asm__ volatile("msr fpcr, %0" : : "r"(fpcr));
  return true;
#else
  return false;
#endif
}

} // namespace ventaro::gpu::cpu
