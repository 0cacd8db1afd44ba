// What tavrion-hub is started with: its options, the units file, the access token kept in a file
// of its own, and which Host names a request may carry.
#pragma once

#include "hub/hub_log.h"
#include "hub/mqtt_options.h"
#include "hub/unit_worker.h"

#include <QByteArray>
#include <QHostAddress>
#include <QString>
#include <QStringList>

#include <optional>
#include <string>
#include <vector>

namespace tavrion::hub {

constexpr quint16 kDefaultPort = 7720;
constexpr int kDefaultPollSeconds = 10;

struct HubOptions {
    QString units_file;  // empty: one unit, "default", on tavrion.ini's link
    QHostAddress listen_address = QHostAddress::LocalHost;
    quint16 listen_port = kDefaultPort;
    QString listen_text = QStringLiteral("127.0.0.1:7720"); // as given, for the URL
    QString token_file;  // empty: tavrion-hub.token beside the program
    QString audit_file;  // empty: tavrion-hub-audit.jsonl beside the token file
    QString users_file;  // empty: tavrion-hub.users beside the token file
    QStringList allow_hosts;
    std::vector<std::pair<std::string, ListenAddress>> protocol_listen; // unit id, where
    MqttOptions mqtt;
    bool metrics_open = false; // GET /metrics without a token
    QString tls_cert;    // HTTPS with this certificate (PEM, a chain allowed) and key; both or neither
    QString tls_key;
    hub_log::Level log_level = hub_log::Level::info;
    bool show_url = false;
    bool help = false;
};

// "ADDR:PORT", "[v6]:PORT" or "PORT" (on 127.0.0.1); nothing when it is not one.
std::optional<ListenAddress> parse_listen_address(const QString& text);

// Empty with `error` set on a usage error.
std::optional<HubOptions> parse_options(const QStringList& args, QString& error);
QString usage_text();

struct UnitsSetup {
    std::vector<UnitConfig> units;
    int poll_seconds = kDefaultPollSeconds;
    MqttOptions mqtt;
    QString tls_cert, tls_key; // "tls_cert" and "tls_key", relative to the units file's folder
};

// The units file's certificate and key where the command line names none; false, with `error`,
// when only one of the two is given.
bool apply_tls_files(HubOptions& options, const UnitsSetup& setup, QString& error);

struct TlsPair {
    QByteArray cert, key;
};
// The certificate and key in PEM; the key file follows the token file's rules. Empty, with
// `error` naming the file and why, when either cannot be used.
std::optional<TlsPair> read_tls_pair(const QString& cert_path, const QString& key_path, QString& error);

// The units file; on an error, nothing, with `error` naming the file and the place.
std::optional<UnitsSetup> read_units_file(const QString& path, QString& error);
// No units file: the unit "default" on the link of tavrion.ini beside the program.
std::optional<UnitsSetup> default_units(const std::string& program_dir, QString& error);
// The command line's --protocol-listen on the units it names; false, with `error`, for an unknown one.
bool apply_protocol_listen(const HubOptions& options, UnitsSetup& setup, QString& error);

// The access token: read from `path`, or made there (owner-only permissions) when the file is not
// there yet. `made` tells which. Empty, with `error`, when neither works, and when the file is a
// link or lies in a linked folder, is not a regular file, another user's, open to group or others,
// or its token is over 256 characters.
std::optional<QByteArray> load_or_make_token(const QString& path, bool& made, QString& error);
// Reads a file that must stay private to this user (the token file's rules: no symbolic link on
// the way, a regular file of this user's that nobody else may read or change); at most `max` + 1
// bytes. `remedy` ends the reasons a user can mend by removing the file; `missing` says there is
// no such file and nothing else is wrong.
std::optional<QByteArray> read_private_file(const QString& path, qint64 max, const QString& remedy, bool& missing,
                                            QString& why);

// Host header values a request may carry: the listening address and loopback names with the hub's
// port, and the names allowed on the command line also as a TLS proxy forwards them (no port, or
// 443).
class HostRules {
public:
    HostRules(const HubOptions& options, quint16 port);
    bool allowed(const QByteArray& host_header) const;
    // An Origin header of this hub's own pages ("http://", or "https://" under TLS, + an allowed host).
    bool own_origin(const QByteArray& origin) const;

private:
    QStringList names_;         // with the hub's port only
    QStringList allowed_names_; // --allow-host
    quint16 port_;
    bool tls_ = false;
};

} // namespace tavrion::hub
