// tavrion-hub started as a program by the tests: its units file, and the port it listens on.
#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace tavrion_test {

// Timeouts of the hubs under test, short so that no test waits a minute for them.
constexpr int kRequestMs = 1000;
constexpr int kIdleMs = 6000; // longer than opening 512 connections takes on a loaded machine

QString hub_program();
// Starts tavrion-hub on a free loopback port with `units` and `token_file` (and `more` options);
// the port, or 0. What it printed before "listening on" is consumed (and kept in `printed`).
// `wrapper` runs it (e.g. prlimit with its options).
quint16 start_hub(QProcess& hub, const QString& units, const QString& token_file, const QStringList& more = {},
                  QByteArray* printed = nullptr, const QStringList& wrapper = {});
// Writes a units file with `units`, `poll_seconds` and the keys of `more`; returns `path`.
QString write_units(const QString& path, const QJsonArray& units, int poll_seconds, const QJsonObject& more = {});

} // namespace tavrion_test
