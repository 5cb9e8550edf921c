#version 450
// Fills a row-major FP32 matrix with the load's seeded values: element i (row-major
// position, without padding) gets the SplitMix64 finaliser of seed + (i + 1) × golden ratio,
// its top 24 bits k giving k / 2^23 − 1. The 64-bit arithmetic is done on pairs of 32-bit
// words (x = low, y = high) so that devices without 64-bit integers run it, and so that the
// values equal the host's bit for bit.

layout(local_size_x = 16, local_size_y = 16) in;

layout(push_constant) uniform Fill {
  uint rows;
  uint columns;
  uint ld;
  uint seedLow;
  uint seedHigh;
} p;

layout(std430, binding = 0) writeonly buffer Matrix { float m[]; };

uvec2 add64(uvec2 x, uvec2 y) {
  uint carry;
  const uint low = uaddCarry(x.x, y.x, carry);
  return uvec2(low, x.y + y.y + carry);
}

// The low 64 bits of x × y.
uvec2 mul64(uvec2 x, uvec2 y) {
  uint high;
  uint low;
  umulExtended(x.x, y.x, high, low);
  return uvec2(low, high + x.x * y.y + x.y * y.x);
}

// z ^ (z >> s) for 0 < s < 32.
uvec2 xorShift(uvec2 z, uint s) {
  return uvec2(z.x ^ ((z.x >> s) | (z.y << (32 - s))), z.y ^ (z.y >> s));
}

void main() {
  const uint column = gl_GlobalInvocationID.x;
  const uint row = gl_GlobalInvocationID.y;
  if (row >= p.rows || column >= p.columns) {
    return;
  }
  uvec2 index;
  umulExtended(row, p.columns, index.y, index.x);
  index = add64(index, uvec2(column + 0u, 0u));
  const uvec2 counter = add64(index, uvec2(1u, 0u));
  uvec2 z = add64(uvec2(p.seedLow, p.seedHigh), mul64(counter, uvec2(0x7F4A7C15u, 0x9E3779B9u)));
  z = mul64(xorShift(z, 30u), uvec2(0x1CE4E5B9u, 0xBF58476Du));
  z = mul64(xorShift(z, 27u), uvec2(0x133111EBu, 0x94D049BBu));
  z = xorShift(z, 31u);
  const uint k = z.y >> 8; // bits 40 to 63
  m[row * p.ld + column] = float(k) * (1.0 / 8388608.0) - 1.0;
}
