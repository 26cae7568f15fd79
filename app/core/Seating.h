// Seating a round at tables of four with as few repeat meetings as the round
// allows, as an alternative to the two matching steps of the pairing engine
// (pairs first, then pairs of pairs). Used by PairingEngine when "fewer
// repeats" is chosen, and by the seating benchmark.
//
// The search works on whole tables. A seating is scored lexicographically,
// most important first:
//   1. pairs of BYE players at one table (BYE players never play each other),
//   2. earlier sit-outs of the players who sit out now (when the player count
//      is not a multiple of four, the rest sit out; nobody twice while others
//      have not),
//   3. repeat meetings: pairs at one table who met before,
//   4. earlier meetings beyond the first of those pairs (a third meeting is
//      worse than a second),
//   5. the spread of points at the tables (the sum over tables of the highest
//      minus the lowest points total), together with the faults of the
//      round after it.
// For that last level the search looks one round ahead: it seats
// the next round in thought as well, on the meetings so far plus the round
// being seated and without points (those are not known yet), and counts that
// round's faults (pairs who would meet again, BYE players together, sit-outs
// again). Four such faults weigh as much as one point of spread, so of two
// seatings with the same repeats the one that leaves a next round with fewer
// repeats wins unless it is clearly less even. Seated one round at a time
// without it, most early rounds without a repeat paint the later ones into a
// corner.
// The search starts from the standings (tables of four consecutive players
// by points; the round in thought from any order), descends by swapping two
// players of different tables of either round, and then kicks the seating
// out of its local optimum many times (a few random swaps around the players
// who still repeat a meeting, then a descent again), keeping the best
// seating found. The kicks are seeded from the input, so a round is always
// seated the same way. No level can be bought with a lower one: a seating
// with fewer repeats always wins, whatever its spread or the round ahead.
//
// Pure computation: no grid, no files, no Qt. Not thread-safe per call
// (each call owns its state; separate calls may run concurrently).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pelvaro {

struct SeatingInput {
  // n players, numbered 0..n-1.
  int players = 0;
  // Points total of each player (n entries).
  std::vector<int64_t> points;
  // Earlier rounds in which players i and j sat at the same table (table 0,
  // "not seated", is no table): n*n entries, meetings[i*n+j], symmetric.
  std::vector<int> meetings;
  // Earlier rounds each player sat out (n entries; may be empty: none).
  std::vector<int> sitOuts;
  // BYE players (n entries; may be empty: none).
  std::vector<bool> bye;

  int Meetings(int i, int j) const {
    return meetings[static_cast<size_t>(i) * static_cast<size_t>(players) +
                    static_cast<size_t>(j)];
  }
};

// The score of a seating, compared lexicographically in the order of the
// levels above.
struct SeatingScore {
  int64_t byePairs = 0;
  int64_t sitOutRepeats = 0;
  int64_t repeats = 0;
  int64_t extraMeetings = 0;
  int64_t spread = 0;

  auto operator<=>(const SeatingScore&) const = default;
  SeatingScore& operator+=(const SeatingScore& other);
  SeatingScore& operator-=(const SeatingScore& other);
};

// The group of each player: groups 0..n/4-1 are tables of four; when n is
// not a multiple of four, group n/4 holds the n mod 4 players who sit out.
using Seating = std::vector<int>;

// Seats n players as described above. Requires a consistent input (sizes as
// documented); n = 0 gives an empty seating.
Seating SeatWithFewerRepeats(const SeatingInput& input);

// The score of any seating of the input's players in the form above.
SeatingScore ScoreSeating(const SeatingInput& input, const Seating& seating);

// Table numbers of a seating as the grid shows them: the tables of four
// numbered 1, 2, ... in the order of their lowest player, the players who
// sit out at table 0. Index = player.
std::vector<int> NumberTables(const Seating& seating);

}  // namespace pelvaro
