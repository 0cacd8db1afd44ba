// The KV-7720's command codes, one row each, with every fact about a code that the rest of the
// program asks: code that needs a command's text or a rule about it asks here instead of listing
// codes of its own. Free of Qt.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tavrion {

constexpr int kLargestBezel = 254; // larger BEH/BEV numbers are not an amount

enum class Code {
    AUA, AUB, AUD, AUE, BEH, BEV, BEZ, BRI, CAL, CON, EGW, EIP, EMK, ERR, EXT, HUE, INP,
    LCK, MND, MNE, MNL, MNO, MNR, MNU, MNX, MOD, OUT, PWR, RES, RST, SAT, SAV, VER,
};

// How an answer shows that the device took the parameter of a set command.
enum class Confirmation {
    Any,       // any answer of the code (the menu keys carry nothing back)
    LastDigit, // the last digit is the parameter's last digit
    Switch,    // the last digit is non-zero exactly when the parameter is (on/off codes)
    LastTwo,   // the last two digits are the parameter (a resolution's list position)
    AllThree,  // the three digits are the parameter (slider values)
};

struct CommandRow {
    Code code;
    const char* text;        // the three letters on the wire
    bool sent;               // false: a reply only (ERR, EXT)
    int low, high;           // the parameters of a set command; low > high: the code sets nothing
    bool query;              // "999" asks for the current value
    bool maximum_query;      // "998" asks for the largest allowed value
    bool late_reply;         // may answer after the bounded wait: takes the late-reply waits
    int restarts;            // the parameter on which the device restarts over TCP, or -1
    int factory_reset;       // the parameter that resets every setting and preset, or -1
    bool network_answer;     // answered by a 16-character line, not a reply
    Confirmation confirmation;
    int picture;             // 0..3 brightness, contrast, hue, saturation; -1 for the rest
    bool audio_switch;       // its "on" is sound on: muted is the opposite
};

// The row of a code; the row of a command or reply text by its first three characters.
const CommandRow& catalogue_row(Code code);
const CommandRow* find_row(std::string_view code_or_line);

// The three letters; a command of a code and a parameter (pad3); a code's current-value query.
const char* code_text(Code code);
std::string command_of(Code code, int parameter);
std::string query_of(Code code);
constexpr int kLargestQuery = 998; // the parameter that asks for a slider's largest value
// True when the text (a reply code, a command, a reply) begins with the code's letters.
bool has_code(std::string_view code_or_line, Code code);

// Questions about one whole command text.
bool restarts_device(std::string_view command);    // over TCP: the device restarts instead of answering
bool late_reply(std::string_view command);
bool network_query(std::string_view command);      // EIP999, EMK999, EGW999
bool maximum_query(std::string_view command);      // BEH998, BEV998
bool factory_reset(std::string_view command);
// Whether a reply is the refusal the device gives in standby.
bool standby_refusal(std::string_view reply);
// Whether `reply` shows that the device took the set command `command`.
bool confirms(std::string_view command, std::string_view reply);

// The picture codes in the order the window queries them: brightness, contrast, hue, saturation.
inline constexpr Code kPictureCodes[] = {Code::BRI, Code::CON, Code::HUE, Code::SAT};
std::optional<int> picture_property(std::string_view code);

// Mute is the opposite of the audio switch: the command that mutes or unmutes, and whether an
// audio state means muted.
std::string mute_command(bool muted);
constexpr bool muted_when_audio(bool audio_on) { return !audio_on; }
constexpr bool audio_when_muted(bool muted) { return !muted; }

} // namespace tavrion
