// `tavrion-hub user add|list|remove`: the named sign-ins managed from the command line.
#pragma once

#include <QString>
#include <QStringList>

namespace tavrion::hub {

// Runs the command (its words after "user", the hub's own options allowed among them) and
// returns the exit status: 0 done, 2 a usage error or a file that cannot be used (nothing changed).
int user_command(const QStringList& args, const QString& program_dir);

} // namespace tavrion::hub
