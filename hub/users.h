// The named sign-ins of tavrion-hub: the roles, the sign-ins file (each sign-in's name, role and
// only a hash of its token), and which role a command needs.
#pragma once

#include "hub/hub_config.h"
#include "hub/sign_in.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <string>
#include <vector>

namespace tavrion::hub {

// The name the token file's sign-in goes by; no named sign-in may take it.
inline const QString kAdminName = QStringLiteral("admin");

QString role_name(Role role);
std::optional<Role> role_from_name(const QString& name);

// The least role that may send this command line (a checked one); status and version are reads.
Role role_for_command(const std::string& line);
// The least role that may send all of them.
Role role_for_commands(const std::vector<std::string>& lines);

struct SignIn {
    QString name;
    Role role = Role::Viewer;
    QByteArray hash; // SHA-256 of the token, in lower-case hex
};

// The token file (--token-file, or tavrion-hub.token beside the program) and the sign-ins file
// (--users, or tavrion-hub.users beside the token file).
QString token_file_path(const HubOptions& options, const QString& program_dir);
QString sign_ins_file_path(const HubOptions& options, const QString& program_dir);

QByteArray token_hash(const QByteArray& token);
// A new random token (64 hex digits), as the token file's.
QByteArray new_token();
// 1 to 32 letters, digits, '.', '-' or '_'.
bool valid_sign_in_name(const QString& name);

// The sign-ins file: "NAME ROLE SHA256" a line, '#' starting a comment. A file that is not there
// holds no sign-ins. Nothing, with `error` naming the file and the line, when it cannot be used
// (the token file's rules on who may read it apply).
std::optional<std::vector<SignIn>> read_sign_ins(const QString& path, QString& error);
// Written whole or not at all, owner-only; false with `error`.
bool write_sign_ins(const QString& path, const std::vector<SignIn>& sign_ins, QString& error);

// The sign-ins a hub accepts: the token file's (an administrator, "admin") and the named ones.
class SignIns {
public:
    SignIns(QByteArray admin_token, std::vector<SignIn> named);
    // Who this token signs in, if anyone; the time taken says nothing of the tokens.
    std::optional<Caller> identify(const QByteArray& token) const;
    void replace_named(std::vector<SignIn> named) { named_ = std::move(named); }

private:
    QByteArray admin_hash_;
    std::vector<SignIn> named_;
};

} // namespace tavrion::hub
