#include "app/core/Seating.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <compare>
#include <deque>
#include <numeric>
#include <utility>

namespace pelvaro {
namespace {

// Rounds seated in thought after the round being seated.
constexpr int kAhead = 1;
// How many faults of the rounds seated in thought weigh as much as one
// point of spread in the seated round. Those rounds are an estimate (their
// points are not known, and the search may not find their best seating), so
// a fault there weighs less than the evenness of the tables seated now; at
// four, a round that leaves a few unavoidable repeats next round still wins
// over one that is a point more even, while a round that saves a single
// repeat later does not cost a visibly less even table now.
constexpr int64_t kAheadPerPoint = 4;

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

size_t U(int value) { return static_cast<size_t>(value); }

// The score of one group of the seated round: a table of four, or the
// players who sit out.
SeatingScore GroupScore(const SeatingInput& in, bool sitsOut, const Members& m, int size) {
  SeatingScore s;
  if (sitsOut) {
    if (!in.sitOuts.empty()) {
      for (int k = 0; k < size; ++k) s.sitOutRepeats += in.sitOuts[U(m[U(k)])];
    }
    return s;
  }
  int64_t low = 0;
  int64_t high = 0;
  for (int a = 0; a < size; ++a) {
    const int pa = m[U(a)];
    const int64_t points = in.points[U(pa)];
    if (a == 0 || points < low) low = points;
    if (a == 0 || points > high) high = points;
    for (int b = a + 1; b < size; ++b) {
      const int pb = m[U(b)];
      if (!in.bye.empty() && in.bye[U(pa)] && in.bye[U(pb)]) ++s.byePairs;
      const int met = in.Meetings(pa, pb);
      if (met > 0) {
        ++s.repeats;
        s.extraMeetings += met - 1;
      }
    }
  }
  s.spread = high - low;
  return s;
}

// The search's own score: the seated round's levels, the faults of the
// rounds seated in thought weighed together with the spread as the last.
struct Key {
  int64_t byePairs = 0;
  int64_t sitOutRepeats = 0;
  int64_t repeats = 0;
  int64_t extraMeetings = 0;
  int64_t ahead = 0;
  int64_t spread = 0;

  // The last level: the faults ahead and the spread together.
  int64_t Last() const { return ahead + kAheadPerPoint * spread; }
  bool operator==(const Key&) const = default;
  std::strong_ordering operator<=>(const Key& o) const {
    if (auto c = byePairs <=> o.byePairs; c != 0) return c;
    if (auto c = sitOutRepeats <=> o.sitOutRepeats; c != 0) return c;
    if (auto c = repeats <=> o.repeats; c != 0) return c;
    if (auto c = extraMeetings <=> o.extraMeetings; c != 0) return c;
    return Last() <=> o.Last();
  }
  Key& operator+=(const SeatingScore& s) {
    byePairs += s.byePairs;
    sitOutRepeats += s.sitOutRepeats;
    repeats += s.repeats;
    extraMeetings += s.extraMeetings;
    spread += s.spread;
    return *this;
  }
  Key& operator-=(const SeatingScore& s) {
    byePairs -= s.byePairs;
    sitOutRepeats -= s.sitOutRepeats;
    repeats -= s.repeats;
    extraMeetings -= s.extraMeetings;
    spread -= s.spread;
    return *this;
  }
};

// Who sits where in one round: the seated one (layer 0) or one seated in
// thought.
struct Layer {
  std::vector<Members> members;  // per group; only the first size entries count
  std::vector<int> size;
  std::vector<int> group;  // per player
  std::vector<int> slot;   // per player: index in its group's members
};

struct Move {
  int layer = -1;
  int i = -1;
  int j = -1;
};

// The search seats the round together with kAhead rounds after it, seated
// in thought with no points (the points of those rounds are not known yet).
// Those rounds are scored only by their faults: pairs at one table who met
// before (earlier, in the seated round or in another round seated in
// thought; BYE players count as having met), and sit-outs of players who sat
// out before. Among seatings the seated round's first levels call equal,
// that score and the spread decide together (kAheadPerPoint), so of two
// rounds without repeats the one that leaves the players something to play
// next round wins unless it is clearly less even. A round by round choice
// would otherwise paint the later rounds into corners: with sixteen players,
// most third rounds without a repeat leave no such fourth round.
class Search {
 public:
  explicit Search(const SeatingInput& input)
      : in_(input),
        n_(input.players),
        tables_(input.players / 4),
        sitOutGroup_(input.players % 4 != 0 ? input.players / 4 : -1),
        groups_(tables_ + (sitOutGroup_ >= 0 ? 1 : 0)),
        rng_(0x5EA7u + static_cast<uint64_t>(input.players)) {
    // Standings: points down, the lower player number first on a tie.
    rank_.resize(U(n_));
    std::iota(rank_.begin(), rank_.end(), 0);
    std::stable_sort(rank_.begin(), rank_.end(),
                     [&](int a, int b) { return in_.points[U(a)] > in_.points[U(b)]; });
    position_.resize(U(n_));
    for (int r = 0; r < n_; ++r) position_[U(rank_[U(r)])] = r;
    metBefore_.assign(U(n_) * U(n_), 0);
    for (int a = 0; a < n_; ++a) {
      for (int b = 0; b < n_; ++b) {
        const bool byes = !in_.bye.empty() && in_.bye[U(a)] && in_.bye[U(b)];
        if (a != b && (in_.Meetings(a, b) > 0 || byes)) metBefore_[Pair(a, b)] = 1;
      }
    }
  }

