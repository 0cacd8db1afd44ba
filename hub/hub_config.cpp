// Options, units file, token file and Host rules of tavrion-hub.
#include "hub/hub_config.h"

#include "hub/audit.h"
#include "protocol/remote_address.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkInterface>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <algorithm>
#include <tuple>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tavrion::hub {

namespace {

constexpr qint64 kMaxUnitsFileBytes = 1 << 20;
constexpr int kMaxPollSeconds = 86400;
constexpr int kMaxTokenChars = 256;

} // namespace

std::optional<ListenAddress> parse_listen_address(const QString& text)
{
    QString host = QStringLiteral("127.0.0.1");
    QString port = text;
    if (text.contains(QLatin1Char(':'))) {
        const auto parts = split_host_port(text.toStdString());
        if (!parts || !parts->port) return std::nullopt;
        host = QString::fromStdString(parts->host);
        port = QString::fromStdString(*parts->port);
        if (host.startsWith(QLatin1Char('['))) host = host.mid(1, host.size() - 2);
    }
    bool ok = false;
    const uint n = port.toUInt(&ok);
    QHostAddress address;
    if (!ok || n > 65535 || !address.setAddress(host)) return std::nullopt;
    return ListenAddress{address, quint16(n), text.contains(QLatin1Char(':')) ? text : host + QLatin1Char(':') + port};
}

namespace {

bool parse_listen(const QString& text, HubOptions& o)
{
    const auto where = parse_listen_address(text);
    if (!where) return false;
    o.listen_address = where->address;
    o.listen_port = where->port;
    o.listen_text = where->text;
    return true;
}

// "ID=ADDR:PORT"
bool parse_protocol_listen(const QString& text, HubOptions& o)
{
    const int eq = text.indexOf(QLatin1Char('='));
    if (eq <= 0) return false;
    const auto where = parse_listen_address(text.mid(eq + 1));
    if (!where) return false;
    o.protocol_listen.push_back({text.left(eq).toStdString(), *where});
    return true;
}

QString place_of(const QByteArray& bytes, int offset)
{
    int line = 1, column = 1;
    for (int i = 0; i < offset && i < bytes.size(); ++i) {
        if (bytes[i] == '\n') ++line, column = 1;
        else ++column;
    }
    return QStringLiteral("line %1, column %2").arg(line).arg(column);
}

} // namespace

