// The hub's log: levels, areas, and the two forms of a line (by hand, and under journald).
#include "hub/hub_log.h"

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <utility>
#include <sys/stat.h>
#include <unistd.h>

namespace tavrion::hub {

Q_LOGGING_CATEGORY(lcHttp, "tavrion.http")
Q_LOGGING_CATEGORY(lcUnit, "tavrion.unit")
Q_LOGGING_CATEGORY(lcPort, "tavrion.port")
Q_LOGGING_CATEGORY(lcMqtt, "tavrion.mqtt")
Q_LOGGING_CATEGORY(lcAudit, "tavrion.audit")

namespace hub_log {

namespace {

std::atomic<int> threshold{int(Level::info)};
std::atomic<int> mode{int(Mode::by_hand)};
std::mutex out_mutex; // lines from unit threads and the Qt thread are never interleaved

const char* const kLevelNames[] = {"error", "warning", "notice", "info", "debug"};

const QLoggingCategory& category(Area area)
{
    switch (area) {
    case Area::http: return lcHttp();
    case Area::unit: return lcUnit();
    case Area::port: return lcPort();
    case Area::mqtt: return lcMqtt();
    case Area::audit: return lcAudit();
    }
    return lcHttp();
}

// Qt has no notice: it is an info message to a category's filter.
QtMsgType qt_type(Level level)
{
    switch (level) {
    case Level::error: return QtCriticalMsg;
    case Level::warning: return QtWarningMsg;
    case Level::notice:
    case Level::info: return QtInfoMsg;
    case Level::debug: return QtDebugMsg;
    }
    return QtInfoMsg;
}

Level level_of(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg: return Level::debug;
    case QtInfoMsg: return Level::info;
    case QtWarningMsg: return Level::warning;
    case QtCriticalMsg:
    case QtFatalMsg: return Level::error;
    }
    return Level::info;
}

void put(const QByteArray& line)
{
    std::lock_guard<std::mutex> lock(out_mutex);
    qsizetype done = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(STDERR_FILENO, line.constData() + done, size_t(line.size() - done));
        if (n <= 0) return; // nowhere to complain to
        done += n;
    }
}

// Qt's own messages, and those of code that logs through the categories directly.
void handle(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    const Level level = level_of(type);
    if (int(level) <= threshold.load()) {
        QString area = QString::fromLatin1(context.category ? context.category : "default");
        if (area.startsWith(QLatin1String("tavrion."))) area = area.mid(8);
        put(format(level, area, text, Mode(mode.load()), QDateTime::currentDateTime()));
    }
    if (type == QtFatalMsg) std::abort();
}

} // namespace

std::optional<Level> level_named(const QString& name)
{
    for (int i = 0; i < 5; ++i)
        if (name == QLatin1String(kLevelNames[i])) return Level(i);
    return std::nullopt;
}

QString level_name(Level level) { return QString::fromLatin1(kLevelNames[int(level)]); }

void set_threshold(Level level) { threshold = int(level); }

bool enabled(Level level, Area area)
{
    return int(level) <= threshold.load() && category(area).isEnabled(qt_type(level));
}

Mode mode_from_environment()
{
    const QByteArray stream = qgetenv("JOURNAL_STREAM");
    const int colon = stream.indexOf(':');
    if (colon <= 0) return Mode::by_hand;
    bool dev_ok = false, ino_ok = false;
    const qulonglong dev = stream.left(colon).toULongLong(&dev_ok);
    const qulonglong ino = stream.mid(colon + 1).toULongLong(&ino_ok);
    struct stat st {};
    if (!dev_ok || !ino_ok || ::fstat(STDERR_FILENO, &st) != 0) return Mode::by_hand;
    return qulonglong(st.st_dev) == dev && qulonglong(st.st_ino) == ino ? Mode::journal : Mode::by_hand;
}

void install()
{
    mode = int(mode_from_environment());
    qInstallMessageHandler(handle);
}

