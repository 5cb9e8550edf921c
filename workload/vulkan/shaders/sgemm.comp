#version 450
#extension GL_GOOGLE_include_directive : require
#extension GL_EXT_control_flow_attributes : require
// C = A × B for row-major FP32 matrices (M × K times K × N), with row strides in elements.
//
// Each workgroup computes a BM × BN block of C. It walks the interior dimension BK columns
// at a time: the A and B tiles of a step are staged in shared memory (A transposed, so that
// a column of it is contiguous), and every invocation then multiplies a TM × TN block of
// outputs held in registers, reading its operands as vec4 from shared memory. An
// invocation's rows and columns are split into groups of four spaced one group-stride apart,
// so that neighbouring invocations read neighbouring vec4s of shared memory and write
// neighbouring vec4s of C.
//
// The next step's tiles are fetched from global memory into registers while the current
// one is multiplied, and nothing waits for them before the multiply-adds: every fetch reads
// from an index clamped into the matrix, so it needs no branch, and the elements past the
// interior dimension are replaced by 0 only when the tile is stored to shared memory, after
// the multiply-adds. The two sets of fetch registers alternate from step to step. Elements
// outside C are never written, so any size is computed. Global loads and stores are vec4
// where the strides allow it (ALIGNED). Every constant loop is unrolled.
//
// The tile sizes are specialization constants, chosen per device by the host. Nothing here
// depends on the device's subgroup size or on any one vendor's hardware.

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

// The A tile's vec4 number u holds row u % BM, columns 4 (u / BM) on: neighbouring
// invocations take neighbouring rows, so that the transposed store to shared memory writes
// neighbouring words (no bank conflicts). The B tile's vec4 number u holds row u / (BN/4),
// columns 4 (u % (BN/4)) on.
uint rowOfA(uint u) { return u % BM; }
uint columnOfA(uint u) { return 4 * (u / BM); }
uint rowOfB(uint u) { return u / (BN / 4); }
uint columnOfB(uint u) { return 4 * (u % (BN / 4)); }

// Four elements of A from element `index` on (a multiple of 4 where ALIGNED), read from
// indices clamped to `last`: a fetch past the matrix reads some element of it instead, whose
// value is masked at the store or feeds only outputs that are never written.
vec4 loadA(uint index, uint last) {
  if (ALIGNED) {
    return a4[min(index, last) / 4];
  }
  return vec4(a[min(index, last)], a[min(index + 1, last)], a[min(index + 2, last)],
              a[min(index + 3, last)]);
}

vec4 loadB(uint index, uint last) {
  if (ALIGNED) {
    return b4[min(index, last) / 4];
  }
  return vec4(b[min(index, last)], b[min(index + 1, last)], b[min(index + 2, last)],
              b[min(index + 3, last)]);
}

// One step's A and B tiles, as this invocation fetches them.
struct Tiles {
  vec4 a[LOADS_A];
  vec4 b[LOADS_B];
};