std::optional<HubOptions> parse_options(const QStringList& args, QString& error)
{
    HubOptions o;
    QCommandLineParser parser;
    // "-x" is one unknown option, as "--x" is; no option here is a single letter but -h.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption show_url(QStringLiteral("show-url"));
    const QCommandLineOption metrics_open(QStringLiteral("metrics-open"));
    parser.addOptions({help, show_url, metrics_open});
    // Options with a value, in the order their values are checked.
    QStringList valued{"units", "token-file", "audit-file", "users", "listen", "allow-host", "protocol-listen", "tls-cert", "tls-key", "log-level"};
    for (const char* mqtt : {"mqtt", "mqtt-credentials", "mqtt-ca", "mqtt-prefix", "mqtt-discovery-prefix", "mqtt-role"})
        valued << QString::fromLatin1(mqtt);
    for (const QString& name : valued) parser.addOption(QCommandLineOption(name, QString(), QStringLiteral("VALUE")));
    // The program's name first, as the parser expects.
    if (!parser.parse(QStringList{QStringLiteral("tavrion-hub")} + args)) {
        if (!parser.unknownOptionNames().isEmpty()) {
            const QString name = parser.unknownOptionNames().first();
            const QString dashed = QStringLiteral("--") + name;
            const bool long_form = std::any_of(args.begin(), args.end(), [&](const QString& a) {
                return a == dashed || a.startsWith(dashed + QLatin1Char('='));
            });
            error = QStringLiteral("unknown argument \"%1\"").arg((long_form ? dashed : QStringLiteral("-") + name));
        } else if (parser.errorText().startsWith(QLatin1String("Unexpected value"))) {
            error = parser.errorText().section(QLatin1Char('\''), 1, 1) + QStringLiteral(" takes no value");
        } else {
            // "Missing value after '--units'."
            const QString text = parser.errorText();
            const int from = text.indexOf(QLatin1Char('\'')), to = text.lastIndexOf(QLatin1Char('\''));
            error = (from >= 0 && to > from ? text.mid(from + 1, to - from - 1) : text) + QStringLiteral(" needs a value");
        }
        return std::nullopt;
    }
    if (!parser.positionalArguments().isEmpty()) {
        error = QStringLiteral("unknown argument \"%1\"").arg(parser.positionalArguments().first());
        return std::nullopt;
    }
    o.help = parser.isSet(help);
    o.show_url = parser.isSet(show_url);
    o.metrics_open = parser.isSet(metrics_open);
    for (const QString& name : valued) {
        const QString option = QStringLiteral("--") + name;
        for (const QString& value : parser.values(name)) {
            if (value.isEmpty()) {
                error = option + QStringLiteral(" needs a value");
                return std::nullopt;
            }
            if (name == QLatin1String("units")) o.units_file = value;
            else if (name == QLatin1String("token-file")) o.token_file = value;
            else if (name == QLatin1String("audit-file")) o.audit_file = value;
            else if (name == QLatin1String("users")) o.users_file = value;
            else if (name == QLatin1String("allow-host")) o.allow_hosts << value.toLower();
            else if (name == QLatin1String("tls-cert")) o.tls_cert = value;
            else if (name == QLatin1String("tls-key")) o.tls_key = value;
            else if (is_mqtt_option(option)) set_mqtt_option(o.mqtt, option, value);
            else if (name == QLatin1String("log-level")) {
                const auto level = hub_log::level_named(value);
                if (!level) {
                    error = QStringLiteral("--log-level takes error, warning, notice, info or debug, not \"%1\"").arg(value);
                    return std::nullopt;
                }
                o.log_level = *level;
            } else if (name == QLatin1String("protocol-listen")) {
                if (!parse_protocol_listen(value, o)) {
                    error = QStringLiteral("--protocol-listen takes ID=ADDR:PORT (an IP address), not \"%1\"").arg(value);
                    return std::nullopt;
                }
            } else if (!parse_listen(value, o)) {
                error = QStringLiteral("--listen takes ADDR:PORT (an IP address), not \"%1\"").arg(value);
                return std::nullopt;
            }
        }
    }
    if (o.tls_cert.isEmpty() != o.tls_key.isEmpty()) {
        error = QStringLiteral("--tls-cert and --tls-key go together");
        return std::nullopt;
    }
    return o;
}