  Seating Run() {
    Start();
    Descend(rank_);
    Key best = total_;
    Seating bestSeating = layers_[0].group;
    int sinceBest = 0;
    const int patience = Patience(n_);
    const int maxKicks = MaxKicks(n_);
    for (int kick = 0; kick < maxKicks && sinceBest < patience; ++kick) {
      if (best == Key{}) break;  // nothing left to improve
      const Key before = total_;
      log_.clear();
      Kick();
      // A seating as good as the current one is taken too: the search walks
      // across plateaus instead of circling one seating.
      if (total_ > before) Undo();
      if (total_ < best) {
        best = total_;
        bestSeating = layers_[0].group;
        sinceBest = 0;
      } else {
        ++sinceBest;
      }
    }
    assert(total_ == Recount());
    return bestSeating;
  }

 private:
  size_t Pair(int a, int b) const { return U(a) * U(n_) + U(b); }
  bool IsTable(int g) const { return g != sitOutGroup_; }

  // Whether a and b count as having met for the rounds seated in thought:
  // earlier, or at one table of the seated round.
  bool MetBy0(int a, int b) const {
    if (metBefore_[Pair(a, b)]) return true;
    const int g = layers_[0].group[U(a)];
    return IsTable(g) && g == layers_[0].group[U(b)];
  }
  // Earlier sit-outs of p as the rounds seated in thought see them.
  int64_t OutsBy0(int p) const {
    const int64_t before = in_.sitOuts.empty() ? 0 : in_.sitOuts[U(p)];
    return before + (layers_[0].group[U(p)] == sitOutGroup_ ? 1 : 0);
  }

  void Start() {
    layers_.assign(1 + kAhead, Layer{});
    for (int l = 0; l <= kAhead; ++l) {
      Layer& layer = layers_[U(l)];
      layer.members.assign(U(groups_), Members{0, 0, 0, 0});
      layer.size.assign(U(groups_), 0);
      layer.group.assign(U(n_), 0);
      layer.slot.assign(U(n_), 0);
      // The seated round starts from the standings, the others from any
      // order.
      std::vector<int> order(rank_);
      if (l > 0) {
        for (int k = n_ - 1; k > 0; --k) std::swap(order[U(k)], order[U(rng_.Below(k + 1))]);
      }
      for (int r = 0; r < n_; ++r) {
        const int p = order[U(r)];
        const int g = r < 4 * tables_ ? r / 4 : sitOutGroup_;
        const int k = layer.size[U(g)]++;
        layer.members[U(g)][U(k)] = p;
        layer.group[U(p)] = g;
        layer.slot[U(p)] = k;
      }
    }
    cost_.assign(U(groups_), SeatingScore{});
    total_ = Key{};
    for (int g = 0; g < groups_; ++g) {
      cost_[U(g)] = GroupScore(in_, !IsTable(g), layers_[0].members[U(g)], layers_[0].size[U(g)]);
      total_ += cost_[U(g)];
    }
    together_.assign(U(n_) * U(n_), 0);
    outsAhead_.assign(U(n_), 0);
    for (int l = 1; l <= kAhead; ++l) {
      const Layer& layer = layers_[U(l)];
      for (int g = 0; g < groups_; ++g) {
        const Members& m = layer.members[U(g)];
        for (int a = 0; a < layer.size[U(g)]; ++a) {
          if (!IsTable(g)) {
            const int p = m[U(a)];
            total_.ahead += OutsBy0(p) + outsAhead_[U(p)];
            ++outsAhead_[U(p)];
            continue;
          }
          for (int b = a + 1; b < layer.size[U(g)]; ++b) {
            total_.ahead += AheadGain(m[U(a)], m[U(b)]);
            ++together_[Pair(m[U(a)], m[U(b)])];
            ++together_[Pair(m[U(b)], m[U(a)])];
          }
        }
      }
    }
  }