void main() {
  const uint id = gl_LocalInvocationID.x;
  const uint tx = id % TX;
  const uint ty = id / TX;
  const uint rowBase = gl_WorkGroupID.y * BM;
  const uint columnBase = gl_WorkGroupID.x * BN;

  float sums[TM * TN];
  [[unroll]] for (uint i = 0; i < TM * TN; ++i) {
    sums[i] = 0.0;
  }

  // What each fetch needs that does not change from step to step: the index of its first
  // element in the first step, and the last element of the matrix. Rows and columns are
  // clamped into the matrix: a row of A past M, or a column of B past N, only feeds outputs
  // that are never written. Along the interior dimension, what lies past K is masked when
  // stored to shared memory.
  const uint lastA = (p.M - 1) * p.lda + ((p.K - 1) & (ALIGNED ? ~3u : ~0u));
  const uint lastB = (p.K - 1) * p.ldb + ((p.N - 1) & (ALIGNED ? ~3u : ~0u));
  uint firstA[LOADS_A];
  uint firstB[LOADS_B];
  Tiles fetched[2];
  [[unroll]] for (uint l = 0; l < LOADS_A; ++l) {
    const uint u = id + l * WG;
    firstA[l] = min(rowBase + rowOfA(u), p.M - 1) * p.lda + columnOfA(u);
  }
  [[unroll]] for (uint l = 0; l < LOADS_B; ++l) {
    const uint u = id + l * WG;
    firstB[l] = rowOfB(u) * p.ldb + min(columnBase + columnOfB(u), p.N - 1);
  }
  if (p.K > 0) { // with no interior dimension there is nothing to fetch, and C is 0
    [[unroll]] for (uint l = 0; l < LOADS_A; ++l) {
      fetched[0].a[l] = loadA(firstA[l], lastA);
    }
    [[unroll]] for (uint l = 0; l < LOADS_B; ++l) {
      fetched[0].b[l] = loadB(firstB[l], lastB);
    }
  }

  // Two steps per turn, the fetched tiles alternating between two sets of registers, so
  // that no step copies the next step's tiles from one set to the other. A second step that
  // starts past K adds only zeros: its tiles are masked to 0 entirely. It is not skipped, so
  // that the compiler keeps the first step's fetches ahead of its multiply-adds rather than
  // sinking them into a branch.
  for (uint turn = 0; turn < p.K; turn += 2 * BK) {
    [[unroll]] for (uint now = 0; now < 2; ++now) {
      const uint k0 = turn + now * BK;
      barrier(); // everyone has finished reading the previous tiles
      // Elements past K are replaced by 0, by selection, so that whatever a clamped fetch
      // read (the padding of a row included) never reaches a sum.
      [[unroll]] for (uint l = 0; l < LOADS_A; ++l) {
        const uint u = id + l * WG;
        const uint m = rowOfA(u);
        const uint k = columnOfA(u);
        const bvec4 inside = lessThan(uvec4(k0 + k) + uvec4(0, 1, 2, 3), uvec4(p.K));
        const vec4 v = mix(vec4(0.0), fetched[now].a[l], inside);
        [[unroll]] for (uint j = 0; j < 4; ++j) {
          tileA[(k + j) * (BM / 4) + m / 4][m % 4] = v[j];
        }
      }
      [[unroll]] for (uint l = 0; l < LOADS_B; ++l) {
        const uint u = id + l * WG;
        tileB[u] = k0 + rowOfB(u) < p.K ? fetched[now].b[l] : vec4(0.0);
      }
      barrier();

      // The next step's tiles; past the last step the clamped fetches are read and dropped.
      const uint k1 = k0 + BK;
      [[unroll]] for (uint l = 0; l < LOADS_A; ++l) {
        fetched[1 - now].a[l] = loadA(firstA[l] + k1, lastA);
      }
      [[unroll]] for (uint l = 0; l < LOADS_B; ++l) {
        fetched[1 - now].b[l] = loadB(firstB[l] + k1 * p.ldb, lastB);
      }

      [[unroll]] for (uint k = 0; k < BK; ++k) {
        vec4 av[TM / 4];
        vec4 bv[TN / 4];
        [[unroll]] for (uint g = 0; g < TM / 4; ++g) {
          av[g] = tileA[k * (BM / 4) + g * TY + ty];
        }
        [[unroll]] for (uint g = 0; g < TN / 4; ++g) {
          bv[g] = tileB[k * (BN / 4) + g * TX + tx];
        }
        [[unroll]] for (uint i = 0; i < TM; ++i) {
          [[unroll]] for (uint j = 0; j < TN; ++j) {
            sums[i * TN + j] = fma(av[i / 4][i % 4], bv[j / 4][j % 4], sums[i * TN + j]);
          }
        }
      }
    }
  }

  [[unroll]] for (uint i = 0; i < TM; ++i) {
    const uint row = rowBase + (i / 4) * (TY * 4) + ty * 4 + i % 4;
    if (row >= p.M) {
      continue;
    }
    [[unroll]] for (uint g = 0; g < TN / 4; ++g) {
      const uint column = columnBase + g * (TX * 4) + tx * 4;
      const uint s = i * TN + g * 4;
      const vec4 v = vec4(sums[s], sums[s + 1], sums[s + 2], sums[s + 3]);
      if (ALIGNED && column + 3 < p.N) {
        c4[(row * p.ldc + column) / 4] = v;
      } else {
        [[unroll]] for (uint j = 0; j < 4; ++j) {
          if (column + j < p.N) {
            c[row * p.ldc + column + j] = v[j];
          }
        }
      }
    }
  }
}
