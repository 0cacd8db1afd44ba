// The hub's unit backend on the verbs: the same session device, grammar, runner, exit statuses
// and status reading as the command-line tool, taken as typed values.
#include "hub/unit_backend.h"

#include "protocol/command_catalogue.h"
#include "session/device_model.h"
#include "session/device_session.h"
#include "verbs/device_status.h"
#include "verbs/grammar.h"
#include "verbs/link.h"
#include "verbs/runner.h"
#include "verbs/session_device.h"

#include <chrono>
#include <utility>

namespace tavrion::hub {

namespace {

// A restarted unit (power on, factory reset over TCP) is waited for this long before the rest of
// a request goes on; the device's own restart takes a few seconds.
constexpr int kRestartWaitSeconds = 30;
// What one pass-through exchange hands back at most: a reply is 7 bytes, a network answer 16; a
// device streaming garbage must not grow it.
constexpr std::size_t kMaxPassedBytes = 64;

std::optional<std::string> no_files(const std::string&, std::string& why)
{
    why = "the hub reads no files";
    return std::nullopt;
}

// One command as a line of a run file takes it, without reading any file.
std::optional<verbs::Verb> parse_line(const std::string& line, const std::vector<std::string>* resolutions,
                                      std::string& error)
{
    std::vector<std::string> words;
    bool json = false, yes = false;
    std::string quote_error; // as a run file refuses an unclosed quote
    const std::vector<std::string> split = verbs::split_words(line, &quote_error);
    if (!quote_error.empty()) {
        error = quote_error;
        return std::nullopt;
    }
    for (const std::string& word : split) {
        if (word == "--json") json = true;
        else if (word == "--yes") yes = true;
        else if (word.size() > 1 && word[0] == '-') {
            error = verbs::printable(word) + ": options other than --json and --yes are not taken here";
            return std::nullopt;
        } else words.push_back(word);
    }
    if (words.empty()) {
        error = "no verb";
        return std::nullopt;
    }
    verbs::ParseContext context;
    context.resolutions = resolutions;
    context.read_file = no_files;
    auto verb = verbs::parse_verb(words, json, yes, context, error);
    if (!verb) return verb;
    switch (verb->kind) {
    case verbs::VerbKind::Run:
    case verbs::VerbKind::Backup:
    case verbs::VerbKind::Restore:
    case verbs::VerbKind::Diff:
        error = words[0] + ": names a file on the hub's machine; not taken over the network";
        return std::nullopt;
    default: break;
    }
    return verb;
}

using Clock = std::chrono::steady_clock;

ExchangeOutcome outcome_of(Exchange::Kind kind)
{
    switch (kind) {
    case Exchange::Kind::Answered: return ExchangeOutcome::Answered;
    case Exchange::Kind::Refused: return ExchangeOutcome::Refused;
    case Exchange::Kind::OtherCode: return ExchangeOutcome::OtherCode;
    case Exchange::Kind::Silent: return ExchangeOutcome::Silent;
    case Exchange::Kind::Unreadable: return ExchangeOutcome::Unreadable;
    case Exchange::Kind::Restarted: return ExchangeOutcome::Restarted;
    case Exchange::Kind::Ended: return ExchangeOutcome::Ended;
    default: return ExchangeOutcome::LinkDown;
    }
}

// The one rule for every exchange a unit carries out, however it came (a verb, a poll, a protocol
// client's line, a network query): one that got no readable answer leaves the unit silent until
// the device is heard again; and each is counted with its time.
void note_exchange(Exchange::Kind kind, Clock::time_point began, bool& unanswered, UnitStats* stats)
{
    unanswered = kind == Exchange::Kind::Silent || kind == Exchange::Kind::Unreadable;
    if (stats) stats->count_exchange(outcome_of(kind), std::chrono::duration<double>(Clock::now() - began).count());
}

// The unit's device as the runner sees it, noting what each exchange got and when the unit is
// being waited for after a restart.
class WatchedDevice : public verbs::Device {
public:
    WatchedDevice(verbs::Device& inner, bool& unanswered, bool& awaiting_restart, UnitStats* stats)
        : inner_(inner), unanswered_(unanswered), awaiting_restart_(awaiting_restart), stats_(stats)
    {
    }
    verbs::Answer ask(const std::string& command) override
    {
        const auto began = Clock::now();
        return noted(inner_.ask(command), began);
    }
    verbs::Answer ask_slow(const std::string& command) override
    {
        const auto began = Clock::now();
        return noted(inner_.ask_slow(command), began);
    }
    std::optional<std::string> network_query(const std::string& command) override
    {
        const auto began = Clock::now();
        auto answer = inner_.network_query(command);
        note_exchange(answer ? Exchange::Kind::Answered : Exchange::Kind::Silent, began, unanswered_, stats_);
        return answer;
    }
    bool on_serial() const override { return inner_.on_serial(); }
    bool wait_ready(int seconds) override
    {
        awaiting_restart_ = true;
        const bool ready = inner_.wait_ready(seconds);
        awaiting_restart_ = false;
        return ready;
    }
    DeviceModel& model() override { return inner_.model(); }

private:
    verbs::Answer noted(const verbs::Answer& a, Clock::time_point began)
    {
        note_exchange(a.kind, began, unanswered_, stats_);
        return a;
    }
    verbs::Device& inner_;
    bool& unanswered_;
    bool& awaiting_restart_;
    UnitStats* stats_;
};

} // namespace

// A link as tavrion-ctl's option `option` takes `value`.
std::optional<UnitLink> UnitLink::make(const char* option, const std::string& value, std::string& error)
{
    verbs::LinkChoice choice;
    if (!verbs::parse_link(option, value, choice, error)) return std::nullopt;
    auto target = verbs::link_target(choice, {}, error);
    if (!target) return std::nullopt;
    return UnitLink(std::move(*target));
}

std::optional<UnitLink> UnitLink::serial(const std::string& port, std::string& error)
{
    return make("--serial", port, error);
}

std::optional<UnitLink> UnitLink::tcp(const std::string& address, std::string& error)
{
    return make("--tcp", address, error);
}

std::optional<UnitLink> UnitLink::from_settings(const std::string& program_dir, std::string& error)
{
    const auto target = verbs::link_target(verbs::LinkChoice{}, program_dir, error);
    if (!target) return std::nullopt;
    return UnitLink(std::move(*target));
}

std::string check_commands(const std::vector<std::string>& commands, const ResolutionNames& names)
{
    const std::vector<std::string>* list = names && !names->empty() ? names.get() : nullptr;
    if (commands.empty()) return "no commands given";
    for (std::size_t i = 0; i < commands.size(); ++i) {
        std::string error;
        if (!parse_line(commands[i], list, error))
            return "command " + std::to_string(i + 1) + " (" + verbs::printable(commands[i]) + "): " + error;
    }
    return {};
}

std::string check_backup(const std::string& json)
{
    std::string error;
    if (!verbs::status_from_backup(json, error)) return "not a tavrion-ctl backup: " + error;
    return {};
}

ResolutionNames resolution_names(const std::string& program_dir)
{
    return std::make_shared<const std::vector<std::string>>(
        verbs::resolution_list(program_dir).value_or(std::vector<std::string>{}));
}

struct UnitBackend::Impl {
    UnitLink link;
    std::string program_dir;
    ResolutionNames resolutions;
    std::unique_ptr<verbs::SessionDevice> device;
    std::function<void()> link_down;
    std::function<void()> reported;
    bool full_read_due = false;
    bool unanswered = false;
    bool awaiting_restart = false; // a restarted unit is waited for until it answers again
    // While a pass-through exchange runs: where its bytes go, and how many went.
    const std::function<void(const std::string&)>* passing = nullptr;
    std::size_t passed = 0;
    std::function<void(const std::string&)> received;
    std::function<void()> restarted;
    std::shared_ptr<UnitStats> stats;

