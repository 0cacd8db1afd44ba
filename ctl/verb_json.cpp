// --json for the verbs that change something, and for diff.
#include "ctl/verb_json.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

namespace tavrion::ctl {

using namespace verbs;

std::string verb_json(const Verb& verb, const VerbResult& result, const std::vector<std::string>* resolutions)
{
    QJsonObject root;
    root[QStringLiteral("verb")] = QString::fromStdString(verb.text);
    root[QStringLiteral("ok")] = result.status == 0;
    root[QStringLiteral("exit")] = result.status;

    // Differences as data where the verb looks for them; everything else as lines of results.
    const bool compares = verb.kind == VerbKind::Diff || verb.kind == VerbKind::Restore;
    QJsonArray results, differences, messages;
    for (const Report& r : result.reports) {
        if (compares && r.kind == Report::Kind::Difference) {
            QJsonObject d;
            d[QStringLiteral("setting")] = QString::fromStdString(r.difference.setting);
            d[QStringLiteral("file")] = QString::fromStdString(r.difference.file);
            d[QStringLiteral("device")] = QString::fromStdString(r.difference.device);
            differences.append(d);
            continue;
        }
        const QString text = QString::fromStdString(report_text(r, resolutions));
        for (const QString& line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) results.append(line);
    }
    for (const std::string& m : result.messages) messages.append(QString::fromStdString(m));
    root[QStringLiteral("result")] = results;
    if (compares) root[QStringLiteral("differences")] = differences;
    root[QStringLiteral("errors")] = messages;

    // The device as its answers reported it; null where nothing reported it.
    QJsonObject device =
        QJsonDocument::fromJson(QByteArray::fromStdString(status_json(result.state, resolutions))).object();
    device.remove(QStringLiteral("format"));
    device.remove(QStringLiteral("device"));
    root[QStringLiteral("state")] = device;
    return QJsonDocument(root).toJson(QJsonDocument::Indented).toStdString();
}

} // namespace tavrion::ctl