QString usage_text()
{
    return QStringLiteral(
        "Usage: tavrion-hub [--units FILE] [--listen ADDR:PORT] [--token-file FILE] [--users FILE]\n"
        "                   [--allow-host NAME]... [--protocol-listen ID=ADDR:PORT]...\n"
        "                   [--tls-cert FILE --tls-key FILE] [--metrics-open] [--show-url]\n"
        "                   [--audit-file FILE]\n"
        "                   [--mqtt URL [--mqtt-credentials FILE] [--mqtt-ca FILE]\n"
        "                    [--mqtt-prefix P] [--mqtt-discovery-prefix P|none]\n"
        "                    [--mqtt-role ROLE]]\n"
        "                   [--log-level error|warning|notice|info|debug]\n"
        "\n"
        "Serves a web page and a JSON API for one or more KV-7720 units, holding their links.\n"
        "\n"
        "  --units FILE        the units: {\"units\": [{\"id\": \"hall\", \"name\": \"Main hall\",\n"
        "                      \"tcp\": \"10.20.4.11\"}, {\"id\": \"lab\", \"serial\": \"COM1\"}],\n"
        "                      \"poll_seconds\": 10}; without it, one unit \"default\" on the link\n"
        "                      of the tavrion.ini beside the program\n"
        "  --listen ADDR:PORT  where to listen (default 127.0.0.1:7720; port 0 picks a free one)\n"
        "  --token-file FILE   the access token (default tavrion-hub.token beside the program;\n"
        "                      made at first start, readable by its owner only); it signs in\n"
        "                      as \"admin\"\n"
        "  --users FILE        the named sign-ins (default tavrion-hub.users beside the token);\n"
        "                      tavrion-hub user add NAME --role viewer|operator|admin,\n"
        "                      user list, user remove NAME manage it\n"
        "  --audit-file FILE   the audit trail, a JSON line for every change to a unit (default\n"
        "                      tavrion-hub-audit.jsonl beside the token file; rotated at 10 MiB,\n"
        "                      5 files kept)\n"
        "  --allow-host NAME   a further Host name that requests may carry (repeatable)\n"
        "  --protocol-listen ID=ADDR:PORT  serve unit ID's own device protocol on this TCP\n"
        "                      address, for the panel, tavrion-ctl --tcp and room controllers\n"
        "                      (repeatable; a unit's \"protocol_listen\": \"ADDR:PORT\" in the\n"
        "                      units file does the same; loopback unless ADDR says otherwise).\n"
        "                      The protocol has no sign-in: the address and a unit's\n"
        "                      \"protocol_refuse\": [\"RST\", ...] (codes answered ERR001, unsent)\n"
        "                      are its only guard\n"
        "  --mqtt URL          also serve the units on an MQTT broker: mqtt://HOST[:1883] or\n"
        "                      mqtts://HOST[:8883]; the units file may give these under \"mqtt\":\n"
        "                      {\"url\", \"credentials\", \"ca\", \"prefix\", \"discovery_prefix\", \"role\"}\n"
        "  --mqtt-credentials FILE  a line user:password, in a file readable by its owner only\n"
        "  --mqtt-ca FILE      the certificate authority of an mqtts:// broker\n"
        "  --mqtt-prefix P     the topics' prefix (default tavrion)\n"
        "  --mqtt-discovery-prefix P  Home Assistant's discovery prefix (default homeassistant;\n"
        "                      none: no discovery)\n"
        "  --mqtt-role ROLE    what MQTT commands may do: viewer, operator (default) or admin\n"
        "  --metrics-open      GET /metrics without a token (for a Prometheus on this machine;\n"
        "                      with a --listen address other than loopback, open to that network)\n"
        "  --tls-cert FILE     HTTPS on the listen address with this certificate (PEM, a chain\n"
        "                      allowed; the units file may give \"tls_cert\" and \"tls_key\")\n"
        "  --tls-key FILE      its private key (PEM), a file readable by its owner only; SIGHUP\n"
        "                      loads both files again without dropping connections\n"
        "  --log-level LEVEL   the least severe lines logged: error, warning, notice, info\n"
        "                      (the default) or debug\n"
        "  --show-url          print the address to open in a browser, and exit\n"
        "  --help              this text\n");
}

// Longer names would crowd the page's buttons on a phone.
constexpr int kMaxPortName = 32;

