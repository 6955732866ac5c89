// Keeping the machine awake by hand: the --keep-awake option, the lengths the tray menu offers and
// the tooltip line of a running hold.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dozerin {

class InhibitStateMachine;

struct KeepAwakeRequest {
  enum class Kind { kNone, kStart, kStop, kBad, kWhile };
  Kind kind = Kind::kNone;
  std::int64_t seconds = 0;    // of a start; 0 for a hold without an end
  std::string value;           // as written, for the message about a bad one
  bool open_settings = false;  // --settings: the settings dialog, of the running instance if any
  bool ask_status = false;     // --status: the running instance's state and why, then the end
  std::vector<std::string> command;  // of --while: the program and its arguments
};

// The last --keep-awake among the arguments (the program's name left out): "--keep-awake" alone
// (or followed by a value of its own: "--keep-awake 2h") starts a hold without an end,
// "--keep-awake=90m" (also "2h", "45s") one of that length, "=0" or "=off" stops a hold. A value
// that is no such length, or longer than a year and a day, is bad. "--settings" and "--status" may
// come with it. "--while COMMAND ARGS..." (or "--while -- COMMAND ...") ends the options: all that
// follows is the command to keep the machine awake for.
KeepAwakeRequest ParseKeepAwake(const std::vector<std::string>& args);

// The command of --while within a Windows command line (UTF-16, as the system keeps it): where it
// begins, its program as the C runtime reads that argument, and where the program's arguments
// begin. The text from `begin` on is handed to the command as it stands, never rebuilt. Nothing
// when the line has no --while or no command after it.
struct WhileCommand {
  std::size_t begin;
  std::u16string program;
  std::size_t arguments;
};
std::optional<WhileCommand> FindWhileCommand(std::u16string_view line);

// Whether a batch file's arguments can go to cmd.exe without any of them being taken as a command,
// a redirection, a variable or a quote of its own.
bool SafeForCmd(std::u16string_view arguments);

// The most commands kept awake at once: each hold keeps a handle (a descriptor) of its process.
inline constexpr std::size_t kMaxWhileHolds = 64;

// Who a hold for a command is kept for, as its tooltip names it: "make (pid 4242)".
std::string WhileHolder(std::string_view program, std::uint64_t pid);

// The reason a hold gives, in the log's language, like "process vlc" for a watched program.
inline constexpr char kHoldReason[] = "kept awake by hand";

// The tray menu's choices: command id and length in seconds (0: until stopped).
struct HoldChoice {
  int command;
  std::int64_t seconds;
};
const std::vector<HoldChoice>& HoldChoices();

// The tooltip's line for a running hold: `minutes_left` with its %1 replaced by the minutes left,
// rounded up; `no_end` for a hold without an end.
std::string HoldLine(std::string_view minutes_left, std::string_view no_end, std::int64_t length,
                     std::int64_t seconds_left);

// The icon's tooltip: the title, then the hold's line while a hold shows as busy, the battery's
// line while power rules stop the holds (battery_floor with %1 the charge and %2 the floor), else
// the line of the state shown and the reason of the last report that kept the machine awake.
std::string ProgramTooltip(const InhibitStateMachine& machine, std::string_view title,
                           std::string_view reason, std::string_view minutes_left,
                           std::string_view no_end, std::string_view battery_floor = {},
                           std::string_view by_hand_only = {});

// What --status prints: the tooltip without its title, its lines joined by "; ".
std::string StatusLine(std::string_view tooltip);

// The reason a power request gives the system while busy: "Dozerin: process vlc.exe", the title
// and the tooltip's why without its "busy: ".
std::string PowerRequestReason(std::string_view tooltip);

}  // namespace dozerin