QByteArray format(Level level, const QString& area, const QString& text, Mode m, const QDateTime& now)
{
    // journald reads "<N>" at the start of each line as its priority (sd-daemon(3)) and adds the time.
    const QByteArray prefix = m == Mode::journal
        ? "<" + QByteArray::number(int(level) + 3) + ">" + area.toUtf8() + ": "
        : now.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz ")).toUtf8() + kLevelNames[int(level)] + ' '
              + area.toUtf8() + ": ";
    QByteArray out;
    QString body = text;
    while (body.endsWith(QLatin1Char('\n'))) body.chop(1);
    for (const QString& line : body.split(QLatin1Char('\n'))) out += prefix + line.toUtf8() + '\n';
    return out;
}

void write(Level level, Area area, const QString& text)
{
    if (!enabled(level, area)) return;
    put(format(level, QString::fromLatin1(category(area).categoryName()).mid(8), text, Mode(mode.load()),
               QDateTime::currentDateTime()));
}

void about_client(Area area, const QString& text)
{
    constexpr int kLines = 20;
    constexpr qint64 kWindowMs = 10000;
    struct Window {
        qint64 start = 0;
        int lines = 0;
        qint64 left_out = 0;
    };
    static std::mutex mutex;
    static Window windows[5];
    if (!enabled(Level::info, area)) return;
    qint64 left_out = 0;
    {
        std::lock_guard<std::mutex> lock(mutex);
        Window& w = windows[int(area)];
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        if (now - w.start >= kWindowMs) {
            w.start = now;
            w.lines = 0;
        }
        if (++w.lines > kLines) {
            ++w.left_out;
            return;
        }
        left_out = std::exchange(w.left_out, 0);
    }
    write(Level::info, area, left_out ? text + QStringLiteral(" (%1 lines about clients left out before this one)").arg(left_out) : text);
}

QString duration_text(qint64 ms)
{
    if (ms < 60000) return QStringLiteral("%1 s").arg(double(ms) / 1000.0, 0, 'f', 1);
    const qint64 s = ms / 1000;
    if (s < 3600) return QStringLiteral("%1 min %2 s").arg(s / 60).arg(s % 60);
    return QStringLiteral("%1 h %2 min").arg(s / 3600).arg(s % 3600 / 60);
}

void LinkLog::changed(const QString& state, const QString& problem, qint64 now_ms)
{
    const bool restart_over = restarting_ && state == QLatin1String("up");
    if (state == state_ && problem == problem_ && !restart_over) return;
    const QString why = problem.isEmpty() ? QString() : QStringLiteral(": ") + problem;
    const QString unit = QStringLiteral("unit %1: ").arg(unit_);
    if (state == QLatin1String("up")) {
        if (state_ == QLatin1String("up") && !restart_over) return; // a new problem of a reading is the document's
        const QString out = out_since_ >= 0 && !state_.isEmpty()
            ? QStringLiteral(" after %1 out").arg(duration_text(now_ms - out_since_)) : QString();
        info(Area::unit, unit + QStringLiteral("link up") + out + (restart_over ? QStringLiteral(" (a restart)") : QString()));
        out_since_ = -1;
        restarting_ = false;
        warned_.clear();
    } else {
        if (out_since_ < 0) out_since_ = now_ms;
        const QString out = now_ms - out_since_ < 1000
            ? QString() : QStringLiteral(" (out for %1)").arg(duration_text(now_ms - out_since_));
        if (state == QLatin1String("connecting")) info(Area::unit, unit + QStringLiteral("link connecting") + out);
        else if (state == QLatin1String("silent"))
            warning(Area::unit, unit + QStringLiteral("link silent: the device left an exchange unanswered") + out);
        // Every attempt of a long outage is worth a line, but a warning only when the reason is new.
        else write(problem == warned_ ? Level::info : Level::warning, Area::unit, unit + QStringLiteral("link ") + state + why + out);
        if (state == QLatin1String("down")) warned_ = problem;
    }
    state_ = state;
    problem_ = problem;
}

void LinkLog::restarting(qint64 now_ms)
{
    restarting_ = true;
    if (out_since_ < 0) out_since_ = now_ms;
    info(Area::unit, QStringLiteral("unit %1: restarting (the device restarts; its protocol clients are let go)").arg(unit_));
}

} // namespace hub_log

} // namespace tavrion::hub
