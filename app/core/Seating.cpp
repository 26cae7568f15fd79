#include "app/core/Seating.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <deque>
#include <numeric>

namespace pelvaro {
namespace {

// Kicks without a better seating before the search stops, and the most
// kicks in all; both grow with the player count. The counts, not a clock,
// bound the search, so one round is always seated the same way.
int Patience(int players) { return std::max(500, 4 * players); }
int MaxKicks(int players) { return std::max(3000, 16 * players); }

class Rng {
 public:
  explicit Rng(uint64_t seed) : state_(seed) {}
  // splitmix64
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  int Below(int bound) { return static_cast<int>(Next() % static_cast<uint64_t>(bound)); }

 private:
  uint64_t state_;
};

using Members = std::array<int, 4>;

// The state of the search: who sits where, and the score of every group.
struct State {
  std::vector<Members> members;  // per group; only the first size entries count
  std::vector<int> size;
  std::vector<int> group;  // per player
  std::vector<int> slot;   // per player: index in its group's members
  std::vector<SeatingScore> cost;
  SeatingScore total;
};

class Search {
 public:
  explicit Search(const SeatingInput& input)
      : in_(input),
        n_(input.players),
        tables_(input.players / 4),
        sitOutGroup_(input.players % 4 != 0 ? input.players / 4 : -1),
        rng_(0x5EA7u + static_cast<uint64_t>(input.players)) {
    // Standings: points down, the lower player number first on a tie.
    rank_.resize(static_cast<size_t>(n_));
    std::iota(rank_.begin(), rank_.end(), 0);
    std::stable_sort(rank_.begin(), rank_.end(), [&](int a, int b) {
      return in_.points[static_cast<size_t>(a)] > in_.points[static_cast<size_t>(b)];
    });
    position_.resize(static_cast<size_t>(n_));
    for (int r = 0; r < n_; ++r) position_[static_cast<size_t>(rank_[static_cast<size_t>(r)])] = r;
  }

  Seating Run() {
    State state = Standings();
    std::vector<int> everyone(rank_);
    Descend(state, everyone);
    State best = state;
    int sinceBest = 0;
    const int patience = Patience(n_);
    const int maxKicks = MaxKicks(n_);
    for (int kick = 0; kick < maxKicks && sinceBest < patience; ++kick) {
      if (best.total == SeatingScore{}) break;  // nothing left to improve
      State trial = state;
      Kick(trial);
      // A seating as good as the current one is taken too: the search walks
      // across plateaus instead of circling one seating.
      if (trial.total <= state.total) state = std::move(trial);
      if (state.total < best.total) {
        best = state;
        sinceBest = 0;
      } else {
        ++sinceBest;
      }
    }
    return best.group;
  }

  SeatingScore GroupCost(int g, const Members& m, int size) const {
    SeatingScore s;
    if (g == sitOutGroup_) {
      if (!in_.sitOuts.empty()) {
        for (int k = 0; k < size; ++k) s.sitOutRepeats += in_.sitOuts[static_cast<size_t>(m[k])];
      }
      return s;
    }
    int64_t low = 0;
    int64_t high = 0;
    for (int a = 0; a < size; ++a) {
      const int pa = m[static_cast<size_t>(a)];
      const int64_t points = in_.points[static_cast<size_t>(pa)];
      if (a == 0 || points < low) low = points;
      if (a == 0 || points > high) high = points;
      for (int b = a + 1; b < size; ++b) {
        const int pb = m[static_cast<size_t>(b)];
        if (!in_.bye.empty() && in_.bye[static_cast<size_t>(pa)] && in_.bye[static_cast<size_t>(pb)])
          ++s.byePairs;
        const int met = in_.Meetings(pa, pb);
        if (met > 0) {
          ++s.repeats;
          s.extraMeetings += met - 1;
        }
      }
    }
    s.spread = high - low;
    return s;
  }

 private:
  State Standings() const {
    State s;
    const int groups = tables_ + (sitOutGroup_ >= 0 ? 1 : 0);
    s.members.assign(static_cast<size_t>(groups), Members{0, 0, 0, 0});
    s.size.assign(static_cast<size_t>(groups), 0);
    s.group.assign(static_cast<size_t>(n_), 0);
    s.slot.assign(static_cast<size_t>(n_), 0);
    for (int r = 0; r < n_; ++r) {
      const int p = rank_[static_cast<size_t>(r)];
      const int g = r < 4 * tables_ ? r / 4 : sitOutGroup_;
      const int k = s.size[static_cast<size_t>(g)]++;
      s.members[static_cast<size_t>(g)][static_cast<size_t>(k)] = p;
      s.group[static_cast<size_t>(p)] = g;
      s.slot[static_cast<size_t>(p)] = k;
    }
    s.cost.resize(static_cast<size_t>(groups));
    for (int g = 0; g < groups; ++g) {
      s.cost[static_cast<size_t>(g)] =
          GroupCost(g, s.members[static_cast<size_t>(g)], s.size[static_cast<size_t>(g)]);
      s.total += s.cost[static_cast<size_t>(g)];
    }
    return s;
  }

