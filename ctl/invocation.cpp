// tavrion-ctl's command line: its options around one verb of the shared grammar.
#include "ctl/invocation.h"

namespace tavrion::ctl {

namespace {
constexpr int kMaxWaitReady = 3600;
} // namespace

Parsed parse_command_line(const std::vector<std::string>& args, const ParseContext& given)
{
    Parsed result;
    Invocation inv;
    std::vector<std::string> words;
    bool json = false, yes = false, options = true;
    auto fail = [&result](const std::string& why) {
        result.error = why;
        return result;
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        std::string value;
        // After "--" every word is an argument; "-1" is a (negative) value, never an option.
        if (!options || negative_number(arg)) {
            words.push_back(arg);
            continue;
        }
        if (arg == "--") {
            options = false;
            continue;
        }
        const bool is_option = arg.size() > 2 && arg.rfind("--", 0) == 0;
        const auto eq = arg.find('=');
        bool has_value = false;
        if (is_option && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            has_value = true;
        }
        auto take_value = [&]() -> bool {
            if (has_value) return true;
            if (i + 1 >= args.size()) return false;
            value = args[++i];
            return true;
        };
        if (arg == "--help" || arg == "-h") {
            inv.help = true;
        } else if (arg == "--version") {
            inv.version = true;
        } else if (arg == "--quiet" || arg == "-q") {
            inv.quiet = true;
        } else if (arg == "--verbose") {
            inv.verbose = true;
        } else if (arg == "--json") {
            json = true;
        } else if (arg == "--yes") {
            yes = true;
        } else if (arg == "--serial" || arg == "--tcp") {
            if (!take_value()) return fail(arg + " needs a value");
            std::string why;
            if (!parse_link(arg, value, inv.link, why)) return fail(why);
        } else if (arg == "--wait-ready") {
            const bool given_value = take_value();
            const auto n = given_value ? number(value) : std::nullopt;
            if (!n || *n < 1 || *n > kMaxWaitReady)
                return fail("--wait-ready needs a number of seconds from 1 to " + std::to_string(kMaxWaitReady));
            inv.wait_ready = *n;
        } else if (is_option || (arg.size() > 1 && arg[0] == '-')) {
            return fail("unknown option \"" + printable(arg) + "\"");
        } else {
            words.push_back(arg);
        }
    }
    // help VERB and VERB --help: that verb's part; help or --help alone: all of it.
    if (!words.empty() && lower(words.front()) == "help") {
        inv.help = true;
        words.erase(words.begin());
    }
    if (inv.help || inv.version) {
        if (inv.help && !words.empty()) {
            inv.help_verb = lower(words.front());
            if (verb_help(inv.help_verb).empty()) return fail("unknown verb \"" + printable(words.front()) + "\"");
        }
        result.invocation = inv;
        return result;
    }
    if (words.empty()) return fail("no verb given");
    std::string error;
    auto verb = parse_verb(words, json, yes, given, error);
    if (!verb) return fail(error);
    inv.verb = std::move(*verb);
    result.invocation = std::move(inv);
    return result;
}

} // namespace tavrion::ctl
