#include "control/keep_awake.h"

#include <algorithm>

#include "app/text.h"
#include "control/inhibit_state_machine.h"
#include "control/why_awake.h"
#include "res/resource.h"

namespace dozerin {
namespace {

constexpr std::string_view kOption = "--keep-awake";

// Seconds of "90m", "2h", "45s"; 0 for "0" and "off"; -1 for anything else.
std::int64_t ParseLength(std::string_view value) {
  if (value == "0" || value == "off") return 0;
  if (value.size() < 2 || value.size() > 12) return -1;
  std::int64_t unit = 0;
  switch (value.back()) {
    case 's':
      unit = 1;
      break;
    case 'm':
      unit = 60;
      break;
    case 'h':
      unit = 3600;
      break;
    default:
      return -1;
  }
  std::int64_t count = 0;
  for (const char c : value.substr(0, value.size() - 1)) {
    if (c < '0' || c > '9') return -1;
    count = count * 10 + (c - '0');  // at most 11 digits: no overflow
  }
  if (count == 0 || count > kMaxHoldSeconds / unit) return -1;
  return count * unit;
}

}  // namespace

KeepAwakeRequest ParseKeepAwake(const std::vector<std::string>& args) {
  KeepAwakeRequest request;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    request.open_settings = request.open_settings || arg == "--settings";
    request.ask_status = request.ask_status || arg == "--status";
    if (arg == "--while") {
      const std::size_t first = i + 1 < args.size() && args[i + 1] == "--" ? i + 2 : i + 1;
      request.kind = KeepAwakeRequest::Kind::kWhile;
      request.command.assign(
          args.begin() + static_cast<std::ptrdiff_t>(std::min(first, args.size())), args.end());
      return request;
    }
    if (arg.substr(0, kOption.size()) != kOption) continue;
    std::string_view rest = arg.substr(kOption.size());
    bool has_value = false;
    if (!rest.empty()) {
      if (rest[0] != '=') continue;  // another option that only begins the same way
      rest.remove_prefix(1);
      has_value = true;
    } else if (i + 1 < args.size() && !args[i + 1].empty() && args[i + 1][0] != '-') {
      rest = args[++i];
      has_value = true;
    }
    request.value = std::string(rest);
    if (!has_value) {
      request.kind = KeepAwakeRequest::Kind::kStart;
      request.seconds = 0;
      continue;
    }
    const std::int64_t seconds = ParseLength(rest);
    request.kind = seconds < 0    ? KeepAwakeRequest::Kind::kBad
                   : seconds == 0 ? KeepAwakeRequest::Kind::kStop
                                  : KeepAwakeRequest::Kind::kStart;
    request.seconds = seconds > 0 ? seconds : 0;
    if (request.kind == KeepAwakeRequest::Kind::kBad) return request;  // the first bad one
  }
  return request;
}

namespace {

bool Blank(char16_t c) {
  return c == u' ' || c == u'\t';
}

// One argument of a Windows command line from `at`, as the C runtime reads it: backslashes stand
// for themselves except before a quote, where each pair gives one and an odd one makes the quote
// literal; quotes group, and a doubled quote inside quotes is a literal one. Moves `at` past it.
std::u16string NextArgument(std::u16string_view line, std::size_t* at) {
  std::u16string value;
  bool quoted = false;
  std::size_t i = *at;
  while (i < line.size() && (quoted || !Blank(line[i]))) {
    std::size_t backslashes = 0;
    while (i < line.size() && line[i] == u'\\') {
      ++backslashes;
      ++i;
    }
    if (i < line.size() && line[i] == u'"') {
      value.append(backslashes / 2, u'\\');
      if (backslashes % 2 == 1) {
        value += u'"';
      } else if (quoted && i + 1 < line.size() && line[i + 1] == u'"') {
        value += u'"';
        ++i;
      } else {
        quoted = !quoted;
      }
      ++i;
      continue;
    }
    value.append(backslashes, u'\\');
    if (i < line.size() && (quoted || !Blank(line[i]))) value += line[i++];
  }
  *at = i;
  return value;
}

}  // namespace

