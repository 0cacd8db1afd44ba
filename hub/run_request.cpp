// run_job: the checks every run request passes before a unit hears of it.
#include "hub/run_request.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace tavrion::hub {

std::optional<Job> run_job(const QByteArray& body, const ResolutionNames& names, QString& error)
{
    QJsonParseError pe;
    const QJsonDocument doc = QJsonDocument::fromJson(body, &pe);
    if (pe.error != QJsonParseError::NoError || !doc.isObject()) {
        error = QStringLiteral("the body is not a JSON object");
        return std::nullopt;
    }
    Job job;
    const QJsonObject o = doc.object();
    const QJsonValue commands = o.value(QLatin1String("commands"));
    if (!commands.isArray() || commands.toArray().isEmpty() || commands.toArray().size() > kMaxCommands) {
        error = QStringLiteral("\"commands\" must list 1 to %1 commands").arg(kMaxCommands);
        return std::nullopt;
    }
    for (const QJsonValue& c : commands.toArray()) {
        if (!c.isString()) {
            error = QStringLiteral("every command is a string");
            return std::nullopt;
        }
        job.commands.push_back(c.toString().toStdString());
    }
    const std::string why = check_commands(job.commands, names);
    if (!why.empty()) {
        error = QString::fromStdString(why);
        return std::nullopt;
    }
    if (o.contains(QLatin1String("if_version"))) {
        const double v = o.value(QLatin1String("if_version")).toDouble(-1);
        if (v < 0 || v != double(quint64(v))) {
            error = QStringLiteral("\"if_version\" is a version number");
            return std::nullopt;
        }
        job.if_version = quint64(v);
    }
    return job;
}

} // namespace tavrion::hub
