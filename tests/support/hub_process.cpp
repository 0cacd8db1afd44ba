// Starting tavrion-hub for the hub's tests.
#include "hub_process.h"

#include <QFile>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTest>

namespace tavrion_test {

QString hub_program() { return QStringLiteral(TAVRION_PROGRAM_DIR "/tavrion-hub"); }

quint16 start_hub(QProcess& hub, const QString& units, const QString& token_file, const QStringList& more,
                  QByteArray* printed, const QStringList& wrapper)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TAVRION_HUB_REQUEST_MS"), QString::number(kRequestMs));
    env.insert(QStringLiteral("TAVRION_HUB_IDLE_MS"), QString::number(kIdleMs));
    hub.setProcessEnvironment(env);
    const QStringList args = QStringList{"--units", units, "--listen", "127.0.0.1:0", "--token-file", token_file} + more;
    if (wrapper.isEmpty()) hub.start(hub_program(), args);
    else hub.start(wrapper.first(), wrapper.mid(1) + QStringList{hub_program()} + args);
    if (!hub.waitForStarted(10000)) return 0;
    QByteArray out;
    QTest::qWaitFor([&] {
        out += hub.readAllStandardOutput();
        return out.contains("listening on") || hub.state() == QProcess::NotRunning;
    }, 20000);
    if (printed) *printed = out;
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("127\\.0\\.0\\.1:(\\d+)/")).match(QString::fromLatin1(out));
    return m.hasMatch() ? quint16(m.captured(1).toUInt()) : 0;
}

QString write_units(const QString& path, const QJsonArray& units, int poll_seconds, const QJsonObject& more)
{
    QJsonObject root = more;
    root[QStringLiteral("poll_seconds")] = poll_seconds;
    root[QStringLiteral("units")] = units;
    QFile f(path);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(QJsonDocument(root).toJson());
    return path;
}

} // namespace tavrion_test
