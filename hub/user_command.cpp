// tavrion-hub user add NAME --role ROLE, user list, user remove NAME: the sign-ins file changed
// whole or not at all, the new token shown once as its sign-in address and QR code.
#include "hub/user_command.h"

#include "hub/users.h"

#include <QNetworkInterface>

#include <algorithm>

#include <cstdio>
#include <unistd.h>

namespace tavrion::hub {

namespace {

void print(FILE* to, const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), to);
    std::fflush(to);
}

int usage(const QString& why)
{
    print(stderr, QStringLiteral("tavrion-hub user: %1\nUsage: tavrion-hub user add NAME --role viewer|operator|admin\n"
                                 "       tavrion-hub user list\n       tavrion-hub user remove NAME\n"
                                 "(with --users FILE or --token-file FILE where the hub is given them; add also takes "
                                 "--listen, --allow-host and --units for the address it prints)\n").arg(why));
    return 2;
}

int fail(const QString& why)
{
    print(stderr, QStringLiteral("tavrion-hub: %1\n").arg(why));
    return 2;
}

} // namespace

int user_command(const QStringList& args, const QString& program_dir)
{
    QStringList words, hub_args;
    QString role_text;
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--role")) {
            if (i + 1 >= args.size()) return usage(QStringLiteral("--role needs a value"));
            role_text = args[++i];
        } else if (a.startsWith(QLatin1String("--role="))) {
            role_text = a.mid(7);
        } else if (a.startsWith(QLatin1String("--"))) {
            hub_args << a;
            const bool flag = a == QLatin1String("--show-url") || a == QLatin1String("--metrics-open") || a == QLatin1String("--help");
            if (!flag && !a.contains(QLatin1Char('=')) && i + 1 < args.size() && !args[i + 1].startsWith(QLatin1String("--")))
                hub_args << args[++i];
        } else {
            words << a;
        }
    }
    QString error;
    auto options = parse_options(hub_args, error);
    if (!options) return usage(error);
    const QString verb = words.value(0);
    const QString path = sign_ins_file_path(*options, program_dir);
    auto sign_ins = read_sign_ins(path, error);
    if (!sign_ins) return fail(error);
    auto named = [&](const QString& name) {
        return std::find_if(sign_ins->begin(), sign_ins->end(), [&](const SignIn& s) { return s.name == name; });
    };

    if (verb == QLatin1String("list") && words.size() == 1 && role_text.isEmpty()) {
        print(stdout, QStringLiteral("%1 admin (the token file %2)\n").arg(kAdminName, token_file_path(*options, program_dir)));
        for (const SignIn& s : *sign_ins) print(stdout, QStringLiteral("%1 %2\n").arg(s.name, role_name(s.role)));
        return 0;
    }
    if (verb == QLatin1String("remove") && words.size() == 2 && role_text.isEmpty()) {
        const QString name = words[1];
        if (name == kAdminName) return fail(QStringLiteral("\"admin\" is the token file's sign-in; remove the token file to make a new token"));
        const auto it = named(name);
        if (it == sign_ins->end()) return fail(QStringLiteral("%1: no sign-in \"%2\"").arg(path, name));
        sign_ins->erase(it);
        if (!write_sign_ins(path, *sign_ins, error)) return fail(error);
        print(stdout, QStringLiteral("removed \"%1\"; a running hub refuses its token at once\n").arg(name));
        return 0;
    }
    if (verb != QLatin1String("add") || words.size() != 2) return usage(QStringLiteral("say add NAME, list or remove NAME"));
    const QString name = words[1];
    if (!valid_sign_in_name(name)) return usage(QStringLiteral("a name is 1 to 32 letters, digits, '.', '-' or '_'"));
    if (name == kAdminName) return fail(QStringLiteral("\"admin\" is the token file's sign-in"));
    if (role_text.isEmpty()) return usage(QStringLiteral("add needs --role viewer, operator or admin"));
    const auto role = role_from_name(role_text);
    if (!role) return usage(QStringLiteral("no role \"%1\" (viewer, operator or admin)").arg(role_text));
    if (named(name) != sign_ins->end())
        return fail(QStringLiteral("\"%1\" signs in already; remove it first to give it a new token").arg(name));
    // The address printed carries the port and scheme the hub serves, as --show-url's does.
    HubOptions given = *options;
    if (!options->units_file.isEmpty()) {
        const auto setup = read_units_file(options->units_file, error);
        if (!setup) return fail(error);
        apply_tls_files(given, *setup, error);
    }
    const QByteArray token = new_token();
    sign_ins->push_back({name, *role, token_hash(token)});
    if (!write_sign_ins(path, *sign_ins, error)) return fail(error);
    print(stdout, QStringLiteral("added \"%1\" as %2; its address, shown this once (only a hash of its token is kept):\n")
                      .arg(name, role_name(*role)));
    print(stdout, show_url_text(given, token, QNetworkInterface::allAddresses(), ::isatty(STDOUT_FILENO)));
    return 0;
}

} // namespace tavrion::hub
