#include "bench/isa_analysis.h"

#include <algorithm>
#include <regex>
#include <set>
#include <sstream>
#include <unordered_map>

namespace ventaro::bench {
namespace {

bool startsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

std::string_view trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) {
    return {};
  }
  const auto last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

bool isBranch(std::string_view mnemonic) {
  return mnemonic == "s_branch" || startsWith(mnemonic, "s_cbranch_");
}

bool endsProgram(std::string_view mnemonic) {
  return mnemonic == "s_endpgm" || startsWith(mnemonic, "s_setpc");
}

// A natural loop: its header and every block that reaches the back edge's source without
// passing through the header. Back edges are the branches to a label at or before their own
// block, as a structured listing lays its loops out.
struct Loop {
  std::size_t header = 0;
  std::set<std::size_t> blocks;
};

std::vector<Loop> loopsOf(const std::vector<IsaBlock>& blocks) {
  std::vector<std::vector<std::size_t>> predecessors(blocks.size());
  for (std::size_t b = 0; b < blocks.size(); ++b) {
    for (std::size_t s : blocks[b].successors) {
      predecessors[s].push_back(b);
    }
  }
  std::map<std::size_t, Loop> byHeader;
  for (std::size_t b = 0; b < blocks.size(); ++b) {
    for (std::size_t header : blocks[b].successors) {
      if (header > b) {
        continue;
      }
      Loop& loop = byHeader[header];
      loop.header = header;
      loop.blocks.insert(header);
      std::vector<std::size_t> pending{b};
      while (!pending.empty()) {
        const std::size_t next = pending.back();
        pending.pop_back();
        if (loop.blocks.insert(next).second) {
          pending.insert(pending.end(), predecessors[next].begin(), predecessors[next].end());
        }
      }
    }
  }
  std::vector<Loop> loops;
  loops.reserve(byHeader.size());
  for (auto& [header, loop] : byHeader) {
    loops.push_back(std::move(loop));
  }
  return loops;
}

std::size_t fmasIn(const IsaBlock& block) {
  return static_cast<std::size_t>(
      std::count_if(block.instructions.begin(), block.instructions.end(),
                    [](const IsaInstruction& i) { return isFp32Fma(i.mnemonic); }));
}

// The fewest FMAs that run between a global load of the loop and the first wait that must
// see it done, walking the loop's listing around from the load (FMAs weighed by how often
// their block runs). Loads return in order, so a wait that leaves n loads outstanding must
// see a load done once n or fewer were issued after it.
double fewestFmasInFlight(const std::vector<const IsaInstruction*>& body,
                          const std::vector<double>& weights) {
  std::optional<double> fewest;
  for (std::size_t start = 0; start < body.size(); ++start) {
    if (!isGlobalLoad(body[start]->mnemonic)) {
      continue;
    }
    std::size_t issuedAfter = 0;
    double fmas = 0;
    for (std::size_t step = 1; step <= body.size(); ++step) {
      const std::size_t at = (start + step) % body.size();
      const IsaInstruction& instruction = *body[at];
      if (isGlobalLoad(instruction.mnemonic)) {
        ++issuedAfter;
      } else if (isFp32Fma(instruction.mnemonic)) {
        fmas += weights[at];
      } else if (auto left = globalWaitCount(instruction); left && *left <= issuedAfter) {
        break;
      }
    }
    fewest = std::min(fewest.value_or(fmas), fmas);
  }
  return fewest.value_or(0);
}

} // namespace

std::vector<IsaBlock> parseListing(std::string_view listing) {
  std::vector<IsaBlock> blocks(1);
  std::vector<std::pair<std::size_t, std::string>> branches; // block, target label
  std::istringstream lines{std::string(listing)};
  std::string line;
  bool fallsThrough = true;
  auto startBlock = [&](std::string label) {
    if (!blocks.back().label.empty() || !blocks.back().instructions.empty()) {
      if (fallsThrough) {
        blocks.back().successors.push_back(blocks.size());
      }
      blocks.emplace_back();
    }
    blocks.back().label = std::move(label);
    fallsThrough = true;
  };
  while (std::getline(lines, line)) {
    std::string_view text = trimmed(line);
    if (const auto comment = text.find(';'); comment != std::string_view::npos) {
      text = trimmed(text.substr(0, comment));
    }
    if (text.empty() || startsWith(text, "//")) {
      continue;
    }
    if (text.back() == ':' && text.find_first_of(" \t") == std::string_view::npos) {
      startBlock(std::string(text.substr(0, text.size() - 1)));
      continue;
    }
    if (!fallsThrough) {
      startBlock({}); // code after an unconditional branch
    }
    const auto space = text.find_first_of(" \t");
    IsaInstruction instruction{
        std::string(text.substr(0, space)),
        space == std::string_view::npos ? std::string() : std::string(trimmed(text.substr(space)))};
    const std::string mnemonic = instruction.mnemonic;
    const std::string target = instruction.operands;
    blocks.back().instructions.push_back(std::move(instruction));
    if (isBranch(mnemonic) || endsProgram(mnemonic)) {
      if (isBranch(mnemonic)) {
        branches.emplace_back(blocks.size() - 1, target);
      }
      fallsThrough = startsWith(mnemonic, "s_cbranch_");
      if (fallsThrough) {
        startBlock({});
      }
    }
  }
  std::unordered_map<std::string, std::size_t> labels;
  for (std::size_t b = 0; b < blocks.size(); ++b) {
    if (!blocks[b].label.empty()) {
      labels.emplace(blocks[b].label, b);
    }
  }
  for (const auto& [block, target] : branches) {
    if (auto found = labels.find(target); found != labels.end()) {
      blocks[block].successors.push_back(found->second);
    }
  }
  return blocks;
}

