// bench_seating: whole simulated tournaments seated round after round by
// three methods, to compare how often players meet again and how even the
// tables are in points:
//
//   described      the pairing engine's two matching steps with the real
//                  wmatch process (pairs, then pairs of pairs)
//   local-search   the plain search an organiser would write instead: tables
//                  of four from the standings, then the best swap of two
//                  players between tables while it helps, scored by repeat
//                  meetings first and the points spread at the table second
//   fewer-repeats  the engine's full pairing with "fewer repeats" on
//
// Each tournament (players x rounds, seeds 1..5) gives every player a fixed
// strength; a player's score in a round is the strength plus noise that
// depends only on seed, round and player, so every method sees the same
// form of the day. Places at a table earn 8, 6, 4, 2 points, tied players
// the average of their places. Per method and size it prints the total of
// repeat meetings (pairs at one table who met before) over all tournaments,
// the mean spread of points totals at a table (highest minus lowest, at the
// time of seating) and the mean time to seat one round:
//
//   method=fewer-repeats players=32 rounds=7 seeds=5 repeats=0 mean_spread=5.21 ms_per_round=4.1
//
// and one line per size with op=repeats ... ratio=FEWER/LOCAL. Runs in a
// temporary directory of its own; wmatch is the one built beside.
#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <numeric>
#include <string>
#include <vector>

#include <unistd.h>

#include "app/core/CommandInterpreter.h"
#include "app/core/PairingEngine.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace pelvaro;

constexpr int kSeeds = 5;

uint64_t Mix(uint64_t z) {
  z += 0x9E3779B97F4A7C15ull;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

// A standard normal value fixed by the key.
double Normal(uint64_t key) {
  const double u1 = (static_cast<double>(Mix(key) >> 11) + 0.5) / 9007199254740992.0;
  const double u2 = (static_cast<double>(Mix(key ^ 0xA5A5A5A5ull) >> 11) + 0.5) / 9007199254740992.0;
  return std::sqrt(-2.0 * std::log(u1)) * std::cos(6.283185307179586 * u2);
}

class NoDialogs : public PairingDialogs {
 public:
  void ShowMessage(std::string_view text) override {
    std::fprintf(stderr, "engine message: %.*s\n", static_cast<int>(text.size()), text.data());
    std::exit(1);
  }
  bool AskWarningYesNo(std::string_view) override { return true; }
};

// The tournament so far, 0-based players and rounds.
struct History {
  int players = 0;
  std::vector<std::vector<int>> table;     // [round][player], 0 = not seated
  std::vector<std::vector<double>> points;  // [round][player]

  double Total(int p) const {
    double sum = 0;
    for (const auto& round : points) sum += round[static_cast<size_t>(p)];
    return sum;
  }
  int Meetings(int a, int b) const {
    int count = 0;
    for (const auto& round : table) {
      const int t = round[static_cast<size_t>(a)];
      if (t != 0 && t == round[static_cast<size_t>(b)]) ++count;
    }
    return count;
  }
};

// The plain search: standings, then best swaps while they help.
std::vector<int> LocalSearch(const History& h) {
  const int n = h.players;
  const int tables = n / 4;
  std::vector<int64_t> total(static_cast<size_t>(n));
  for (int p = 0; p < n; ++p) total[static_cast<size_t>(p)] = std::llround(h.Total(p));
  std::vector<int> met(static_cast<size_t>(n * n));
  for (int a = 0; a < n; ++a)
    for (int b = 0; b < n; ++b) met[static_cast<size_t>(a * n + b)] = a == b ? 0 : h.Meetings(a, b);

  std::vector<int> order(static_cast<size_t>(n));
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
    return total[static_cast<size_t>(a)] > total[static_cast<size_t>(b)];
  });
  std::vector<std::array<int, 4>> members(static_cast<size_t>(tables));
  std::vector<int> group(static_cast<size_t>(n), -1);
  std::vector<int> slot(static_cast<size_t>(n), 0);
  for (int r = 0; r < 4 * tables; ++r) {
    const int p = order[static_cast<size_t>(r)];
    members[static_cast<size_t>(r / 4)][static_cast<size_t>(r % 4)] = p;
    group[static_cast<size_t>(p)] = r / 4;
    slot[static_cast<size_t>(p)] = r % 4;
  }
  constexpr int64_t kRepeat = 1'000'000'000;
  auto cost = [&](const std::array<int, 4>& m) {
    int64_t c = 0;
    int64_t lo = total[static_cast<size_t>(m[0])];
    int64_t hi = lo;
    for (int a = 0; a < 4; ++a) {
      lo = std::min(lo, total[static_cast<size_t>(m[static_cast<size_t>(a)])]);
      hi = std::max(hi, total[static_cast<size_t>(m[static_cast<size_t>(a)])]);
      for (int b = a + 1; b < 4; ++b) {
        if (met[static_cast<size_t>(m[static_cast<size_t>(a)] * n + m[static_cast<size_t>(b)])] > 0)
          c += kRepeat;
      }
    }
    return c + hi - lo;
  };
  while (true) {
    int64_t bestDelta = 0;
    int bi = -1;
    int bj = -1;
    for (int i = 0; i < n; ++i) {
      const int gi = group[static_cast<size_t>(i)];
      if (gi < 0) continue;
      for (int j = i + 1; j < n; ++j) {
        const int gj = group[static_cast<size_t>(j)];
        if (gj < 0 || gj == gi) continue;
        auto mi = members[static_cast<size_t>(gi)];
        auto mj = members[static_cast<size_t>(gj)];
        const int64_t before = cost(mi) + cost(mj);
        mi[static_cast<size_t>(slot[static_cast<size_t>(i)])] = j;
        mj[static_cast<size_t>(slot[static_cast<size_t>(j)])] = i;
        const int64_t delta = cost(mi) + cost(mj) - before;
        if (delta < bestDelta) {
          bestDelta = delta;
          bi = i;
          bj = j;
        }
      }
    }
    if (bi < 0) break;
    const int gi = group[static_cast<size_t>(bi)];
    const int gj = group[static_cast<size_t>(bj)];
    members[static_cast<size_t>(gi)][static_cast<size_t>(slot[static_cast<size_t>(bi)])] = bj;
    members[static_cast<size_t>(gj)][static_cast<size_t>(slot[static_cast<size_t>(bj)])] = bi;
    std::swap(group[static_cast<size_t>(bi)], group[static_cast<size_t>(bj)]);
    std::swap(slot[static_cast<size_t>(bi)], slot[static_cast<size_t>(bj)]);
  }
  std::vector<int> result(static_cast<size_t>(n), 0);
  for (int p = 0; p < n; ++p) result[static_cast<size_t>(p)] = group[static_cast<size_t>(p)] + 1;
  return result;
}

