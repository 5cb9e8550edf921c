// The reading of a GPU compiler's assembly listing: instruction families, blocks and loops,
// and the figures of one main-loop iteration, over short listings in the compiler's format.

#include "bench/isa_analysis.h"

#include <gtest/gtest.h>

namespace ventaro::bench {
namespace {

TEST(IsaFamilies, RecogniseEachSpellingOfTheSameWork) {
  for (const char* fma : {"v_mac_f32_e32", "v_fmac_f32_e32", "v_fma_f32", "v_mad_f32",
                          "v_fmamk_f32", "v_madak_f32", "v_fmac_legacy_f32_e64", "v_fma_f32_dpp"}) {
    EXPECT_TRUE(isFp32Fma(fma)) << fma;
  }
  for (const char* other : {"v_mul_f32_e32", "v_fma_f16", "v_fma_f64", "v_pk_fma_f16",
                            "v_add_f32_e32", "s_fmac_f32", "v_mad_u32_u24"}) {
    EXPECT_FALSE(isFp32Fma(other)) << other;
  }
  EXPECT_TRUE(isVector("v_mov_b32_e32"));
  EXPECT_FALSE(isVector("s_mov_b32"));
  EXPECT_FALSE(isVector("ds_read_b128"));
  for (const char* read : {"ds_read_b128", "ds_read2_b64", "ds_read2st64_b32", "ds_load_b128"}) {
    EXPECT_TRUE(isSharedRead(read)) << read;
  }
  EXPECT_FALSE(isSharedRead("ds_write_b128"));
  for (const char* load : {"buffer_load_dwordx4", "global_load_dwordx4", "global_load_b128",
                           "flat_load_dword", "buffer_load_dword"}) {
    EXPECT_TRUE(isGlobalLoad(load)) << load;
  }
  EXPECT_FALSE(isGlobalLoad("s_buffer_load_dwordx4"));
  EXPECT_FALSE(isGlobalLoad("buffer_store_dwordx4"));
}

TEST(IsaFamilies, AGlobalWaitIsAnyWaitOnTheVectorMemoryCounter) {
  EXPECT_EQ(globalWaitCount({"s_waitcnt", "vmcnt(3)"}), 3u);
  EXPECT_EQ(globalWaitCount({"s_waitcnt", "vmcnt(0) lgkmcnt(0)"}), 0u);
  EXPECT_EQ(globalWaitCount({"s_waitcnt", "lgkmcnt(1)"}), std::nullopt);
  EXPECT_EQ(globalWaitCount({"s_waitcnt_vmcnt", "null, 0x2"}), 2u);
  EXPECT_EQ(globalWaitCount({"s_waitcnt_vscnt", "null, 0x0"}), std::nullopt); // stores
}

TEST(IsaListing, BlocksFollowLabelsAndBranches) {
  const auto blocks = parseListing("BB0:\n"
                                   "\tv_mov_b32_e32 v0, 0 ; 7e000280\n"
                                   "\ts_cbranch_scc1 BB2 ; bf850001\n"
                                   "\tv_mov_b32_e32 v1, 0 ; 7e020280\n"
                                   "\ts_branch BB0 ; bf82fffc\n"
                                   "\tv_mov_b32_e32 v2, 0 ; 7e040280\n"
                                   "BB2:\n"
                                   "\ts_endpgm ; bf810000\n");
  ASSERT_EQ(blocks.size(), 4u);
  EXPECT_EQ(blocks[0].label, "BB0");
  EXPECT_EQ(blocks[0].instructions.size(), 2u);
  EXPECT_EQ(blocks[0].instructions[0].mnemonic, "v_mov_b32_e32");
  EXPECT_EQ(blocks[0].instructions[0].operands, "v0, 0");
  EXPECT_EQ(blocks[0].successors, (std::vector<std::size_t>{1, 3})); // falls through, or BB2
  EXPECT_EQ(blocks[1].successors, (std::vector<std::size_t>{0}));    // no fall-through
  EXPECT_EQ(blocks[2].successors, (std::vector<std::size_t>{3}));    // code after a branch
  EXPECT_EQ(blocks[3].label, "BB2");
  EXPECT_TRUE(blocks[3].successors.empty());
}

// The shape of the shader before tuning, as the compiler laid it out: the prefetch is waited
// for at once, and an inner loop runs the multiply-adds of one interior column per trip.
constexpr const char* waitingLoop = R"(BB0:
	s_mov_b32 s9, 0                                             ; be890080
BB1:
	s_cmp_ge_u32 s9, s5                                         ; bf090509
	s_cbranch_scc1 BB9                                          ; bf850010
BB2:
	s_barrier                                                   ; bf8a0000
	ds_write_b128 v89, v[92:95] offset:4096                     ; d9be1000 00005c59
	s_waitcnt lgkmcnt(0)                                        ; bf8cc07f
	s_barrier                                                   ; bf8a0000
	buffer_load_dwordx4 v[21:24], v9, s[16:19], 0 offen         ; e05c1000 80041509
	s_waitcnt vmcnt(0)                                          ; bf8c3f70
	s_mov_b32 s10, 0                                            ; be8a0080
BB3:
	s_cmp_ge_u32 s10, 4                                         ; bf09840a
	s_cbranch_scc1 BB1                                          ; bf85fff6
BB4:
	ds_read_b128 v[92:95], v89                                  ; d9fe0000 5c000059
	ds_read_b64 v[96:97], v89 offset:4096                       ; d9fe1000 60000059
	s_waitcnt lgkmcnt(0)                                        ; bf8cc07f
	v_mac_f32_e32 v25, v92, v96                                 ; 2c32c95c
	v_mac_f32_e32 v26, v93, v96                                 ; 2c34cb5d
	v_add_u32_e32 v89, 16, v89                                  ; 68b2b290
	s_add_u32 s10, s10, 1                                       ; 800a810a
	s_branch BB3                                                ; bf82fff8
BB9:
	s_endpgm                                                    ; bf810000
)";

TEST(IsaMainLoop, CountsInnerLoopsByTheirTripsAndFindsTheWaitOnThePrefetch) {
  // One step is 8 FMAs: the inner loop, 2 FMAs a trip, runs 4 times.
  const auto loop = analyseMainLoop(waitingLoop, 8);
  ASSERT_TRUE(loop);
  EXPECT_EQ(loop->innerLoops, 1u);
  EXPECT_DOUBLE_EQ(loop->innerTrips, 4);
  EXPECT_DOUBLE_EQ(loop->fmas, 8);
  EXPECT_DOUBLE_EQ(loop->vector, 4 * 3);
  // Outer: 2 + 7 instructions; inner: 2 + 8 instructions, 4 times.
  EXPECT_DOUBLE_EQ(loop->all, 9 + 4 * 10);
  EXPECT_DOUBLE_EQ(loop->fmaShareOfVector(), 8.0 / 12);
  EXPECT_DOUBLE_EQ(loop->sharedReads.at("ds_read_b128"), 4);
  EXPECT_DOUBLE_EQ(loop->sharedReads.at("ds_read_b64"), 4);
  EXPECT_DOUBLE_EQ(loop->globalLoads, 1);
  EXPECT_DOUBLE_EQ(loop->fmasInFlight, 0);
  EXPECT_TRUE(loop->globalWaitBeforeFmas);
}

// The tuned shape: the loop rotated so that the next tiles are fetched first, the wait for
// them only where they are stored, after the multiply-adds, and a wait on older loads
// (vmcnt(2) with two issued since) in between that does not touch them.
constexpr const char* overlappingLoop = R"(BB4:
	s_cmp_ge_u32 s6, s5                                         ; bf090506
	s_cbranch_scc1 BB8                                          ; bf85052a
BB7:
	global_load_dwordx4 v[100:103], v98, s[16:17]               ; e05c1000 80046462
	global_load_dwordx4 v[104:107], v99, s[16:17]               ; e05c1000 80046863
	s_waitcnt vmcnt(2)                                          ; bf8c3f72
	v_fmac_f32_e32 v25, v92, v96                                ; 2c32c95c
	v_fmac_f32_e32 v26, v93, v96                                ; 2c34cb5d
	v_fmac_f32_e32 v27, v94, v96                                ; 2c36cd5e
	s_waitcnt vmcnt(1)                                          ; bf8c3f71
	v_mov_b32_e32 v16, v100                                     ; 7e200364
	s_waitcnt vmcnt(0)                                          ; bf8c3f70
	v_mov_b32_e32 v17, v104                                     ; 7e220368
	s_branch BB4                                                ; bf82fff3
BB8:
	s_endpgm                                                    ; bf810000
)";