std::optional<UnitsSetup> read_units_file(const QString& path, QString& error)
{
    auto fail = [&](const QString& where, const QString& what) -> std::optional<UnitsSetup> {
        error = path + (where.isEmpty() ? QString() : QStringLiteral(": ") + where) + QStringLiteral(": ") + what;
        return std::nullopt;
    };
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return fail({}, QStringLiteral("cannot be read: ") + f.errorString());
    const QByteArray bytes = f.read(kMaxUnitsFileBytes + 1);
    if (bytes.size() > kMaxUnitsFileBytes) return fail({}, QStringLiteral("larger than 1 MiB"));
    QJsonParseError pe;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &pe);
    if (pe.error != QJsonParseError::NoError) return fail(place_of(bytes, pe.offset), pe.errorString());
    if (!doc.isObject()) return fail({}, QStringLiteral("not a JSON object"));
    const QJsonObject root = doc.object();
    UnitsSetup setup;
    for (auto it = root.begin(); it != root.end(); ++it)
        if (it.key() != QLatin1String("units") && it.key() != QLatin1String("poll_seconds") && it.key() != QLatin1String("mqtt")
            && it.key() != QLatin1String("tls_cert") && it.key() != QLatin1String("tls_key"))
            return fail(it.key(), QStringLiteral("unknown key"));
    for (const char* key : {"tls_cert", "tls_key"}) {
        if (!root.contains(QLatin1String(key))) continue;
        const QString file = root.value(QLatin1String(key)).toString();
        if (file.isEmpty()) return fail(QLatin1String(key), QStringLiteral("a file name"));
        (QLatin1String(key) == QLatin1String("tls_cert") ? setup.tls_cert : setup.tls_key) =
            QDir(QFileInfo(path).absolutePath()).filePath(file);
    }
    if (setup.tls_cert.isEmpty() != setup.tls_key.isEmpty())
        return fail(QStringLiteral("tls_cert"), QStringLiteral("tls_cert and tls_key go together"));
    if (root.contains(QLatin1String("mqtt"))) {
        QString why;
        if (!mqtt_options_from_json(root.value(QLatin1String("mqtt")), QFileInfo(path).absolutePath(), setup.mqtt, why))
            return fail(QStringLiteral("mqtt"), why);
    }
    if (root.contains(QLatin1String("poll_seconds"))) {
        const QJsonValue p = root.value(QLatin1String("poll_seconds"));
        const double n = p.toDouble(-1);
        if (!p.isDouble() || n != int(n) || n < 0 || n > kMaxPollSeconds)
            return fail(QStringLiteral("poll_seconds"), QStringLiteral("a whole number of seconds from 0 to %1").arg(kMaxPollSeconds));
        setup.poll_seconds = int(n);
    }
    const QJsonValue units = root.value(QLatin1String("units"));
    if (!units.isArray() || units.toArray().isEmpty()) return fail(QStringLiteral("units"), QStringLiteral("a list of at least one unit"));
    static const QRegularExpression id_form(QStringLiteral("^[A-Za-z0-9_-]{1,32}$"));
    const QJsonArray list = units.toArray();
    for (int i = 0; i < list.size(); ++i) {
        const QString where = QStringLiteral("units[%1]").arg(i);
        if (!list[i].isObject()) return fail(where, QStringLiteral("not an object"));
        const QJsonObject u = list[i].toObject();
        for (auto it = u.begin(); it != u.end(); ++it)
            if (!QStringList{"id", "name", "tcp", "serial", "protocol_listen", "protocol_refuse", "inputs", "outputs"}.contains(it.key()))
                return fail(where + QLatin1Char('.') + it.key(), QStringLiteral("unknown key"));
        const QString id = u.value(QLatin1String("id")).toString();
        if (!id_form.match(id).hasMatch())
            return fail(where + QStringLiteral(".id"), QStringLiteral("1 to 32 letters, digits, - or _"));
        for (const UnitConfig& other : setup.units)
            if (other.id == id.toStdString()) return fail(where + QStringLiteral(".id"), QStringLiteral("\"%1\" is used twice").arg(id));
        const bool tcp = u.contains(QLatin1String("tcp")), serial = u.contains(QLatin1String("serial"));
        if (tcp == serial) return fail(where, QStringLiteral("needs one of \"tcp\" and \"serial\""));
        const QString key = tcp ? QStringLiteral("tcp") : QStringLiteral("serial");
        const QJsonValue link = u.value(key);
        if (!link.isString()) return fail(where + QLatin1Char('.') + key, QStringLiteral("not a string"));
        std::string why;
        const std::optional<UnitLink> l = tcp ? UnitLink::tcp(link.toString().toStdString(), why)
                                              : UnitLink::serial(link.toString().toStdString(), why);
        if (!l) return fail(where + QLatin1Char('.') + key, QString::fromStdString(why));
        // Two units on one device would each change the other's current output between its
        // exchanges, and show routes the device never had.
        for (const UnitConfig& other : setup.units)
            if (other.link.name() == l->name())
                return fail(where + QLatin1Char('.') + key, QStringLiteral("\"%1\" is unit \"%2\"'s link already")
                                                                .arg(QString::fromStdString(l->name()), QString::fromStdString(other.id)));
        const QJsonValue name = u.value(QLatin1String("name"));
        if (!name.isUndefined() && !name.isString()) return fail(where + QStringLiteral(".name"), QStringLiteral("not a string"));
        std::optional<ListenAddress> protocol;
        if (u.contains(QLatin1String("protocol_listen"))) {
            const QJsonValue p = u.value(QLatin1String("protocol_listen"));
            protocol = parse_listen_address(p.toString());
            if (!p.isString() || !protocol)
                return fail(where + QStringLiteral(".protocol_listen"), QStringLiteral("takes \"ADDR:PORT\" (an IP address)"));
        }
        std::vector<std::string> refuse;
        if (u.contains(QLatin1String("protocol_refuse"))) {
            const QJsonValue r = u.value(QLatin1String("protocol_refuse"));
            if (!r.isArray()) return fail(where + QStringLiteral(".protocol_refuse"), QStringLiteral("a list of command codes, such as [\"RST\"]"));
            const QJsonArray codes = r.toArray();
            for (int k = 0; k < codes.size(); ++k) {
                const QString place = where + QStringLiteral(".protocol_refuse[%1]").arg(k);
                if (!codes[k].isString() || !is_command_code(codes[k].toString()))
                    return fail(place, QStringLiteral("not a command code of the device (three capitals, such as RST)"));
                refuse.push_back(codes[k].toString().toStdString());
            }
        }
        UnitConfig config{id.toStdString(), (name.isString() ? name.toString() : id).toStdString(), *l, protocol, refuse, {}, {}};
        for (const auto& [key, keys, names] : {std::tuple{"inputs", QStringList{"1", "2", "3", "4"}, &config.input_names},
                                               std::tuple{"outputs", QStringList{"A", "B", "C", "D"}, &config.output_names}}) {
            if (!u.contains(QLatin1String(key))) continue;
            const QString at = where + QLatin1Char('.') + QLatin1String(key);
            const QJsonValue v = u.value(QLatin1String(key));
            if (!v.isObject()) return fail(at, QStringLiteral("an object such as {\"%1\": \"Lectern PC\"}").arg(keys.first()));
            const QJsonObject o = v.toObject();
            for (auto n = o.begin(); n != o.end(); ++n) {
                const int index = int(keys.indexOf(n.key()));
                if (index < 0) return fail(at + QLatin1Char('.') + n.key(), QStringLiteral("unknown key (%1)").arg(keys.join(QStringLiteral(", "))));
                const QString text = n.value().toString();
                const bool printable = std::all_of(text.begin(), text.end(), [](QChar c) { return c.isPrint(); });
                if (!n.value().isString() || text.trimmed().isEmpty() || text.size() > kMaxPortName || !printable)
                    return fail(at + QLatin1Char('.') + n.key(), QStringLiteral("a name of 1 to %1 printable characters").arg(kMaxPortName));
                (*names)[std::size_t(index)] = text.toStdString();
            }
        }
        setup.units.push_back(config);
    }
    return setup;
}

