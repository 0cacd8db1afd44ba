// What tavrion-ctl's main does around the verbs: parse, find the link, open it, run, print.
#include "ctl/program.h"

#include "ctl/verb_json.h"

#include <QTime>

#include <ostream>

namespace tavrion::ctl {

int run_program(const std::vector<std::string>& args, const std::string& program_dir, const DeviceOpener& open,
                std::ostream& out, std::ostream& err)
{
    const auto resolutions = resolution_list(program_dir);
    ParseContext pc;
    pc.resolutions = resolutions ? &*resolutions : nullptr;
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
    context.wait_ready = inv.wait_ready;
    if (inv.verbose) {
        Device::Events events;
        events.line = [&err](Direction direction, const std::string& text) {
            err << QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz")).toStdString()
                << (direction == Direction::Sent ? " > " : " < ") << printable(text) << std::endl;
        };
        device->set_events(std::move(events));
    }
    const VerbResult result = run_verb(inv.verb, *device, context);
    device->set_events({});
    std::ostream nowhere(nullptr); // --quiet: the exit status alone
    std::ostream& results = inv.quiet ? nowhere : out;
    // --json: the verb's reports and messages gathered into one document; messages still go to
    // standard error.
    if (!inv.verb.json || inv.verb.kind == VerbKind::Status) results << reports_text(result, pc.resolutions);
    else results << verb_json(inv.verb, result, pc.resolutions);
    results.flush();
    for (const std::string& m : result.messages) err << "tavrion-ctl: " << m << "\n";
    return result.status;
}

} // namespace tavrion::ctl
