#version 450
#extension GL_GOOGLE_include_directive : require
// C = A × B for row-major FP32 matrices (M × K times K × N), with row strides in elements.
//
// Each workgroup computes a BM × BN block of C. It walks the interior dimension BK columns
// at a time: the A and B tiles of a step are staged in shared memory (A transposed, so that
// a column of it is contiguous), and every invocation then multiplies a TM × TN block of
// outputs held in registers, reading its operands as vec4 from shared memory. The next
// step's tiles are fetched from global memory into registers while the current one is
// computed. An invocation's rows and columns are split into groups of four spaced one
// group-stride apart, so that neighbouring invocations read neighbouring vec4s of shared
// memory (no bank conflicts) and write neighbouring vec4s of C. Global loads and stores are
// vec4 wherever the strides allow it (ALIGNED) and the four elements lie inside the matrix;
// elements outside it read as 0 and are never written, so any size is computed.
// The tile sizes are specialization constants, chosen per device by the host.

#include "sgemm_constants.h"

layout(local_size_x_id = SGEMM_INVOCATIONS) in;
layout(constant_id = SGEMM_INVOCATIONS) const uint WG = 256;
layout(constant_id = SGEMM_BLOCK_ROWS) const uint BM = 128;
layout(constant_id = SGEMM_BLOCK_COLUMNS) const uint BN = 128;
layout(constant_id = SGEMM_DEPTH) const uint BK = 8;
layout(constant_id = SGEMM_THREAD_ROWS) const uint TM = 8;
layout(constant_id = SGEMM_THREAD_COLUMNS) const uint TN = 8;
// Row strides of A, B and C are multiples of 4 elements: whole vec4 loads and stores.
layout(constant_id = SGEMM_ALIGNED) const bool ALIGNED = false;

layout(push_constant) uniform Sizes {
  uint M;
  uint N;
  uint K;
  uint lda;
  uint ldb;
  uint ldc;
} p;

layout(std430, binding = 0) readonly buffer A { float a[]; };
layout(std430, binding = 0) readonly buffer A4 { vec4 a4[]; };
layout(std430, binding = 1) readonly buffer B { float b[]; };
layout(std430, binding = 1) readonly buffer B4 { vec4 b4[]; };
layout(std430, binding = 2) writeonly buffer C { float c[]; };
layout(std430, binding = 2) writeonly buffer C4 { vec4 c4[]; };

const uint TX = BN / TN; // invocations along a row of the block
const uint TY = BM / TM; // invocations along a column
const uint LOADS_A = BM * BK / (4 * WG); // vec4 of the A tile each invocation fetches
const uint LOADS_B = BK * BN / (4 * WG);

shared vec4 tileA[BK * BM / 4]; // tileA[k][m], m in vec4s
shared vec4 tileB[BK * BN / 4]; // tileB[k][n], n in vec4s

// Four elements of row `row` from column `column` on (a multiple of 4); 0 outside.
vec4 loadA(uint row, uint column) {
  if (ALIGNED && row < p.M && column + 3 < p.K) {
    return a4[(row * p.lda + column) / 4];
  }
  vec4 v = vec4(0.0);
  if (row < p.M) {
    for (uint j = 0; j < 4; ++j) {
      if (column + j < p.K) {
        v[j] = a[row * p.lda + column + j];
      }
    }
  }
  return v;
}

vec4 loadB(uint row, uint column) {
  if (ALIGNED && row < p.K && column + 3 < p.N) {
    return b4[(row * p.ldb + column) / 4];
  }
  vec4 v = vec4(0.0);
  if (row < p.K) {
    for (uint j = 0; j < 4; ++j) {
      if (column + j < p.N) {
        v[j] = b[row * p.ldb + column + j];
      }
    }
  }
  return v;
}

void main() {
  const uint id = gl_LocalInvocationID.x;
  const uint tx = id % TX;
  const uint ty = id / TX;
  const uint rowBase = gl_WorkGroupID.y * BM;
  const uint columnBase = gl_WorkGroupID.x * BN;

  float sums[TM * TN];
  for (uint i = 0; i < TM * TN; ++i) {
    sums[i] = 0.0;
  }
  vec4 nextA[LOADS_A];
  vec4 nextB[LOADS_B];

  // Tile fetches: vec4 number u of the A tile is row u / (BK/4), columns 4 (u % (BK/4)) on;
  // of the B tile, row u / (BN/4), columns 4 (u % (BN/4)) on.
  for (uint l = 0; l < LOADS_A; ++l) {
    const uint u = id + l * WG;
    nextA[l] = loadA(rowBase + u / (BK / 4), 4 * (u % (BK / 4)));
  }
  for (uint l = 0; l < LOADS_B; ++l) {
    const uint u = id + l * WG;
    nextB[l] = loadB(u / (BN / 4), columnBase + 4 * (u % (BN / 4)));
  }

  for (uint k0 = 0; k0 < p.K; k0 += BK) {
    barrier(); // everyone has finished reading the previous tiles
    for (uint l = 0; l < LOADS_A; ++l) {
      const uint u = id + l * WG;
      const uint m = u / (BK / 4);
      const uint k = 4 * (u % (BK / 4));
      for (uint j = 0; j < 4; ++j) {
        tileA[(k + j) * (BM / 4) + m / 4][m % 4] = nextA[l][j];
      }
    }
    for (uint l = 0; l < LOADS_B; ++l) {
      tileB[id + l * WG] = nextB[l];
    }
    barrier();

    const uint k1 = k0 + BK;
    if (k1 < p.K) {
      for (uint l = 0; l < LOADS_A; ++l) {
        const uint u = id + l * WG;
        nextA[l] = loadA(rowBase + u / (BK / 4), k1 + 4 * (u % (BK / 4)));
      }
      for (uint l = 0; l < LOADS_B; ++l) {
        const uint u = id + l * WG;
        nextB[l] = loadB(k1 + u / (BN / 4), columnBase + 4 * (u % (BN / 4)));
      }
    }

    for (uint k = 0; k < BK; ++k) {
      vec4 av[TM / 4];
      vec4 bv[TN / 4];
      for (uint g = 0; g < TM / 4; ++g) {
        av[g] = tileA[k * (BM / 4) + g * TY + ty];
      }
      for (uint g = 0; g < TN / 4; ++g) {
        bv[g] = tileB[k * (BN / 4) + g * TX + tx];
      }
      for (uint i = 0; i < TM; ++i) {
        for (uint j = 0; j < TN; ++j) {
          sums[i * TN + j] = fma(av[i / 4][i % 4], bv[j / 4][j % 4], sums[i * TN + j]);
        }
      }
    }
  }

  for (uint i = 0; i < TM; ++i) {
    const uint row = rowBase + (i / 4) * (TY * 4) + ty * 4 + i % 4;
    if (row >= p.M) {
      continue;
    }
    for (uint g = 0; g < TN / 4; ++g) {
      const uint column = columnBase + g * (TX * 4) + tx * 4;
      const uint s = i * TN + g * 4;
      const vec4 v = vec4(sums[s], sums[s + 1], sums[s + 2], sums[s + 3]);
      if (ALIGNED && column + 3 < p.N) {
        c4[(row * p.ldc + column) / 4] = v;
      } else {
        for (uint j = 0; j < 4; ++j) {
          if (column + j < p.N) {
            c[row * p.ldc + column + j] = v[j];
          }
        }
      }
    }
  }
}
