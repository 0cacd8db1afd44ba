#include "support/hygiene.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QObject>
#include <QSet>
#include <QThread>
#include <QThreadPool>
#include <QWidget>

#include <array>
#include <mutex>
#include <unordered_set>

#include <unistd.h>

// Qt's hook table for tools that follow object lifetimes (the same one debugging tools use). It is
// exported by QtCore; the layout is versioned by its first entries.
QT_BEGIN_NAMESPACE
extern Q_CORE_EXPORT quintptr qtHookData[];
QT_END_NAMESPACE

namespace tavrion::test {

namespace {

enum HookIndex { HookDataVersion = 0, HookDataSize = 1, AddQObject = 3, RemoveQObject = 4 };
using ObjectHook = void (*)(QObject*);

struct Watch {
    std::recursive_mutex lock;
    std::unordered_set<QObject*> live; // created since start(), not yet destroyed
    ObjectHook previous_add = nullptr;
    ObjectHook previous_remove = nullptr;
    bool installed = false;
    int baseline_threads = 0;
};

// Never destroyed: the hooks may still fire while the process exits.
Watch& watch()
{
    static Watch* w = new Watch;
    return *w;
}

void object_added(QObject* o)
{
    Watch& w = watch();
    {
        std::lock_guard<std::recursive_mutex> g(w.lock);
        w.live.insert(o);
    }
    if (w.previous_add) w.previous_add(o);
}

void object_removed(QObject* o)
{
    Watch& w = watch();
    {
        std::lock_guard<std::recursive_mutex> g(w.lock);
        w.live.erase(o);
    }
    if (w.previous_remove) w.previous_remove(o);
}

// The kinds that keep working (or keep something open) after a test if nobody deletes them.
const char* const kWatchedKinds[] = {"QTimer", "QAbstractSocket", "QTcpServer", "QLocalServer",
                                     "QLocalSocket", "QSocketNotifier", "QThread", "QProcess"};

QString describe(QObject* o)
{
    QString s = QString::fromLatin1(o->metaObject()->className());
    if (!o->objectName().isEmpty()) s += QStringLiteral(" '%1'").arg(o->objectName());
    QStringList owners;
    for (QObject* p = o->parent(); p; p = p->parent()) {
        QString name = QString::fromLatin1(p->metaObject()->className());
        if (!p->objectName().isEmpty()) name += QStringLiteral(" '%1'").arg(p->objectName());
        owners << name;
    }
    s += owners.isEmpty() ? QStringLiteral(" (no parent)") : QStringLiteral(" in ") + owners.join(QStringLiteral(" in "));
    return s;
}

// Qt's own helpers that live as long as the process once something has needed them: the thread
// that asks libproxy for the system's proxy (first socket), and the shared pool's threads.
bool qt_infrastructure(QObject* o)
{
    return o->inherits("QLibProxyWrapper") || o->inherits("QThreadPoolThread");
}

// Live watched objects; `infrastructure_threads` counts Qt's own threads among the live objects.
QStringList watched_objects_alive(int& infrastructure_threads)
{
    QStringList out;
    infrastructure_threads = 0;
    Watch& w = watch();
    std::lock_guard<std::recursive_mutex> g(w.lock);
    for (QObject* o : w.live) {
        if (qt_infrastructure(o)) {
            if (auto* t = qobject_cast<QThread*>(o); t && t->isRunning()) ++infrastructure_threads;
            continue;
        }
        for (const char* kind : kWatchedKinds)
            if (o->inherits(kind)) {
                out << QStringLiteral("alive: ") + describe(o);
                break;
            }
    }
    return out;
}

QString proc_dir(pid_t pid)
{
    return pid == 0 ? QStringLiteral("/proc/self") : QStringLiteral("/proc/%1").arg(pid);
}

QSet<quint64> socket_inodes(pid_t pid)
{
    QSet<quint64> inodes;
    const QDir fds(proc_dir(pid) + QStringLiteral("/fd"));
    for (const QString& fd : fds.entryList(QDir::System | QDir::NoDotAndDotDot)) {
        const QString target = QFile::symLinkTarget(fds.filePath(fd));
        // The link reads "socket:[12345]"; symLinkTarget makes it a path, so look at its end.
        const int open = target.lastIndexOf(QStringLiteral("socket:["));
        if (open < 0) continue;
        const int close = target.indexOf(QLatin1Char(']'), open);
        inodes.insert(target.mid(open + 8, close - open - 8).toULongLong());
    }
    return inodes;
}

struct Endpoint {
    std::array<quint8, 16> bytes{}; // IPv4 in the first four
    bool v6 = false;
    quint16 port = 0;

