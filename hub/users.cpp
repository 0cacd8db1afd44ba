// Roles, the sign-ins file and the token check of tavrion-hub's named sign-ins.
#include "hub/users.h"

#include "hub/hub_config.h"
#include "verbs/grammar.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSaveFile>

namespace tavrion::hub {

namespace {

constexpr qint64 kMaxSignInsBytes = 1024 * 1024;

bool same_bytes(const QByteArray& a, const QByteArray& b)
{
    if (a.size() != b.size() || a.isEmpty()) return false;
    unsigned char diff = 0;
    for (int i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

} // namespace

QString role_name(Role role)
{
    switch (role) {
    case Role::Viewer: return QStringLiteral("viewer");
    case Role::Operator: return QStringLiteral("operator");
    case Role::Admin: return QStringLiteral("admin");
    }
    return {};
}

std::optional<Role> role_from_name(const QString& name)
{
    for (Role r : {Role::Viewer, Role::Operator, Role::Admin})
        if (role_name(r) == name) return r;
    return std::nullopt;
}

Role role_for_command(const std::string& line)
{
    std::vector<std::string> words;
    for (const std::string& w : verbs::split_words(line))
        if (w.size() < 2 || w[0] != '-') words.push_back(verbs::lower(w));
    const std::string verb = words.empty() ? std::string() : words[0];
    const std::string arg = words.size() > 1 ? words[1] : std::string();
    if (verb == "status" || verb == "version") return Role::Viewer;
    if (verb == "picture") return arg == "reset" ? Role::Admin : Role::Operator;
    if (verb == "preset") return arg == "recall" ? Role::Operator : Role::Admin;
    static const char* const running[] = {"route", "mode", "power", "lock", "mute", "dual-audio", "bezel", "resolution"};
    for (const char* v : running)
        if (verb == v) return Role::Operator;
    // EDID, menu keys, factory reset, raw codes, and anything not named above.
    return Role::Admin;
}

Role role_for_commands(const std::vector<std::string>& lines)
{
    Role need = Role::Viewer;
    for (const std::string& l : lines) need = std::max(need, role_for_command(l));
    return need;
}

QString token_file_path(const HubOptions& options, const QString& program_dir)
{
    return options.token_file.isEmpty() ? program_dir + QStringLiteral("/tavrion-hub.token") : options.token_file;
}

QString sign_ins_file_path(const HubOptions& options, const QString& program_dir)
{
    if (!options.users_file.isEmpty()) return options.users_file;
    return QFileInfo(token_file_path(options, program_dir)).absoluteDir().filePath(QStringLiteral("tavrion-hub.users"));
}

QByteArray token_hash(const QByteArray& token)
{
    return QCryptographicHash::hash(token, QCryptographicHash::Sha256).toHex();
}

QByteArray new_token()
{
    QByteArray raw(32, Qt::Uninitialized);
    QRandomGenerator::system()->generate(reinterpret_cast<quint32*>(raw.data()),
                                         reinterpret_cast<quint32*>(raw.data() + raw.size()));
    return raw.toHex();
}

bool valid_sign_in_name(const QString& name)
{
    static const QRegularExpression form(QStringLiteral("^[A-Za-z0-9._-]{1,32}$"));
    return form.match(name).hasMatch();
}

std::optional<std::vector<SignIn>> read_sign_ins(const QString& path, QString& error)
{
    bool missing = false;
    QString why;
    const auto bytes = read_private_file(path, kMaxSignInsBytes, {}, missing, why);
    if (!bytes) {
        if (missing) return std::vector<SignIn>{};
        error = path + QStringLiteral(": ") + why;
        return std::nullopt;
    }
    if (bytes->size() > kMaxSignInsBytes) {
        error = path + QStringLiteral(": larger than 1 MiB");
        return std::nullopt;
    }
    static const QRegularExpression hash_form(QStringLiteral("^[0-9a-f]{64}$"));
    std::vector<SignIn> out;
    const QList<QByteArray> lines = bytes->split('\n');
    for (int i = 0; i < lines.size(); ++i) {
        const QString line = QString::fromUtf8(lines[i]).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) continue;
        auto fail = [&](const QString& what) {
            error = QStringLiteral("%1: line %2: %3").arg(path).arg(i + 1).arg(what);
            return std::nullopt;
        };
        const QStringList f = line.split(QRegularExpression(QStringLiteral("\\s+")));
        if (f.size() != 3) return fail(QStringLiteral("takes NAME ROLE SHA256, three words"));
        if (!valid_sign_in_name(f[0]) || f[0] == kAdminName)
            return fail(QStringLiteral("the name is 1 to 32 letters, digits, '.', '-' or '_', and not \"admin\""));
        const auto role = role_from_name(f[1]);
        if (!role) return fail(QStringLiteral("no role \"%1\" (viewer, operator or admin)").arg(f[1]));
        if (!hash_form.match(f[2]).hasMatch()) return fail(QStringLiteral("the hash is 64 lower-case hex digits"));
        for (const SignIn& s : out)
            if (s.name == f[0]) return fail(QStringLiteral("\"%1\" is named twice").arg(f[0]));
        out.push_back({f[0], *role, f[2].toLatin1()});
    }
    return out;
}

bool write_sign_ins(const QString& path, const std::vector<SignIn>& sign_ins, QString& error)
{
    QByteArray text = "# tavrion-hub's named sign-ins: NAME ROLE SHA-256 of the token (tavrion-hub user ...)\n";
    for (const SignIn& s : sign_ins) text += s.name.toUtf8() + ' ' + role_name(s.role).toLatin1() + ' ' + s.hash + '\n';
    QSaveFile f(path);
    // Owner-only before any byte is in it; the rename then puts it in place whole.
    if (!f.open(QIODevice::WriteOnly) || !f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)
        || f.write(text) != text.size() || !f.commit()) {
        error = path + QStringLiteral(": cannot be written: ") + f.errorString();
        return false;
    }
    return true;
}

SignIns::SignIns(QByteArray admin_token, std::vector<SignIn> named)
    : admin_hash_(token_hash(admin_token)), named_(std::move(named))
{
}

std::optional<Caller> SignIns::identify(const QByteArray& token) const
{
    if (token.isEmpty()) return std::nullopt;
    // Hashes of equal length are compared in full, each of them, so no token's place shows.
    const QByteArray given = token_hash(token);
    std::optional<Caller> found;
    if (same_bytes(given, admin_hash_)) found = Caller{kAdminName, Role::Admin, {}};
    for (const SignIn& s : named_)
        if (same_bytes(given, s.hash) && !found) found = Caller{s.name, s.role, {}};
    return found;
}

} // namespace tavrion::hub