  // The two groups' scores after swapping players i and j (of different
  // groups).
  std::pair<SeatingScore, SeatingScore> SwapCosts(const State& s, int i, int j) const {
    const int gi = s.group[static_cast<size_t>(i)];
    const int gj = s.group[static_cast<size_t>(j)];
    Members mi = s.members[static_cast<size_t>(gi)];
    Members mj = s.members[static_cast<size_t>(gj)];
    mi[static_cast<size_t>(s.slot[static_cast<size_t>(i)])] = j;
    mj[static_cast<size_t>(s.slot[static_cast<size_t>(j)])] = i;
    return {GroupCost(gi, mi, s.size[static_cast<size_t>(gi)]),
            GroupCost(gj, mj, s.size[static_cast<size_t>(gj)])};
  }

  void Swap(State& s, int i, int j, const std::pair<SeatingScore, SeatingScore>& costs) const {
    const size_t ui = static_cast<size_t>(i);
    const size_t uj = static_cast<size_t>(j);
    const int gi = s.group[ui];
    const int gj = s.group[uj];
    s.total -= s.cost[static_cast<size_t>(gi)];
    s.total -= s.cost[static_cast<size_t>(gj)];
    s.members[static_cast<size_t>(gi)][static_cast<size_t>(s.slot[ui])] = j;
    s.members[static_cast<size_t>(gj)][static_cast<size_t>(s.slot[uj])] = i;
    std::swap(s.group[ui], s.group[uj]);
    std::swap(s.slot[ui], s.slot[uj]);
    s.cost[static_cast<size_t>(gi)] = costs.first;
    s.cost[static_cast<size_t>(gj)] = costs.second;
    s.total += costs.first;
    s.total += costs.second;
  }

  // Best-improvement descent over swaps, driven by a queue of players to
  // look at. A swap only changes the scores of its two groups, and every swap
  // that touches a changed group has an end in it, so looking again at the
  // members of the changed groups finds every swap that became improving.
  void Descend(State& s, const std::vector<int>& start) const {
    std::vector<char> queued(static_cast<size_t>(n_), 0);
    std::deque<int> queue;
    for (const int p : start) {
      if (!queued[static_cast<size_t>(p)]) {
        queued[static_cast<size_t>(p)] = 1;
        queue.push_back(p);
      }
    }
    while (!queue.empty()) {
      const int i = queue.front();
      queue.pop_front();
      queued[static_cast<size_t>(i)] = 0;
      const int gi = s.group[static_cast<size_t>(i)];
      int bestJ = -1;
      SeatingScore bestDelta;
      std::pair<SeatingScore, SeatingScore> bestCosts;
      for (int j = 0; j < n_; ++j) {
        const int gj = s.group[static_cast<size_t>(j)];
        if (gj == gi) continue;
        const auto costs = SwapCosts(s, i, j);
        SeatingScore delta = costs.first;
        delta += costs.second;
        delta -= s.cost[static_cast<size_t>(gi)];
        delta -= s.cost[static_cast<size_t>(gj)];
        if (delta < bestDelta) {
          bestDelta = delta;
          bestJ = j;
          bestCosts = costs;
        }
      }
      if (bestJ < 0) continue;
      const int gj = s.group[static_cast<size_t>(bestJ)];
      Swap(s, i, bestJ, bestCosts);
      for (const int g : {gi, gj}) {
        for (int k = 0; k < s.size[static_cast<size_t>(g)]; ++k) {
          const int p = s.members[static_cast<size_t>(g)][static_cast<size_t>(k)];
          if (!queued[static_cast<size_t>(p)]) {
            queued[static_cast<size_t>(p)] = 1;
            queue.push_back(p);
          }
        }
      }
    }
  }

  // A player to move: mostly one at a table that still has a fault (a
  // repeat, two BYE players, a sit-out again), else anyone.
  int PickTroubled(const State& s) {
    std::vector<int> troubled;
    for (size_t g = 0; g < s.cost.size(); ++g) {
      const SeatingScore& c = s.cost[g];
      if (c.byePairs > 0 || c.sitOutRepeats > 0 || c.repeats > 0) {
        for (int k = 0; k < s.size[g]; ++k) troubled.push_back(s.members[g][static_cast<size_t>(k)]);
      }
    }
    if (!troubled.empty() && rng_.Below(4) != 0) {
      return troubled[static_cast<size_t>(rng_.Below(static_cast<int>(troubled.size())))];
    }
    return rng_.Below(n_);
  }