bool apply_protocol_listen(const HubOptions& options, UnitsSetup& setup, QString& error)
{
    for (const auto& entry : options.protocol_listen) {
        const std::string& id = entry.first; // a name clang can capture (a structured binding it cannot)
        const ListenAddress& where = entry.second;
        auto unit = std::find_if(setup.units.begin(), setup.units.end(), [&](const UnitConfig& u) { return u.id == id; });
        if (unit == setup.units.end()) {
            error = QStringLiteral("--protocol-listen: no unit \"%1\"").arg(QString::fromStdString(id));
            return false;
        }
        unit->protocol_listen = where;
    }
    return true;
}

std::optional<UnitsSetup> default_units(const std::string& program_dir, QString& error)
{
    std::string why;
    const std::optional<UnitLink> link = UnitLink::from_settings(program_dir, why);
    if (!link) {
        error = QString::fromStdString(why);
        return std::nullopt;
    }
    UnitsSetup setup;
    setup.units.push_back({"default", "default", *link, std::nullopt, {}, {}});
    return setup;
}

// The first folder on the way to `path` that is a symbolic link; empty when there is none.
static QString linked_folder(const QString& path)
{
    const QString absolute = QFileInfo(path).absolutePath();
    QString at;
    for (const QString& part : absolute.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        at += QLatin1Char('/') + part;
        struct stat st {};
        if (::lstat(QFile::encodeName(at).constData(), &st) == 0 && S_ISLNK(st.st_mode)) return at;
    }
    return {};
}

