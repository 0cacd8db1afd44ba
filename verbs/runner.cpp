// The runner: each verb as the window's buttons carry it out, with its result as a typed value.
#include "verbs/runner.h"

#include "verbs/write_failure.h"

#include "protocol/command_catalogue.h"
#include "protocol/picture_codec.h"
#include "session/device_model.h"
#include "protocol/protocol.h"
#include "session/read_sequences.h"

#include <QSaveFile>

#include <cerrno>

namespace tavrion::verbs {

namespace {

struct Outcome {
    int status = kExitDone;
    std::string message; // for standard error, when status is not 0
    bool restarted = false; // the verb ended in the device's restart over TCP

    bool ok() const { return status == kExitDone; }
    static Outcome fail(int status, std::string message) { return {status, std::move(message), false}; }
};

std::string join(const std::vector<std::string>& items)
{
    std::string s;
    for (const std::string& i : items) s += (s.empty() ? "" : ", ") + i;
    return s;
}

std::string count_differing(std::size_t n)
{
    return n == 1 ? "1 value differs" : std::to_string(n) + " values differ";
}

class Runner {
public:
    Runner(Device& device, const Context& context) : device_(device), context_(context) {}
    VerbResult run(const Verb& verb);

private:
    // A read chain as the window runs it: an ERR reply counts as answered and the chain goes on
    // (the value stays unread); silence or another code ends it. The first failure is kept.
    struct Chain {
        Runner& r;
        Outcome first;
        bool q(const std::string& command);
        Ask ask() { return [this](const std::string& command) { return q(command); }; }
    };

    Outcome exec(const Verb& v);
    Outcome settle(Outcome o, bool more_to_do);

    Outcome transact(const std::string& command, bool slow = false);
    // A set command, with the late-reply waits where its code takes them.
    Outcome set(const std::string& command);
    Outcome read_mode(int& mode);

    Outcome read_status(bool with_network);

    Outcome route(const Verb& v);
    Outcome mode(int m, bool print);
    Outcome power(bool on);
    Outcome picture(const Verb& v);
    Outcome resolution(int n);
    Outcome send(const std::string& command);
    Outcome backup(const Verb& v);
    Outcome restore(const Verb& v);
    Outcome diff(const Verb& v);
    Outcome run_script(const Verb& v);

    std::string resolution_text(int n) const;
    DeviceModel& model() { return device_.model(); }
    void say(std::string line) { result_.reports.push_back({Report::Kind::Line, std::move(line), {}, false, {}}); }
    void show(const DeviceStatus& status, bool json) { result_.reports.push_back({Report::Kind::Status, {}, status, json, {}}); }
    void show(const std::vector<Difference>& found)
    {
        for (const Difference& d : found) result_.reports.push_back({Report::Kind::Difference, {}, {}, false, d});
    }

