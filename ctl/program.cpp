// What tavrion-ctl's main does around the runner: parse, find the link, open it, run.
#include "ctl/runner.h"

#include "ctl/verb_json.h"
#include "protocol/settings_file.h"

#include <QFile>

#include <ostream>
#include <sstream>

namespace tavrion::ctl {

namespace {

std::optional<std::string> read_beside(const std::string& program_dir, const char* name)
{
    QFile f(QString::fromLocal8Bit((program_dir + "/" + name).c_str()));
    if (!f.open(QIODevice::ReadOnly)) return std::nullopt;
    const QByteArray bytes = f.read(qint64(kMaxSettingsFileBytes) + 1);
    if (bytes.size() > qint64(kMaxSettingsFileBytes)) return std::nullopt;
    return bytes.toStdString();
}

std::string trimmed(const std::string& s)
{
    const auto b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

} // namespace

// The link as the options give it, or as the panel's tavrion.ini holds it (only read here).
std::optional<LinkTarget> link_target(const LinkChoice& choice, const std::string& program_dir, std::string& error)
{
    LinkTarget t;
    switch (choice.kind) {
    case LinkChoice::Kind::Serial:
        t.com_port = choice.com_port;
        t.serial_path = choice.serial_path;
        return t;
    case LinkChoice::Kind::Tcp:
        t.serial = false;
        t.tcp = choice.tcp;
        return t;
    case LinkChoice::Kind::Settings: break;
    }
    const auto bytes = read_beside(program_dir, "tavrion.ini");
    const SettingsRead read = bytes ? read_settings(*bytes) : SettingsRead{};
    if (!read.ok) {
        error = "no --serial or --tcp given, and tavrion.ini beside the program "
            + (bytes ? "cannot be used: " + read.error : std::string("cannot be read"));
        return std::nullopt;
    }
    // As the panel's start-up takes them: another link is RS-232, a port outside 1..9 is COM1.
    if (read.values.link_interface == 1) {
        const std::string address = trimmed(read.values.address);
        if (address.empty()) {
            error = "no --serial or --tcp given, and tavrion.ini selects Ethernet without an address";
            return std::nullopt;
        }
        t.serial = false;
        t.tcp = parse_remote_address(address);
        return t;
    }
    const int port = read.values.com_port;
    t.com_port = port >= 1 && port <= 9 ? port : 1;
    return t;
}

namespace {

// Standard error as it goes, kept as well for the --json document.
class KeepingBuffer : public std::streambuf {
public:
    explicit KeepingBuffer(std::ostream& to) : to_(to) {}
    std::string kept;

protected:
    int overflow(int c) override
    {
        if (c == traits_type::eof()) return traits_type::not_eof(c);
        kept += char(c);
        to_.put(char(c));
        return c;
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override
    {
        kept.append(s, std::size_t(n));
        to_.write(s, n);
        return n;
    }
    int sync() override
    {
        to_.flush();
        return 0;
    }

private:
    std::ostream& to_;
};

} // namespace

std::string LinkTarget::name() const
{
    if (!serial) {
        const bool v6 = tcp.host.find(':') != std::string::npos;
        return (v6 ? "[" + tcp.host + "]" : tcp.host) + ":" + std::to_string(tcp.port);
    }
    return serial_path.empty() ? "COM" + std::to_string(com_port) : serial_path;
}

int run_program(const std::vector<std::string>& args, const std::string& program_dir, const DeviceOpener& open,
                std::ostream& out, std::ostream& err)
{
    std::vector<std::string> resolutions;
    bool have_resolutions = false;
    if (const auto bytes = read_beside(program_dir, "output_reso.txt")) {
        ResolutionListRead list = read_resolution_list(*bytes);
        have_resolutions = list.ok;
        resolutions = std::move(list.entries);
    }
    ParseContext pc;
    pc.resolutions = have_resolutions ? &resolutions : nullptr;
    const Parsed parsed = parse_command_line(args, pc);
    if (!parsed.invocation) {
        err << "tavrion-ctl: " << parsed.error << "\n"
            << "Try 'tavrion-ctl --help'.\n";
        return kExitUsage;
    }
    const Invocation& inv = *parsed.invocation;
    if (inv.help) {
        out << (inv.help_verb.empty() ? help_text() : verb_help(inv.help_verb));
        return kExitDone;
    }
    if (inv.version) {
        out << version_text();
        return kExitDone;
    }
    std::string error;
    const auto target = link_target(inv.link, program_dir, error);
    if (!target) {
        err << "tavrion-ctl: " << error << "\n";
        return kExitUsage;
    }
    const std::unique_ptr<Device> device = open(*target, error);
    if (!device) {
        err << "tavrion-ctl: " << target->name() << ": " << error << "\n";
        return kExitLink;
    }
    Context context;
    context.resolutions = pc.resolutions;
    context.link_name = target->name();
    std::ostream nowhere(nullptr); // --quiet: the exit status alone
    std::ostream& results = inv.quiet ? nowhere : out;
    if (!inv.verb.json || inv.verb.kind == VerbKind::Status) return run(inv, *device, results, err, context);
    // --json: the verb's lines and messages gathered into one document; messages still go to
    // standard error as they come.
    std::ostringstream printed;
    KeepingBuffer keeping(err);
    std::ostream errors(&keeping);
    std::string state;
    context.state_json = &state;
    const int status = run(inv, *device, printed, errors, context);
    results << verb_json(inv.verb, status, printed.str(), keeping.kept, state);
    return status;
}

} // namespace tavrion::ctl
