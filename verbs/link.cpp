// The link a unit is reached on, and the files beside the program.
#include "verbs/link.h"

#include "protocol/settings_file.h"
#include "verbs/device_status.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace tavrion::verbs {

namespace {

std::string trimmed(const std::string& s)
{
    const auto b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

} // namespace

bool parse_link(const std::string& option, std::string value, LinkChoice& link, std::string& error)
{
    if (link.kind != LinkChoice::Kind::Settings) {
        error = "give one link: --serial or --tcp";
        return false;
    }
    if (value.empty()) {
        error = option + " needs a value";
        return false;
    }
    if (option == "--serial") {
        link.kind = LinkChoice::Kind::Serial;
        std::string v = lower(value);
        if (!v.empty() && v.back() == ':') v.pop_back(); // "COM1:" as the panel's list shows it
        if (v.rfind("com", 0) == 0 && v.size() > 3 && number(v.substr(3))) {
            const int n = *number(v.substr(3));
            if (n < 1 || n > 9) {
                error = "--serial: the ports are COM1 to COM9 (or give the device's path)";
                return false;
            }
            link.com_port = n;
        } else {
            // A path is taken from the current folder, as every other path argument (the serial
            // port class would otherwise look for a relative name under /dev).
            link.serial_path = QFileInfo(QString::fromLocal8Bit(value.c_str())).absoluteFilePath().toLocal8Bit().toStdString();
        }
        return true;
    }
    link.kind = LinkChoice::Kind::Tcp;
    // The panel's address box trims what was typed; so does this.
    value = trimmed(value);
    if (value.empty()) {
        error = option + " needs a value";
        return false;
    }
    link.tcp = parse_remote_address(value);
    // One colon and a host that kept it: the part after the colon is no port.
    if (std::count(value.begin(), value.end(), ':') == 1 && link.tcp.host.find(':') != std::string::npos) {
        error = "--tcp: \"" + printable(value) + "\" has no valid port (1 to 65535)";
        return false;
    }
    return true;
}

std::optional<std::string> read_beside(const std::string& program_dir, const char* name)
{
    QFile f(QString::fromLocal8Bit((program_dir + "/" + name).c_str()));
    if (!f.open(QIODevice::ReadOnly)) return std::nullopt;
    const QByteArray bytes = f.read(qint64(kMaxSettingsFileBytes) + 1);
    if (bytes.size() > qint64(kMaxSettingsFileBytes)) return std::nullopt;
    return bytes.toStdString();
}

std::optional<std::vector<std::string>> resolution_list(const std::string& program_dir)
{
    const auto bytes = read_beside(program_dir, "output_reso.txt");
    if (!bytes) return std::nullopt;
    ResolutionListRead list = read_resolution_list(*bytes);
    if (!list.ok) return std::nullopt;
    return std::move(list.entries);
}

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

std::string LinkTarget::name() const
{
    if (!serial) {
        const bool v6 = tcp.host.find(':') != std::string::npos;
        return (v6 ? "[" + tcp.host + "]" : tcp.host) + ":" + std::to_string(tcp.port);
    }
    return serial_path.empty() ? "COM" + std::to_string(com_port) : serial_path;
}

} // namespace tavrion::verbs