std::optional<WhileCommand> FindWhileCommand(std::u16string_view line) {
  // The program's own name: up to the next quote when it starts with one, else up to a blank.
  std::size_t at = 0;
  if (!line.empty() && line[0] == u'"') {
    const std::size_t close = line.find(u'"', 1);
    at = close == std::u16string_view::npos ? line.size() : close + 1;
  }
  while (at < line.size() && !Blank(line[at])) ++at;
  for (;;) {
    while (at < line.size() && Blank(line[at])) ++at;
    if (at >= line.size()) return std::nullopt;
    if (NextArgument(line, &at) == u"--while") break;
  }
  WhileCommand command{};
  for (int i = 0; i < 2; ++i) {
    while (at < line.size() && Blank(line[at])) ++at;
    if (at >= line.size()) return std::nullopt;
    command.begin = at;
    command.program = NextArgument(line, &at);
    if (command.program != u"--") break;  // one "--" may end the options first
  }
  command.arguments = at;
  return command;
}

bool SafeForCmd(std::u16string_view arguments) {
  return arguments.find_first_of(u"&|<>^%\"\r\n") == std::u16string_view::npos;
}

std::string WhileHolder(std::string_view program, std::uint64_t pid) {
  const std::size_t slash = program.find_last_of("/\\");
  const std::string_view name =
      slash == std::string_view::npos ? program : program.substr(slash + 1);
  return std::string(name) + " (pid " + std::to_string(pid) + ")";
}

const std::vector<HoldChoice>& HoldChoices() {
  static const std::vector<HoldChoice> choices = {{ID_HOLD_30MIN, 30 * 60},
                                                  {ID_HOLD_1HOUR, 3600},
                                                  {ID_HOLD_2HOURS, 2 * 3600},
                                                  {ID_HOLD_4HOURS, 4 * 3600},
                                                  {ID_HOLD_NO_END, 0}};
  return choices;
}

std::string HoldLine(std::string_view minutes_left, std::string_view no_end, std::int64_t length,
                     std::int64_t seconds_left) {
  if (length == 0) return std::string(no_end);
  return text::FillIn(minutes_left, std::to_string((seconds_left + 59) / 60));
}

std::string ProgramTooltip(const InhibitStateMachine& machine, std::string_view title,
                           std::string_view reason, std::string_view minutes_left,
                           std::string_view no_end, std::string_view battery_floor,
                           std::string_view by_hand_only) {
  if (machine.power_stopped() && machine.displayed_state() == STATE_IDLE) {
    if (!machine.stopped_by_floor()) return std::string(title) + "\n" + std::string(by_hand_only);
    std::string line = text::FillIn(battery_floor, std::to_string(machine.power().percent));
    const std::size_t floor = line.find("%2");
    if (floor != std::string::npos) {
      line.replace(floor, 2, std::to_string(machine.settings().battery_floor));
    }
    return std::string(title) + "\n" + line;
  }
  if (machine.holding() && machine.displayed_state() == STATE_BUSY) {
    return std::string(title) + "\n" +
           HoldLine(minutes_left, no_end, machine.hold_length(), machine.HoldSecondsLeft());
  }
  return Tooltip(title, machine.displayed_state(), machine.margin_countdown(), reason);
}

std::string StatusLine(std::string_view tooltip) {
  const std::size_t title_end = tooltip.find('\n');
  std::string line(title_end == std::string_view::npos ? "" : tooltip.substr(title_end + 1));
  for (std::size_t at = line.find('\n'); at != std::string::npos; at = line.find('\n', at)) {
    line.replace(at, 1, "; ");
  }
  return line;
}

std::string PowerRequestReason(std::string_view tooltip) {
  std::string line = StatusLine(tooltip);
  if (line.rfind("busy: ", 0) == 0) line.erase(0, 6);
  return std::string(tooltip.substr(0, tooltip.find('\n'))) + ": " + line;
}

}  // namespace dozerin
