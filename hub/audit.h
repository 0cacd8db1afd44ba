// The audit trail: one entry for every request that changed or tried to change a unit (who, what,
// each command's outcome, the unit's version before and after), written whole to a JSON-lines file
// before the request is answered, and to the log; read back newest first for GET /api/audit.
// Also the protocol port's guard: the command codes a unit's port refuses without sending them.
#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tavrion::hub {

struct Job;
struct JobResult;

// Who made a change, as the entry's "via" says it.
inline constexpr const char* kViaDevice = "device";

struct AuditEntry {
    qint64 time_ms = 0;  // since the epoch, UTC
    QString unit;
    QString via;         // "api", "mqtt", "port" or "device"
    QString who;         // the sign-in and address, the client's address and port, the topic, "device"
    QStringList what;    // the verbs, the command line, or what the device now reports differently
    QStringList outcomes; // one per entry of `what`: answered, refused, silent, link down, not sent
    quint64 version_before = 0;
    quint64 version_after = 0;

    QJsonObject to_json() const;
};

// Where the entries go, shared by every unit's thread. Every call may come from any thread.
class AuditTrail {
public:
    // An empty path keeps the entries in the log only.
    explicit AuditTrail(QString path);
    ~AuditTrail();
    AuditTrail(const AuditTrail&) = delete;
    AuditTrail& operator=(const AuditTrail&) = delete;

    // Writes the entry (one line, flushed) and logs it. A file that cannot be written is logged as
    // an error once, until it can be written again; the caller goes on either way.
    void record(const AuditEntry& entry);
    // "ok", or "failing: why" while the file cannot be written.
    QString health() const;
    // Entries newest first, of `unit` (all when empty), at or after `since_ms`, at most `limit`.
    QJsonArray query(const QString& unit, std::optional<qint64> since_ms, int limit) const;
    const QString& path() const { return path_; }

    // The file is rotated past this size; TAVRION_HUB_AUDIT_ROTATE_BYTES sets it for tests.
    static qint64 rotate_bytes();
    static constexpr int kFilesKept = 5; // the file and four rotated ones: path.1 (newest) .. path.4

private:
    bool open_file(QString& why);
    bool write_line(const QByteArray& line, QString& why);
    void close_file();

    const QString path_;
    const qint64 rotate_at_;
    mutable std::mutex mutex_;
    int fd_ = -1;
    qint64 size_ = 0;
    QString failing_; // empty while the file is written
};

// The entry for a job the unit carried out, or nothing for a read (a status, a query line) and a
// job that sent nothing because the unit's version had moved on. A protocol line's outcome is read
// from the result's "reply" (what the device sent) and "refused_here" (the guard's refusal).
std::optional<AuditEntry> audit_job(const QString& unit, const Job& job, const JobResult& result,
                                    quint64 version_before, quint64 version_after);
// The entry for a change the unit reported that no job made (a front-panel change a poll found,
// a reply the device sent by itself): the device's state before and after, or nothing when they
// are the same (or there was no state before, as at the first reading).
std::optional<AuditEntry> audit_device_change(const QString& unit, const QJsonObject& before, const QJsonObject& after,
                                              quint64 version_before, quint64 version_after);

// Whether `code` (three letters) is a command the device takes.
bool is_command_code(const QString& code);
// Whether a protocol-port line is one the unit's guard refuses (its code is in `refused`).
bool guard_refuses(const std::vector<std::string>& refused, const std::string& line);
// What the port answers for a refused line: the device's own answer to a command it refuses.
const std::string& guard_refusal_reply();

} // namespace tavrion::hub