// Reads a file that must stay private to this user: reached through no symbolic link (itself or a
// folder above), a regular file of the user's own that nobody else may read or change; at most
// `max` + 1 bytes, so that the caller can tell one too large. `remedy` ends the reasons a user can
// mend by removing the file. `missing` says there is no such file (and nothing else is wrong).
std::optional<QByteArray> read_private_file(const QString& path, qint64 max, const QString& remedy,
                                                   bool& missing, QString& why)
{
    missing = false;
    const QString then = remedy.isEmpty() ? QString() : QStringLiteral("; ") + remedy;
    if (const QString link = linked_folder(path); !link.isEmpty()) {
        why = QStringLiteral("lies in a folder reached through a symbolic link (%1); not followed").arg(link);
        return std::nullopt;
    }
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        missing = errno == ENOENT;
        why = errno == ELOOP ? QStringLiteral("is a symbolic link; not followed")
                             : QStringLiteral("cannot be read: ") + QString::fromLocal8Bit(std::strerror(errno));
        return std::nullopt;
    }
    struct stat st {};
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    QByteArray bytes(int(max) + 1, Qt::Uninitialized);
    const ssize_t n = regular ? ::read(fd, bytes.data(), size_t(bytes.size())) : -1;
    ::close(fd);
    if (!regular) why = QStringLiteral("not a regular file") + then;
    // A file another user planted, or one others may read, gives the secret away.
    else if (st.st_uid != ::geteuid()) why = QStringLiteral("belongs to another user") + then;
    else if ((st.st_mode & 077) != 0)
        why = QStringLiteral("others may read or change it (chmod 600 it%1)")
                  .arg(remedy.isEmpty() ? QString() : QStringLiteral(", or ") + remedy);
    else if (n < 0) why = QStringLiteral("cannot be read");
    else {
        bytes.truncate(int(n));
        return bytes;
    }
    return std::nullopt;
}

std::optional<QByteArray> load_or_make_token(const QString& path, bool& made, QString& error)
{
    made = false;
    const QByteArray name = QFile::encodeName(path);
    auto fail = [&](const QString& why) -> std::optional<QByteArray> {
        error = path + QStringLiteral(": ") + why;
        return std::nullopt;
    };
    // Never through a link, here or in a folder above: whoever could place one would choose which
    // file's text is the token.
    bool missing = false;
    QString why;
    if (const auto bytes = read_private_file(path, kMaxTokenChars + 1, QStringLiteral("remove it to make a new token"),
                                             missing, why)) {
        const QByteArray token = bytes->trimmed();
        if (token.size() > kMaxTokenChars)
            return fail(QStringLiteral("the token is longer than %1 characters").arg(kMaxTokenChars));
        if (token.size() < 16)
            return fail(QStringLiteral("holds no token (16 characters or more); remove it to make a new one"));
        for (char c : token)
            if (c <= ' ' || c > '~') return fail(QStringLiteral("the token holds a character other than printable ASCII"));
        return token;
    }
    if (!missing) return fail(why);
    QByteArray raw(32, Qt::Uninitialized);
    QRandomGenerator::system()->generate(reinterpret_cast<quint32*>(raw.data()),
                                         reinterpret_cast<quint32*>(raw.data() + raw.size()));
    const QByteArray token = raw.toHex() + "\n";
    // Made with owner-only permissions from the start, and only where nothing stands yet.
    const int out = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (out < 0) return fail(QStringLiteral("cannot be written: ") + QString::fromLocal8Bit(std::strerror(errno)));
    const bool written = ::write(out, token.constData(), size_t(token.size())) == token.size() && ::fsync(out) == 0;
    ::close(out);
    if (!written) return fail(QStringLiteral("cannot be written"));
    made = true;
    return token.trimmed();
}

bool apply_tls_files(HubOptions& options, const UnitsSetup& setup, QString& error)
{
    Q_UNUSED(error);
    if (!options.tls_cert.isEmpty()) return true;
    options.tls_cert = setup.tls_cert;
    options.tls_key = setup.tls_key;
    return true;
}

