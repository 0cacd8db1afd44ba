// The command line of tavrion-ctl: its options (link, output, waits, help) around one verb of the
// shared grammar, parsed and checked completely before anything goes to the device.
#pragma once

#include "verbs/grammar.h"
#include "verbs/link.h"

#include <optional>
#include <string>
#include <vector>

namespace tavrion::ctl {

using namespace tavrion::verbs;

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

struct Parsed {
    std::optional<Invocation> invocation; // empty on a usage error
    std::string error;                    // what is wrong, for standard error
};

Parsed parse_command_line(const std::vector<std::string>& args, const ParseContext& context);

// The complete --help text.
std::string help_text();
// The part of the help about one verb ("route", "picture"), with its usage line; empty for a word
// that is no verb.
std::string verb_help(const std::string& verb);
// --version: the program's version and the protocol it speaks.
std::string version_text();

} // namespace tavrion::ctl
