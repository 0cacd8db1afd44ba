// ProtocolPort: the unit's command lines from TCP clients, cut at CR as the device cuts them.
#include "hub/protocol_port.h"
#include "hub/hub_log.h"

#include <QTcpServer>
#include <QTcpSocket>

#include <algorithm>
#include <atomic>
#include <cstdio>

namespace tavrion::hub {

namespace {

// Replies a client leaves unread: past this it is costing the hub, and goes.
constexpr qint64 kMaxUnreadBytes = 16 * 1024;
constexpr qint64 kReadChunk = 4096;

QString peer_of(const QTcpSocket* s)
{
    return s->peerAddress().toString() + QLatin1Char(':') + QString::number(s->peerPort());
}

} // namespace

struct ProtocolPort::Client {
    QTcpSocket* socket = nullptr;
    QString peer;
    int line_bytes = 0; // of the line not yet ended by CR
    std::string line;   // its text, LF left out
    int queued = 0;
    int source = 0; // its lines take their turns on the unit as a source of their own
    std::shared_ptr<std::atomic<bool>> gone = std::make_shared<std::atomic<bool>>(false);
};

ProtocolPort::ProtocolPort(std::string unit_id, std::function<void(Job)> submit, QObject* parent)
    : QObject(parent), unit_id_(std::move(unit_id)), submit_(std::move(submit)), server_(new QTcpServer(this))
{
    connect(server_, &QTcpServer::newConnection, this, &ProtocolPort::accept);
}

ProtocolPort::~ProtocolPort()
{
    for (const auto& c : clients_) {
        *c->gone = true;
        c->socket->abort();
        delete c->socket;
    }
}

bool ProtocolPort::listen(const ListenAddress& where, QString& error)
{
    server_->setMaxPendingConnections(kMaxProtocolClients + 1);
    if (server_->listen(where.address, where.port)) return true;
    error = server_->errorString();
    return false;
}

quint16 ProtocolPort::port() const { return server_->serverPort(); }

void ProtocolPort::set_unit_up(bool up)
{
    unit_up_ = up;
    if (!up) drop_clients();
}

void ProtocolPort::drop_clients()
{
    const auto all = clients_;
    for (const auto& c : all) drop(c, nullptr);
}

void ProtocolPort::broadcast(const std::string& bytes)
{
    const auto all = clients_;
    for (const auto& c : all) answer(c, bytes);
}

void ProtocolPort::accept()
{
    while (QTcpSocket* s = server_->nextPendingConnection()) {
        // The device's own port is closed while it restarts: a client learns it at once.
        if (!unit_up_ || int(clients_.size()) >= kMaxProtocolClients) {
            hub_log::about_client(hub_log::Area::port, QStringLiteral("unit %1: protocol client %2 refused: %3")
                                                           .arg(QString::fromStdString(unit_id_), peer_of(s),
                                                                unit_up_ ? QStringLiteral("%1 are connected already").arg(kMaxProtocolClients)
                                                                         : QStringLiteral("the unit's link is down")));
            s->abort();
            s->deleteLater();
            continue;
        }
        auto c = std::make_shared<Client>();
        c->socket = s;
        c->peer = peer_of(s);
        c->source = next_source_++;
        s->setReadBufferSize(kReadChunk);
        clients_.push_back(c);
        if (stats_) stats_->protocol_clients = int(clients_.size());
        const std::weak_ptr<Client> weak = c;
        connect(s, &QTcpSocket::readyRead, this, [this, weak] {
            if (auto c = weak.lock()) read(c);
        });
        connect(s, &QTcpSocket::disconnected, this, [this, weak] {
            if (auto c = weak.lock()) drop(c, nullptr);
        });
    }
}

// Whole lines are checked before any goes out: a client that breaks the rules has nothing of
// what it sent carried out, and its queued commands are dropped with it.
void ProtocolPort::read(const std::shared_ptr<Client>& c)
{
    const QByteArray bytes = c->socket->read(kReadChunk);
    std::vector<std::string> lines;
    int line_bytes = c->line_bytes;
    std::string line = c->line;
    for (const char ch : bytes) {
        if (ch == '\r') {
            // A bare CR (or CR LF's LF alone) is line noise: the device answers nothing.
            if (!line.empty()) lines.push_back(line);
            line.clear();
            line_bytes = 0;
            continue;
        }
        if (ch != '\n' && (ch < ' ' || ch > '~')) return drop(c, "a byte outside printable ASCII");
        if (++line_bytes > kMaxProtocolLineBytes) return drop(c, "a line over 64 bytes");
        if (ch != '\n') line += ch;
    }
    if (c->queued + int(lines.size()) > kMaxQueuedLines) return drop(c, "more than 64 commands waiting");
    c->line_bytes = line_bytes;
    c->line = line;
    const std::weak_ptr<Client> weak = c;
    for (std::string& text : lines) {
        Job job;
        job.kind = Job::Kind::Line;
        job.line = std::move(text);
        job.gone = c->gone;
        job.source = c->source;
        job.who = c->peer;
        job.heard = [this, weak](const std::string& bytes) {
            if (const auto c = weak.lock()) answer(c, bytes);
        };
        job.done = [weak](const JobResult&) {
            if (const auto c = weak.lock()) --c->queued;
        };
        ++c->queued;
        submit_(std::move(job));
    }
    // More may wait behind the chunk just read.
    if (c->socket->bytesAvailable() > 0)
        QMetaObject::invokeMethod(this, [this, weak] {
            if (auto c = weak.lock(); c && !*c->gone) read(c);
        }, Qt::QueuedConnection);
}

void ProtocolPort::count_clients_into(std::shared_ptr<UnitStats> stats) { stats_ = std::move(stats); }

void ProtocolPort::answer(const std::shared_ptr<Client>& c, const std::string& bytes)
{
    if (*c->gone || bytes.empty()) return;
    c->socket->write(bytes.data(), qint64(bytes.size()));
    if (c->socket->bytesToWrite() > kMaxUnreadBytes) drop(c, "its replies are left unread");
}

void ProtocolPort::drop(const std::shared_ptr<Client>& c, const char* why)
{
    if (c->gone->exchange(true)) return;
    clients_.erase(std::remove(clients_.begin(), clients_.end(), c), clients_.end());
    if (stats_) stats_->protocol_clients = int(clients_.size());
    if (why)
        hub_log::about_client(hub_log::Area::port, QStringLiteral("unit %1: protocol client %2 disconnected: %3")
                                                       .arg(QString::fromStdString(unit_id_), c->peer, QString::fromUtf8(why)));
    QTcpSocket* s = c->socket;
    s->disconnect(this);
    s->close();
    s->deleteLater();
}

} // namespace tavrion::hub