std::string PointsText(double points) {
  char text[32];
  if (points == std::floor(points)) {
    std::snprintf(text, sizeof text, "%.0f", points);
  } else {
    std::snprintf(text, sizeof text, "%.2f", points);
  }
  return text;
}

struct Totals {
  long repeats = 0;
  double spreadSum = 0;
  long tables = 0;
  double seconds = 0;
  long rounds = 0;
};

enum class Method { kDescribed, kLocalSearch, kFewerRepeats };

void Tournament(Method method, int players, int rounds, uint64_t seed, Totals& totals) {
  History h;
  h.players = players;
  std::vector<double> strength(static_cast<size_t>(players));
  for (int p = 0; p < players; ++p) strength[static_cast<size_t>(p)] = Normal(seed * 1000003 + static_cast<uint64_t>(p));

  NoDialogs dialogs;
  StringPairingClipboard clipboard;
  SilentPairingView view;
  PairingEngine engine(dialogs, clipboard, view);
  engine.SetPlayerCount(players);
  engine.LayoutGrid();
  engine.SetFewerRepeats(method == Method::kFewerRepeats);

  for (int r = 1; r <= rounds; ++r) {
    std::vector<int> table(static_cast<size_t>(players));
    const Clock::time_point start = Clock::now();
    if (method == Method::kLocalSearch) {
      table = LocalSearch(h);
    } else {
      engine.FullPairing();
      for (int p = 0; p < players; ++p)
        table[static_cast<size_t>(p)] = std::stoi(engine.Grid().Cell(p + 1, 3 * r - 2));
    }
    totals.seconds += std::chrono::duration<double>(Clock::now() - start).count();
    ++totals.rounds;

    // Repeats and spreads of this seating.
    std::vector<std::vector<int>> at(static_cast<size_t>(players / 4 + 2));
    for (int p = 0; p < players; ++p) {
      const int t = table[static_cast<size_t>(p)];
      if (t > 0) {
        if (static_cast<size_t>(t) >= at.size()) at.resize(static_cast<size_t>(t) + 1);
        at[static_cast<size_t>(t)].push_back(p);
      }
    }
    std::vector<double> roundPoints(static_cast<size_t>(players), 0.0);
    for (const std::vector<int>& seated : at) {
      if (seated.empty()) continue;
      double lo = 1e300;
      double hi = -1e300;
      for (size_t a = 0; a < seated.size(); ++a) {
        lo = std::min(lo, h.Total(seated[a]));
        hi = std::max(hi, h.Total(seated[a]));
        for (size_t b = a + 1; b < seated.size(); ++b) {
          if (h.Meetings(seated[a], seated[b]) > 0) ++totals.repeats;
        }
      }
      totals.spreadSum += hi - lo;
      ++totals.tables;
      // The game: scores, then places with ties sharing their points.
      std::vector<double> score;
      for (const int p : seated) {
        score.push_back(std::round(
            100 + 12 * strength[static_cast<size_t>(p)] +
            15 * Normal(seed * 7919 + static_cast<uint64_t>(r) * 104729 + static_cast<uint64_t>(p))));
      }
      for (size_t a = 0; a < seated.size(); ++a) {
        int better = 0;
        int equal = 0;
        for (size_t b = 0; b < seated.size(); ++b) {
          if (score[b] > score[a]) ++better;
          if (b != a && score[b] == score[a]) ++equal;
        }
        double sum = 0;
        for (int place = better; place <= better + equal; ++place) sum += 8 - 2 * place;
        roundPoints[static_cast<size_t>(seated[a])] = sum / (equal + 1);
      }
    }
    h.table.push_back(table);
    h.points.push_back(roundPoints);
    if (method != Method::kLocalSearch) {
      for (int p = 0; p < players; ++p) {
        engine.Grid().SetCell(p + 1, 3 * r - 1, PointsText(roundPoints[static_cast<size_t>(p)]));
        engine.Grid().SetCell(p + 1, 3 * r, "0");
      }
    }
  }
}

