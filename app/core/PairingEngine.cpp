#include "app/core/PairingEngine.h"

#include <algorithm>

#include "app/core/CommandInterpreter.h"
#include "app/core/CoreErrors.h"
#include "app/core/NumberText.h"


namespace pelvaro {
namespace {

std::string& PrefixSetting() {
  static std::string prefix = "cmd ";
  return prefix;
}

int TableColumn(int round) { return 3 * round - 2; }
int PointsColumn(int round) { return 3 * round - 1; }
int ScoreColumn(int round) { return 3 * round; }

bool IsCellCharacter(char c) {
  return c == ' ' || c == '.' || (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
         (c >= 'a' && c <= 'z');
}

// Restores the round count when a computation that works on the history
// only ends, normally or by an error.
class RoundCountRestorer {
 public:
  RoundCountRestorer(int& roundCount, int during) : roundCount_(roundCount), saved_(roundCount) {
    roundCount_ = during;
  }
  RoundCountRestorer(const RoundCountRestorer&) = delete;
  RoundCountRestorer& operator=(const RoundCountRestorer&) = delete;
  ~RoundCountRestorer() { roundCount_ = saved_; }

 private:
  int& roundCount_;
  int saved_;
};

// The header line of a complete graph on `vertices` vertices: "V E U".
std::string GraphHeader(int32_t vertices) {
  return IntToStr(vertices) + " " + IntToStr(Mul32(vertices, Sub32(vertices, 1)) / 2) + " U";
}

std::string VertexLine(int32_t vertices, int vertex) {
  return IntToStr(Sub32(vertices, 1)) + " " + IntToStr(vertex) + " 0 0";
}

// A table cell of the history for reports: -1 when it holds no integer.
int TableOrNone(const std::string& cell) {
  try {
    return StrToInt(cell);
  } catch (const vrx::Exception&) {
    return -1;
  }
}

}  // namespace

// Takes back what a failed step changed of the grid, the round count and the
// round display, unless Commit was called.
class PairingEngine::Transaction {
 public:
  explicit Transaction(PairingEngine& engine)
      : engine_(engine),
        grid_(engine.grid_.Save()),
        roundCount_(engine.roundCount_),
        shownRound_(engine.shownRound_) {}
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  ~Transaction() {
    if (committed_) return;
    engine_.grid_.Restore(grid_);
    engine_.roundCount_ = roundCount_;
    if (engine_.shownRound_ != shownRound_) engine_.ShowRoundDisplay(shownRound_);
  }
  void Commit() { committed_ = true; }