std::optional<TlsPair> read_tls_pair(const QString& cert_path, const QString& key_path, QString& error)
{
    constexpr qint64 kMaxPem = 1024 * 1024;
    TlsPair pair;
    QFile cert(cert_path);
    if (!cert.open(QIODevice::ReadOnly)) {
        error = cert_path + QStringLiteral(": cannot be read: ") + cert.errorString();
        return std::nullopt;
    }
    pair.cert = cert.read(kMaxPem + 1);
    if (pair.cert.size() > kMaxPem || !pair.cert.contains("-----BEGIN CERTIFICATE-----")) {
        error = cert_path + QStringLiteral(": not a PEM certificate (-----BEGIN CERTIFICATE-----)");
        return std::nullopt;
    }
    auto fail = [&](const QString& why) -> std::optional<TlsPair> {
        error = key_path + QStringLiteral(": ") + why;
        return std::nullopt;
    };
    // The key is kept as the token is: whoever could read or replace it could be this hub.
    bool missing = false;
    QString why;
    const auto read = read_private_file(key_path, kMaxPem, {}, missing, why);
    if (!read) return fail(why);
    const QByteArray key = *read;
    if (key.size() > kMaxPem) return fail(QStringLiteral("cannot be read, or is larger than 1 MiB"));
    if (!key.contains("PRIVATE KEY-----")) return fail(QStringLiteral("not a PEM private key"));
    pair.key = key;
    return pair;
}

HostRules::HostRules(const HubOptions& options, quint16 port) : port_(port), tls_(!options.tls_cert.isEmpty())
{
    names_ << QStringLiteral("localhost") << QStringLiteral("127.0.0.1") << QStringLiteral("[::1]");
    const QHostAddress a = options.listen_address;
    auto name = [](const QHostAddress& x) {
        return x.protocol() == QAbstractSocket::IPv6Protocol ? QLatin1Char('[') + x.toString() + QLatin1Char(']')
                                                             : x.toString();
    };
    if (a != QHostAddress::Any && a != QHostAddress::AnyIPv4 && a != QHostAddress::AnyIPv6) names_ << name(a);
    else
        // Listening on all of them, the hub is opened by this machine's own addresses (a phone on
        // the LAN); an address, unlike a name, cannot be rebound to another site.
        for (const QHostAddress& own : QNetworkInterface::allAddresses()) names_ << name(own).toLower();
    for (const QString& h : options.allow_hosts) allowed_names_ << h.toLower();
}

bool HostRules::allowed(const QByteArray& host_header) const
{
    const auto parts = split_host_port(QString::fromLatin1(host_header).trimmed().toLower().toStdString());
    if (!parts || parts->host.empty()) return false;
    const QString host = QString::fromStdString(parts->host);
    const bool has_port = parts->port.has_value();
    const QString port = QString::fromStdString(parts->port.value_or(std::string()));
    // A name given with --allow-host may be reached through a proxy (its port 443, or none) or
    // directly on the hub's port.
    if (allowed_names_.contains(host)) return !has_port || port == QLatin1String("443") || port == QString::number(port_);
    // Without a port the browser meant port 80 (443 under TLS); only a hub on that port is that.
    if (!names_.contains(host)) return false;
    return has_port ? port == QString::number(port_) : port_ == (tls_ ? 443 : 80);
}

bool HostRules::own_origin(const QByteArray& origin) const
{
    const QByteArray https = "https://";
    if (origin.startsWith(https) && tls_) return allowed(origin.mid(https.size()));
    if (origin.startsWith(https)) {
        // Behind a TLS proxy the page's origin is the proxy's: the name without a port.
        const QString host = QString::fromLatin1(origin.mid(https.size())).toLower();
        return allowed_names_.contains(host) || (allowed_names_.contains(host.section(QLatin1Char(':'), 0, 0))
                                                 && host.section(QLatin1Char(':'), 1) == QLatin1String("443"));
    }
    const QByteArray http = "http://";
    if (!origin.startsWith(http)) return false;
    const QByteArray host = origin.mid(http.size());
    // Plain HTTP reaches the hub itself, so its own port: a bare allowed name would be port 80.
    const auto parts = split_host_port(host.toStdString());
    if (!parts) return false;
    if (allowed_names_.contains(QString::fromStdString(parts->host).toLower()))
        return parts->port ? *parts->port == std::to_string(port_) : port_ == 80;
    return allowed(host);
}

} // namespace tavrion::hub