bool isFp32Fma(std::string_view mnemonic) {
  // fma, fmac, mac, mad and their constant-operand forms (fmamk, fmaak, madmk, madak), any
  // encoding suffix.
  static const std::regex fma("v_(fma|fmac|mac|mad)(mk|ak)?(_legacy)?_f32(_.*)?");
  return std::regex_match(mnemonic.begin(), mnemonic.end(), fma);
}

bool isVector(std::string_view mnemonic) {
  return startsWith(mnemonic, "v_");
}

bool isSharedRead(std::string_view mnemonic) {
  return startsWith(mnemonic, "ds_read") || startsWith(mnemonic, "ds_load");
}

bool isGlobalLoad(std::string_view mnemonic) {
  return startsWith(mnemonic, "buffer_load") || startsWith(mnemonic, "global_load") ||
         startsWith(mnemonic, "flat_load") || startsWith(mnemonic, "tbuffer_load");
}

std::optional<unsigned> globalWaitCount(const IsaInstruction& instruction) {
  static const std::regex count(R"(vmcnt\((\d+)\))");
  std::smatch match;
  if (instruction.mnemonic == "s_waitcnt" &&
      std::regex_search(instruction.operands, match, count)) {
    return static_cast<unsigned>(std::stoul(match[1]));
  }
  if (instruction.mnemonic == "s_waitcnt_vmcnt") {
    // "null, 0x1": the count is the immediate.
    const auto comma = instruction.operands.rfind(',');
    return static_cast<unsigned>(std::stoul(
        instruction.operands.substr(comma == std::string::npos ? 0 : comma + 1), nullptr, 0));
  }
  return std::nullopt;
}

std::optional<LoopFigures> analyseMainLoop(std::string_view listing, double fmasPerStep) {
  const std::vector<IsaBlock> blocks = parseListing(listing);
  const std::vector<Loop> loops = loopsOf(blocks);
  const Loop* main = nullptr;
  for (const Loop& loop : loops) {
    const bool hasFmas = std::any_of(loop.blocks.begin(), loop.blocks.end(),
                                     [&](std::size_t b) { return fmasIn(blocks[b]) > 0; });
    if (hasFmas && (main == nullptr || loop.blocks.size() > main->blocks.size())) {
      main = &loop;
    }
  }
  if (main == nullptr) {
    return std::nullopt;
  }
  LoopFigures figures;
  std::set<std::size_t> inner;
  for (const Loop& loop : loops) {
    if (&loop != main && main->blocks.count(loop.header) != 0) {
      ++figures.innerLoops;
      inner.insert(loop.blocks.begin(), loop.blocks.end());
    }
  }
  double fmasInner = 0;
  double fmasOuter = 0;
  for (std::size_t b : main->blocks) {
    (inner.count(b) != 0 ? fmasInner : fmasOuter) += static_cast<double>(fmasIn(blocks[b]));
  }
  if (fmasInner > 0) {
    figures.innerTrips = std::max(1.0, (fmasPerStep - fmasOuter) / fmasInner);
  }
  std::vector<const IsaInstruction*> body;
  std::vector<double> weights;
  for (std::size_t b : main->blocks) { // in listing order
    const double times = inner.count(b) != 0 ? figures.innerTrips : 1.0;
    for (const IsaInstruction& instruction : blocks[b].instructions) {
      body.push_back(&instruction);
      weights.push_back(times);
      figures.all += times;
      if (isFp32Fma(instruction.mnemonic)) {
        figures.fmas += times;
      }
      if (isVector(instruction.mnemonic)) {
        figures.vector += times;
      }
      if (isSharedRead(instruction.mnemonic)) {
        figures.sharedReads[instruction.mnemonic] += times;
      }
      if (isGlobalLoad(instruction.mnemonic)) {
        figures.globalLoads += times;
      }
    }
  }
  figures.fmasInFlight = fewestFmasInFlight(body, weights);
  figures.globalWaitBeforeFmas = figures.globalLoads > 0 && figures.fmasInFlight < fmasPerStep;
  return figures;
}

} // namespace ventaro::bench