    bool unspecified() const
    {
        for (int i = 0; i < (v6 ? 16 : 4); ++i)
            if (bytes[size_t(i)]) return false;
        return true;
    }
    bool loopback() const
    {
        if (!v6) return bytes[0] == 127;
        bool ones = true; // ::1
        for (int i = 0; i < 15; ++i) ones = ones && bytes[size_t(i)] == 0;
        if (ones && bytes[15] == 1) return true;
        bool mapped = true; // ::ffff:127.x.y.z
        for (int i = 0; i < 10; ++i) mapped = mapped && bytes[size_t(i)] == 0;
        return mapped && bytes[10] == 0xff && bytes[11] == 0xff && bytes[12] == 127;
    }
    QString text() const
    {
        if (!v6) return QStringLiteral("%1.%2.%3.%4:%5").arg(bytes[0]).arg(bytes[1]).arg(bytes[2]).arg(bytes[3]).arg(port);
        QStringList groups;
        for (int i = 0; i < 16; i += 2) groups << QString::number((bytes[size_t(i)] << 8) | bytes[size_t(i + 1)], 16);
        return QStringLiteral("[%1]:%2").arg(groups.join(QLatin1Char(':'))).arg(port);
    }
};

// "0100007F:1F90": each 32-bit word is printed as the host reads it (little-endian here).
Endpoint parse_endpoint(const QByteArray& field)
{
    Endpoint e;
    const int colon = field.indexOf(':');
    const QByteArray hex = field.left(colon);
    e.port = quint16(field.mid(colon + 1).toUInt(nullptr, 16));
    e.v6 = hex.size() == 32;
    for (int word = 0; word < hex.size() / 8; ++word) {
        const quint32 v = hex.mid(word * 8, 8).toUInt(nullptr, 16);
        for (int b = 0; b < 4; ++b) e.bytes[size_t(word * 4 + b)] = quint8(v >> (8 * b));
    }
    return e;
}

struct InetSocket {
    QString proto;
    Endpoint local, remote;
    int state = 0;
    quint64 inode = 0;

