// A pairing that fails takes nothing half-way: the grid, the round count and
// the round display stay as they were, the missing-results question comes
// once per command, and the error names what failed (the command line with
// its exit status and first line of standard error, or what is wrong with
// wm.out).
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/core/CommandInterpreter.h"
#include "app/core/PairingEngine.h"
#include "tests/app/core/PairingTestSupport.h"

namespace pelvaro {
namespace {

using testing_support::ConsecutiveMatching;
using testing_support::ScriptedEngine;
using testing_support::WriteFile;

std::string ErrorOf(const std::function<void()>& step) {
  try {
    step();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "(no error)";
}

// Four players after one round at one table, the display showing round 1.
class PairingFailuresTest : public ::testing::Test, public ScriptedEngine {
 protected:
  void SetUp() override {
    clipboard.text = "1\t8\t30\r1\t6\t25\r1\t4\t20\r1\t2\t15\r";
    engine.LoadGridFromClipboard();
    clipboard.sets = 0;
  }
  void TearDown() override {
    SetWmatchProgram("");
    PairingEngine::SetCommandPrefix("cmd ");
  }

  // Runs a step that must fail and checks that it took nothing back with it.
  std::string FailsLeavingAllAsItWas(const std::function<void()>& step) {
    const PairingGrid::Contents before = engine.Grid().Save();
    const int rounds = engine.RoundCount();
    const std::string error = ErrorOf(step);
    const PairingGrid::Contents after = engine.Grid().Save();
    EXPECT_EQ(after.rows, before.rows);
    EXPECT_EQ(after.colCount, before.colCount);
    EXPECT_EQ(engine.RoundCount(), rounds);
    EXPECT_EQ(engine.ShownRound(), 1);
    EXPECT_EQ(view.round, 1);
    EXPECT_EQ(clipboard.sets, 0);
    return error;
  }

  void Script(const std::string& name, const std::string& body) {
    WriteFile(name, "#!/bin/sh\n" + body);
    chmod(name.c_str(), 0755);
  }
};

TEST_F(PairingFailuresTest, ManualStepsThatFailTakeTheRoundBack) {
  engine.SetManualMatch(true);
  struct Case {
    const char* what;
    std::vector<std::string> matchings;  // wm.out of the pairs step, then of the four step
    std::string error;
  };
  const Case cases[] = {
      {"short wm.out in the pairs step", {"1 2\n2 1\n3 4\n"}, "wm.out has 3 lines, expected 4"},
      {"short wm.out in the four step, after the pairs step added the round",
       {ConsecutiveMatching(4), "1 2\n"},
       "wm.out has 1 lines, expected 2"},
      {"too long", {ConsecutiveMatching(5)}, "wm.out has 5 lines, expected 4"},
      {"mates that do not name each other",
       {"1 2\n2 3\n3 2\n4 0\n"},
       "wm.out is not a matching: line 1 pairs 1 with 2, line 2 pairs 2 with 3"},
      {"a mate beyond the graph", {"1 7\n2 1\n3 4\n4 3\n"},
       "wm.out is not a matching: line 1 pairs 1 with 7 of 4"},
      {"a pair of one player and itself", {"1 1\n2 0\n3 4\n4 3\n"},
       "wm.out is not a matching: line 1 pairs 1 with 1 of 4"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    matchings.assign(c.matchings.begin(), c.matchings.end());
    EXPECT_EQ(FailsLeavingAllAsItWas([&] { engine.FullPairing(); }), c.error);
  }
  // The grid got no fourth column on the way, and a good pairing still works.
  EXPECT_EQ(engine.Grid().ColCount(), 15);
  matchings = {ConsecutiveMatching(4), ConsecutiveMatching(2)};
  engine.FullPairing();
  EXPECT_EQ(engine.RoundCount(), 2);
  EXPECT_EQ(view.round, 2);
}

TEST_F(PairingFailuresTest, MissingResultsQuestionComesOncePerFullPairing) {
  engine.Grid().SetCell(2, 2, "");
  engine.SetManualMatch(true);
  dialogs.answer = false;
  EXPECT_EQ(FailsLeavingAllAsItWas([&] { engine.FullPairing(); }),
            "Nezadaný výsledek, končím párování. Doplňte výsledky a zkuste to znovu.");
  EXPECT_EQ(dialogs.questions.size(), 1u);

  // A Yes holds for both graphs of the same command.
  dialogs.answer = true;
  matchings = {ConsecutiveMatching(4), ConsecutiveMatching(2)};
  engine.FullPairing();
  EXPECT_EQ(dialogs.questions.size(), 2u);
  EXPECT_EQ(engine.RoundCount(), 2);

  // So does the seating with fewer repeats.
  engine.SetFewerRepeats(true);
  engine.FullPairing();
  EXPECT_EQ(dialogs.questions.size(), 3u);
  EXPECT_EQ(engine.RoundCount(), 3);
}

TEST_F(PairingFailuresTest, FailedCommandsAreNamed) {
  Script("fails", "echo 'graph line 3: bad weight' >&2\necho second line >&2\nexit 3\n");
  Script("short", "echo '1 2'\n");
  Script("killed", "kill -9 $$\n");
  struct Case {
    std::string prefix;
    std::string wmatch;  // the matching program; "" finds none
    std::string error;
  };
  const std::string pwd = std::filesystem::current_path().string();
  const Case cases[] = {
      {"cmd ", pwd + "/fails",
       "The command \"cmd  /c wmatch wm.in > wm.out\" failed with exit status 3: graph line 3: "
       "bad weight"},
      {"cmd ", pwd + "/short", "wm.out has 1 lines, expected 4"},
      {"cmd ", pwd + "/killed",
       "The command \"cmd  /c wmatch wm.in > wm.out\" was stopped by signal 9 (nothing on "
       "standard error)"},
      {"cmd ", pwd + "/missing",
       "The command \"cmd  /c wmatch wm.in > wm.out\" could not be started: the matching "
       "program " + pwd + "/missing is not an executable file"},
      // The window's command edit with its first text: the shell is asked
      // to run "command /c del wm.out", and the step stops right there.
      {"command", pwd + "/short", "The command \"command /c del wm.out\" failed with exit status 127: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    PairingEngine::SetCommandPrefix(c.prefix);
    SetWmatchProgram(c.wmatch);
    const std::string error = FailsLeavingAllAsItWas([&] { engine.FullPairing(); });
    // The shell words its own "not found"; the rest is ours.
    EXPECT_EQ(error.substr(0, c.error.size()), c.error);
    if (c.prefix == "command") {
      EXPECT_NE(error.find("not found"), std::string::npos);
    }
  }
}

}  // namespace
}  // namespace pelvaro