TEST(IsaMainLoop, APrefetchWaitedForAfterTheMultiplyAddsOverlapsThemAll) {
  const auto loop = analyseMainLoop(overlappingLoop, 3);
  ASSERT_TRUE(loop);
  EXPECT_EQ(loop->innerLoops, 0u);
  EXPECT_DOUBLE_EQ(loop->fmas, 3);
  EXPECT_DOUBLE_EQ(loop->all, 2 + 11);
  EXPECT_DOUBLE_EQ(loop->globalLoads, 2);
  EXPECT_DOUBLE_EQ(loop->fmasInFlight, 3);
  EXPECT_FALSE(loop->globalWaitBeforeFmas);
  // Judged against a step of 4 FMAs, 3 overlapped are too few.
  EXPECT_TRUE(analyseMainLoop(overlappingLoop, 4)->globalWaitBeforeFmas);
}

TEST(IsaMainLoop, NoneWithoutALoopOfMultiplyAdds) {
  EXPECT_FALSE(analyseMainLoop("", 8));
  EXPECT_FALSE(analyseMainLoop("BB0:\n\tv_fmac_f32_e32 v1, v2, v3\n\ts_endpgm\n", 8));
  EXPECT_FALSE(analyseMainLoop("BB0:\n\tv_mov_b32_e32 v1, v2\n\ts_branch BB0\n", 8));
}

} // namespace
} // namespace ventaro::bench
