#pragma once

// Reading a GPU compiler's final assembly listing: its blocks and branches, its main loop,
// and what one iteration of that loop executes, counted by instruction family (not by exact
// line, so that another compiler version's spelling of the same work counts the same).

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ventaro::bench {

struct IsaInstruction {
  std::string mnemonic; // e.g. "v_fmac_f32_e32"
  std::string operands; // the rest of the line before the ';' of the encoding
};

/// A straight run of instructions: a label starts one, and a branch ends one.
struct IsaBlock {
  std::string label; // empty for a block that follows a branch without a label
  std::vector<IsaInstruction> instructions;
  std::vector<std::size_t> successors; // block indices
};

/// The blocks of a listing: lines "LABEL:" start blocks; every other line that is not blank or
/// a comment is an instruction, "mnemonic operands ; encoding". A branch to an unknown label
/// has no successor there.
std::vector<IsaBlock> parseListing(std::string_view listing);

// Instruction families.
bool isFp32Fma(std::string_view mnemonic);
bool isVector(std::string_view mnemonic);
bool isSharedRead(std::string_view mnemonic);
bool isGlobalLoad(std::string_view mnemonic);
/// The count a wait on vector-memory loads lets stay outstanding ("s_waitcnt vmcnt(2)" is 2);
/// none for an instruction that does not wait on them.
std::optional<unsigned> globalWaitCount(const IsaInstruction& instruction);

/// What one iteration of the main loop executes: every block of the loop once, the blocks of
/// loops nested in it `innerTrips` times. Edge paths count as if taken, as the listing stands.
struct LoopFigures {
  double fmas = 0;
  double vector = 0; // vector ALU instructions, the FMAs included
  double all = 0;
  std::map<std::string, double> sharedReads; // by mnemonic, e.g. "ds_read_b128"
  double globalLoads = 0;
  std::size_t innerLoops = 0;
  double innerTrips = 1;
  /// The fewest FMAs that run while a global load of the loop is in flight: between the
  /// load and the first wait that must see it done, around the loop.
  double fmasInFlight = 0;
  /// Whether some global load (a prefetch of a later step's tiles) is waited for before a
  /// whole step's FMAs ran while it was in flight.
  bool globalWaitBeforeFmas = false;

  double fmaShareOfVector() const { return vector > 0 ? fmas / vector : 0; }
  double fmaShareOfAll() const { return all > 0 ? fmas / all : 0; }
};

/// The main loop is the largest loop holding FP32 FMAs; `fmasPerStep` is the FMAs one step
/// of the interior dimension does. Loops nested in the main loop run as many times as it
/// takes one iteration to do one step's FMAs; none when the listing has no loop with FMAs.
std::optional<LoopFigures> analyseMainLoop(std::string_view listing, double fmasPerStep);

} // namespace ventaro::bench