const char* Name(Method method) {
  switch (method) {
    case Method::kDescribed:
      return "described";
    case Method::kLocalSearch:
      return "local-search";
    case Method::kFewerRepeats:
      return "fewer-repeats";
  }
  return "?";
}

}  // namespace

int main() {
  SetWmatchProgram(PELVARO_WMATCH_PATH);
  char dir[] = "/tmp/bench_seating.XXXXXX";
  if (mkdtemp(dir) == nullptr || chdir(dir) != 0) {
    std::perror("bench_seating: temporary directory");
    return 1;
  }
  struct Size {
    int players;
    int rounds;
  };
  const Size sizes[] = {{16, 5}, {32, 7}, {64, 9}, {128, 9}};
  int status = 0;
  try {
    for (const Size& size : sizes) {
      Totals byMethod[3];
      for (const Method method : {Method::kDescribed, Method::kLocalSearch, Method::kFewerRepeats}) {
        Totals& t = byMethod[static_cast<int>(method)];
        for (uint64_t seed = 1; seed <= kSeeds; ++seed) Tournament(method, size.players, size.rounds, seed, t);
        std::printf("method=%s players=%d rounds=%d seeds=%d repeats=%ld mean_spread=%.2f ms_per_round=%.2f\n",
                    Name(method), size.players, size.rounds, kSeeds, t.repeats,
                    t.spreadSum / static_cast<double>(t.tables), 1000.0 * t.seconds / static_cast<double>(t.rounds));
        std::fflush(stdout);
      }
      const Totals& local = byMethod[1];
      const Totals& fewer = byMethod[2];
      std::printf("op=repeats players=%d ratio=%.3f\n", size.players,
                  local.repeats == 0 ? (fewer.repeats == 0 ? 1.0 : INFINITY)
                                     : static_cast<double>(fewer.repeats) / static_cast<double>(local.repeats));
      std::printf("op=spread players=%d ratio=%.3f\n", size.players,
                  (fewer.spreadSum / static_cast<double>(fewer.tables)) /
                      (local.spreadSum / static_cast<double>(local.tables)));
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_seating: %s\n", e.what());
    status = 1;
  }
  std::error_code ec;
  std::filesystem::current_path("/", ec);
  std::filesystem::remove_all(dir, ec);
  return status;
}