    Device& device_;
    const Context& context_;
    VerbResult result_;
    Answer last_;
    std::optional<std::string> first_refusal_; // "VER999 answered ERR001": for a status read of nothing
};

bool Runner::Chain::q(const std::string& command)
{
    if (first.status == kExitLink) return false; // nothing more goes out on a lost link
    const Outcome o = r.transact(command);
    if (o.ok() || r.last_.kind == Answer::Kind::Refused) return true;
    if (first.ok() || o.status == kExitLink) first = o;
    return false;
}

Outcome Runner::transact(const std::string& command, bool slow)
{
    last_ = slow ? device_.ask_slow(command) : device_.ask(command);
    const std::string reply = printable(last_.reply);
    switch (last_.kind) {
    case Answer::Kind::Answered: return {};
    case Answer::Kind::Refused:
        if (!first_refusal_) first_refusal_ = command + " answered " + reply;
        // ERR003 is the device's answer to what it cannot do in standby.
        return Outcome::fail(kExitDevice, command + ": the device refused it (" + reply
                                              + (standby_refusal(last_.reply) ? ": the device is in standby" : "") + ")");
    case Answer::Kind::Ended: // nothing more can go over this link
        return Outcome::fail(kExitLink, command + ": the device ended the session (" + reply + "); the link to "
                                            + context_.link_name + " is closed");
    case Answer::Kind::OtherCode:
        return Outcome::fail(kExitDevice, command + ": the device answered " + reply + " instead");
    case Answer::Kind::Unreadable:
        return Outcome::fail(kExitDevice, command + ": an unreadable answer (" + reply + ")");
    case Answer::Kind::Silent:
        return Outcome::fail(kExitDevice, command + ": no answer within the wait"
                                              + std::string(slow ? " and the late-reply waits" : ""));
    case Answer::Kind::LinkDown:
        return Outcome::fail(kExitLink, command + ": the link to " + context_.link_name + " is down");
    case Answer::Kind::Restarted:
        if (restarts_device(command)) return {kExitDone, {}, true};
        return Outcome::fail(kExitLink, command + ": the link to " + context_.link_name + " dropped");
    }
    return {};
}

Outcome Runner::set(const std::string& command)
{
    Outcome o = transact(command, late_reply(command));
    if (!o.ok() || o.restarted) return o;
    if (!confirms(command, last_.reply))
        return Outcome::fail(kExitDevice, command + ": the device answered " + printable(last_.reply)
                                              + ", so the value did not take");
    return o;
}

Outcome Runner::read_mode(int& mode)
{
    mode = 0;
    const QMetaObject::Connection heard =
        QObject::connect(&model(), &DeviceModel::mode_reported, [&mode](int m) { mode = m; });
    Outcome o = transact(query_of(Code::MOD));
    QObject::disconnect(heard);
    if (!o.ok()) return o;
    if (mode == 0)
        return Outcome::fail(kExitDevice, query_of(Code::MOD) + ": the device answered " + printable(last_.reply) + ", which names no mode");
    return o;
}

// Refresh in the expanded window, then (RS-232) the network settings as "Get IP" reads them.
Outcome Runner::read_status(bool with_network)
{
    Chain c{*this, {}};
    const Ask ask = c.ask();
    if (refresh_device(model(), ask)) read_picture(model(), ask);
    if (with_network && c.first.ok() && device_.on_serial()) {
        const auto unanswered =
            read_network([this](const std::string& q) { return device_.network_query(q).has_value(); });
        if (unanswered)
            c.first = Outcome::fail(kExitDevice, *unanswered + ": no 16-character answer within the wait");
    }
    return c.first;
}

std::string Runner::resolution_text(int n) const
{
    std::string s = std::to_string(n);
    if (context_.resolutions && n >= 1 && n <= int(context_.resolutions->size()))
        s += " (" + printable((*context_.resolutions)[std::size_t(n - 1)]) + ")";
    return s;
}

// Exactly the window's two presses, without reading the mode first: the output button (the output,
// then its input) and the input button. A wall has no output buttons; the window selects output 1
// for it when the mode changes, so that and the input go out.
Outcome Runner::route(const Verb& v)
{
    const std::vector<std::string> presses = v.names == 3
        ? std::vector<std::string>{command_of(Code::OUT, 1), command_of(Code::INP, v.b)}
        : std::vector<std::string>{command_of(Code::OUT, v.a), query_of(Code::INP), command_of(Code::INP, v.b)};
    Outcome o;
    for (const std::string& c : presses) {
        o = c == query_of(Code::INP) ? transact(c) : set(c);
        if (!o.ok()) return o; // without its output selected, the input would go elsewhere
    }
    say(output_name(v.names, v.a) + ": input " + std::to_string(v.b));
    return o;
}

// As the window's mode button: the mode with its late-reply waits, then the same re-read.
Outcome Runner::mode(int m, bool print)
{
    Outcome o = set(command_of(Code::MOD, m));
    if (!o.ok()) return o;
    Chain c{*this, {}};
    reread_after_mode(m, model(), c.ask());
    if (!c.first.ok()) return Outcome::fail(c.first.status, "the mode is set, but reading back: " + c.first.message);
    if (print) say("mode: " + mode_text(m));
    return o;
}

// Reads the power first, as the window's toggle decides from the known state: a device that is
// already there gets nothing (PWR001 would restart it over TCP).
Outcome Runner::power(bool on)
{
    Outcome o = transact(query_of(Code::PWR));
    if (!o.ok()) return o;
    if (model().state().power_on != on) {
        o = set(command_of(Code::PWR, on ? 1 : 0));
        if (!o.ok()) return o;
    }
    say(std::string("power: ") + (on ? "on" : "standby"));
    return o;
}

Outcome Runner::picture(const Verb& v)
{
    int m = 0;
    Outcome o = read_mode(m);
    if (!o.ok()) return o;
    if ((v.a == 0) != (m == 1))
        return Outcome::fail(kExitDevice, "the device is in " + mode_text(m) + " mode, where the picture rows are "
                                              + (m == 1 ? "all" : "A to D"));
    const int row = v.a == 0 ? 1 : v.a;
    o = set(command_of(v.code, encode_picture_parameter(m, row, v.b)));
    if (!o.ok()) return o;
    for (std::size_t p = 0; p < 4; ++p)
        if (v.code == kPictureCodes[p]) say(std::string(kPictureNames[p]) + " " + row_label(m, row) + ": " + std::to_string(v.b));
    return o;
}

// The 5th and 6th resolutions exist in Matrix only: for those the mode is read first and, as in
// the window, nothing is sent in another mode.
Outcome Runner::resolution(int n)
{
    if (n == 5 || n == 6) {
        int m = 0;
        Outcome o = read_mode(m);
        if (!o.ok()) return o;
        if (m != 1)
            return Outcome::fail(kExitDevice, "resolution " + resolution_text(n) + " is offered in Matrix mode only; the device is in "
                                                  + mode_text(m) + " mode");
    }
    Outcome o = set(command_of(Code::RES, n));
    if (o.ok()) say("resolution: " + resolution_text(n));
    return o;
}

Outcome Runner::send(const std::string& command)
{
    if (network_query(command)) {
        if (!device_.on_serial())
            return Outcome::fail(kExitUsage, command + " is answered over RS-232 only (use --serial)");
        const auto answer = device_.network_query(command);
        if (!answer) return Outcome::fail(kExitDevice, command + ": no 16-character answer within the wait");
        say(printable(*answer));
        return {};
    }
    Outcome o = transact(command, late_reply_command(command));
    if (!last_.reply.empty() && !o.restarted) say(printable(last_.reply));
    return o;
}

Outcome Runner::backup(const Verb& v)
{
    Outcome o = read_status(true);
    if (!o.ok()) return Outcome::fail(o.status, o.message + "; nothing written");
    const DeviceStatus status = status_of(model());
    const std::vector<std::string> unread = status.unread_settings();
    if (status.power_on == false)
        return Outcome::fail(kExitDevice, "the device is in standby and reports no settings: switch it on first (power on); nothing written");
    if (!unread.empty())
        return Outcome::fail(kExitDevice, "the device did not report " + join(unread) + "; nothing written");
    // Written beside the target and renamed over it at the end: a backup is whole or not there.
    QSaveFile file(QString::fromLocal8Bit(v.path.c_str()));
    const std::string json = status_json(status, context_.resolutions);
    // The bytes are buffered: a disk that fills up shows only when they are flushed, and commit()
    // would put the cut-short file in place of the old one, so flush and check first. The cause is
    // taken before cancelWriting() puts its own words in its place.
    errno = 0;
    const bool written = file.open(QIODevice::WriteOnly)
        && file.write(json.data(), qint64(json.size())) == qint64(json.size()) && file.flush();
    const int cause = errno;
    const std::string why = file.errorString().toStdString();
    if (!written) file.cancelWriting();
    if (!written || !file.commit())
        return Outcome::fail(kExitDevice, "cannot write " + printable(v.path) + ": "
                                              + write_failure(written ? errno : cause,
                                                              written ? file.errorString().toStdString() : why)
                                              + "; the old file, if any, is unchanged");
    say("backup: " + v.path);
    return {};
}

// Mode first (picture rows and routes depend on it), then routes, picture, bezel, audio,
// resolution, and the lock last. Power is not touched: a device in standby takes no settings, so
// restore refuses it rather than restarting it (PWR001 over TCP) or leaving it in standby.
Outcome Runner::restore(const Verb& v)
{
    const DeviceStatus& b = *v.backup;
    Outcome o = transact(query_of(Code::PWR));
    if (!o.ok()) return o;
    if (model().state().power_on == false)
        return Outcome::fail(kExitDevice, "the device is in standby and takes no settings: switch it on first (power on)");
    o = mode(*b.mode, false);
    if (!o.ok()) return o;

    std::vector<std::string> refused;
    // A refusal is noted and the rest goes on; silence or a lost link ends the restore.
    auto step = [&](const std::string& command) {
        const Outcome s = command == query_of(Code::INP) ? transact(command) : set(command);
        if (s.ok()) return true;
        if (s.status == kExitLink || last_.kind == Answer::Kind::Silent) {
            o = s;
            return false;
        }
        refused.push_back(s.message);
        return !has_code(command, Code::OUT); // without its output selected, an input goes elsewhere
    };
    auto group = [&](std::initializer_list<std::string> commands) {
        for (const std::string& c : commands)
            if (!step(c)) return o.ok(); // a failed output selection skips that output's input
        return true;
    };
    const int m = *b.mode;
    bool go = true;
    for (int n = 1; n <= 4 && go; ++n)
        go = group({command_of(Code::OUT, n), query_of(Code::INP), command_of(Code::INP, *b.routes[std::size_t(n - 1)])});
    for (int row = 1; row <= b.picture_rows() && go; ++row)
        for (std::size_t p = 0; p < 4 && go; ++p)
            go = step(command_of(kPictureCodes[p], encode_picture_parameter(m, row, *b.picture[p][std::size_t(row - 1)])));
    go = go && group({command_of(Code::BEH, *b.bezel_h), command_of(Code::BEV, *b.bezel_v), command_of(Code::BEZ, *b.bezel_on ? 1 : 0)});
    go = go && group({command_of(Code::AUE, *b.edid), command_of(Code::AUA, *b.dual_a), command_of(Code::AUB, *b.dual_b),
                      mute_command(muted_when_audio(*b.audio_on))});
    if (go) {
        if (m != 1 && (*b.resolution == 5 || *b.resolution == 6))
            refused.push_back("resolution " + resolution_text(*b.resolution) + " is offered in Matrix mode only; not sent");
        else
            go = step(command_of(Code::RES, *b.resolution));
    }
    go = go && step(command_of(Code::LCK, *b.locked ? 1 : 0));
    if (!o.ok()) return o;

    for (const std::string& r : refused) result_.messages.push_back("restore: " + r);
    o = read_status(false);
    if (!o.ok()) return Outcome::fail(o.status, "reading back: " + o.message);
    const DeviceStatus read = status_of(model());
    DeviceStatus expected = b;
    expected.power_on = read.power_on; // not restored, so not compared
    const std::vector<Difference> d = differences(expected, read);
    show(d);
    if (!refused.empty()) {
        const std::string steps = refused.size() == 1 ? "1 step was refused" : std::to_string(refused.size()) + " steps were refused";
        return Outcome::fail(kExitDevice, "after restoring, " + steps
                                              + (d.empty() ? " (see above), but the device holds every value of " + printable(v.path)
                                                           : " and " + count_differing(d.size())));
    }
    if (!d.empty()) return Outcome::fail(kExitDevice, "after restoring, " + count_differing(d.size()));
    say("restore: the device holds " + v.path);
    return {};
}

Outcome Runner::diff(const Verb& v)
{
    Outcome o = read_status(false);
    if (!o.ok()) return o;
    const DeviceStatus device_status = status_of(model());
    if (device_status.power_on == false)
        return Outcome::fail(kExitDevice, "the device is in standby and reports no settings: switch it on first (power on); nothing compared");
    const std::vector<Difference> d = differences(*v.backup, device_status);
    show(d);
    if (!d.empty()) return Outcome::fail(kExitDevice, count_differing(d.size()));
    return {};
}

Outcome Runner::run_script(const Verb& v)
{
    const std::string name = v.path == "-" ? "standard input" : printable(v.path);
    for (std::size_t i = 0; i < v.script.size(); ++i) {
        const ScriptLine& line = v.script[i];
        const Outcome o = settle(exec(line.verb), i + 1 < v.script.size());
        if (!o.ok()) return Outcome::fail(o.status, name + ":" + std::to_string(line.line) + ": " + line.verb.text + ": " + o.message);
    }
    return {};
}

Outcome Runner::exec(const Verb& v)
{
    switch (v.kind) {
    case VerbKind::Status: {
        Outcome o = read_status(true);
        const DeviceStatus status = status_of(model());
        show(status, v.json);
        if (o.ok() && status_json(status, nullptr) == status_json(DeviceStatus{}, nullptr))
            o = Outcome::fail(kExitDevice, "nothing could be read: the device refused every query ("
                                               + first_refusal_.value_or("no value in any answer") + ")");
        return o;
    }
    case VerbKind::Route: return route(v);
    case VerbKind::Mode: return mode(v.a, true);
    case VerbKind::Power: return power(v.a == 1);
    case VerbKind::Picture: return picture(v);
    case VerbKind::Resolution: return resolution(v.a);
    case VerbKind::Send: return send(v.command);
    case VerbKind::Run: return run_script(v);
    case VerbKind::Backup: return backup(v);
    case VerbKind::Restore: return restore(v);
    case VerbKind::Diff: return diff(v);
    case VerbKind::Version: {
        const Outcome o = transact(query_of(Code::VER));
        if (o.ok()) say(firmware_text(*model().state().firmware));
        return o;
    }
    case VerbKind::PresetRecall: {
        Outcome o = set(command_of(Code::CAL, v.a));
        if (!o.ok()) return o;
        Chain c{*this, {}};
        read_routing_map(c.ask()); // a recall re-reads the routing, as in the window
        if (!c.first.ok()) return Outcome::fail(c.first.status, "recalled, but reading back: " + c.first.message);
        say("preset " + std::to_string(v.a) + ": recalled");
        return o;
    }
    case VerbKind::PresetSave: {
        const Outcome o = set(command_of(Code::SAV, v.a));
        if (o.ok()) say("preset " + std::to_string(v.a) + ": saved");
        return o;
    }
    case VerbKind::FactoryReset: {
        const Outcome o = set(command_of(Code::RST, 1));
        if (o.ok()) say("factory reset: done"); // over TCP too: the restart follows
        return o;
    }
    case VerbKind::PictureReset: {
        const Outcome o = set(command_of(Code::RST, 2));
        if (o.ok()) say("picture: reset");
        return o;
    }
    case VerbKind::BezelAmount: {
        const Outcome o = set(command_of(v.code, v.a));
        if (o.ok()) say(std::string("bezel ") + (v.code == Code::BEH ? "h" : "v") + ": " + std::to_string(v.a));
        return o;
    }
    case VerbKind::Lock:
    case VerbKind::Mute:
    case VerbKind::Edid:
    case VerbKind::DualAudio:
    case VerbKind::BezelSwitch:
    case VerbKind::Menu: {
        const Outcome o = set(v.command);
        if (o.ok()) say(v.result);
        return o;
    }
    }
    return {};
}

// After PWR001 or RST001 over TCP the device restarts and the link drops.
Outcome Runner::settle(Outcome o, bool more_to_do)
{
    if (!o.restarted) return o;
    say("the device restarts; the link to " + context_.link_name + " dropped as expected");
    if (context_.wait_ready > 0) {
        if (!device_.wait_ready(context_.wait_ready))
            return Outcome::fail(kExitLink, "the device did not answer again at " + context_.link_name + " within "
                                                + std::to_string(context_.wait_ready) + " s");
        say("the device answers again");
        return {};
    }
    if (more_to_do)
        return Outcome::fail(kExitLink, "the device restarted; what follows needs --wait-ready SECONDS");
    return {};
}

VerbResult Runner::run(const Verb& verb)
{
    const Outcome o = settle(exec(verb), false);
    result_.state = status_of(model());
    result_.status = o.status;
    if (!o.ok()) result_.messages.push_back(verb.kind == VerbKind::Run ? o.message : verb.text + ": " + o.message);
    return std::move(result_);
}

} // namespace

std::vector<Difference> VerbResult::differences() const
{
    std::vector<Difference> d;
    for (const Report& r : reports)
        if (r.kind == Report::Kind::Difference) d.push_back(r.difference);
    return d;
}

std::string report_text(const Report& report, const std::vector<std::string>* resolutions)
{
    switch (report.kind) {
    case Report::Kind::Line: return report.line + "\n";
    case Report::Kind::Status:
        return report.json ? status_json(report.status, resolutions) : status_table(report.status, resolutions);
    case Report::Kind::Difference: return report.difference.text() + "\n";
    }
    return {};
}

std::string reports_text(const VerbResult& result, const std::vector<std::string>* resolutions)
{
    std::string text;
    for (const Report& r : result.reports) text += report_text(r, resolutions);
    return text;
}

VerbResult run_verb(const Verb& verb, Device& device, const Context& context)
{
    return Runner(device, context).run(verb);
}

} // namespace tavrion::verbs
