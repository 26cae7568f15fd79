// bench_pairing: time of the whole next-round pairing (both weight
// computations and both runs of the real wmatch process, wm.in and wm.out
// written and read) for 32, 128 and 510 players with 5 rounds of history,
// and the parts for 512 players, where the pairs step stops at its 256th
// table (one step numbers at most 255 tables).
//
// One row per case:  full-pairing players=128 rounds=5 runs=5 median_ms=123.4 min_ms=...
// Runs in a temporary directory of its own; wmatch is the one built beside.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <functional>
#include <numeric>
#include <string>
#include <vector>

#include <unistd.h>

#include "app/core/CommandInterpreter.h"
#include "app/core/PairingEngine.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace pelvaro;

class Rng {
 public:
  explicit Rng(uint64_t seed) : x_(seed * 0x9E3779B97F4A7C15ull + 1) {}
  uint32_t Next() {
    x_ ^= x_ << 13;
    x_ ^= x_ >> 7;
    x_ ^= x_ << 17;
    return static_cast<uint32_t>(x_ >> 11);
  }

 private:
  uint64_t x_;
};

class NoDialogs : public PairingDialogs {
 public:
  void ShowMessage(std::string_view) override {}
  bool AskWarningYesNo(std::string_view) override { return true; }
};

// `rounds` rounds of random tables of four (the last table of a count not
// divisible by four is smaller), 8 6 4 2 points by seat, as clipboard text.
std::string History(int players, int rounds, uint64_t seed) {
  Rng rng(seed);
  std::vector<std::vector<std::string>> cells(static_cast<size_t>(players));
  std::vector<int> order(static_cast<size_t>(players));
  for (int r = 0; r < rounds; ++r) {
    std::iota(order.begin(), order.end(), 0);
    for (int i = players - 1; i > 0; --i) {
      std::swap(order[static_cast<size_t>(i)], order[rng.Next() % static_cast<uint32_t>(i + 1)]);
    }
    for (int seat = 0; seat < players; ++seat) {
      auto& row = cells[static_cast<size_t>(order[static_cast<size_t>(seat)])];
      row.push_back(std::to_string(seat / 4 + 1));
      row.push_back(std::to_string(8 - 2 * (seat % 4)));
      row.push_back(std::to_string(rng.Next() % 60));
    }
  }
  std::string text;
  for (const auto& row : cells) {
    for (size_t c = 0; c < row.size(); ++c) text += row[c] + (c + 1 < row.size() ? "\t" : "\r");
  }
  return text;
}

void Report(const char* name, int players, int rounds, std::vector<double> ms) {
  std::sort(ms.begin(), ms.end());
  std::printf("%s players=%d rounds=%d runs=%zu median_ms=%.1f min_ms=%.1f\n", name, players,
              rounds, ms.size(), ms[ms.size() / 2], ms.front());
  std::fflush(stdout);
}

// Times `step` on a freshly loaded engine, `runs` times.
std::vector<double> Time(int players, int rounds, int runs,
                         const std::function<void(PairingEngine&)>& step) {
  const std::string history = History(players, rounds, 42);
  std::vector<double> ms;
  for (int run = 0; run < runs; ++run) {
    NoDialogs dialogs;
    StringPairingClipboard clipboard;
    SilentPairingView view;
    PairingEngine engine(dialogs, clipboard, view);
    clipboard.text = history;
    engine.LoadGridFromClipboard();
    const auto start = Clock::now();
    step(engine);
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  return ms;
}

}  // namespace

int main() {
  std::string dir = std::filesystem::temp_directory_path().string() + "/bench-pairing-XXXXXX";
  if (mkdtemp(dir.data()) == nullptr) return 1;
  std::filesystem::current_path(dir);
  SetWmatchProgram(PELVARO_WMATCH_PATH);
  constexpr int kRounds = 5;
  int status = 0;
  try {
    for (const int players : {32, 128, 510}) {
      const int runs = players > 200 ? 3 : 5;
      Report("full-pairing", players, kRounds,
             Time(players, kRounds, runs, [](PairingEngine& e) { e.FullPairing(); }));
    }
    Report("pair-weights", 512, kRounds,
           Time(512, kRounds, 3, [](PairingEngine& e) { e.ComputePairWeights(); }));
    Report("pair-weights+wmatch-until-table-256", 512, kRounds,
           Time(512, kRounds, 3, [](PairingEngine& e) {
             try {
               e.FullPairing();
               std::fprintf(stderr, "512 players: expected the 255-table limit\n");
             } catch (const std::exception& error) {
               if (std::string(error.what()) != "Range check error") throw;
             }
           }));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_pairing: %s\n", e.what());
    status = 1;
  }
  std::filesystem::current_path("/");
  std::filesystem::remove_all(dir);
  return status;
}
