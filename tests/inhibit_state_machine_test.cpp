#include "control/inhibit_state_machine.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "control/keep_awake.h"
#include "control/why_awake.h"

namespace dozerin {
namespace {

// Records every call in one ordered list: "ES 0x00000001", "LOG Set ...", "ICON 1", "WAKE".
class FakePlatform : public InhibitPlatform {
 public:
  void SetExecutionState(std::uint32_t flags) override {
    char text[32];
    std::snprintf(text, sizeof text, "ES 0x%08X", static_cast<unsigned>(flags));
    calls.push_back(text);
  }
  void WakeWorker() override { calls.push_back("WAKE"); }
  void ShowState(InhibitState state) override { calls.push_back("ICON " + std::to_string(state)); }
  bool LoggingOn() const override { return logging; }
  FileError Log(std::string_view line) override {
    if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
    if (fail_log_at == std::string(line)) return FileError::kAccessDenied;
    if (logging) calls.push_back("LOG " + std::string(line));
    return FileError::kNone;
  }
  std::int64_t WallClock() const override { return now; }
  std::vector<std::string> Take() { return std::exchange(calls, {}); }

  std::vector<std::string> calls;
  std::int64_t now = 1'800'000'000;
  bool logging = true;
  std::string fail_log_at;
};

using Calls = std::vector<std::string>;

class InhibitTest : public ::testing::Test {
 protected:
  void Configure(std::int32_t max_margin, bool away_capable, std::uint32_t busy_display = 0) {
    InhibitSettings s;
    s.max_margin = max_margin;
    s.busy_display = busy_display;
    machine_.SetSettings(s);
    machine_.SetAwayModeCapable(away_capable);
  }
  // Runs n ticks and returns the state each one ended with.
  std::vector<int> Ticks(int n) {
    std::vector<int> states;
    for (int i = 0; i < n; ++i) {
      EXPECT_EQ(machine_.OnTick(), FileError::kNone);
      states.push_back(machine_.displayed_state());
    }
    return states;
  }
  FakePlatform platform_;
  InhibitStateMachine machine_{platform_};
};

TEST_F(InhibitTest, TransitionTable) {
  struct Row {
    const char* name;
    std::int32_t max_margin;
    std::vector<std::pair<std::uint32_t, int>> before;  // events, each followed by that many ticks
    std::uint32_t event;
    std::vector<int> states_after;  // displayed state after each following tick
  };
  const Row rows[] = {
      {"idle, busy event", 3, {}, SET_BUSY, {STATE_BUSY, STATE_BUSY}},
      {"idle, margin event", 2, {}, SET_MARGIN, {STATE_MARGIN, STATE_MARGIN, STATE_IDLE}},
      {"margin event without a margin", 0, {}, SET_MARGIN, {STATE_IDLE}},
      {"busy, idle event, countdown left",
       3,
       {{SET_BUSY | SET_MARGIN, 1}},
       SET_IDLE,
       {STATE_MARGIN, STATE_MARGIN, STATE_IDLE}},
      {"busy, idle event, countdown used up",
       1,
       {{SET_BUSY | SET_MARGIN, 2}},
       SET_IDLE,
       {STATE_IDLE}},
      {"busy without margin falls straight to idle", 5, {{SET_BUSY, 2}}, SET_IDLE, {STATE_IDLE}},
      {"margin, busy event", 3, {{SET_MARGIN, 1}}, SET_BUSY, {STATE_BUSY}},
      {"margin, margin event reloads",
       2,
       {{SET_MARGIN, 1}},
       SET_MARGIN,
       {STATE_MARGIN, STATE_MARGIN, STATE_IDLE}},
      {"idle and busy together make busy", 0, {}, SET_IDLE | SET_BUSY, {STATE_BUSY}},
      {"neither idle nor busy keeps the state", 0, {{SET_BUSY, 1}}, 0x0100, {STATE_BUSY}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    InhibitStateMachine machine(platform_);
    InhibitSettings s;
    s.max_margin = r.max_margin;
    machine.SetSettings(s);
    auto tick_states = [&](int n) {
      std::vector<int> out;
      for (int i = 0; i < n; ++i) {
        machine.OnTick();
        out.push_back(machine.displayed_state());
      }
      return out;
    };
    for (const auto& [event, ticks] : r.before) {
      machine.OnActivityEvent(event, 0);
      tick_states(ticks);
    }
    machine.OnActivityEvent(r.event, 0);
    EXPECT_EQ(tick_states(static_cast<int>(r.states_after.size())), r.states_after);
    EXPECT_EQ(machine.Quiet(), r.states_after.back() == STATE_IDLE);
  }
}

TEST_F(InhibitTest, MouseMarginOfNTicks) {
  Configure(3, true);
  platform_.logging = true;
  ASSERT_EQ(machine_.OnActivityEvent(SET_MARGIN, KIND_MOUSE), FileError::kNone);
  EXPECT_EQ(platform_.Take(), (Calls{"LOG Event KIND_MOUSE", "LOG Set STATE_MARGIN"}));
  EXPECT_EQ(machine_.stored_state(), STATE_IDLE);
  EXPECT_EQ(Ticks(4), (std::vector<int>{1, 1, 1, 0}));
  EXPECT_EQ(platform_.Take(),
            (Calls{"WAKE", "ES 0x00000001", "LOG Set ES_SYSTEM_REQUIRED", "ICON 1", "WAKE",
                   "ES 0x00000001", "LOG Set ES_SYSTEM_REQUIRED", "WAKE", "ES 0x00000001",
                   "LOG Set ES_SYSTEM_REQUIRED", "WAKE", "ICON 0"}));
}

TEST_F(InhibitTest, ProcessorLoadThenQuietWithAwayMode) {
  Configure(2, true);
  machine_.OnActivityEvent(SET_BUSY | SET_MARGIN, KIND_CPU);
  EXPECT_EQ(platform_.Take(),
            (Calls{"LOG Event KIND_CPU", "LOG Set STATE_BUSY", "LOG Set STATE_MARGIN"}));
  Ticks(1);
  EXPECT_EQ(platform_.Take(),
            (Calls{"WAKE", "ES 0x80000040", "LOG Set Enable ES_AWAYMODE_REQUIRED|ES_CONTINUOUS",
                   "ES 0x00000001", "LOG Set ES_SYSTEM_REQUIRED", "ICON 2"}));
  machine_.OnActivityEvent(SET_BUSY | SET_MARGIN, KIND_CPU);  // reloads the margin
  platform_.Take();
  Ticks(1);  // away mode is requested once only
  EXPECT_EQ(platform_.Take(), (Calls{"WAKE", "ES 0x00000001", "LOG Set ES_SYSTEM_REQUIRED"}));
  machine_.OnActivityEvent(SET_IDLE, 0);
  EXPECT_EQ(platform_.Take(), Calls{});
  EXPECT_EQ(Ticks(2), (std::vector<int>{STATE_MARGIN, STATE_IDLE}));
  EXPECT_EQ(platform_.Take(),
            (Calls{"WAKE", "ES 0x80000000", "LOG Set ES_CONTINUOUS", "ES 0x00000001",
                   "LOG Set ES_SYSTEM_REQUIRED", "ICON 1", "WAKE", "ICON 0"}));
  EXPECT_FALSE(machine_.away_mode_held());
}

TEST_F(InhibitTest, NoAwayModeBeforeVersionSixAndDisplayWithBusyDisplay) {
  Configure(1, false, 1);
  machine_.OnActivityEvent(SET_BUSY | SET_MARGIN, KIND_NETWORK);
  platform_.Take();
  Ticks(1);
  machine_.OnActivityEvent(SET_IDLE, 0);
  machine_.OnActivityEvent(SET_MARGIN, KIND_MOUSE);
  platform_.Take();
  Ticks(2);
  EXPECT_EQ(platform_.Take(),
            (Calls{"WAKE", "ES 0x00000001", "LOG Set ES_SYSTEM_REQUIRED", "ES 0x00000002",
                   "LOG Set ES_DISPLAY_REQUIRED", "ICON 1", "WAKE", "ICON 0"}));
}

TEST_F(InhibitTest, SuspendIsRefusedOnlyWhileBusy) {
  Configure(5, true);
  EXPECT_EQ(machine_.QuerySuspendAnswer(), 0u);
  machine_.OnActivityEvent(SET_MARGIN, KIND_MOUSE);
  Ticks(1);
  EXPECT_EQ(machine_.QuerySuspendAnswer(), 0u);  // a running margin does not refuse
  machine_.OnActivityEvent(SET_BUSY, KIND_PROCESS);
  EXPECT_EQ(machine_.QuerySuspendAnswer(), kBroadcastQueryDeny);  // before the next tick too
  machine_.OnActivityEvent(SET_IDLE, 0);
  EXPECT_EQ(machine_.QuerySuspendAnswer(), 0u);
}

TEST_F(InhibitTest, NegativeMaxMarginIsAMarginThatDoesNotEnd) {
  Configure(-1, false);
  machine_.OnActivityEvent(SET_MARGIN, KIND_MOUSE);
  EXPECT_EQ(machine_.margin_countdown(), 0xFFFFFFFFu);
  platform_.logging = false;
  for (int i = 0; i < 10000; ++i) machine_.OnTick();
  EXPECT_EQ(machine_.displayed_state(), STATE_MARGIN);
  EXPECT_EQ(machine_.margin_countdown(), 0xFFFFFFFFu - 10000);
}

TEST_F(InhibitTest, KindLinesInFixedOrderOnlyWhenLogging) {
  machine_.OnActivityEvent(
      SET_BUSY, KIND_MOUSE | KIND_CPU | KIND_WINDOW | KIND_NETWORK | KIND_PROCESS | 0x100);
  EXPECT_EQ(platform_.Take(),
            (Calls{"LOG Event KIND_CPU", "LOG Event KIND_NETWORK", "LOG Event KIND_PROCESS",
                   "LOG Event KIND_WINDOW", "LOG Event KIND_MOUSE", "LOG Set STATE_BUSY"}));
  platform_.logging = false;
  platform_.fail_log_at = "Event KIND_CPU";  // never composed, so it cannot fail either
  EXPECT_EQ(machine_.OnActivityEvent(SET_BUSY, KIND_CPU), FileError::kNone);
}

TEST_F(InhibitTest, FailedLogWriteEndsTheHandler) {
  Configure(4, true);
  platform_.fail_log_at = "Set STATE_BUSY";
  EXPECT_EQ(machine_.OnActivityEvent(SET_BUSY | SET_MARGIN, KIND_NETWORK),
            FileError::kAccessDenied);
  EXPECT_EQ(machine_.stored_state(), STATE_BUSY);
  EXPECT_EQ(machine_.margin_countdown(), 0u);  // the margin step was skipped

  platform_.fail_log_at = "Set Enable ES_AWAYMODE_REQUIRED|ES_CONTINUOUS";
  platform_.Take();
  EXPECT_EQ(machine_.OnTick(), FileError::kAccessDenied);
  EXPECT_EQ(platform_.Take(), (Calls{"WAKE", "ES 0x80000040"}));  // no further request, no icon
  EXPECT_EQ(machine_.displayed_state(), STATE_IDLE);
  platform_.fail_log_at.clear();
  EXPECT_EQ(machine_.OnTick(), FileError::kNone);  // the next tick goes on; away mode is held
  EXPECT_EQ(platform_.Take(),
            (Calls{"WAKE", "ES 0x00000001", "LOG Set ES_SYSTEM_REQUIRED", "ICON 2"}));
}

TEST_F(InhibitTest, ResumeEffects) {
  InhibitSettings s;
  s.max_margin = 2;
  s.reset_display_on_wakeup = 1;
  machine_.SetSettings(s);
  EXPECT_EQ(machine_.OnResume(), FileError::kNone);
  EXPECT_EQ(platform_.Take(), Calls{"ES 0x00000002"});
  s.reset_display_on_wakeup = 0;
  s.set_margin_on_wakeup = 7;  // any non-zero value is on
  machine_.SetSettings(s);
  machine_.OnResume();
  EXPECT_EQ(platform_.Take(), Calls{"LOG Set STATE_MARGIN"});
  EXPECT_EQ(machine_.margin_countdown(), 2u);
}

TEST_F(InhibitTest, ResetLeavesIconAndAwayModeToTheNextTick) {
  Configure(9, true);
  machine_.OnActivityEvent(SET_BUSY | SET_MARGIN, KIND_CPU);
  Ticks(1);
  platform_.Take();
  machine_.Reset();
  EXPECT_EQ(machine_.stored_state(), STATE_IDLE);
  EXPECT_EQ(machine_.margin_countdown(), 0u);
  EXPECT_EQ(machine_.displayed_state(), STATE_BUSY);
  EXPECT_TRUE(machine_.away_mode_held());
  Ticks(1);
  EXPECT_EQ(platform_.Take(), (Calls{"WAKE", "ES 0x80000000", "LOG Set ES_CONTINUOUS", "ICON 0"}));
}

TEST_F(InhibitTest, HoldsAndPowerRules) {
  // Steps: 'H' starts a hold of arg seconds (0: no end), 'S' stops it, 'T' runs arg ticks a second
  // apart, 'P' and 'I' are the worker's busy and idle reports, 'Z' sleeps for arg seconds (the
  // worker stopped and started again around it, then the resume), 'R' restarts the worker as
  // settings OK does, 'C' sets the clock back or forth by arg seconds, 'W' and 'E' start and end
  // a command's hold, 'B' puts the machine on battery at arg percent (-1 not known), 'M' on mains.
  struct Step {
    char op;
    std::int64_t arg;
  };
  struct Row {
    const char* name;
    std::int32_t max_margin;
    std::vector<Step> steps;
    const char* shown;  // the state shown after each tick: I, M or B
    bool refuses;       // a suspend query at the end is refused
    std::uint32_t battery_hold = 1, battery_floor = 0;
    Calls battery_lines = {};       // the log's battery lines
    const char* tooltip = nullptr;  // at the end, when checked
  };
  const Row rows[] = {
      {"a timed hold, then the margin", 2, {{'H', 3}, {'T', 5}}, "BBMMI", false},
      {"a hold without an end until stopped",
       1,
       {{'H', 0}, {'T', 3}, {'S', 0}, {'T', 2}},
       "BBBMI",
       false},
      {"the worker's idle reports do not end it", 0, {{'H', 0}, {'I', 0}, {'T', 1}}, "B", true},
      {"its end passed during a sleep",
       0,
       {{'H', 60}, {'T', 2}, {'Z', 3600}, {'T', 2}},
       "BBII",
       false},
      {"a sleep shorter than the hold", 0, {{'H', 600}, {'T', 1}, {'Z', 60}, {'T', 1}}, "BB", true},
      // The margin runs out while the process keeps the machine busy; its end is idle at once.
      {"a process outlasts the hold",
       2,
       {{'P', 0}, {'H', 2}, {'T', 3}, {'I', 0}, {'T', 2}},
       "BBBII",
       false},
      {"settings OK during a hold", 0, {{'H', 0}, {'T', 1}, {'R', 0}}, "B", true},
      {"a new hold replaces the running one",
       0,
       {{'H', 2}, {'T', 1}, {'H', 0}, {'T', 4}},
       "BBBBB",
       true},
      {"a stop without a hold", 5, {{'S', 0}, {'T', 1}}, "I", false},
      {"the clock set back", 0, {{'H', 5}, {'T', 1}, {'C', -1000}, {'T', 6}}, "BBBBBBI", false},
      // A command's hold and the hold by hand: each ending leaves the other; the margin follows
      // the last.
      {"holds for commands beside one by hand",
       2,
       {{'H', 0},
        {'W', 0},
        {'T', 1},
        {'E', 0},
        {'T', 1},
        {'W', 0},
        {'S', 0},
        {'T', 1},
        {'E', 0},
        {'T', 3}},
       "BBBMMI",
       false},
      {"an end with no command running counts nothing",
       0,
       {{'E', 0}, {'W', 0}, {'T', 1}, {'E', 0}, {'T', 1}},
       "BI",
       false},  // Power rules: on battery with BatteryHold=0 only a hold holds, at the floor
                // nothing does.
      {"keys absent: battery changes nothing",
       0,
       {{'P', 0}, {'B', 5}, {'T', 2}},
       "BB",
       true,
       1,
       0,
       {},
       "T\nbusy: process"},
      {"BatteryHold=0: a process holds only on mains",
       0,
       {{'P', 0}, {'T', 1}, {'B', 80}, {'T', 1}, {'M', 0}, {'T', 1}},
       "BIB",
       true,
       0,
       0,
       {"LOG Battery hold off", "LOG Battery hold on"},
       "T\nbusy: process"},
      {"BatteryHold=0: a hold by hand still holds",
       0,
       {{'H', 0}, {'B', 80}, {'T', 1}},
       "B",
       true,
       0,
       0,
       {"LOG Battery hold off"},
       "T\nby hand"},
      {"the floor stops a hold by hand, which comes back on mains",
       0,
       {{'H', 600}, {'B', 11}, {'T', 1}, {'B', 9}, {'T', 1}, {'M', 0}, {'T', 1}},
       "BIB",
       true,
       1,
       10,
       {"LOG Battery hold off", "LOG Battery hold on"},
       "T\n10 min"},
      {"a hold that ran out below the floor does not come back",
       0,
       {{'H', 60}, {'B', 9}, {'T', 1}, {'C', 120}, {'M', 0}, {'T', 1}},
       "II",
       false,
       1,
       10,
       {"LOG Battery hold off", "LOG Battery hold on"},
       "T\nidle"},
      {"a charge not known is no floor",
       0,
       {{'P', 0}, {'B', -1}, {'T', 1}},
       "B",
       true,
       1,
       10,
       {},
       "T\nbusy: process"},
      {"the floor's own line",
       0,
       {{'P', 0}, {'B', 7}, {'T', 1}},
       "I",
       false,
       0,
       10,
       {"LOG Battery hold off"},
       "T\n7 of 10"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    FakePlatform platform;
    InhibitStateMachine machine(platform);
    InhibitSettings settings;
    settings.max_margin = r.max_margin;
    settings.battery_hold = r.battery_hold;
    settings.battery_floor = r.battery_floor;
    machine.SetSettings(settings);
    std::string shown;
    for (const Step& step : r.steps) {
      switch (step.op) {
        case 'H':
          machine.StartHold(step.arg);
          break;
        case 'S':
          machine.StopHold();
          break;
        case 'W':
          machine.StartCommandHold();
          break;
        case 'E':
          machine.EndCommandHold();
          break;
        case 'B':
          machine.SetPower({true, static_cast<int>(step.arg)});
          break;
        case 'M':
          machine.SetPower({});
          break;
        case 'T':
          for (int i = 0; i < step.arg; ++i) {
            ++platform.now;
            machine.OnTick();
            shown += "IMB"[machine.displayed_state()];
          }
          break;
        case 'P':
          machine.OnActivityEvent(SET_BUSY, KIND_PROCESS);
          break;
        case 'I':
          machine.OnActivityEvent(SET_IDLE, 0);
          break;
        case 'Z':
          machine.Reset();
          platform.now += step.arg;
          machine.Reset();
          machine.OnResume();
          break;
        case 'R':
          machine.Reset();
          machine.Reset();
          break;
        case 'C':
          platform.now += step.arg;
          break;
      }
    }
    EXPECT_EQ(shown, r.shown);
    EXPECT_EQ(machine.QuerySuspendAnswer() == kBroadcastQueryDeny, r.refuses);
    Calls lines;
    for (const std::string& call : platform.calls) {
      if (call.rfind("LOG Battery", 0) == 0) lines.push_back(call);
    }
    EXPECT_EQ(lines, r.battery_lines);
    if (r.tooltip == nullptr) {
      EXPECT_EQ(machine.Quiet(), shown.back() == 'I');
    } else {
      EXPECT_EQ(ProgramTooltip(machine, "T", "process", "%1 min", "by hand", "%1 of %2", "-"),
                r.tooltip);
    }
  }
}

TEST_F(InhibitTest, AHoldIsLoggedLikeAWatchedProcess) {
  Configure(1, false);
  machine_.StartHold(1);
  platform_.now += 1;
  Ticks(2);
  EXPECT_EQ(platform_.Take(),
            (Calls{"LOG Event KIND_MANUAL", "LOG Set STATE_BUSY", "WAKE", "LOG Set STATE_MARGIN",
                   "ES 0x00000001", "LOG Set ES_SYSTEM_REQUIRED", "ICON 1", "WAKE", "ICON 0"}));
  machine_.StartHold(0);
  EXPECT_EQ(ProgramTooltip(machine_, "D", "", "%1 min", "by hand"), "D\nidle");  // not shown yet
  Ticks(1);
  EXPECT_EQ(ProgramTooltip(machine_, "D", "", "%1 min", "by hand"), "D\nby hand");
  machine_.StartHold(3600);
  platform_.now += 1139;
  EXPECT_EQ(ProgramTooltip(machine_, "D", "", "%1 min", "by hand"), "D\n42 min");
  EXPECT_EQ(platform_.Take(),
            (Calls{"LOG Event KIND_MANUAL", "LOG Set STATE_BUSY", "WAKE", "LOG Event KIND_MANUAL",
                   "LOG Set STATE_BUSY", "ES 0x00000001", "LOG Set ES_SYSTEM_REQUIRED", "ICON 2",
                   "LOG Event KIND_MANUAL", "LOG Set STATE_BUSY"}));
}

}  // namespace
}  // namespace dozerin

namespace dozerin {
namespace {

TEST(KeepAwake, CommandLine) {
  using Kind = KeepAwakeRequest::Kind;
  const struct {
    std::vector<std::string> args;
    Kind kind;
    std::int64_t seconds;
  } rows[] = {
      {{}, Kind::kNone, 0},
      {{"--keep-awake"}, Kind::kStart, 0},
      {{"--keep-awake=90m"}, Kind::kStart, 5400},
      {{"--keep-awake=2h"}, Kind::kStart, 7200},
      {{"--keep-awake=45s"}, Kind::kStart, 45},
      {{"--keep-awake", "30m"}, Kind::kStart, 1800},
      {{"--keep-awake=0"}, Kind::kStop, 0},
      {{"--keep-awake=off"}, Kind::kStop, 0},
      {{"--keep-awake=8784h"}, Kind::kStart, kMaxHoldSeconds},
      {{"--keep-awake=1h", "--keep-awake=off"}, Kind::kStop, 0},
      {{"--keep-awake-later", "x"}, Kind::kNone, 0},
      {{"--keep-awake="}, Kind::kBad, 0},
      {{"--keep-awake=90"}, Kind::kBad, 0},
      {{"--keep-awake=0m"}, Kind::kBad, 0},
      {{"--keep-awake=1.5h"}, Kind::kBad, 0},
      {{"--keep-awake=-5m"}, Kind::kBad, 0},
      {{"--keep-awake=2H"}, Kind::kBad, 0},
      {{"--keep-awake=8785h"}, Kind::kBad, 0},
      {{"--keep-awake=99999999999h"}, Kind::kBad, 0},
      {{"--keep-awake=999999999999999999999s"}, Kind::kBad, 0},
      {{"--keep-awake=soon", "--keep-awake=1h"}, Kind::kBad, 0},
  };
  for (const auto& r : rows) {
    const KeepAwakeRequest got = ParseKeepAwake(r.args);
    EXPECT_EQ(got.kind, r.kind) << ::testing::PrintToString(r.args);
    EXPECT_EQ(got.seconds, r.seconds) << ::testing::PrintToString(r.args);
  }
  EXPECT_EQ(ParseKeepAwake({"--keep-awake=soon"}).value, "soon");
  const KeepAwakeRequest all = ParseKeepAwake({"--status", "--keep-awake", "--settings"});
  EXPECT_TRUE(all.ask_status && all.open_settings && all.kind == Kind::kStart);
  // --while takes the rest as the command, options and "--" after it included.
  const std::vector<std::vector<std::string>> commands[] = {
      {{"--keep-awake=1h", "--while", "make", "--status"}, {"make", "--status"}},
      {{"--while", "--", "--", "x"}, {"--", "x"}},
      {{"--while", "--"}, {}},
  };
  for (const auto& c : commands) {
    const KeepAwakeRequest got = ParseKeepAwake(c[0]);
    EXPECT_TRUE(got.kind == Kind::kWhile && !got.ask_status && got.command == c[1]);
  }
  EXPECT_EQ(WhileHolder("/usr/bin/make", 4242), "make (pid 4242)");
  // The command of --while in a Windows command line: found as the C runtime splits it, and the
  // text from its start handed on as typed.
  const struct {
    std::u16string line, program, from_begin, arguments;
  } lines[] = {
      {u"dozerin.exe --while make -j4", u"make", u"make -j4", u" -j4"},
      {uR"("C:\Program Files\dz.exe" --status --while -- "a b.exe" x)", u"a b.exe",
       uR"("a b.exe" x)", u" x"},
      {uR"(dz "--while" t.bat x"&mkdir INJ&")", u"t.bat", uR"(t.bat x"&mkdir INJ&")",
       uR"( x"&mkdir INJ&")"},
      {u"dz --while caf\u00e9 \uff02\u2713 \u65e5", u"caf\u00e9", u"caf\u00e9 \uff02\u2713 \u65e5",
       u" \uff02\u2713 \u65e5"},
      {uR"(dz --while "C:\x y\\" a\\\"b)", uR"(C:\x y\)", uR"("C:\x y\\" a\\\"b)", uR"( a\\\"b)"},
  };
  for (const auto& l : lines) {
    const std::optional<WhileCommand> found = FindWhileCommand(l.line);
    ASSERT_TRUE(found.has_value());
    EXPECT_TRUE(found->program == l.program && l.line.substr(found->begin) == l.from_begin &&
                l.line.substr(found->arguments) == l.arguments);
  }
  for (const char16_t* none : {u"dz", u"dz --while", u"dz --while -- ", uR"(dz x\"--while y)"}) {
    EXPECT_FALSE(FindWhileCommand(none).has_value());
  }
  EXPECT_TRUE(SafeForCmd(uR"( a.txt -v C:\x)"));
  for (const char16_t* bad : {u" x&y", u" a|b", u" <in", u" >out", u" ^", u" %PATH%", u" \"a\""}) {
    EXPECT_FALSE(SafeForCmd(bad));
  }
  EXPECT_EQ(WhileHolder("C:\\tools\\x.exe", 7), "x.exe (pid 7)");
  EXPECT_EQ(StatusLine("Dozerin\nidle\ncould not keep awake: x"), "idle; could not keep awake: x");
  EXPECT_EQ(PowerRequestReason("Dozerin\nbusy: process vlc.exe"), "Dozerin: process vlc.exe");
}

TEST(WhyAwake, StateLinesAndRates) {
  const struct {
    InhibitState shown;
    std::uint32_t countdown;
    const char* reason;
    const char* line;
  } rows[] = {
      {STATE_BUSY, 0, "process vlc", "busy: process vlc"},
      {STATE_BUSY, 9, "", "busy"},
      {STATE_MARGIN, 42, "mouse", "margin: 42 s left (mouse)"},
      {STATE_MARGIN, 1, "", "margin: 1 s left"},
      {STATE_IDLE, 0, "process vlc", "idle"},
  };
  for (const auto& r : rows) EXPECT_EQ(StateLine(r.shown, r.countdown, r.reason), r.line);
  EXPECT_EQ(Tooltip("Dozerin", STATE_IDLE, 0, ""), "Dozerin\nidle");
  const struct {
    std::uint32_t rate;
    const char* text;
  } rates[] = {{0, "0 B/s"},           {1023, "1023 B/s"},    {1024, "1 KB/s"},
               {1048575, "1023 KB/s"}, {2516582, "2.4 MB/s"}, {4294967295u, "4096.0 MB/s"}};
  for (const auto& r : rates) EXPECT_EQ(FormatRate(r.rate), r.text);
  // A hold's line: minutes rounded up.
  const struct {
    std::int64_t length, left;
    const char* line;
  } holds[] = {{3600, 3600, "60 min"},
               {3600, 2461, "42 min"},
               {3600, 2460, "41 min"},
               {60, 1, "1 min"},
               {0, 0, "no end"}};
  for (const auto& h : holds) EXPECT_EQ(HoldLine("%1 min", "no end", h.length, h.left), h.line);
}

}  // namespace
// Windows' power status: only a battery running without mains is battery power.
TEST(PowerRules, WindowsPowerStatus) {
  struct Row {
    unsigned ac, flag, percent;
    bool on_battery;
    int shown_percent;
  };
  const Row rows[] = {{0, 2, 9, true, 9},       {0, 8, 255, true, -1},      {1, 8, 100, false, -1},
                      {0, 128, 255, false, -1}, {255, 255, 255, false, -1}, {0, 1, 250, true, -1}};
  for (const Row& r : rows) {
    const PowerSource power = PowerFromStatus(r.ac, r.flag, r.percent);
    EXPECT_EQ(power.on_battery, r.on_battery) << r.ac << " " << r.flag;
    EXPECT_EQ(power.percent, r.shown_percent) << r.ac << " " << r.flag;
  }
}

}  // namespace dozerin