 private:
  PairingEngine& engine_;
  PairingGrid::Contents grid_;
  int roundCount_;
  int shownRound_;
  bool committed_ = false;
};

PairingEngine::PairingEngine(PairingDialogs& dialogs, PairingClipboard& clipboard,
                             PairingView& view)
    : dialogs_(dialogs),
      clipboard_(clipboard),
      view_(view),
      grid_(kInitialRowCount, kInitialColCount) {
  SetRoundCount(0);
  LayoutGrid();
  PrefixSetting() = "cmd ";
}

const std::string& PairingEngine::CommandPrefix() { return PrefixSetting(); }

void PairingEngine::SetCommandPrefix(std::string prefix) { PrefixSetting() = std::move(prefix); }

// --- grid operations -------------------------------------------------------

void PairingEngine::SetRoundCount(int rounds) {
  if (rounds < 0) rounds = 0;
  if (grid_.ColCount() < 3 * rounds + 1) grid_.SetColCount(3 * rounds + 1);
  roundCount_ = rounds;
}

void PairingEngine::LayoutGrid() {
  const int n = playerCount_;
  if (grid_.RowCount() < n + 1) grid_.SetRowCount(n + 1);
  grid_.ClearCells(0, 3 * roundCount_ + 1, grid_.RowCount() - 1, grid_.ColCount() - 1);
  grid_.ClearCells(n + 1, 0, grid_.RowCount() - 1, grid_.ColCount() - 1);
  for (int k = 1; k <= n; ++k) grid_.SetCell(k, 0, IntToStr(k));
}

void PairingEngine::ClearGrid() {
  grid_.ClearCells(0, 0, grid_.RowCount() - 1, grid_.ColCount() - 1);
  LayoutGrid();
}

void PairingEngine::ShowRoundDisplay(int round) {
  shownRound_ = round;
  view_.ShowRound(round);
}

void PairingEngine::ShowGridState() {
  ShowRoundDisplay(roundCount_);
  view_.ShowPlayerCount(playerCount_);
  grid_.SetRowCount(playerCount_ + 1);
}

void PairingEngine::LoadGridFromClipboard() {
  const std::string text = clipboard_.GetText();
  ClearGrid();
  int col = 1;
  int row = 1;
  std::string cell;
  for (const char c : text) {
    if (IsCellCharacter(c)) {
      cell += c;
      continue;
    }
    if (row >= grid_.RowCount()) grid_.SetRowCount(row + 1);
    if (col >= grid_.ColCount()) grid_.SetColCount(col + 1);
    grid_.SetCell(row, col, cell);
    if (c == '\t') {
      ++col;
    } else if (c == '\r') {
      SetRoundCount((col + 2) / 3);
      playerCount_ = row;
      ++row;
      col = 1;
    }
    cell.clear();
  }
  ShowGridState();
  // Rows beyond the player count before the load get their numbers too.
  for (int k = 1; k <= playerCount_; ++k) grid_.SetCell(k, 0, IntToStr(k));
}

void PairingEngine::CopyGridToClipboard() {
  std::string text;
  for (int k = 1; k <= playerCount_; ++k) {
    for (int c = 1; c <= 3 * roundCount_; ++c) {
      if (c > 1) text += '\t';
      text += grid_.Cell(k, c);
    }
    text += '\r';
  }
  clipboard_.SetText(text);
}

void PairingEngine::ZeroScores() {
  if (roundCount_ == 0) return;
  for (int k = 1; k <= playerCount_; ++k) grid_.SetCell(k, ScoreColumn(roundCount_), "0");
}

void PairingEngine::ClearTable() {
  ClearGrid();
  SetRoundCount(0);
}

// --- counts, points and weights --------------------------------------------

int PairingEngine::TableNumber(int row, int round) const {
  return StrToInt(grid_.Cell(row, TableColumn(round)));
}

int PairingEngine::ByeCount() const { return StrToInt(byesText_); }

int PairingEngine::MeetingCount(int i, int j) const {
  const int32_t firstBye = Sub32(playerCount_, ByeCount());
  if (i > firstBye && j > firstBye) return kByeMeetings;
  int count = 0;
  for (int r = 1; r <= roundCount_; ++r) {
    if (TableNumber(i, r) == TableNumber(j, r)) ++count;
  }
  return count;
}

int PairingEngine::TripleCount(int i, int j, int k) const {
  int count = 0;
  for (int r = 1; r <= roundCount_; ++r) {
    const int t = TableNumber(i, r);
    if (t == TableNumber(j, r) && t == TableNumber(k, r)) ++count;
  }
  return count;
}

int PairingEngine::QuadCount(int i, int j, int k, int l) const {
  int count = 0;
  for (int r = 1; r <= roundCount_; ++r) {
    const int t = TableNumber(i, r);
    if (t == TableNumber(j, r) && t == TableNumber(k, r) && t == TableNumber(l, r)) ++count;
  }
  return count;
}

int32_t PairingEngine::PointsTotal(int i) {
  int32_t total = 0;
  for (int r = 1; r <= roundCount_; ++r) {
    const std::string& cell = grid_.Cell(i, PointsColumn(r));
    if (!cell.empty()) {
      total = Add32(total, RoundToInt32(StrToFloat(cell, decimalSeparator_)));
      continue;
    }
    if (ignoreMissingResults_) continue;
    // Asked once per computation; a No stops it (and any later call until
    // the next computation clears the flags).
    if (missingResultsAsked_) throw vrx::Exception(std::string(kMissingResultsError));
    missingResultsAsked_ = true;
    if (!dialogs_.AskWarningYesNo(kMissingResultsQuestion)) {
      throw vrx::Exception(std::string(kMissingResultsError));
    }
    ignoreMissingResults_ = true;
  }
  return total;
}

int32_t PairingEngine::PairWeight(int i, int j) {
  const int m = MeetingCount(i, j);
  const int32_t d = Sub32(PointsTotal(i), PointsTotal(j));
  int32_t penalty = 0;
  if (m == 1) {
    penalty = 200;
  } else if (m == 2) {
    penalty = 1000;
  } else if (m >= 3) {
    penalty = Mul32(m - 2, 1000);
  }
  return Sub32(Sub32(1000000, penalty), Mul32(5, Mul32(d, d)));
}

void PairingEngine::ClearFlags() {
  missingResultsAsked_ = false;
  ignoreMissingResults_ = false;
}

// --- the player graph and the pairs step -----------------------------------

void PairingEngine::ComputePairWeights() {
  if (playerCount_ == 0) {
    dialogs_.ShowMessage(kNoDataText);
    return;
  }
  ClearFlags();
  BuildPairGraph();
}

void PairingEngine::BuildPairGraph() {
  const int n = playerCount_;
  // Built aside: a stop halfway leaves the list as it was.
  TextLines lines;
  lines.reserve(static_cast<size_t>(n) * static_cast<size_t>(n) + 1);
  lines.push_back(GraphHeader(n));
  for (int v = 1; v <= n; ++v) {
    lines.push_back(VertexLine(n, v));
    for (int u = 1; u <= n; ++u) {
      if (u == v) continue;
      lines.push_back(IntToStr(u) + " " + IntToStr(PairWeight(v, u)));
    }
  }
  weights_ = std::move(lines);
  view_.WeightsChanged();
}

void PairingEngine::RunCommand(const std::string& line) {
  if (manualMatch_) {
    dialogs_.ShowMessage(std::string(kManualCommandText) + line);
    return;
  }
  const CommandOutcome outcome = RunCommandLine(line);
  if (!outcome.Succeeded()) throw vrx::Exception(DescribeFailedCommand(line, outcome));
}

void PairingEngine::RunSolver(const std::string& deleteLine, const std::string& solveLine) {
  SaveLinesToFile(weights_, std::string(kWeightsFile));
  RunCommand(deleteLine);
  RunCommand(solveLine);
  matching_ = LoadLinesFromFile(std::string(kMatchingFile));
  view_.MatchingChanged();
}

int PairingEngine::Mate(int vertex) const {
  const int index = vertex - 1;
  if (index < 0 || index >= static_cast<int>(matching_.size())) throw EListError(index);
  const std::string& line = matching_[static_cast<size_t>(index)];
  const size_t blank = line.find(' ');
  const size_t start = blank == std::string::npos ? 0 : blank + 1;
  return StrToInt(std::string_view(line).substr(start, 99));
}

std::vector<int> PairingEngine::ReadMates(int vertices) const {
  size_t lines = matching_.size();
  while (lines > 0 && matching_[lines - 1].empty()) --lines;
  if (lines != static_cast<size_t>(std::max(vertices, 0))) {
    throw vrx::Exception(std::string(kMatchingFile) + " has " + IntToStr(static_cast<int64_t>(lines)) +
                         " lines, expected " + IntToStr(vertices));
  }
  std::vector<int> mates(static_cast<size_t>(vertices) + 1, 0);
  for (int k = 1; k <= vertices; ++k) {
    const int c = Mate(k);
    if (c < 0) throw ERangeError();
    mates[static_cast<size_t>(k)] = c;
  }
  const std::string prefix = std::string(kMatchingFile) + " is not a matching: ";
  for (int k = 1; k <= vertices; ++k) {
    const int c = mates[static_cast<size_t>(k)];
    if (c == 0) continue;
    if (c > vertices || c == k) {
      throw vrx::Exception(prefix + "line " + IntToStr(k) + " pairs " + IntToStr(k) + " with " +
                           IntToStr(c) + " of " + IntToStr(vertices));
    }
    const int back = mates[static_cast<size_t>(c)];
    if (back != k) {
      throw vrx::Exception(prefix + "line " + IntToStr(k) + " pairs " + IntToStr(k) + " with " +
                           IntToStr(c) + ", line " + IntToStr(c) + " pairs " + IntToStr(c) +
                           " with " + IntToStr(back));
    }
  }
  return mates;
}

void PairingEngine::WriteTableColumn(int round, const std::vector<int>& tables) {
  for (int k = 1; k <= playerCount_; ++k) {
    grid_.SetCell(k, TableColumn(round), IntToStr(tables[static_cast<size_t>(k)]));
  }
}

void PairingEngine::MatchPairs() {
  const std::string& prefix = CommandPrefix();
  RunSolver(prefix + " /c del wm.out", prefix + " /c wmatch wm.in > wm.out");
  const int n = playerCount_;
  const std::vector<int> mates = ReadMates(n);
  std::vector<int> tables(static_cast<size_t>(n) + 1, 0);
  int next = 1;
  for (int k = 1; k <= n; ++k) {
    const int c = mates[static_cast<size_t>(k)];
    if (k < c) {
      if (next > kMaxTables) throw ERangeError();
      tables[static_cast<size_t>(k)] = next++;
    } else {
      tables[static_cast<size_t>(k)] = tables[static_cast<size_t>(c)];
    }
  }
  // Nothing of the grid changes before the whole column is known.
  const int round = roundCount_ + 1;
  SetRoundCount(round);
  WriteTableColumn(round, tables);
  ShowRoundDisplay(round);
}

// --- the pair graph and the tables-of-four step ----------------------------

PairingEngine::PairIndex PairingEngine::BuildPairIndex(int round) const {
  const int pairs = playerCount_ / 2;
  PairIndex index(static_cast<size_t>(pairs) + 1, {0, 0});
  for (int k = 1; k <= playerCount_; ++k) {
    const int t = TableNumber(k, round);
    if (t < 0 || t > pairs) throw ERangeError();
    auto& entry = index[static_cast<size_t>(t)];
    if (entry[0] == 0) {
      entry[0] = k;
    } else if (entry[1] == 0) {
      entry[1] = k;
    } else {
      throw vrx::Exception("Nekorektni parovani do dvojic, u stolu cislo " + IntToStr(t) +
                           "jsou  nalosovani vic jak dva hraci!");
    }
  }
  return index;
}

void PairingEngine::ComputeFourWeights() {
  ClearFlags();
  BuildFourGraph();
}

void PairingEngine::BuildFourGraph() {
  const int round = roundCount_;
  const RoundCountRestorer history(roundCount_, round - 1);
  const PairIndex index = BuildPairIndex(round);
  const int pairs = static_cast<int>(index.size()) - 1;
  TextLines lines;
  lines.reserve(static_cast<size_t>(pairs) * static_cast<size_t>(pairs) + 1);
  lines.push_back(GraphHeader(pairs));
  for (int a = 1; a <= pairs; ++a) {
    lines.push_back(VertexLine(pairs, a));
    const int a1 = index[static_cast<size_t>(a)][0];
    const int a2 = index[static_cast<size_t>(a)][1];
    for (int c = 1; c <= pairs; ++c) {
      if (c == a) continue;
      const int c1 = index[static_cast<size_t>(c)][0];
      const int c2 = index[static_cast<size_t>(c)][1];
      int32_t s = PairWeight(a1, a2);
      s = Add32(s, PairWeight(a1, c1));
      s = Add32(s, PairWeight(a1, c2));
      s = Add32(s, PairWeight(a2, c1));
      s = Add32(s, PairWeight(a2, c2));
      s = Add32(s, PairWeight(c1, c2));
      const int32_t t = TripleCount(a1, a2, c1) + TripleCount(a1, a2, c2) +
                        TripleCount(a1, c1, c2) + TripleCount(a2, c1, c2);
      const int32_t q = QuadCount(a1, a2, c2, c1);
      const int32_t w = Sub32(Sub32(s, Mul32(10000, Mul32(t, t))), Mul32(1000000, q));
      lines.push_back(IntToStr(c) + " " + IntToStr(w));
    }
  }
  weights_ = std::move(lines);
  view_.WeightsChanged();
}

void PairingEngine::MatchTablesOfFour() {
  // This step has always named the interpreter itself, whatever the prefix.
  RunSolver("cmd /c del wm.out", "cmd /c wmatch wm.in > wm.out");
  const int round = roundCount_;
  const PairIndex index = BuildPairIndex(round);
  const int pairs = static_cast<int>(index.size()) - 1;
  const std::vector<int> mates = ReadMates(pairs);
  std::vector<int> tables(static_cast<size_t>(playerCount_) + 1, 0);
  int next = 1;
  for (int m = 1; m <= pairs; ++m) {
    const int c = mates[static_cast<size_t>(m)];
    int table = 0;
    if (m < c) {
      if (next > kMaxTables) throw ERangeError();
      table = next++;
    } else {
      table = tables[static_cast<size_t>(index[static_cast<size_t>(c)][0])];
    }
    // Row 0 stands for "no player" in an incomplete pair and keeps 0, so an
    // unmatched pair always gets table 0.
    for (const int row : index[static_cast<size_t>(m)]) {
      if (row != 0) tables[static_cast<size_t>(row)] = table;
    }
  }
  std::vector<RepeatMeeting> repeats = FindRepeats(round, tables);
  WriteTableColumn(round, tables);
  PublishRepeats(round, std::move(repeats));
}

// --- the seating with fewer repeats ----------------------------------------

void PairingEngine::SeatFewerRepeats() {
  if (playerCount_ == 0) {
    dialogs_.ShowMessage(kNoDataText);
    return;
  }
  ClearFlags();
  SeatRound();
}

void PairingEngine::SeatRound() {
  const int n = playerCount_;
  const size_t un = static_cast<size_t>(n);
  SeatingInput input;
  input.players = n;
  input.points.resize(un);
  input.meetings.assign(un * un, 0);
  input.sitOuts.assign(un, 0);
  input.bye.assign(un, false);
  const int32_t firstBye = Sub32(n, ByeCount());
  std::vector<int> tableOf(un);
  for (int r = 1; r <= roundCount_; ++r) {
    for (int k = 1; k <= n; ++k) tableOf[static_cast<size_t>(k - 1)] = TableNumber(k, r);
    for (size_t i = 0; i < un; ++i) {
      if (tableOf[i] == 0) {
        ++input.sitOuts[i];
        continue;
      }
      for (size_t j = i + 1; j < un; ++j) {
        if (tableOf[i] != tableOf[j]) continue;
        ++input.meetings[i * un + j];
        ++input.meetings[j * un + i];
      }
    }
  }
  for (int k = 1; k <= n; ++k) {
    input.points[static_cast<size_t>(k - 1)] = PointsTotal(k);
    input.bye[static_cast<size_t>(k - 1)] = k > firstBye;
  }
  const std::vector<int> numbers = NumberTables(SeatWithFewerRepeats(input));
  std::vector<int> tables(un + 1, 0);
  for (int k = 1; k <= n; ++k) {
    const int t = numbers[static_cast<size_t>(k - 1)];
    if (t > kMaxTables) throw ERangeError();
    tables[static_cast<size_t>(k)] = t;
  }
  const int round = roundCount_ + 1;
  std::vector<RepeatMeeting> repeats = FindRepeats(round, tables);
  SetRoundCount(round);
  WriteTableColumn(round, tables);
  ShowRoundDisplay(round);
  PublishRepeats(round, std::move(repeats));
}

// --- the report of repeat meetings -----------------------------------------

std::vector<RepeatMeeting> PairingEngine::FindRepeats(int round,
                                                      const std::vector<int>& tables) const {
  const int n = playerCount_;
  std::vector<std::vector<int>> atTable;
  for (int k = 1; k <= n; ++k) {
    const int t = tables[static_cast<size_t>(k)];
    if (t <= 0) continue;
    if (static_cast<size_t>(t) >= atTable.size()) atTable.resize(static_cast<size_t>(t) + 1);
    atTable[static_cast<size_t>(t)].push_back(k);
  }
  std::vector<RepeatMeeting> repeats;
  for (size_t t = 1; t < atTable.size(); ++t) {
    const std::vector<int>& players = atTable[t];
    for (size_t a = 0; a < players.size(); ++a) {
      for (size_t b = a + 1; b < players.size(); ++b) {
        int before = 0;
        for (int r = 1; r < round; ++r) {
          const int ta = TableOrNone(grid_.Cell(players[a], TableColumn(r)));
          if (ta > 0 && ta == TableOrNone(grid_.Cell(players[b], TableColumn(r)))) ++before;
        }
        if (before > 0) repeats.push_back({players[a], players[b], static_cast<int>(t), before});
      }
    }
  }
  return repeats;
}

void PairingEngine::PublishRepeats(int round, std::vector<RepeatMeeting> repeats) {
  repeats_ = std::move(repeats);
  repeatReport_.clear();
  repeatReport_.push_back("Repeat meetings in round " + IntToStr(round) + ": " +
                          (repeats_.empty() ? std::string("none")
                                            : IntToStr(static_cast<int64_t>(repeats_.size()))));
  for (const RepeatMeeting& m : repeats_) {
    repeatReport_.push_back(IntToStr(m.first) + " - " + IntToStr(m.second) + " at table " +
                            IntToStr(m.table) + ": met " + IntToStr(m.before) +
                            (m.before == 1 ? " time" : " times") + " before");
  }
  view_.RepeatsChanged();
}

void PairingEngine::FullPairing() {
  if (playerCount_ == 0) {
    dialogs_.ShowMessage(kNoDataText);
    return;
  }
  // One command: the missing-results question is asked once for both
  // graphs, and a failure anywhere takes the whole round back.
  Transaction transaction(*this);
  ClearFlags();
  if (fewerRepeats_) {
    SeatRound();
  } else {
    BuildPairGraph();
    MatchPairs();
    BuildFourGraph();
    MatchTablesOfFour();
  }
  transaction.Commit();
  CopyGridToClipboard();
  view_.ShowPairingPage();
}

}  // namespace pelvaro
