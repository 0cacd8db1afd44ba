// AuditTrail and the entries made from a unit's jobs and from what its device reported by itself.
#include "hub/audit.h"

#include "hub/hub_log.h"

#include "hub/unit_worker.h"
#include "protocol/command_catalogue.h"

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QJsonDocument>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tavrion::hub {

namespace {

constexpr qint64 kRotateBytes = 10 * 1024 * 1024;
constexpr qint64 kReadBlock = 64 * 1024;

QString iso_time(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODateWithMs);
}

QString rotated(const QString& path, int n) { return path + QLatin1Char('.') + QString::number(n); }

// A line the device takes without changing anything: a query (999, a picture row's 991..994) or a
// network query.
bool reads_only(const std::string& line)
{
    if (line.size() != 6) return false;
    const CommandRow* row = find_row(line);
    if (!row) return false;
    if (network_query(line) || maximum_query(line)) return true;
    const std::string p = line.substr(3);
    if (p == "999") return true;
    return row->picture >= 0 && p >= "991" && p <= "994"; // one window's picture value
}

// A verb that only reads: the status, the version, or a query sent as it is.
bool verb_reads_only(const std::string& verb)
{
    const QStringList words = QString::fromStdString(verb).simplified().split(QLatin1Char(' '));
    const QString first = words.value(0).toLower();
    if (first == QLatin1String("status") || first == QLatin1String("version")) return true;
    return first == QLatin1String("send") && words.size() == 2 && reads_only(words[1].toUpper().toStdString());
}

// A verb's outcome from what the runner printed for it.
QString outcome_of(int status, const QString& output)
{
    if (status == kLinkDown) return QStringLiteral("link down");
    if (output.contains(QLatin1String("the device refused it"))) return QStringLiteral("refused");
    if (status == kDone) return QStringLiteral("answered");
    if (output.contains(QLatin1String("no answer within"))) return QStringLiteral("silent");
    return QStringLiteral("unreadable answer");
}

QString via_of(int source)
{
    if (source == kApiSource) return QStringLiteral("api");
    if (source == kMqttSource) return QStringLiteral("mqtt");
    return QStringLiteral("port");
}

// "key: old -> new" for each value that differs, one level into objects ("routes.A: 1 -> 3").
void differences(const QString& prefix, const QJsonObject& before, const QJsonObject& after, QStringList& out)
{
    QStringList keys = before.keys() + after.keys();
    keys.removeDuplicates();
    std::sort(keys.begin(), keys.end());
    for (const QString& k : keys) {
        const QJsonValue a = before.value(k), b = after.value(k);
        if (a == b) continue;
        if (a.isObject() && b.isObject() && prefix.isEmpty()) {
            differences(k + QLatin1Char('.'), a.toObject(), b.toObject(), out);
            continue;
        }
        auto text = [](const QJsonValue& v) {
            if (v.isUndefined()) return QStringLiteral("none");
            if (v.isObject()) return QString::fromUtf8(QJsonDocument(v.toObject()).toJson(QJsonDocument::Compact));
            if (v.isArray()) return QString::fromUtf8(QJsonDocument(v.toArray()).toJson(QJsonDocument::Compact));
            return v.toVariant().toString();
        };
        out << prefix + k + QStringLiteral(": ") + text(a) + QStringLiteral(" -> ") + text(b);
    }
}

} // namespace

QJsonObject AuditEntry::to_json() const
{
    QJsonArray commands;
    for (int i = 0; i < what.size(); ++i)
        commands.append(QJsonObject{{QStringLiteral("what"), what[i]}, {QStringLiteral("outcome"), outcomes.value(i)}});
    return {{QStringLiteral("time"), iso_time(time_ms)},
            {QStringLiteral("unit"), unit},
            {QStringLiteral("via"), via},
            {QStringLiteral("who"), who},
            {QStringLiteral("commands"), commands},
            {QStringLiteral("version_before"), double(version_before)},
            {QStringLiteral("version_after"), double(version_after)}};
}

qint64 AuditTrail::rotate_bytes()
{
    bool ok = false;
    const qint64 n = qEnvironmentVariable("TAVRION_HUB_AUDIT_ROTATE_BYTES").toLongLong(&ok);
    return ok && n > 0 ? n : kRotateBytes;
}

