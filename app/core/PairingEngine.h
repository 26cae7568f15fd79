// The pairing engine: from the pairing grid (rounds played so far, three
// cells per round: table, points, score) it builds the weighted graph of the
// players, lets the matching program seat them in pairs, then builds the
// graph of the pairs and lets the program join pairs into tables of four.
// The pairing window (TSystemWin) owns one engine and exposes its steps as
// buttons; the command-line tool pelvaro-pair runs the whole sequence.
//
// Grid layout: row 0 and column 0 are fixed (column 0 holds the player
// numbers 1..N); player p is row p; round r occupies columns 3r-2 (table),
// 3r-1 (points) and 3r (score). Table 0 means "not seated".
//
// Arithmetic is 32-bit two's complement, as the weights have always been
// computed; points are rounded halves-to-even. One matching step numbers at
// most 255 tables (table numbers are bytes); the 256th raises ERangeError.
//
// Errors are exceptions (vrx::Exception and the core errors of CoreErrors.h)
// carrying the text the user sees. A step that stops leaves the grid, the
// round count and the round display as they were before it; a full pairing
// is one step in this sense (a failure in its tables-of-four half also takes
// back the round its pairs half added), and it asks the missing-results
// question at most once. A failed command line or a wm.out that is not the
// matching of the graph stops the step with a text naming it. The matching
// lists keep what the step wrote and read, for the user to look at. The
// matching files wm.in and wm.out lie in the current
// directory. Single-threaded: the engine runs on the user-interface thread
// and waits for the matching program.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "app/core/PairingGrid.h"
#include "app/core/PairingInterfaces.h"
#include "app/core/Seating.h"
#include "app/core/TextLines.h"

namespace pelvaro {

inline constexpr std::string_view kNoDataText = "Žádná data. Načtěte data a zkuste to znovu.";
inline constexpr std::string_view kMissingResultsQuestion =
    "Asi jste nezadal výsledky a chcete nalosovat další kolo. Mám ignorovat nevyplněné "
    "výsledky a považovat je za 0 a nalosovat další kolo?";
inline constexpr std::string_view kMissingResultsError =
    "Nezadaný výsledek, končím párování. Doplňte výsledky a zkuste to znovu.";
inline constexpr std::string_view kManualCommandText =
    "Prosim provedete manualne akci odpovidajici prikazu: ";
inline constexpr std::string_view kWeightsFile = "wm.in";
inline constexpr std::string_view kMatchingFile = "wm.out";

// Two players of the newest round who sit at one table again.
struct RepeatMeeting {
  int first = 0;   // the lower player number
  int second = 0;  // the higher one
  int table = 0;
  int before = 0;  // earlier rounds at one table (table 0 is none)
};

class PairingEngine {
 public:
  static constexpr int kInitialRowCount = 33;
  static constexpr int kInitialColCount = 15;
  static constexpr int kInitialPlayerCount = 32;
  static constexpr int kMaxTables = 255;
  static constexpr int kByeMeetings = 20;

  // The interfaces must outlive the engine. Creation lays out an empty grid
  // for 32 players and 0 rounds and sets the process-wide command prefix to
  // "cmd ".
  PairingEngine(PairingDialogs& dialogs, PairingClipboard& clipboard, PairingView& view);
  PairingEngine(const PairingEngine&) = delete;
  PairingEngine& operator=(const PairingEngine&) = delete;

  PairingGrid& Grid() { return grid_; }
  const PairingGrid& Grid() const { return grid_; }

  int RoundCount() const { return roundCount_; }
  int PlayerCount() const { return playerCount_; }
  // Negative counts are taken as 0. Does not lay the grid out (LayoutGrid).
  void SetPlayerCount(int count) { playerCount_ = count < 0 ? 0 : count; }

  // Text put in front of the pairs step's command lines; one value for the
  // whole process.
  static const std::string& CommandPrefix();
  static void SetCommandPrefix(std::string prefix);

  bool MissingResultsAsked() const { return missingResultsAsked_; }
  bool IgnoreMissingResults() const { return ignoreMissingResults_; }

  // The text of the BYE count edit, converted each time it is needed: the
  // last b rows of the players are BYE players.
  const std::string& ByesText() const { return byesText_; }
  void SetByesText(std::string text) { byesText_ = std::move(text); }

  // Manual match: command lines are shown to the user instead of being run.
  bool ManualMatch() const { return manualMatch_; }
  void SetManualMatch(bool on) { manualMatch_ = on; }

  // Fewer repeats: the full pairing seats the round with the table search of
  // Seating.h instead of the two matching steps (no wm.in, no wm.out). The
  // single steps always use the matching program.
  bool FewerRepeats() const { return fewerRepeats_; }
  void SetFewerRepeats(bool on) { fewerRepeats_ = on; }

