// The hub's unit backend on tavrion-ctl's session device, verb grammar and runner: the same
// commands, waits, exit statuses and status document as the command-line tool.
#include "hub/unit_backend.h"

#include "ctl/device_status.h"
#include "ctl/invocation.h"
#include "ctl/runner.h"
#include "ctl/session_device.h"
#include "session/device_model.h"
#include "session/device_session.h"
#include "protocol/settings_file.h"

#include <QFile>

#include <sstream>
#include <utility>

namespace tavrion::hub {

namespace {

// A restarted unit (power on, factory reset over TCP) is waited for this long before the rest of
// a request goes on; the device's own restart takes a few seconds.
constexpr int kRestartWaitSeconds = 30;

std::optional<std::string> no_files(const std::string&, std::string& why)
{
    why = "the hub reads no files";
    return std::nullopt;
}

// The parse of one command as a line of a run file takes it, without reading any file.
ctl::Parsed parse_line(const std::string& line, const std::vector<std::string>* resolutions)
{
    ctl::Parsed parsed;
    std::vector<std::string> args;
    for (const std::string& word : ctl::split_words(line)) {
        if (word.size() > 1 && word[0] == '-' && word != "--json" && word != "--yes") {
            parsed.error = ctl::printable(word) + ": options other than --json and --yes are not taken here";
            return parsed;
        }
        args.push_back(word);
    }
    if (args.empty()) {
        parsed.error = "no verb";
        return parsed;
    }
    ctl::ParseContext context;
    context.resolutions = resolutions;
    context.read_file = no_files;
    parsed = ctl::parse_command_line(args, context);
    if (!parsed.invocation) return parsed;
    switch (parsed.invocation->verb.kind) {
    case ctl::VerbKind::Run:
    case ctl::VerbKind::Backup:
    case ctl::VerbKind::Restore:
    case ctl::VerbKind::Diff:
        parsed.invocation.reset();
        parsed.error = args[0] + ": names a file on the hub's machine; not taken over the network";
        break;
    default: break;
    }
    return parsed;
}

// The tool's messages without its name in front: the hub reports them as its own.
std::string without_prefix(const std::string& text)
{
    static const std::string prefix = "tavrion-ctl: ";
    std::string out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(prefix, 0) == 0) line.erase(0, prefix.size());
        out += line + "\n";
    }
    return out;
}

} // namespace

// A link as tavrion-ctl's option `option` takes `value`; its name as the tool would give it.
std::optional<UnitLink> UnitLink::make(const char* option, const std::string& value, std::string& error)
{
    ctl::ParseContext context;
    context.read_file = no_files;
    const ctl::Parsed parsed = ctl::parse_command_line({option, value, "version"}, context);
    if (!parsed.invocation) {
        error = parsed.error;
        return std::nullopt;
    }
    const auto target = ctl::link_target(parsed.invocation->link, {}, error);
    if (!target) return std::nullopt;
    UnitLink link;
    link.option_ = option;
    link.value_ = value;
    link.name_ = target->name();
    return link;
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
    const auto target = ctl::link_target(ctl::LinkChoice{}, program_dir, error);
    if (!target) return std::nullopt;
    if (!target->serial) return tcp(target->name(), error);
    return serial(target->name(), error);
}

std::string check_commands(const std::vector<std::string>& commands, const std::string& program_dir)
{
    const std::vector<std::string> names = resolution_names(program_dir);
    if (commands.empty()) return "no commands given";
    for (std::size_t i = 0; i < commands.size(); ++i) {
        const ctl::Parsed parsed = parse_line(commands[i], names.empty() ? nullptr : &names);
        if (!parsed.invocation)
            return "command " + std::to_string(i + 1) + " (" + ctl::printable(commands[i]) + "): " + parsed.error;
    }
    return {};
}

std::string check_backup(const std::string& json)
{
    std::string error;
    if (!ctl::status_from_backup(json, error)) return "not a tavrion-ctl backup: " + error;
    return {};
}

std::vector<std::string> resolution_names(const std::string& program_dir)
{
    QFile f(QString::fromLocal8Bit((program_dir + "/output_reso.txt").c_str()));
    if (!f.open(QIODevice::ReadOnly)) return {};
    const QByteArray bytes = f.read(qint64(kMaxSettingsFileBytes) + 1);
    if (bytes.size() > qint64(kMaxSettingsFileBytes)) return {};
    ResolutionListRead list = read_resolution_list(bytes.toStdString());
    return list.ok ? list.entries : std::vector<std::string>{};
}

struct UnitBackend::Impl {
    UnitLink link;
    std::string program_dir;
    std::vector<std::string> resolutions;
    std::unique_ptr<ctl::Device> device;
    std::function<void()> link_down;
    std::function<void()> reported;
    bool full_read_due = false;

    const DeviceModel* model() const { return device ? &device->model() : nullptr; }

    ctl::Context context() const
    {
        ctl::Context c;
        c.resolutions = resolutions.empty() ? nullptr : &resolutions;
        c.link_name = link.name();
        return c;
    }

