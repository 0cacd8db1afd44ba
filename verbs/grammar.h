// The verb grammar that tavrion-ctl's command line, its run files and the hub's requests share:
// each verb parsed and checked completely before anything goes to the device; files named by
// `run`, `restore` and `diff` are read and validated here too, so that a usage error never leaves
// a command on the wire.
#pragma once

#include "verbs/device_status.h"
#include "protocol/command_catalogue.h"
#include "protocol/remote_address.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tavrion::verbs {

enum class VerbKind {
    Status, Route, Mode, Power, Lock, Mute, Edid, DualAudio, Picture, PictureReset, BezelSwitch,
    BezelAmount, Resolution, PresetRecall, PresetSave, Menu, FactoryReset, Version, Send, Run,
    Backup, Restore, Diff,
};

struct ScriptLine;

struct Verb {
    VerbKind kind = VerbKind::Status;
    std::string text;    // the words as given, for messages: "route B 3"
    std::string command; // the fixed command of the verb where it has one ("MNU001", "LCK001")
    Code code = Code::BRI; // the code of a picture or bezel amount: BRI, CON, HUE, SAT, BEH, BEV
    std::string result;  // what a verb with a fixed command prints once done: "lock: on"
    int a = 0;           // output, mode, preset, resolution, picture row (0 = all), on = 1 ...
    int b = 0;           // input, picture value
    int names = 0;       // route: the names used (1 A-D, 2 AL-BR, 3 wall); A-D and AL-BR both are 1..4
    bool json = false;   // --json: status, diff and the verbs that change something
    std::string path;    // run, backup, restore, diff
    std::vector<ScriptLine> script; // run: the file's verbs
    std::optional<DeviceStatus> backup; // restore, diff: the file, validated
};

struct ScriptLine {
    int line = 0;
    Verb verb;
};

struct LinkChoice {
    enum class Kind { Settings, Serial, Tcp };
    Kind kind = Kind::Settings; // none given: tavrion.ini beside the program
    int com_port = 0;           // --serial COMn (1..9)
    std::string serial_path;    // --serial PATH
    RemoteAddress tcp;          // --tcp HOST[:PORT]
};

struct ParseContext {
    // output_reso.txt beside the program; null when it could not be read (names are then unknown
    // and `resolution` takes numbers 1..99 only).
    const std::vector<std::string>* resolutions = nullptr;
    // Reads a named file ("-" is standard input); nothing, with the reason in `why`, when it cannot
    // be read. Defaults to the file system.
    std::function<std::optional<std::string>(const std::string& path, std::string& why)> read_file;
};

// One verb from its words, the flags --json and --yes taken out; nothing, with `error`, on a usage
// error. A run file's lines are parsed and checked here too.
std::optional<Verb> parse_verb(const std::vector<std::string>& words, bool json, bool yes, const ParseContext& context,
                               std::string& error);

// One line of a run file, split into words; "#" starts a comment; double quotes keep blanks and
// "#" in a word ("my file.json"). Empty when the line holds none; an unclosed quote sets `error`.
std::vector<std::string> split_words(const std::string& line, std::string* error = nullptr);

// Words as typed: lower case; a whole number of at most four digits; a number with a minus sign
// (a value, never an option).
std::string lower(std::string s);
std::optional<int> number(const std::string& s);
bool negative_number(const std::string& s);

} // namespace tavrion::verbs