  // The value the round display shows (it is not always RoundCount()).
  int ShownRound() const { return shownRound_; }

  // Pairs of the newest round seated by a full pairing or the tables-of-four
  // step who met before, by table, and the same as text lines for the user.
  const std::vector<RepeatMeeting>& RepeatMeetings() const { return repeats_; }
  const TextLines& RepeatReport() const { return repeatReport_; }

  // The separator of decimal fractions in points cells (the user's locale).
  char DecimalSeparator() const { return decimalSeparator_; }
  void SetDecimalSeparator(char separator) { decimalSeparator_ = separator; }

  // The weights list (the graph last computed, saved as wm.in) and the
  // matching list (the last wm.out). The window writes the user's edits of
  // the weights list back with SetWeightsLines before a step uses it.
  const TextLines& WeightsLines() const { return weights_; }
  void SetWeightsLines(TextLines lines) { weights_ = std::move(lines); }
  const TextLines& MatchingLines() const { return matching_; }
  void SetMatchingLines(TextLines lines) { matching_ = std::move(lines); }

  // --- grid operations ---
  // Gives the grid at least 3r+1 columns (never fewer) and sets RoundCount.
  void SetRoundCount(int rounds);
  // At least N+1 rows; empties the columns after 3R and the rows after N;
  // writes the player numbers 1..N into column 0. Never shrinks the grid.
  void LayoutGrid();
  // Empties every cell, then LayoutGrid.
  void ClearGrid();
  // Shows R and N and sets the row count to N+1.
  void ShowGridState();
  // Replaces the grid with the clipboard text: cells of blanks, dots, digits
  // and ASCII letters; TAB to the next column, CR to the next row (and to
  // the round and player counts); any other character only ends a cell.
  // Rows 1..N get their player numbers, also rows the grid gained.
  void LoadGridFromClipboard();
  // Rows 1..N, columns 1..3R joined by TAB, each row ended by a single CR.
  void CopyGridToClipboard();
  // The score cell of the newest round becomes "0" for rows 1..N; nothing
  // happens before the first round.
  void ZeroScores();
  // ClearGrid, then SetRoundCount(0); the round display is left alone.
  void ClearTable();

  // --- pairing ---
  int MeetingCount(int i, int j) const;
  int TripleCount(int i, int j, int k) const;
  int QuadCount(int i, int j, int k, int l) const;
  int32_t PointsTotal(int i);
  int32_t PairWeight(int i, int j);
  void ComputePairWeights();
  void MatchPairs();
  void ComputeFourWeights();
  void MatchTablesOfFour();
  void FullPairing();
  // Seats round R+1 at tables of four with the search of Seating.h, the
  // players left over at table 0; the round count and display go to R+1.
  void SeatFewerRepeats();
  // Runs the line (or shows it with manual match on); a line that cannot be
  // started or ends with a failure raises its description.
  void RunCommand(const std::string& line);

 private:
  using PairIndex = std::vector<std::array<int, 2>>;
  class Transaction;

  void BuildPairGraph();
  void BuildFourGraph();
  void SeatRound();

  int TableNumber(int row, int round) const;
  int ByeCount() const;
  PairIndex BuildPairIndex(int round) const;
  // Saves the weights list as wm.in, runs the two lines, loads wm.out.
  void RunSolver(const std::string& deleteLine, const std::string& solveLine);
  int Mate(int vertex) const;
  // The mates of vertices 1..V from the matching list (index 0 unused):
  // exactly V lines, each a mate in 0..V that names the vertex back.
  std::vector<int> ReadMates(int vertices) const;
  void WriteTableColumn(int round, const std::vector<int>& tables);
  void ClearFlags();
  void ShowRoundDisplay(int round);
  // The repeat meetings of a new round `round` with `tables` (index = row),
  // against rounds 1..round-1 of the grid.
  std::vector<RepeatMeeting> FindRepeats(int round, const std::vector<int>& tables) const;
  void PublishRepeats(int round, std::vector<RepeatMeeting> repeats);

  PairingDialogs& dialogs_;
  PairingClipboard& clipboard_;
  PairingView& view_;
  PairingGrid grid_;
  int roundCount_ = 0;
  int playerCount_ = kInitialPlayerCount;
  bool missingResultsAsked_ = false;
  bool ignoreMissingResults_ = false;
  bool manualMatch_ = false;
  bool fewerRepeats_ = false;
  int shownRound_ = 0;
  std::vector<RepeatMeeting> repeats_;
  TextLines repeatReport_;
  std::string byesText_ = "0";
  char decimalSeparator_ = '.';
  TextLines weights_{"VAHY"};
  TextLines matching_{"PAROVANI"};
};

}  // namespace pelvaro
