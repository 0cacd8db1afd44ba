// The hub's log: every line with a level and an area, timed to the millisecond when run by hand,
// with journald's level prefixes and no time of its own under systemd.
#pragma once

#include <QDateTime>
#include <QLoggingCategory>
#include <QString>

#include <optional>

namespace tavrion::hub {

Q_DECLARE_LOGGING_CATEGORY(lcHttp)
Q_DECLARE_LOGGING_CATEGORY(lcUnit)
Q_DECLARE_LOGGING_CATEGORY(lcPort)
Q_DECLARE_LOGGING_CATEGORY(lcMqtt)
Q_DECLARE_LOGGING_CATEGORY(lcAudit)

namespace hub_log {

// syslog's order, most severe first; the number is the journal's priority less 3.
enum class Level { error, warning, notice, info, debug };
enum class Area { http, unit, port, mqtt, audit };
enum class Mode { by_hand, journal };

// "error", "warning", "notice", "info", "debug"; nothing for another word.
std::optional<Level> level_named(const QString& name);
QString level_name(Level level);
// Lines below `level` are left out (info unless set).
void set_threshold(Level level);
bool enabled(Level level, Area area);

// Installs the message handler, so that Qt's own messages become lines of the same log; the mode
// follows JOURNAL_STREAM.
void install();
// Journal when JOURNAL_STREAM names the stream that standard error is (sd-daemon(3)): a program
// started from a service inherits the variable, but not necessarily the stream.
Mode mode_from_environment();

// One line per line of `text`, each with the prefix of `mode`.
QByteArray format(Level level, const QString& area, const QString& text, Mode mode, const QDateTime& now);

void write(Level level, Area area, const QString& text);
inline void error(Area area, const QString& text) { write(Level::error, area, text); }
inline void warning(Area area, const QString& text) { write(Level::warning, area, text); }
inline void notice(Area area, const QString& text) { write(Level::notice, area, text); }
inline void info(Area area, const QString& text) { write(Level::info, area, text); }
inline void debug(Area area, const QString& text) { write(Level::debug, area, text); }

// A line about one client (refused, dropped), at info. A crowd of clients could write such lines
// without end: past 20 in 10 s in one area they are counted, and the next line let through says
// how many were left out.
void about_client(Area area, const QString& text);

// "3.2 s", "4 min 10 s", "2 h 5 min": how long something lasted, for a reader.
QString duration_text(qint64 ms);

// A unit's link as the log tells it: each change once, with its reason, and on the way back how
// long the unit was out. Called with every state the unit publishes; repeats say nothing.
class LinkLog {
public:
    explicit LinkLog(QString unit_id) : unit_(std::move(unit_id)) {}
    // "connecting", "up", "down" or "silent"; `problem` is why, when there is a why.
    void changed(const QString& state, const QString& problem, qint64 now_ms);
    // The device restarts (power on, factory reset): it is out until its link is up again.
    void restarting(qint64 now_ms);

private:
    QString unit_;
    QString state_;           // empty before the first
    QString problem_;
    QString warned_;          // the reason of the outage's last warning
    qint64 out_since_ = -1;   // not up since; -1 while up
    bool restarting_ = false;
};

} // namespace hub_log

} // namespace tavrion::hub
