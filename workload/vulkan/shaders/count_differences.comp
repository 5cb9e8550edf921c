#version 450
// Counts the elements of two row-major FP32 matrices of one layout whose bits differ (bits,
// not values: a NaN equals itself, +0 differs from -0).

layout(local_size_x = 16, local_size_y = 16) in;

layout(push_constant) uniform Compare {
  uint rows;
  uint columns;
  uint ld;
} p;

layout(std430, binding = 0) readonly buffer First { float first[]; };
layout(std430, binding = 1) readonly buffer Second { float second[]; };
layout(std430, binding = 2) buffer Count { uint count; };

void main() {
  const uint column = gl_GlobalInvocationID.x;
  const uint row = gl_GlobalInvocationID.y;
  if (row >= p.rows || column >= p.columns) {
    return;
  }
  const uint at = row * p.ld + column;
  if (floatBitsToUint(first[at]) != floatBitsToUint(second[at])) {
    atomicAdd(count, 1u);
  }
}