  // A partner in another group: mostly a neighbour in the standings, so the
  // kick keeps the points spread in reach of the next descent.
  int PickPartner(const State& s, int i) {
    const int gi = s.group[static_cast<size_t>(i)];
    for (int attempt = 0; attempt < 16; ++attempt) {
      int j;
      if (rng_.Below(2) == 0) {
        const int window = 12;
        const int r = position_[static_cast<size_t>(i)] + rng_.Below(2 * window + 1) - window;
        if (r < 0 || r >= n_) continue;
        j = rank_[static_cast<size_t>(r)];
      } else {
        j = rng_.Below(n_);
      }
      if (s.group[static_cast<size_t>(j)] != gi) return j;
    }
    return -1;
  }

  void Kick(State& s) {
    std::vector<int> touched;
    const int swaps = 1 + rng_.Below(3);
    for (int k = 0; k < swaps; ++k) {
      const int i = PickTroubled(s);
      const int j = PickPartner(s, i);
      if (j < 0) continue;
      const int gi = s.group[static_cast<size_t>(i)];
      const int gj = s.group[static_cast<size_t>(j)];
      Swap(s, i, j, SwapCosts(s, i, j));
      for (const int g : {gi, gj}) {
        for (int m = 0; m < s.size[static_cast<size_t>(g)]; ++m) {
          touched.push_back(s.members[static_cast<size_t>(g)][static_cast<size_t>(m)]);
        }
      }
    }
    Descend(s, touched);
  }

  const SeatingInput& in_;
  int n_;
  int tables_;
  int sitOutGroup_;
  Rng rng_;
  std::vector<int> rank_;      // players in standings order
  std::vector<int> position_;  // per player: place in rank_
};

}  // namespace

SeatingScore& SeatingScore::operator+=(const SeatingScore& o) {
  byePairs += o.byePairs;
  sitOutRepeats += o.sitOutRepeats;
  repeats += o.repeats;
  extraMeetings += o.extraMeetings;
  spread += o.spread;
  return *this;
}

SeatingScore& SeatingScore::operator-=(const SeatingScore& o) {
  byePairs -= o.byePairs;
  sitOutRepeats -= o.sitOutRepeats;
  repeats -= o.repeats;
  extraMeetings -= o.extraMeetings;
  spread -= o.spread;
  return *this;
}

Seating SeatWithFewerRepeats(const SeatingInput& input) {
  assert(static_cast<int>(input.points.size()) == input.players);
  assert(static_cast<int>(input.meetings.size()) == input.players * input.players);
  if (input.players <= 0) return {};
  if (input.players < 4) return Seating(static_cast<size_t>(input.players), 0);
  return Search(input).Run();
}

SeatingScore ScoreSeating(const SeatingInput& input, const Seating& seating) {
  const int n = input.players;
  const int tables = n / 4;
  const int groups = tables + (n % 4 != 0 ? 1 : 0);
  std::vector<Members> members(static_cast<size_t>(groups), Members{0, 0, 0, 0});
  std::vector<int> size(static_cast<size_t>(groups), 0);
  for (int p = 0; p < n; ++p) {
    const int g = seating[static_cast<size_t>(p)];
    assert(g >= 0 && g < groups && size[static_cast<size_t>(g)] < 4);
    members[static_cast<size_t>(g)][static_cast<size_t>(size[static_cast<size_t>(g)]++)] = p;
  }
  SeatingScore total;
  const Search search(input);
  for (int g = 0; g < groups; ++g) {
    total += search.GroupCost(g, members[static_cast<size_t>(g)], size[static_cast<size_t>(g)]);
  }
  return total;
}

std::vector<int> NumberTables(const Seating& seating) {
  const int n = static_cast<int>(seating.size());
  const int tables = n / 4;
  std::vector<int> number(static_cast<size_t>(tables), 0);
  std::vector<int> result(static_cast<size_t>(n), 0);
  int next = 1;
  for (int p = 0; p < n; ++p) {
    const int g = seating[static_cast<size_t>(p)];
    if (g >= tables) continue;  // sits out: table 0
    int& t = number[static_cast<size_t>(g)];
    if (t == 0) t = next++;
    result[static_cast<size_t>(p)] = t;
  }
  return result;
}

}  // namespace pelvaro
