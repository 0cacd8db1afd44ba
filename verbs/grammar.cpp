// The verb grammar: the words of one verb, the lines of a run file and the files they name,
// parsed and checked before anything goes to the device; and the link an option names.
#include "verbs/grammar.h"

#include "verbs/backup_check.h"

#include "protocol/command_catalogue.h"
#include "protocol/picture_codec.h"
#include "protocol/protocol.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace tavrion::verbs {

namespace {

// Run files and backups are small; refusing a large file keeps a stray binary from being parsed.
constexpr qint64 kMaxFileBytes = 1024 * 1024;

} // namespace

std::string lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

// Whole numbers as typed: digits only, at most four of them.
std::optional<int> number(const std::string& s)
{
    if (s.empty() || s.size() > 4) return std::nullopt;
    int v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + (c - '0');
    }
    return v;
}

namespace {

template <typename Words>
int index_in(const std::string& word, const Words& words)
{
    int i = 0;
    for (const char* w : words) {
        if (word == w) return i;
        ++i;
    }
    return -1;
}

int index_of(const std::string& word, std::initializer_list<const char*> words)
{
    return index_in(word, words);
}

// Why a file cannot be opened, in words: the common causes named, anything else as the system says.
std::string open_failure(const QFileInfo& info, const QFile& file)
{
    if (!info.exists() && !info.isSymLink()) return "no such file";
    if (info.isSymLink() && !info.exists()) return "a symbolic link to nothing";
    if (info.isDir()) return "it is a folder";
    if (!info.isReadable()) return "permission denied";
    return file.errorString().toStdString();
}

std::optional<std::string> read_from_disk(const std::string& path, std::string& why)
{
    QFile f;
    if (path == "-") {
        if (!f.open(stdin, QIODevice::ReadOnly)) {
            why = "standard input is closed";
            return std::nullopt;
        }
    } else {
        f.setFileName(QString::fromLocal8Bit(path.c_str()));
        const QFileInfo info(f.fileName());
        if (info.isDir() || !f.open(QIODevice::ReadOnly)) {
            why = open_failure(info, f);
            return std::nullopt;
        }
    }
    // A pipe hands over what has arrived so far: read on until the end.
    QByteArray bytes;
    for (;;) {
        const QByteArray chunk = f.read(kMaxFileBytes + 1 - bytes.size());
        if (chunk.isEmpty()) break;
        bytes += chunk;
        if (bytes.size() > kMaxFileBytes) {
            why = "it is larger than 1 MiB, far more than a run file or a backup holds";
            return std::nullopt;
        }
    }
    if (f.error() != QFileDevice::NoError) {
        why = f.errorString().toStdString();
        return std::nullopt;
    }
    return bytes.toStdString();
}

// Qt names files in UTF-8: a name that is not valid UTF-8 would silently become another name.
bool nameable(const std::string& path)
{
    return path == "-" || QString::fromLocal8Bit(path.c_str()).toLocal8Bit().toStdString() == path;
}

} // namespace

