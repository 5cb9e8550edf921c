#pragma once

namespace ventaro::gpu::cpu {

/// Makes the calling thread flush denormal results to zero and read denormal inputs as zero,
/// as GPUs do, so that a load over arbitrary data never runs into the processor's slow
/// denormal path. Returns false where the processor offers no such mode to this code.
bool enableFlushToZero();

} // namespace ventaro::gpu::cpu
