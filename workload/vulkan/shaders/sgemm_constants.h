// The multiplication shader's specialization constants, by id. One description for both
// sides: sgemm.comp takes its constant ids from here, and the host (vulkan_pipelines.cpp)
// writes its values at the same ids. Plain preprocessor definitions, which GLSL and C++ read
// alike; each value is a 32-bit word.
#ifndef VENTARO_SGEMM_CONSTANTS_H
#define VENTARO_SGEMM_CONSTANTS_H

#define SGEMM_INVOCATIONS 0   // invocations per workgroup (its x size)
#define SGEMM_BLOCK_ROWS 1    // rows of the product one workgroup computes
#define SGEMM_BLOCK_COLUMNS 2 // its columns
#define SGEMM_DEPTH 3         // interior columns staged in shared memory per step
#define SGEMM_THREAD_ROWS 4   // rows of outputs one invocation holds
#define SGEMM_THREAD_COLUMNS 5
#define SGEMM_ALIGNED 6 // row strides are multiples of 4 elements (a boolean)
#define SGEMM_CONSTANT_COUNT 7

#endif