    CommandResult carry_out(const std::string& text, const ctl::Invocation& inv)
    {
        CommandResult r;
        r.command = text;
        if (!device) {
            r.status = kLinkDown;
            r.output = link.name() + ": the link is down\n";
            return r;
        }
        std::ostringstream out, err;
        r.status = ctl::run(inv, *device, out, err, context());
        r.output = out.str() + without_prefix(err.str());
        return r;
    }
};

UnitBackend::UnitBackend(UnitLink link, std::string program_dir) : d_(std::make_unique<Impl>())
{
    d_->link = std::move(link);
    d_->program_dir = std::move(program_dir);
    d_->resolutions = resolution_names(d_->program_dir);
}

UnitBackend::~UnitBackend() = default;

bool UnitBackend::open(std::string& error)
{
    d_->device.reset();
    ctl::ParseContext context;
    context.read_file = no_files;
    const ctl::Parsed parsed = ctl::parse_command_line({d_->link.option_, d_->link.value_, "version"}, context);
    if (!parsed.invocation) {
        error = parsed.error;
        return false;
    }
    const auto target = ctl::link_target(parsed.invocation->link, d_->program_dir, error);
    if (!target) return false;
    d_->device = ctl::session_opener(d_->program_dir)(*target, error);
    if (auto* s = dynamic_cast<ctl::SessionDevice*>(d_->device.get())) {
        DeviceSession& session = s->session();
        Impl* d = d_.get();
        QObject::connect(&session, &DeviceSession::ethernet_link_down, &session, [d] {
            if (d->link_down) d->link_down();
        });
        QObject::connect(&session, &DeviceSession::serial_link_shown, &session, [d](bool open) {
            if (!open && d->link_down) d->link_down();
        });
        QObject::connect(&session, &DeviceSession::restart_course, &session, [d] { d->full_read_due = true; });
        const DeviceModel* model = &s->model();
        auto reported = [d] {
            if (d->reported) d->reported();
        };
        QObject::connect(model, &DeviceModel::accepted, &session, reported);
        QObject::connect(model, &DeviceModel::network_reported, &session, reported);
        // A recall or a reset changes settings the device does not report with it.
        QObject::connect(model, &DeviceModel::preset_recalled, &session, [d] { d->full_read_due = true; });
        QObject::connect(model, &DeviceModel::reset_reported, &session, [d] { d->full_read_due = true; });
    }
    return d_->device != nullptr;
}

void UnitBackend::on_link_down(std::function<void()> handler) { d_->link_down = std::move(handler); }

bool UnitBackend::link_up() const
{
    auto* session = dynamic_cast<ctl::SessionDevice*>(d_->device.get());
    return session && session->session().link_up();
}

void UnitBackend::on_reported(std::function<void()> handler) { d_->reported = std::move(handler); }

std::string UnitBackend::document() const
{
    const DeviceModel* model = d_->model();
    if (!model) return {};
    return ctl::status_json(ctl::status_of(*model), d_->resolutions.empty() ? nullptr : &d_->resolutions);
}

bool UnitBackend::take_full_read_due() { return std::exchange(d_->full_read_due, false); }

UnitBackend::StateRead UnitBackend::read_state()
{
    d_->full_read_due = false; // this is the reading
    ctl::Invocation inv;
    inv.verb.kind = ctl::VerbKind::Status;
    inv.verb.text = "status";
    inv.verb.json = true;
    const CommandResult r = d_->carry_out("status --json", inv);
    StateRead s;
    s.status = r.status;
    // The runner prints its own reading first; a message (on a failed read) follows it.
    const auto end = r.output.rfind("}\n");
    if (r.status != kDone) s.message = end == std::string::npos ? r.output : r.output.substr(end + 2);
    s.document = document();
    return s;
}

std::vector<CommandResult> UnitBackend::run(const std::vector<std::string>& commands)
{
    std::vector<CommandResult> results;
    for (const std::string& text : commands) {
        const ctl::Parsed parsed = parse_line(text, d_->resolutions.empty() ? nullptr : &d_->resolutions);
        if (!parsed.invocation) {
            results.push_back({text, kUsage, parsed.error + "\n"});
            break;
        }
        ctl::Invocation inv = *parsed.invocation;
        inv.wait_ready = kRestartWaitSeconds;
        results.push_back(d_->carry_out(text, inv));
        if (results.back().status != kDone) break;
    }
    return results;
}

CommandResult UnitBackend::restore(const std::string& backup_json, std::vector<std::string>& differences)
{
    std::string error;
    ctl::Invocation inv;
    inv.verb.kind = ctl::VerbKind::Restore;
    inv.verb.text = "restore";
    inv.verb.path = "the request's backup";
    inv.verb.backup = ctl::status_from_backup(backup_json, error);
    if (!inv.verb.backup) return {"restore", kUsage, "not a tavrion-ctl backup: " + error + "\n"};
    CommandResult r = d_->carry_out("restore", inv);
    // restore prints the differences one a line, then (when none are left) its closing line.
    std::istringstream in(r.output);
    for (std::string line; std::getline(in, line);)
        if (line.find(": file ") != std::string::npos && line.find(", device ") != std::string::npos)
            differences.push_back(line);
    return r;
}

} // namespace tavrion::hub