AuditTrail::AuditTrail(QString path) : path_(std::move(path)), rotate_at_(rotate_bytes()) {}

AuditTrail::~AuditTrail() { close_file(); }

void AuditTrail::close_file()
{
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

// Opened on demand, so that a folder mended or a disk freed is written again without a restart.
bool AuditTrail::open_file(QString& why)
{
    if (fd_ >= 0) return true;
    // The trail names who did what: readable by the hub's user only, as the token is.
    fd_ = ::open(QFile::encodeName(path_).constData(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        why = fd_ < 0 ? QString::fromLocal8Bit(std::strerror(errno)) : QStringLiteral("not a regular file");
        close_file();
        return false;
    }
    size_ = st.st_size;
    return true;
}

bool AuditTrail::write_line(const QByteArray& line, QString& why)
{
    if (!open_file(why)) return false;
    // A file past its size (also one left so by an earlier run) becomes path.1, and so on.
    if (size_ > 0 && size_ + line.size() > rotate_at_) {
        close_file();
        for (int n = kFilesKept - 1; n >= 1; --n)
            ::rename(QFile::encodeName(n == 1 ? path_ : rotated(path_, n - 1)).constData(),
                     QFile::encodeName(rotated(path_, n)).constData());
        if (!open_file(why)) return false;
    }
    // One write of the whole line: a crash leaves no half entry behind one that was answered.
    const ssize_t n = ::write(fd_, line.constData(), size_t(line.size()));
    if (n != line.size()) {
        why = n < 0 ? QString::fromLocal8Bit(std::strerror(errno)) : QStringLiteral("the disk is full");
        close_file();
        return false;
    }
    size_ += n;
    return true;
}

void AuditTrail::record(const AuditEntry& entry)
{
    const QJsonObject o = entry.to_json();
    const QByteArray line = QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
    QStringList parts;
    for (int i = 0; i < entry.what.size(); ++i) parts << entry.what[i] + QStringLiteral(" (") + entry.outcomes.value(i) + QLatin1Char(')');
    hub_log::notice(hub_log::Area::audit, QStringLiteral("unit %1: %2 via %3: %4; version %5 -> %6")
                       .arg(entry.unit, entry.who, entry.via, parts.join(QStringLiteral(", ")))
                       .arg(entry.version_before).arg(entry.version_after));
    if (path_.isEmpty()) return;
    std::lock_guard<std::mutex> lock(mutex_);
    QString why;
    if (write_line(line, why)) {
        if (!failing_.isEmpty()) hub_log::error(hub_log::Area::audit, QStringLiteral("%1 is written again").arg(path_));
        failing_.clear();
        return;
    }
    if (failing_.isEmpty()) hub_log::error(hub_log::Area::audit, QStringLiteral("%1 cannot be written: %2; entries go to this log only").arg(path_, why));
    failing_ = why;
}

QString AuditTrail::health() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return failing_.isEmpty() ? QStringLiteral("ok") : QStringLiteral("failing: ") + path_ + QStringLiteral(": ") + failing_;
}

// Each file is read from its end in blocks, newest file first, so that a short answer reads little.
QJsonArray AuditTrail::query(const QString& unit, std::optional<qint64> since_ms, int limit) const
{
    QJsonArray found;
    if (path_.isEmpty()) return found;
    std::lock_guard<std::mutex> lock(mutex_);
    // False once the search is over: the limit reached, or an entry older than `since` (entries
    // are in time order).
    auto take = [&](const QByteArray& line) {
        if (line.isEmpty()) return true;
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        const QDateTime t = QDateTime::fromString(o.value(QLatin1String("time")).toString(), Qt::ISODateWithMs);
        if (since_ms && t.isValid() && t.toMSecsSinceEpoch() < *since_ms) return false;
        if (!o.isEmpty() && (unit.isEmpty() || o.value(QLatin1String("unit")).toString() == unit)) found.append(o);
        return found.size() < limit;
    };
    for (int n = 0; n < kFilesKept; ++n) {
        QFile f(n == 0 ? path_ : rotated(path_, n));
        if (!f.open(QIODevice::ReadOnly)) continue;
        qint64 end = f.size();
        QByteArray carry; // a line whose start lies in the block before
        for (;;) {
            const qint64 start = std::max<qint64>(0, end - kReadBlock);
            f.seek(start);
            const QByteArray block = f.read(end - start) + carry;
            end = start;
            qsizetype stop = block.size();
            while (stop > 0) {
                const qsizetype nl = block.lastIndexOf('\n', stop - 1);
                if (nl < 0) break;
                if (!take(block.mid(nl + 1, stop - nl - 1))) return found;
                stop = nl;
            }
            carry = block.left(stop);
            if (end == 0) {
                if (!take(carry)) return found;
                break;
            }
        }
    }
    return found;
}

std::optional<AuditEntry> audit_job(const QString& unit, const Job& job, const JobResult& result,
                                    quint64 version_before, quint64 version_after)
{
    using Outcome = JobResult::Outcome;
    if (result.outcome == Outcome::VersionMoved) return std::nullopt; // refused before anything was sent
    AuditEntry e;
    e.time_ms = QDateTime::currentMSecsSinceEpoch();
    e.unit = unit;
    e.via = via_of(job.source);
    e.who = job.who.isEmpty() ? e.via : job.who;
    e.version_before = version_before;
    e.version_after = version_after;
    const bool link_down = result.outcome == Outcome::LinkDown || result.outcome == Outcome::Stopping;
    if (job.kind == Job::Kind::Line) {
        if (reads_only(job.line) && !result.refused_here) return std::nullopt;
        e.what << QString::fromStdString(job.line);
        e.outcomes << (result.refused_here                 ? QStringLiteral("refused by the hub")
                       : link_down                         ? QStringLiteral("link down")
                       : result.reply.empty()              ? QStringLiteral("silent")
                       : result.reply.rfind("ERR", 0) == 0 ? QStringLiteral("refused")
                                                           : QStringLiteral("answered"));
        return e;
    }
    if (job.kind == Job::Kind::Restore) {
        e.what << QStringLiteral("restore");
        e.outcomes << (link_down || !result.restore
                           ? QStringLiteral("link down")
                           : outcome_of(result.restore->status, QString::fromStdString(result.restore->output)));
        return e;
    }
    if (std::all_of(job.commands.begin(), job.commands.end(), verb_reads_only)) return std::nullopt;
    for (std::size_t i = 0; i < job.commands.size(); ++i) {
        e.what << QString::fromStdString(job.commands[i]);
        if (i < result.results.size())
            e.outcomes << outcome_of(result.results[i].status, QString::fromStdString(result.results[i].output));
        else e.outcomes << (link_down ? QStringLiteral("link down") : QStringLiteral("not sent"));
    }
    return e;
}

std::optional<AuditEntry> audit_device_change(const QString& unit, const QJsonObject& before, const QJsonObject& after,
                                              quint64 version_before, quint64 version_after)
{
    if (before.isEmpty() || after.isEmpty()) return std::nullopt;
    AuditEntry e;
    differences({}, before, after, e.what);
    if (e.what.isEmpty()) return std::nullopt;
    e.time_ms = QDateTime::currentMSecsSinceEpoch();
    e.unit = unit;
    e.via = e.who = QLatin1String(kViaDevice);
    for (int i = 0; i < e.what.size(); ++i) e.outcomes << QStringLiteral("reported");
    e.version_before = version_before;
    e.version_after = version_after;
    return e;
}

bool is_command_code(const QString& code)
{
    const std::string text = code.toStdString();
    const CommandRow* row = text.size() == 3 ? find_row(text) : nullptr;
    return row && row->sent;
}

bool guard_refuses(const std::vector<std::string>& refused, const std::string& line)
{
    if (refused.empty() || line.size() < 3) return false;
    return std::find(refused.begin(), refused.end(), line.substr(0, 3)) != refused.end();
}

// ERR001 is the device's answer to a code it does not take; a client gives up on it as it would
// on the device itself.
const std::string& guard_refusal_reply()
{
    static const std::string reply = "ERR001\r";
    return reply;
}

} // namespace tavrion::hub