    const std::vector<std::string>* names() const { return resolutions && !resolutions->empty() ? resolutions.get() : nullptr; }

    verbs::VerbResult carry_out(const verbs::Verb& verb, int wait_ready = 0)
    {
        if (!device) {
            verbs::VerbResult r;
            r.status = kLinkDown;
            r.messages.push_back(link.name() + ": the link is down");
            return r;
        }
        verbs::Context c;
        c.resolutions = names();
        c.link_name = link.name();
        c.wait_ready = wait_ready;
        WatchedDevice watched(*device, unanswered, awaiting_restart, stats.get());
        return verbs::run_verb(verb, watched, c);
    }

    // What the tool prints for a verb, its messages after its reports.
    CommandResult printed(const std::string& text, const verbs::VerbResult& r) const
    {
        CommandResult c{text, r.status, verbs::reports_text(r, names())};
        for (const std::string& m : r.messages) c.output += m + "\n";
        return c;
    }
};

UnitBackend::UnitBackend(UnitLink link, std::string program_dir, ResolutionNames names) : d_(std::make_unique<Impl>())
{
    d_->link = std::move(link);
    d_->program_dir = std::move(program_dir);
    d_->resolutions = std::move(names);
}

UnitBackend::~UnitBackend() = default;

bool UnitBackend::open(std::string& error)
{
    d_->device.reset();
    // The unit's thread sleeps while the unit is idle: the socket itself tells of a lost link. Every
    // client of the unit waits behind its exchanges, so each ends on its answer, not on a step.
    d_->device = verbs::open_session(d_->link.target(), d_->program_dir, error, LinkWatch::Socket, ReplyWait::Prompt);
    if (!d_->device) return false;
    Impl* d = d_.get();
    verbs::Device::Events events;
    events.link = [d](bool up) {
        if (!up && d->link_down) d->link_down();
    };
    events.restarted = [d](verbs::Restart why) {
        // A recall or a reset changes settings the device does not report with it; so does the
        // restart course, which ends the link.
        if (why == verbs::Restart::TcpCourse) d->full_read_due = true;
        if (d->restarted) d->restarted();
    };
    // What the device sends: a pass-through exchange's own reply, or the protocol port's to share.
    events.line = [d](Direction direction, const std::string& text) {
        if (direction != Direction::Received) return;
        if (!d->passing) {
            if (d->received) d->received(text);
        } else if (d->passed < kMaxPassedBytes) {
            const std::string part = text.substr(0, kMaxPassedBytes - d->passed);
            d->passed += part.size();
            (*d->passing)(part);
        }
    };
    d->device->set_events(std::move(events));
    const DeviceModel* model = &d->device->model();
    auto reported = [d] {
        d->unanswered = false;
        if (d->reported) d->reported();
    };
    QObject::connect(model, &DeviceModel::accepted, model, reported);
    QObject::connect(model, &DeviceModel::network_reported, model, reported);
    QObject::connect(model, &DeviceModel::preset_recalled, model, [d] { d->full_read_due = true; });
    QObject::connect(model, &DeviceModel::reset_reported, model, [d] { d->full_read_due = true; });
    return true;
}

void UnitBackend::count_into(std::shared_ptr<UnitStats> stats) { d_->stats = std::move(stats); }

void UnitBackend::on_received(std::function<void(const std::string&)> handler) { d_->received = std::move(handler); }

void UnitBackend::on_restart(std::function<void()> handler) { d_->restarted = std::move(handler); }

void UnitBackend::on_link_down(std::function<void()> handler) { d_->link_down = std::move(handler); }

bool UnitBackend::link_up() const { return d_->device && d_->device->session().link_up(); }

bool UnitBackend::restarting() const
{
    return d_->awaiting_restart || (d_->device && d_->device->session().restarting());
}

bool UnitBackend::unanswered() const { return d_->unanswered; }

void UnitBackend::on_reported(std::function<void()> handler) { d_->reported = std::move(handler); }

verbs::DeviceStatus UnitBackend::status() const
{
    if (!d_->device) return {};
    return verbs::status_of(d_->device->model());
}

bool UnitBackend::take_full_read_due() { return std::exchange(d_->full_read_due, false); }

UnitBackend::StateRead UnitBackend::read_state()
{
    d_->full_read_due = false; // this is the reading
    verbs::Verb status;
    status.kind = verbs::VerbKind::Status;
    status.text = "status";
    status.json = true;
    const verbs::VerbResult r = d_->carry_out(status);
    StateRead s;
    s.status = r.status;
    for (const std::string& m : r.messages) s.message += m + "\n";
    return s;
}

std::vector<CommandResult> UnitBackend::run(const std::vector<std::string>& commands,
                                            const std::function<bool()>& stop_here)
{
    std::vector<CommandResult> results;
    for (const std::string& text : commands) {
        if (!results.empty() && stop_here && stop_here()) break;
        std::string error;
        const auto verb = parse_line(text, d_->names(), error);
        if (!verb) {
            results.push_back({text, kUsage, error + "\n"});
            break;
        }
        results.push_back(d_->printed(text, d_->carry_out(*verb, kRestartWaitSeconds)));
        if (results.back().status != kDone) break;
    }
    return results;
}

CommandResult UnitBackend::restore(const std::string& backup_json, std::vector<std::string>& differences)
{
    std::string error;
    verbs::Verb restore;
    restore.kind = verbs::VerbKind::Restore;
    restore.text = "restore";
    restore.path = "the request's backup";
    restore.backup = verbs::status_from_backup(backup_json, error);
    if (!restore.backup) return {"restore", kUsage, "not a tavrion-ctl backup: " + error + "\n"};
    const verbs::VerbResult r = d_->carry_out(restore);
    for (const verbs::Difference& d : r.differences()) differences.push_back(d.text());
    return d_->printed("restore", r);
}

void UnitBackend::pass_through(const std::string& line, const std::function<void(const std::string&)>& heard)
{
    if (!d_->device) return;
    d_->passing = &heard;
    d_->passed = 0;
    verbs::SessionDevice& device = *d_->device;
    const auto began = Clock::now();
    // A network query is sent on either link: the device answers on both, whatever the window reads.
    const Exchange e = verbs::network_query_command(line) ? device.session().query_network(line)
                       : verbs::late_reply_command(line) ? device.ask_slow(line)
                                                         : device.ask(line);
    note_exchange(e.kind, began, d_->unanswered, d_->stats.get());
    d_->passing = nullptr;
}

} // namespace tavrion::hub
