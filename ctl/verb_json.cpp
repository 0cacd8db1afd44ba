// --json for the verbs that change something, and for diff.
#include "ctl/verb_json.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStringList>

namespace tavrion::ctl {

std::string verb_json(const Verb& verb, int status, const std::string& printed, const std::string& errors,
                      const std::string& state)
{
    QJsonObject root;
    root[QStringLiteral("verb")] = QString::fromStdString(verb.text);
    root[QStringLiteral("ok")] = status == 0;
    root[QStringLiteral("exit")] = status;

    // The lines of a difference ("route B: file 2, device 3") as data; the rest as results.
    static const QRegularExpression difference(QStringLiteral("^(.+): file (.+), device (.+)$"));
    QJsonArray results, differences, messages;
    for (const QString& line : QString::fromStdString(printed).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const auto m = difference.match(line);
        if (m.hasMatch() && (verb.kind == VerbKind::Diff || verb.kind == VerbKind::Restore)) {
            QJsonObject d;
            d[QStringLiteral("setting")] = m.captured(1);
            d[QStringLiteral("file")] = m.captured(2);
            d[QStringLiteral("device")] = m.captured(3);
            differences.append(d);
        } else {
            results.append(line);
        }
    }
    // Messages, without the program's name; --verbose lines stay on standard error only.
    const QString prefix = QStringLiteral("tavrion-ctl: ");
    for (const QString& line : QString::fromStdString(errors).split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        if (line.startsWith(prefix)) messages.append(line.mid(prefix.size()));
    root[QStringLiteral("result")] = results;
    if (verb.kind == VerbKind::Diff || verb.kind == VerbKind::Restore) root[QStringLiteral("differences")] = differences;
    root[QStringLiteral("errors")] = messages;

    // The device as its answers reported it; null where the verb read nothing of it.
    QJsonObject device = QJsonDocument::fromJson(QByteArray::fromStdString(state)).object();
    device.remove(QStringLiteral("format"));
    device.remove(QStringLiteral("device"));
    root[QStringLiteral("state")] = device;
    return QJsonDocument(root).toJson(QJsonDocument::Indented).toStdString();
}

} // namespace tavrion::ctl