  // The score counted afresh, to check the one kept up to date.
  Key Recount() const {
    Key key;
    for (int g = 0; g < groups_; ++g) {
      key += GroupScore(in_, !IsTable(g), layers_[0].members[U(g)], layers_[0].size[U(g)]);
    }
    std::vector<int> together(U(n_) * U(n_), 0);
    std::vector<int64_t> outs(U(n_), 0);
    for (int l = 1; l <= kAhead; ++l) {
      for (int a = 0; a < n_; ++a) {
        const int g = layers_[U(l)].group[U(a)];
        if (!IsTable(g)) {
          key.ahead += OutsBy0(a) + outs[U(a)]++;
          continue;
        }
        for (int b = a + 1; b < n_; ++b) {
          if (layers_[U(l)].group[U(b)] != g) continue;
          if (MetBy0(a, b) || together[Pair(a, b)] > 0) ++key.ahead;
          ++together[Pair(a, b)];
        }
      }
    }
    return key;
  }

  // The change of the score ahead when a and b sit at one more (gain) or
  // one less (loss) table of the rounds seated in thought: every meeting
  // after their first counts.
  int64_t AheadGain(int a, int b) const {
    return MetBy0(a, b) || together_[Pair(a, b)] >= 1 ? 1 : 0;
  }
  int64_t AheadLoss(int a, int b) const {
    return MetBy0(a, b) || together_[Pair(a, b)] >= 2 ? -1 : 0;
  }
  // The change when a and b start or stop sitting at one table of the
  // seated round: only pairs who never met before and meet in thought.
  int64_t AheadByMeeting(int a, int b, int64_t sign) const {
    return !metBefore_[Pair(a, b)] && together_[Pair(a, b)] > 0 ? sign : 0;
  }

  // The score change of swapping players i and j (of different groups) in
  // layer l, and for the seated round the two groups' new scores.
  Key SwapDelta(int l, int i, int j, std::pair<SeatingScore, SeatingScore>* costs) const {
    const Layer& layer = layers_[U(l)];
    const int gi = layer.group[U(i)];
    const int gj = layer.group[U(j)];
    const Members& mi = layer.members[U(gi)];
    const Members& mj = layer.members[U(gj)];
    Key delta;
    if (l == 0) {
      Members ni = mi;
      Members nj = mj;
      ni[U(layer.slot[U(i)])] = j;
      nj[U(layer.slot[U(j)])] = i;
      costs->first = GroupScore(in_, !IsTable(gi), ni, layer.size[U(gi)]);
      costs->second = GroupScore(in_, !IsTable(gj), nj, layer.size[U(gj)]);
      delta += costs->first;
      delta += costs->second;
      delta -= cost_[U(gi)];
      delta -= cost_[U(gj)];
    }
    // The change as mover leaves group from (of members m) and other takes
    // its place.
    const auto leave = [&](int from, const Members& m, int mover, int other) -> int64_t {
      int64_t ahead = 0;
      if (IsTable(from)) {
        for (int k = 0; k < layer.size[U(from)]; ++k) {
          const int x = m[U(k)];
          if (x == mover) continue;
          if (l == 0) {
            ahead += AheadByMeeting(mover, x, -1) + AheadByMeeting(other, x, +1);
          } else {
            ahead += AheadLoss(mover, x) + AheadGain(other, x);
          }
        }
      } else if (l == 0) {
        // The sit-outs in thought of mover see one earlier sit-out less,
        // those of other one more.
        ahead += outsAhead_[U(other)] - outsAhead_[U(mover)];
      } else {
        ahead +=
            OutsBy0(other) + outsAhead_[U(other)] - (OutsBy0(mover) + outsAhead_[U(mover)] - 1);
      }
      return ahead;
    };
    const int64_t ahead = leave(gi, mi, i, j) + leave(gj, mj, j, i);
    delta.ahead = ahead;
    return delta;
  }

