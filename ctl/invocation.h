// The command line of tavrion-ctl and the lines of a `run` file, parsed and checked completely
// before anything goes to the device: files named by `run`, `restore` and `diff` are read and
// validated here too, so that a usage error never leaves a command on the wire.
#pragma once

#include "ctl/device_status.h"
#include "protocol/remote_address.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tavrion::ctl {

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
    std::string code;    // the code of a parametrised command: "BRI", "BEH", "AUA"
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

struct Invocation {
    bool help = false;
    std::string help_verb; // help VERB, VERB --help: that verb's part of the help
    bool version = false;  // --version
    bool quiet = false;    // nothing on standard output
    bool verbose = false;
    int wait_ready = 0; // seconds; 0 = do not wait for a restarted device
    LinkChoice link;
    Verb verb;
};

struct ParseContext {
    // output_reso.txt beside the program; null when it could not be read (names are then unknown
    // and `resolution` takes numbers 1..99 only).
    const std::vector<std::string>* resolutions = nullptr;
    // Reads a named file ("-" is standard input); nothing, with the reason in `why`, when it cannot
    // be read. Defaults to the file system.
    std::function<std::optional<std::string>(const std::string& path, std::string& why)> read_file;
};

struct Parsed {
    std::optional<Invocation> invocation; // empty on a usage error
    std::string error;                    // what is wrong, for standard error
};

Parsed parse_command_line(const std::vector<std::string>& args, const ParseContext& context);

// One line of a run file, split into words; "#" starts a comment; double quotes keep blanks and
// "#" in a word ("my file.json"). Empty when the line holds none; an unclosed quote sets `error`.
std::vector<std::string> split_words(const std::string& line, std::string* error = nullptr);

// The complete --help text.
std::string help_text();
// The part of the help about one verb ("route", "picture"), with its usage line; empty for a word
// that is no verb.
std::string verb_help(const std::string& verb);
// --version: the program's version and the protocol it speaks.
std::string version_text();

} // namespace tavrion::ctl
