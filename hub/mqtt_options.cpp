// The MQTT options: the broker's address, the login kept in an owner-only file, the topic prefixes.
#include "hub/mqtt_options.h"

#include "hub/users.h"

#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QUrl>

namespace tavrion::hub {

namespace {

struct Key {
    const char* option;
    const char* json;   // in the units file
    std::optional<QString> MqttOptions::*field;
    bool is_file;
};
const Key kKeys[] = {
    {"--mqtt", "url", &MqttOptions::url, false},
    {"--mqtt-credentials", "credentials", &MqttOptions::credentials, true},
    {"--mqtt-ca", "ca", &MqttOptions::ca, true},
    {"--mqtt-prefix", "prefix", &MqttOptions::prefix, false},
    {"--mqtt-discovery-prefix", "discovery_prefix", &MqttOptions::discovery_prefix, false},
    {"--mqtt-role", "role", &MqttOptions::role, false},
};

// A topic prefix: one or more levels, without wildcards or empty levels.
bool valid_prefix(const QString& p)
{
    if (p.isEmpty() || p.size() > 128 || p.contains(QLatin1Char('+')) || p.contains(QLatin1Char('#'))) return false;
    for (const QString& level : p.split(QLatin1Char('/')))
        if (level.isEmpty()) return false;
    for (const QChar c : p)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f) return false;
    return true;
}

bool read_credentials(const QString& path, MqttEndpoint& e, QString& error)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        error = path + QStringLiteral(": cannot be read: ") + f.errorString();
        return false;
    }
    // Like the access token: a password others may read is refused rather than used.
    const auto others = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther
                        | QFileDevice::WriteOther | QFileDevice::ExeOther;
    if (f.permissions() & others) {
        error = path + QStringLiteral(": others may read it; make it readable by its owner only (chmod 600)");
        return false;
    }
    const QString line = QString::fromUtf8(f.read(4096)).section(QLatin1Char('\n'), 0, 0).remove(QLatin1Char('\r'));
    const int colon = line.indexOf(QLatin1Char(':'));
    if (colon <= 0) {
        error = path + QStringLiteral(": holds no line \"user:password\"");
        return false;
    }
    e.user = line.left(colon);
    e.password = line.mid(colon + 1);
    return true;
}

} // namespace

bool is_mqtt_option(const QString& option)
{
    for (const Key& k : kKeys)
        if (option == QLatin1String(k.option)) return true;
    return false;
}

void set_mqtt_option(MqttOptions& options, const QString& option, const QString& value)
{
    for (const Key& k : kKeys)
        if (option == QLatin1String(k.option)) options.*k.field = value;
}

bool mqtt_options_from_json(const QJsonValue& value, const QString& base_dir, MqttOptions& options, QString& error)
{
    if (!value.isObject()) {
        error = QStringLiteral("not an object");
        return false;
    }
    const QJsonObject o = value.toObject();
    for (auto it = o.begin(); it != o.end(); ++it) {
        const Key* key = nullptr;
        for (const Key& k : kKeys)
            if (it.key() == QLatin1String(k.json)) key = &k;
        if (!key) {
            error = it.key() + QStringLiteral(": unknown key");
            return false;
        }
        if (!it.value().isString() || it.value().toString().isEmpty()) {
            error = it.key() + QStringLiteral(": not a string");
            return false;
        }
        const QString text = it.value().toString();
        options.*key->field = key->is_file ? QDir(base_dir).absoluteFilePath(text) : text;
    }
    return true;
}

std::optional<MqttSettings> mqtt_settings(const MqttOptions& command_line, const MqttOptions& file, QString& error)
{
    error.clear();
    MqttOptions o = file;
    for (const Key& k : kKeys)
        if (command_line.*k.field) o.*k.field = command_line.*k.field;
    if (!o.url) {
        if (o.credentials || o.ca || o.prefix || o.discovery_prefix || o.role)
            error = QStringLiteral("the MQTT options need --mqtt URL");
        return std::nullopt;
    }
    MqttSettings s;
    const QUrl url(*o.url, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("mqtt") && scheme != QLatin1String("mqtts")) || url.host().isEmpty()
        || !url.userInfo().isEmpty() || (!url.path().isEmpty() && url.path() != QLatin1String("/"))) {
        error = QStringLiteral("--mqtt takes mqtt://HOST[:PORT] or mqtts://HOST[:PORT], not \"%1\"").arg(*o.url);
        return std::nullopt;
    }
    s.endpoint.tls = scheme == QLatin1String("mqtts");
    s.endpoint.host = url.host();
    s.endpoint.port = quint16(url.port(s.endpoint.tls ? 8883 : 1883));
    if (url.port() == 0) {
        error = QStringLiteral("--mqtt: the port is 1 to 65535");
        return std::nullopt;
    }
    if (o.ca) {
        if (!s.endpoint.tls) {
            error = QStringLiteral("--mqtt-ca is for an mqtts:// broker");
            return std::nullopt;
        }
        if (!QFile::exists(*o.ca)) {
            error = *o.ca + QStringLiteral(": no such file");
            return std::nullopt;
        }
        s.endpoint.ca_file = *o.ca;
    }
    if (o.credentials && !read_credentials(*o.credentials, s.endpoint, error)) return std::nullopt;
    if (o.prefix) s.prefix = *o.prefix;
    if (o.discovery_prefix) s.discovery_prefix = *o.discovery_prefix == QLatin1String("none") ? QString() : *o.discovery_prefix;
    for (const QString& p : {s.prefix, s.discovery_prefix})
        if (!p.isEmpty() && !valid_prefix(p)) {
            error = QStringLiteral("\"%1\" is not a topic prefix (levels split by /, no + or #)").arg(p);
            return std::nullopt;
        }
    if (o.role) {
        const auto role = role_from_name(*o.role);
        if (!role) {
            error = QStringLiteral("no role \"%1\" for MQTT commands (viewer, operator or admin)").arg(*o.role);
            return std::nullopt;
        }
        s.role = *role;
    }
    if (s.prefix.isEmpty()) {
        error = QStringLiteral("--mqtt-prefix must not be empty");
        return std::nullopt;
    }
    s.endpoint.will_topic = s.prefix + QStringLiteral("/status");
    s.endpoint.will_payload = "offline";
    return s;
}

} // namespace tavrion::hub