  void ApplySwap(int l, int i, int j, const Key& delta,
                 const std::pair<SeatingScore, SeatingScore>& costs) {
    Layer& layer = layers_[U(l)];
    const int gi = layer.group[U(i)];
    const int gj = layer.group[U(j)];
    if (l > 0) {
      const auto leave = [&](int from, int mover, int other) {
        if (!IsTable(from)) {
          --outsAhead_[U(mover)];
          ++outsAhead_[U(other)];
          return;
        }
        const Members& m = layer.members[U(from)];
        for (int k = 0; k < layer.size[U(from)]; ++k) {
          const int x = m[U(k)];
          if (x == mover) continue;
          --together_[Pair(mover, x)];
          --together_[Pair(x, mover)];
          ++together_[Pair(other, x)];
          ++together_[Pair(x, other)];
        }
      };
      leave(gi, i, j);
      leave(gj, j, i);
    } else {
      cost_[U(gi)] = costs.first;
      cost_[U(gj)] = costs.second;
    }
    layer.members[U(gi)][U(layer.slot[U(i)])] = j;
    layer.members[U(gj)][U(layer.slot[U(j)])] = i;
    std::swap(layer.group[U(i)], layer.group[U(j)]);
    std::swap(layer.slot[U(i)], layer.slot[U(j)]);
    total_.byePairs += delta.byePairs;
    total_.sitOutRepeats += delta.sitOutRepeats;
    total_.repeats += delta.repeats;
    total_.extraMeetings += delta.extraMeetings;
    total_.ahead += delta.ahead;
    total_.spread += delta.spread;
    log_.push_back(Move{l, i, j});
  }

  void Swap(int l, int i, int j) {
    std::pair<SeatingScore, SeatingScore> costs;
    const Key delta = SwapDelta(l, i, j, &costs);
    ApplySwap(l, i, j, delta, costs);
  }

  // Takes back the swaps of the last kick, latest first.
  void Undo() {
    std::vector<Move> moves;
    moves.swap(log_);
    for (auto it = moves.rbegin(); it != moves.rend(); ++it) Swap(it->layer, it->i, it->j);
    log_.clear();
  }

  // Best-improvement descent over swaps in every layer, driven by a queue
  // of players to look at. A swap only changes the scores of pairs with an
  // end among the members of its two groups, and every swap whose score that
  // changes has an end among them, so looking again at those members finds
  // every swap that became improving.
  void Descend(const std::vector<int>& start) {
    std::vector<char> queued(U(n_), 0);
    std::deque<int> queue;
    const auto push = [&](int p) {
      if (!queued[U(p)]) {
        queued[U(p)] = 1;
        queue.push_back(p);
      }
    };
    for (const int p : start) push(p);
    while (!queue.empty()) {
      const int i = queue.front();
      queue.pop_front();
      queued[U(i)] = 0;
      Move best;
      Key bestDelta;
      std::pair<SeatingScore, SeatingScore> bestCosts;
      // A swap in a round in thought changes only the score ahead, so none
      // helps while that is zero.
      const int layers = total_.ahead > 0 ? 1 + kAhead : 1;
      for (int l = 0; l < layers; ++l) {
        const Layer& layer = layers_[U(l)];
        const int gi = layer.group[U(i)];
        for (int j = 0; j < n_; ++j) {
          if (layer.group[U(j)] == gi) continue;
          std::pair<SeatingScore, SeatingScore> costs;
          const Key delta = SwapDelta(l, i, j, &costs);
          if (delta < bestDelta) {
            bestDelta = delta;
            best = Move{l, i, j};
            bestCosts = costs;
          }
        }
      }
      if (best.layer < 0) continue;
      const Layer& layer = layers_[U(best.layer)];
      const int gi = layer.group[U(i)];
      const int gj = layer.group[U(best.j)];
      ApplySwap(best.layer, i, best.j, bestDelta, bestCosts);
      for (const int g : {gi, gj}) {
        for (int k = 0; k < layer.size[U(g)]; ++k) push(layer.members[U(g)][U(k)]);
      }
    }
  }