    bool listening() const { return proto.startsWith(QLatin1String("tcp")) ? state == 0x0A : true; }
    QString text() const
    {
        static const char* const names[] = {"?", "ESTABLISHED", "SYN_SENT", "SYN_RECV", "FIN_WAIT1", "FIN_WAIT2",
                                            "TIME_WAIT", "CLOSE", "CLOSE_WAIT", "LAST_ACK", "LISTEN", "CLOSING"};
        const QString st = proto.startsWith(QLatin1String("tcp")) && state > 0 && state < 12
            ? QString::fromLatin1(names[state]) : QStringLiteral("state %1").arg(state);
        return QStringLiteral("%1 %2 -> %3 %4").arg(proto, local.text(), remote.text(), st);
    }
};

QList<InetSocket> own_inet_sockets(pid_t pid)
{
    const QSet<quint64> mine = socket_inodes(pid);
    QList<InetSocket> out;
    for (const char* proto : {"tcp", "tcp6", "udp", "udp6"}) {
        QFile f(proc_dir(pid) + QStringLiteral("/net/") + QLatin1String(proto));
        if (!f.open(QIODevice::ReadOnly)) continue;
        f.readLine(); // header
        while (!f.atEnd()) {
            const QList<QByteArray> cols = f.readLine().simplified().split(' ');
            if (cols.size() < 10) continue;
            InetSocket s;
            s.proto = QLatin1String(proto);
            s.local = parse_endpoint(cols[1]);
            s.remote = parse_endpoint(cols[2]);
            s.state = int(cols[3].toUInt(nullptr, 16));
            s.inode = cols[9].toULongLong();
            if (s.inode != 0 && mine.contains(s.inode)) out << s;
        }
    }
    return out;
}

} // namespace

void Hygiene::start()
{
    Watch& w = watch();
    if (!w.installed && qtHookData[HookDataVersion] >= 1 && qtHookData[HookDataSize] > RemoveQObject) {
        w.previous_add = reinterpret_cast<ObjectHook>(qtHookData[AddQObject]);
        w.previous_remove = reinterpret_cast<ObjectHook>(qtHookData[RemoveQObject]);
        qtHookData[AddQObject] = reinterpret_cast<quintptr>(&object_added);
        qtHookData[RemoveQObject] = reinterpret_cast<quintptr>(&object_removed);
        w.installed = true;
    }
    if (!w.installed) qWarning("Qt's object hooks are unavailable: only windows, threads and sockets are checked");
    w.baseline_threads = thread_count();
}

QStringList Hygiene::leftovers(int grace_ms)
{
    Watch& w = watch();
    QStringList out;
    QElapsedTimer t;
    t.start();
    // Qt paints images with the shared thread pool, whose idle threads linger for half a minute:
    // let them go, so that a thread still running afterwards is one a test left behind.
    QThreadPool::globalInstance()->waitForDone(grace_ms);
    for (;;) {
        // What was handed to deleteLater() is gone only once the deferred deletes have run.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        out.clear();
        for (QWidget* top : QApplication::topLevelWidgets())
            out << QStringLiteral("window: ") + describe(top);
        int qt_threads = 0;
        out << watched_objects_alive(qt_threads);
        const int threads = thread_count() - qt_threads;
        if (threads > w.baseline_threads)
            out << QStringLiteral("threads: %1 running besides Qt's own, %2 at the start").arg(threads).arg(w.baseline_threads);
        for (const InetSocket& s : own_inet_sockets(0)) out << QStringLiteral("socket open: ") + s.text();
        if (out.isEmpty() || t.elapsed() >= grace_ms) break;
        QTest::qWait(20);
    }
    return out;
}

QStringList Hygiene::non_loopback_sockets(pid_t pid)
{
    QStringList out;
    for (const InetSocket& s : own_inet_sockets(pid)) {
        const bool remote_ok = s.remote.unspecified() || s.remote.loopback();
        if (!s.local.loopback() || !remote_ok) out << s.text();
    }
    return out;
}

QStringList Hygiene::listening_sockets(pid_t pid)
{
    QStringList out;
    for (const InetSocket& s : own_inet_sockets(pid))
        if (s.listening()) out << s.text();
    // Local sockets: the flag __SO_ACCEPTCON (0x10000) marks a listening one.
    const QSet<quint64> mine = socket_inodes(pid);
    QFile f(proc_dir(pid) + QStringLiteral("/net/unix"));
    if (f.open(QIODevice::ReadOnly)) {
        f.readLine();
        while (!f.atEnd()) {
            const QList<QByteArray> cols = f.readLine().simplified().split(' ');
            if (cols.size() < 7) continue;
            const quint64 inode = cols[6].toULongLong();
            if ((cols[3].toUInt(nullptr, 16) & 0x10000u) && mine.contains(inode))
                out << QStringLiteral("unix listening %1").arg(cols.size() > 7 ? QString::fromLocal8Bit(cols[7]) : QStringLiteral("(unnamed)"));
        }
    }
    return out;
}

QStringList Hygiene::inet_sockets(pid_t pid)
{
    QStringList out;
    for (const InetSocket& s : own_inet_sockets(pid)) out << s.text();
    return out;
}

int Hygiene::thread_count(pid_t pid)
{
    return int(QDir(proc_dir(pid) + QStringLiteral("/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}

qint64 Hygiene::resident_bytes()
{
    QFile f(QStringLiteral("/proc/self/statm"));
    if (!f.open(QIODevice::ReadOnly)) return -1;
    const QList<QByteArray> cols = f.readAll().simplified().split(' ');
    return cols.size() > 1 ? cols[1].toLongLong() * qint64(::sysconf(_SC_PAGESIZE)) : -1;
}

} // namespace tavrion::test