// A number with a minus sign: a value, not an option ("bezel h -1" is out of range, not unknown).
bool negative_number(const std::string& s)
{
    return s.size() > 1 && s[0] == '-' && std::all_of(s.begin() + 1, s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

namespace {

class VerbParser {
public:
    VerbParser(const ParseContext& context, bool in_script) : context_(context), in_script_(in_script) {}

    // `words` without the flags; `json` and `yes` are the flags given with them.
    std::optional<Verb> parse(const std::vector<std::string>& words, bool json, bool yes);
    std::string error;

private:
    bool fail(const std::string& why)
    {
        if (error.empty()) error = why;
        return false;
    }
    bool arity(const std::vector<std::string>& w, std::size_t n, const char* usage)
    {
        return w.size() == n + 1 || fail(std::string("usage: ") + usage);
    }
    bool on_off(const std::string& word, const char* verb, const char* on, const char* off, int& value)
    {
        const int i = index_of(lower(word), {off, on});
        if (i < 0) return fail(std::string(verb) + ": say " + on + " or " + off + ", not \"" + printable(word) + "\"");
        value = i;
        return true;
    }
    bool range(const std::string& word, const std::string& what, int lo, int hi, int& value)
    {
        const auto n = number(word);
        if (negative_number(word) || (n && (*n < lo || *n > hi)))
            return fail(what + " " + printable(word) + " is out of range: give a number from " + std::to_string(lo)
                        + " to " + std::to_string(hi));
        if (!n)
            return fail(what + " must be a number from " + std::to_string(lo) + " to " + std::to_string(hi)
                        + ", not \"" + printable(word) + "\"");
        value = *n;
        return true;
    }
    bool resolution(const std::vector<std::string>& w, Verb& v);
    bool load_backup(Verb& v);
    bool check_path(const std::string& verb, const std::string& path);
    bool check_backup_target(const std::string& path);
    bool load_script(Verb& v);

    const ParseContext& context_;
    bool in_script_;
};

std::optional<Verb> VerbParser::parse(const std::vector<std::string>& w, bool json, bool yes)
{
    Verb v;
    for (const std::string& word : w) v.text += (v.text.empty() ? "" : " ") + word;
    const std::string verb = lower(w.front());
    const std::string arg1 = w.size() > 1 ? lower(w[1]) : std::string();
    bool ok = true;
    if (verb == "status") {
        v.kind = VerbKind::Status;
        v.json = json;
        ok = arity(w, 0, "status [--json]");
    } else if (verb == "route") {
        v.kind = VerbKind::Route;
        ok = arity(w, 2, "route OUTPUT INPUT");
        if (ok) {
            const std::string out = lower(w[1]);
            if (const int i = index_of(out, {"a", "b", "c", "d"}); i >= 0) {
                v.names = 1;
                v.a = i + 1;
            } else if (const int j = index_of(out, {"al", "ar", "bl", "br"}); j >= 0) {
                v.names = 2;
                v.a = j + 1;
            } else if (out == "wall") {
                v.names = 3;
                v.a = 1; // the wall shows what output A shows, as the window reads it
            } else {
                ok = fail("route: OUTPUT is A, B, C, D (or AL, AR, BL, BR, the same four outputs), or wall; not \""
                          + printable(w[1]) + "\"");
            }
            ok = ok && range(w[2], "route: INPUT", catalogue_row(Code::INP).low, catalogue_row(Code::INP).high, v.b);
        }
    } else if (verb == "mode") {
        v.kind = VerbKind::Mode;
        ok = arity(w, 1, "mode matrix|dual|tv-wall");
        if (ok) {
            v.a = index_in(arg1, kModeNames) + 1;
            ok = v.a > 0 || fail("mode: say matrix, dual or tv-wall, not \"" + printable(w[1]) + "\"");
        }
    } else if (verb == "power") {
        v.kind = VerbKind::Power;
        ok = arity(w, 1, "power on|standby") && on_off(w[1], "power", "on", "standby", v.a);
    } else if (verb == "lock") {
        v.kind = VerbKind::Lock;
        ok = arity(w, 1, "lock on|off") && on_off(w[1], "lock", "on", "off", v.a);
        v.command = command_of(Code::LCK, v.a ? 1 : 0);
    } else if (verb == "mute") {
        v.kind = VerbKind::Mute;
        ok = arity(w, 1, "mute on|off") && on_off(w[1], "mute", "on", "off", v.a);
        v.command = mute_command(v.a != 0);
    } else if (verb == "edid") {
        v.kind = VerbKind::Edid;
        ok = arity(w, 1, "edid 2ch|6ch|8ch|bitstream|hd");
        if (ok) {
            v.a = index_in(arg1, kEdidNames);
            ok = v.a >= 0 || fail("edid: say 2ch, 6ch, 8ch, bitstream or hd, not \"" + printable(w[1]) + "\"");
            v.command = command_of(Code::AUE, v.a);
        }
    } else if (verb == "dual-audio") {
        v.kind = VerbKind::DualAudio;
        ok = arity(w, 2, "dual-audio A|B left|right");
        if (ok) {
            const int pair = index_of(arg1, {"a", "b"});
            v.a = index_of(lower(w[2]), {"left", "right"}) + 1;
            ok = (pair >= 0 || fail("dual-audio: the pair is A or B, not \"" + printable(w[1]) + "\""))
                && (v.a > 0 || fail("dual-audio: say left or right, not \"" + printable(w[2]) + "\""));
            v.command = command_of(pair == 1 ? Code::AUB : Code::AUA, v.a);
        }
    } else if (verb == "picture" && arg1 == "reset") {
        v.kind = VerbKind::PictureReset;
        ok = arity(w, 1, "picture reset");
    } else if (verb == "picture") {
        v.kind = VerbKind::Picture;
        ok = arity(w, 3, "picture brightness|contrast|saturation|hue ROW VALUE, or picture reset");
        if (ok) {
            const int p = index_in(arg1, kPictureNames);
            if (p < 0) ok = fail("picture: say brightness, contrast, saturation, hue or reset, not \"" + printable(w[1]) + "\"");
            else v.code = kPictureCodes[std::size_t(p)];
            // Row 0 stands for "all".
            // Dual names its rows as its outputs (AL, AR, BL, BR): either name is taken, as by route.
            v.a = index_of(lower(w[2]), {"all", "a", "b", "c", "d"});
            if (const int dual = index_of(lower(w[2]), {"al", "ar", "bl", "br"}); dual >= 0) v.a = dual + 1;
            if (ok && v.a < 0)
                ok = fail("picture: ROW is all in Matrix, A to D (or AL, AR, BL, BR) in Dual and TV Wall; not \""
                          + printable(w[2]) + "\"");
            ok = ok && range(w[3], "picture: VALUE", 0, kPictureMax, v.b);
        }
    } else if (verb == "bezel" && (arg1 == "h" || arg1 == "v")) {
        v.kind = VerbKind::BezelAmount;
        v.code = arg1 == "h" ? Code::BEH : Code::BEV;
        ok = arity(w, 2, "bezel h|v VALUE") && range(w[2], "bezel: VALUE", 0, kLargestBezel, v.a);
    } else if (verb == "bezel") {
        v.kind = VerbKind::BezelSwitch;
        ok = arity(w, 1, "bezel on|off, or bezel h|v VALUE") && on_off(w[1], "bezel", "on", "off", v.a);
        v.command = command_of(Code::BEZ, v.a ? 1 : 0);
    } else if (verb == "resolution") {
        v.kind = VerbKind::Resolution;
        ok = resolution(w, v);
    } else if (verb == "preset") {
        const int i = index_of(arg1, {"recall", "save"});
        v.kind = i == 1 ? VerbKind::PresetSave : VerbKind::PresetRecall;
        ok = arity(w, 2, "preset recall|save N")
            && (i >= 0 || fail("preset: say recall or save, not \"" + printable(w[1]) + "\""))
            && range(w[2], "preset: N", catalogue_row(Code::CAL).low, catalogue_row(Code::CAL).high, v.a);
    } else if (verb == "menu") {
        v.kind = VerbKind::Menu;
        ok = arity(w, 1, "menu up|down|left|right|ok|menu|exit");
        if (ok) {
            static const Code codes[] = {Code::MNU, Code::MND, Code::MNL, Code::MNR, Code::MNO, Code::MNX, Code::MNE};
            const int i = index_of(arg1, {"up", "down", "left", "right", "ok", "menu", "exit"});
            ok = i >= 0 || fail("menu: say up, down, left, right, ok, menu or exit, not \"" + printable(w[1]) + "\"");
            if (ok) v.command = command_of(codes[i], 1);
        }
    } else if (verb == "factory-reset") {
        v.kind = VerbKind::FactoryReset;
        ok = arity(w, 0, "factory-reset --yes")
            && (yes || fail("factory-reset: every setting and preset goes back to the factory's; confirm with --yes"));
    } else if (verb == "version") {
        v.kind = VerbKind::Version;
        ok = arity(w, 0, "version");
    } else if (verb == "send") {
        v.kind = VerbKind::Send;
        ok = arity(w, 1, "send CODE");
        if (ok) {
            v.command = w[1];
            const bool plain = std::all_of(v.command.begin(), v.command.end(),
                                           [](unsigned char c) { return c > 0x20 && c < 0x7f; });
            ok = (v.command.size() == 6 && plain)
                || fail("send: CODE is six characters, such as OUT002; not \"" + printable(w[1]) + "\"");
            // A reset by a raw code would pass by factory-reset's confirmation.
            std::string code = v.command.substr(0, 3);
            std::transform(code.begin(), code.end(), code.begin(), [](unsigned char c) { return char(std::toupper(c)); });
            const CommandRow* row = find_row(code);
            ok = ok && (!row || row->factory_reset < 0
                        || fail("send: " + code + " is a factory reset; use factory-reset --yes"));
        }
    } else if (verb == "run") {
        v.kind = VerbKind::Run;
        ok = (!in_script_ || fail("run: a run file cannot run another")) && arity(w, 1, "run FILE|-");
        if (ok) {
            v.path = w[1];
            ok = check_path("run", v.path) && load_script(v);
        }
    } else if (verb == "backup") {
        v.kind = VerbKind::Backup;
        ok = arity(w, 1, "backup FILE");
        if (ok) {
            v.path = w[1];
            ok = check_backup_target(v.path);
        }
    } else if (verb == "restore" || verb == "diff") {
        v.kind = verb == "restore" ? VerbKind::Restore : VerbKind::Diff;
        ok = arity(w, 1, verb == "restore" ? "restore FILE" : "diff FILE");
        if (ok) {
            v.path = w[1];
            ok = check_path(verb, v.path) && load_backup(v);
        }
    } else {
        ok = fail("unknown verb \"" + printable(w.front()) + "\"");
    }
    // The verbs with one fixed command report the setting as the verb names it.
    if (ok && !v.command.empty() && v.kind != VerbKind::Send)
        v.result = v.kind == VerbKind::DualAudio ? std::string("dual-audio ") + (arg1 == "a" ? "A" : "B") + ": " + lower(w[2])
                                                  : verb + ": " + arg1;
    const bool json_verb = v.kind != VerbKind::Version && v.kind != VerbKind::Send && v.kind != VerbKind::Run
        && v.kind != VerbKind::Backup;
    if (ok && json && !json_verb) ok = fail("--json goes with status, diff and the verbs that change something");
    v.json = json && json_verb;
    if (ok && yes && v.kind != VerbKind::FactoryReset) ok = fail("--yes goes with factory-reset only");
    if (!ok) return std::nullopt;
    return v;
}

bool VerbParser::resolution(const std::vector<std::string>& w, Verb& v)
{
    if (w.size() < 2) return fail("usage: resolution N|NAME");
    const std::vector<std::string>* list = context_.resolutions;
    std::string name;
    for (std::size_t i = 1; i < w.size(); ++i) name += (i > 1 ? " " : "") + w[i];
    if (const auto n = number(name)) {
        // The device reports the number in two digits; without the list nothing narrower is known.
        const int count = list ? int(list->size()) : 99;
        if (*n < 1 || *n > count)
            return fail("resolution: N must be from 1 to " + std::to_string(count) + ", not " + name);
        v.a = *n;
        return true;
    }
    if (!list) return fail("resolution: output_reso.txt could not be read, so give the number, not a name");
    for (std::size_t i = 0; i < list->size(); ++i) {
        if (lower((*list)[i]) == lower(name)) {
            v.a = int(i) + 1;
            return true;
        }
    }
    return fail("resolution: \"" + printable(name) + "\" is not in output_reso.txt");
}

bool VerbParser::check_path(const std::string& verb, const std::string& path)
{
    if (path.empty()) return fail(verb + ": give a file name");
    return nameable(path) || fail(verb + ": the file name \"" + printable(path) + "\" is not valid UTF-8, so it cannot be used");
}

// Everything that would stop the backup from being written, found before anything is sent: the
// device is read for nothing otherwise.
bool VerbParser::check_backup_target(const std::string& path)
{
    if (!check_path("backup", path)) return false;
    if (path == "-") return fail("backup: give a file name (status --json prints the document)");
    const std::string name = printable(path);
    const QFileInfo target(QString::fromLocal8Bit(path.c_str()));
    if (target.isDir()) return fail("backup: " + name + " is a folder");
    // The new file is renamed over the old one: a device node, a pipe or a socket would be replaced
    // by a regular file. A symbolic link to a regular file is followed.
    if (target.exists() && !target.isFile()) return fail("backup: " + name + " is not a regular file");
    const QFileInfo written = target.isSymLink() ? QFileInfo(target.symLinkTarget()) : target;
    const QFileInfo folder(written.absolutePath());
    if (!folder.exists()) return fail("backup: the folder of " + name + " does not exist");
    // The new file is made beside the old one first.
    if (!folder.isWritable()) return fail("backup: the folder of " + name + " cannot be written (permission denied)");
    if (written.exists() && !written.isWritable()) return fail("backup: " + name + " cannot be written (permission denied)");
    return true;
}

bool VerbParser::load_backup(Verb& v)
{
    std::string why;
    const auto bytes = context_.read_file(v.path, why);
    if (!bytes) return fail(printable(v.path) + " cannot be read: " + why);
    if (const int format = newer_backup_format(*bytes))
        return fail(printable(v.path) + " was made by a newer version of tavrion-ctl (\"format\": " + std::to_string(format)
                    + "); this one reads format 1");
    v.backup = status_from_backup(*bytes, why);
    if (v.backup) why = backup_inconsistency(*bytes, *v.backup, context_.resolutions);
    if (why.empty()) return true;
    v.backup.reset();
    return fail(printable(v.path) + " is not a tavrion-ctl backup: " + why);
}

bool VerbParser::load_script(Verb& v)
{
    std::string why;
    auto bytes = context_.read_file(v.path, why);
    const std::string name = v.path == "-" ? "standard input" : printable(v.path);
    if (!bytes) return fail(name + " cannot be read: " + why);
    // Editors on other systems start a UTF-8 file with a byte-order mark: it is no part of the verb.
    if (bytes->rfind("\xEF\xBB\xBF", 0) == 0) bytes->erase(0, 3);
    std::size_t start = 0;
    for (int line = 1; start <= bytes->size(); ++line) {
        std::size_t end = bytes->find('\n', start);
        if (end == std::string::npos) end = bytes->size();
        std::string quote_error;
        const std::vector<std::string> words = split_words(bytes->substr(start, end - start), &quote_error);
        start = end + 1;
        if (!quote_error.empty()) return fail(name + ":" + std::to_string(line) + ": " + quote_error);
        if (words.empty()) continue;
        std::vector<std::string> plain;
        bool json = false, yes = false, options = true;
        for (const std::string& word : words) {
            if (!options || negative_number(word)) plain.push_back(word);
            else if (word == "--") options = false;
            else if (word == "--json") json = true;
            else if (word == "--yes") yes = true;
            else if (word.rfind("--", 0) == 0)
                return fail(name + ":" + std::to_string(line) + ": " + printable(word)
                            + ": link options and --verbose belong on the command line");
            else plain.push_back(word);
        }
        if (plain.empty()) return fail(name + ":" + std::to_string(line) + ": no verb");
        VerbParser inner(context_, true);
        auto verb = inner.parse(plain, json, yes);
        if (!verb) return fail(name + ":" + std::to_string(line) + ": " + inner.error);
        // One JSON document per invocation: inside a run file only status prints one.
        if (verb->json && verb->kind != VerbKind::Status)
            return fail(name + ":" + std::to_string(line) + ": --json in a run file goes with status only");
        v.script.push_back({line, std::move(*verb)});
    }
    return true;
}

} // namespace

std::vector<std::string> split_words(const std::string& line, std::string* error)
{
    std::vector<std::string> words;
    std::string word;
    bool in_word = false, quoted = false;
    for (char c : line) {
        if (quoted) {
            if (c == '"') quoted = false;
            else word += c;
        } else if (c == '"') {
            quoted = in_word = true; // "" is an empty word, as on the command line
        } else if (c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f') {
            if (in_word) words.push_back(word);
            word.clear();
            in_word = false;
        } else if (c == '#' && !in_word) {
            break;
        } else {
            word += c;
            in_word = true;
        }
    }
    if (quoted && error) *error = "a double quote is not closed";
    if (in_word) words.push_back(word);
    return words;
}

std::optional<Verb> parse_verb(const std::vector<std::string>& words, bool json, bool yes, const ParseContext& given,
                               std::string& error)
{
    ParseContext context = given;
    if (!context.read_file) context.read_file = read_from_disk;
    VerbParser parser(context, false);
    auto verb = parser.parse(words, json, yes);
    if (!verb) error = parser.error;
    return verb;
}

} // namespace tavrion::verbs