  // Whether a group of layer l has a fault.
  bool Troubled(int l, int g) const {
    const Layer& layer = layers_[U(l)];
    if (l == 0) {
      const SeatingScore& c = cost_[U(g)];
      return c.byePairs > 0 || c.sitOutRepeats > 0 || c.repeats > 0;
    }
    const Members& m = layer.members[U(g)];
    for (int a = 0; a < layer.size[U(g)]; ++a) {
      if (!IsTable(g)) {
        if (OutsBy0(m[U(a)]) + outsAhead_[U(m[U(a)])] > 1) return true;
        continue;
      }
      for (int b = a + 1; b < layer.size[U(g)]; ++b) {
        if (MetBy0(m[U(a)], m[U(b)]) || together_[Pair(m[U(a)], m[U(b)])] > 1) return true;
      }
    }
    return false;
  }

  // A player to move in layer l: mostly one at a table with a fault, else
  // anyone.
  int PickTroubled(int l) {
    const Layer& layer = layers_[U(l)];
    std::vector<int> troubled;
    for (int g = 0; g < groups_; ++g) {
      if (!Troubled(l, g)) continue;
      for (int k = 0; k < layer.size[U(g)]; ++k) troubled.push_back(layer.members[U(g)][U(k)]);
    }
    if (!troubled.empty() && rng_.Below(4) != 0) {
      return troubled[U(rng_.Below(static_cast<int>(troubled.size())))];
    }
    return rng_.Below(n_);
  }

  // A partner in another group: in the seated round mostly a neighbour in
  // the standings, so the kick keeps the points spread in reach of the next
  // descent.
  int PickPartner(int l, int i) {
    const Layer& layer = layers_[U(l)];
    const int gi = layer.group[U(i)];
    for (int attempt = 0; attempt < 16; ++attempt) {
      int j;
      if (l == 0 && rng_.Below(2) == 0) {
        const int window = 12;
        const int r = position_[U(i)] + rng_.Below(2 * window + 1) - window;
        if (r < 0 || r >= n_) continue;
        j = rank_[U(r)];
      } else {
        j = rng_.Below(n_);
      }
      if (layer.group[U(j)] != gi) return j;
    }
    return -1;
  }

  // A few random swaps in one layer around the players with faults, then a
  // descent.
  void Kick() {
    // With nothing ahead to mend, the rounds in thought change only through
    // the descent after a kick of the seated round.
    const int l = total_.ahead > 0 ? rng_.Below(1 + kAhead) : 0;
    const Layer& layer = layers_[U(l)];
    std::vector<int> touched;
    const int swaps = 1 + rng_.Below(3);
    for (int k = 0; k < swaps; ++k) {
      const int i = PickTroubled(l);
      const int j = PickPartner(l, i);
      if (j < 0) continue;
      const int gi = layer.group[U(i)];
      const int gj = layer.group[U(j)];
      Swap(l, i, j);
      for (const int g : {gi, gj}) {
        for (int m = 0; m < layer.size[U(g)]; ++m) touched.push_back(layer.members[U(g)][U(m)]);
      }
    }
    Descend(touched);
  }

  const SeatingInput& in_;
  int n_;
  int tables_;
  int sitOutGroup_;
  int groups_;
  Rng rng_;
  std::vector<int> rank_;           // players in standings order
  std::vector<int> position_;       // per player: place in rank_
  std::vector<char> metBefore_;     // n*n: met earlier, or both BYE players
  std::vector<Layer> layers_;       // the seated round, then the rounds in thought
  std::vector<SeatingScore> cost_;  // per group of the seated round
  std::vector<int> together_;       // n*n: tables shared in the rounds in thought
  std::vector<int> outsAhead_;      // per player: sit-outs in the rounds in thought
  Key total_;
  std::vector<Move> log_;  // the swaps since the last kick began
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
  for (int g = 0; g < groups; ++g) {
    total += GroupScore(input, g >= tables, members[static_cast<size_t>(g)],
                        size[static_cast<size_t>(g)]);
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
