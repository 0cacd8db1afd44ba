// HttpFront on plain TCP sockets: a request is parsed only once its head and its whole body are
// in (never more than the limits allow in memory), then goes to the one handler, so the hub's
// checks run for every request; answers are written as HTTP/1.1 on the request's connection.
#include "hub/http_front.h"

#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include <algorithm>

#include <sys/socket.h>

namespace tavrion::hub {

namespace {

QByteArray reason(int status)
{
    switch (status) {
    case 200: return "OK";
    case 303: return "See Other";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 409: return "Conflict";
    case 413: return "Payload Too Large";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}

constexpr int kLingerMs = 2000;
constexpr int kRefusedLingerMs = 500;

QByteArray error_body(const QByteArray& text) { return "{\"error\":\"" + text + "\"}\n"; }

int env_ms(const char* name, int fallback)
{
    bool ok = false;
    const int v = qEnvironmentVariableIntValue(name, &ok);
    return ok && v > 0 ? v : fallback;
}

// Connections are counted per client: an IPv4 client reached over an IPv6 socket is the same one.
QString address_key(const QHostAddress& a)
{
    bool v4 = false;
    const quint32 ip4 = a.toIPv4Address(&v4);
    return v4 ? QHostAddress(ip4).toString() : a.toString();
}

bool has_token(const QByteArray& list, const QByteArray& token)
{
    for (const QByteArray& t : list.split(','))
        if (t.trimmed().compare(token, Qt::CaseInsensitive) == 0) return true;
    return false;
}

} // namespace

HttpLimits HttpLimits::from_environment()
{
    HttpLimits l;
    l.request_ms = env_ms("TAVRION_HUB_REQUEST_MS", l.request_ms);
    l.idle_ms = env_ms("TAVRION_HUB_IDLE_MS", l.idle_ms);
    return l;
}

QByteArray HttpRequest::header(const QByteArray& name) const
{
    for (const auto& h : headers)
        if (h.first.compare(name, Qt::CaseInsensitive) == 0) return h.second;
    return {};
}

bool HttpRequest::has_header(const QByteArray& name) const
{
    for (const auto& h : headers)
        if (h.first.compare(name, Qt::CaseInsensitive) == 0) return true;
    return false;
}

// One client connection: reads one request at a time (a pipelined next one waits in the socket,
// whose read buffer is bounded), and holds the single timer that bounds its time.
class HttpFront::Connection : public QObject {
public:
    enum class State { Reading, Waiting, Streaming, Closing };

    Connection(HttpFront* front, QTcpSocket* socket, QString address)
        : QObject(front), front_(front), socket_(socket), address_(std::move(address))
    {
        const HttpLimits& l = front_->limits_;
        socket_->setParent(this);
        socket_->setReadBufferSize(l.max_head + l.max_body);
        timer_.setSingleShot(true);
        connect(&timer_, &QTimer::timeout, this, &Connection::timed_out);
        connect(socket_, &QTcpSocket::readyRead, this, &Connection::read);
        connect(socket_, &QTcpSocket::disconnected, this, &Connection::drop);
        wait_idle();
    }

    State state() const { return state_; }
    const QString& address() const { return address_; }
    QTcpSocket* socket() const { return socket_; }
    std::shared_ptr<std::atomic<bool>> gone() const { return gone_; }

    void write_answer(int status, const QByteArray& content_type, const QByteArray& body, const HeaderList& extra)
    {
        if (state_ != State::Waiting) return;
        if (front_->draining_) close_after_ = true;
        QByteArray head = status_head(status, content_type, extra);
        head += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
        if (close_after_) head += "Connection: close\r\n";
        socket_->write(head + "\r\n" + (head_ ? QByteArray() : body));
        if (close_after_) return close_gracefully();
        state_ = State::Reading;
        wait_idle();
        // A request sent behind this one is read from the event loop, not from inside the answer.
        QMetaObject::invokeMethod(this, &Connection::read, Qt::QueuedConnection);
    }

    void write_stream_head(const QByteArray& content_type)
    {
        if (state_ != State::Waiting) return;
        socket_->write(status_head(200, content_type, {{"Cache-Control", "no-store"}}) + "\r\n");
        if (head_) return close_gracefully();
        state_ = State::Streaming;
        timer_.stop();
    }

    void write_piece(const QByteArray& piece)
    {
        if (state_ != State::Streaming) return;
        // A client that does not read would make the hub keep every change for it.
        if (socket_->bytesToWrite() + piece.size() > front_->limits_.max_unsent) return drop();
        socket_->write(piece);
    }

    // Answers a request that is refused before the handler sees it, and closes.
    void refuse(int status, const QByteArray& text)
    {
        state_ = State::Waiting;
        close_after_ = true;
        head_ = false;
        write_answer(status, "application/json", error_body(text), {});
    }

    void refuse_connection(const QByteArray& text)
    {
        counted_ = false;
        refuse(503, text);
    }
    bool counted() const { return counted_; }

    // Once the answer is out, the hub's side is shut and what the client still sends is read and
    // dropped until it closes too: closing with unread bytes would reset the connection, and the
    // client could lose the answer. A client that does neither is cut off.
    void close_gracefully()
    {
        if (state_ == State::Closing) return;
        state_ = State::Closing;
        timer_.start(std::min(front_->limits_.request_ms, counted_ ? kLingerMs : kRefusedLingerMs));
        connect(socket_, &QTcpSocket::bytesWritten, this, &Connection::shut_when_written);
        shut_when_written();
    }

    void drop()
    {
        if (dropped_) return;
        dropped_ = true;
        gone_->store(true);
        timer_.stop();
        socket_->abort();
        front_->forget(this);
    }

private:
    static QByteArray status_head(int status, const QByteArray& content_type, const HeaderList& extra)
    {
        QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + " " + reason(status) + "\r\n";
        head += "Content-Type: " + content_type + "\r\n";
        head += "X-Content-Type-Options: nosniff\r\n";
        for (const auto& h : extra) head += h.first + ": " + h.second + "\r\n";
        return head;
    }

    void shut_when_written()
    {
        if (socket_->bytesToWrite() > 0 || socket_->state() != QAbstractSocket::ConnectedState) return;
        socket_->flush();
        ::shutdown(int(socket_->socketDescriptor()), SHUT_WR);
    }

    void wait_idle()
    {
        in_request_ = false;
        timer_.start(front_->limits_.idle_ms);
    }

    void timed_out()
    {
        if (state_ == State::Reading && in_request_) return refuse(408, "the request was not complete in time");
        drop();
    }

    void read()
    {
        if (dropped_) return;
        if (state_ != State::Reading) {
            // Nothing is expected from a stream's or a closing connection's client; a request sent
            // while the previous one is being answered waits in the socket.
            if (state_ != State::Waiting) socket_->readAll();
            return;
        }
        const HttpLimits& l = front_->limits_;
        buffer_ += socket_->read(l.max_head + l.max_body - buffer_.size());
        if (buffer_.isEmpty()) return;
        if (!in_request_) {
            in_request_ = true;
            timer_.start(l.request_ms);
        }
        parse();
    }

    void parse()
    {
        const HttpLimits& l = front_->limits_;
        const int end = buffer_.indexOf("\r\n\r\n");
        if (end < 0 || end > l.max_head) {
            if (end > l.max_head || buffer_.size() > l.max_head) refuse(431, "the request's headers are too large");
            return;
        }
        const QList<QByteArray> lines = buffer_.left(end).split('\n');
        auto line = [&](int i) { return lines[i].endsWith('\r') ? lines[i].chopped(1) : lines[i]; };
        const QList<QByteArray> start = line(0).split(' ');
        if (start.size() != 3 || start[0].isEmpty() || start[1].isEmpty()
            || (start[2] != "HTTP/1.1" && start[2] != "HTTP/1.0"))
            return refuse(400, "not an HTTP/1.1 request line");
        for (char c : start[0])
            if (c < 'A' || c > 'Z') return refuse(400, "not an HTTP method");
        if (lines.size() - 1 > l.max_headers) return refuse(400, "too many headers");
        HttpRequest r;
        r.method = start[0];
        int hosts = 0;
        QByteArray length;
        for (int i = 1; i < lines.size(); ++i) {
            const QByteArray h = line(i);
            const int colon = h.indexOf(':');
            if (colon <= 0 || h.startsWith(' ') || h.startsWith('\t') || h.left(colon).contains(' ')
                || h.left(colon).contains('\t'))
                return refuse(400, "a header line is not NAME: VALUE");
            const QByteArray name = h.left(colon), value = h.mid(colon + 1).trimmed();
            if (name.compare("Host", Qt::CaseInsensitive) == 0 && ++hosts > 1) return refuse(400, "more than one Host header");
            if (name.compare("Transfer-Encoding", Qt::CaseInsensitive) == 0)
                return refuse(413, "a body of unknown length is not taken");
            if (name.compare("Content-Length", Qt::CaseInsensitive) == 0) {
                bool ok = !value.isEmpty();
                for (char c : value) ok = ok && c >= '0' && c <= '9';
                if (!ok || (!length.isEmpty() && length != value)) return refuse(400, "a bad Content-Length");
                length = value;
            }
            r.headers.append(qMakePair(name, value));
        }
        // Judged on the number itself: no body larger than the limit is ever read.
        if (length.size() > 12 || length.toLongLong() > l.max_body)
            return refuse(413, "the body is larger than " + QByteArray::number(l.max_body) + " bytes");
        const qint64 size = end + 4 + length.toLongLong();
        if (buffer_.size() < size) return; // the rest of the body is still on its way
        r.body = buffer_.mid(end + 4, length.toLongLong());
        buffer_.remove(0, size);
        const QUrl url(QString::fromLatin1(start[1]));
        if (!url.isValid()) return refuse(400, "not a request target");
        r.path = url.path(QUrl::FullyDecoded);
        r.query = QUrlQuery(url);
        head_ = r.method == "HEAD";
        close_after_ = start[2] == "HTTP/1.0" || has_token(r.header("Connection"), "close");
        state_ = State::Waiting;
        timer_.stop();
        gone_ = std::make_shared<std::atomic<bool>>(false);
        hand_over(r);
    }
    void hand_over(const HttpRequest& r);

    HttpFront* front_;
    QTcpSocket* socket_;
    QString address_;
    QTimer timer_;
    QByteArray buffer_;
    State state_ = State::Reading;
    bool in_request_ = false;
    bool close_after_ = false;
    bool head_ = false;
    bool dropped_ = false;
    bool counted_ = true; // in the limits of connections (refused ones are not)
    std::shared_ptr<std::atomic<bool>> gone_ = std::make_shared<std::atomic<bool>>(false);
};

class HttpFront::Exchange : public HttpExchange {
public:
    explicit Exchange(Connection* c) : connection_(c), gone_(c->gone()) {}
    void answer(int status, const QByteArray& content_type, const QByteArray& body, const HeaderList& extra) override
    {
        if (answered_) return;
        answered_ = true;
        if (connection_) connection_->write_answer(status, content_type, body, extra);
    }
    void start_stream(const QByteArray& content_type) override
    {
        if (answered_ || !connection_) return;
        HttpFront* front = static_cast<HttpFront*>(connection_->parent());
        if (front->streams_of(connection_->address()) >= front->limits_.streams_per_address) {
            answer(503, "application/json", error_body("too many event streams from this address"),
                   {{"Retry-After", "10"}});
            return;
        }
        answered_ = true;
        connection_->write_stream_head(content_type);
    }
    void stream(const QByteArray& piece) override
    {
        if (connection_) connection_->write_piece(piece);
    }
    bool connected() const override
    {
        return connection_ && !gone_->load() && connection_->socket()->state() == QAbstractSocket::ConnectedState;
    }
    bool answered() const override { return answered_; }
    std::shared_ptr<const std::atomic<bool>> gone() const override { return gone_; }

private:
    QPointer<Connection> connection_;
    std::shared_ptr<std::atomic<bool>> gone_;
    bool answered_ = false;
};

void HttpFront::Connection::hand_over(const HttpRequest& r) { front_->handler_(r, std::make_shared<Exchange>(this)); }

HttpFront::HttpFront(Handler handler, HttpLimits limits, QObject* parent)
    : QObject(parent), handler_(std::move(handler)), limits_(limits)
{
}

HttpFront::~HttpFront() = default;

quint16 HttpFront::listen(const QHostAddress& address, quint16 port)
{
    auto* server = new QTcpServer(this);
    if (!server->listen(address, port)) {
        listen_error_ = server->errorString();
        delete server;
        return 0;
    }
    // Taken as they come, so that no connection waits unseen in a queue of the server's own.
    server->setMaxPendingConnections(1);
    connect(server, &QTcpServer::newConnection, this, [this, server] {
        while (QTcpSocket* s = server->nextPendingConnection()) accept(s);
    });
    servers_.append(server);
    return server->serverPort();
}

void HttpFront::accept(QTcpSocket* socket)
{
    const QString address = address_key(socket->peerAddress());
    int from_address = 0, in_all = 0;
    for (const Connection* c : connections_) {
        if (!c->counted()) continue;
        ++in_all;
        from_address += c->address() == address;
    }
    const bool refused = draining_ || in_all >= limits_.total || from_address >= limits_.per_address;
    auto* c = new Connection(this, socket, address);
    connections_.append(c);
    // Refused connections are closed as any answered with Connection: close, so that the client
    // reads why; they last the moment that takes, and hold no place in the counts.
    if (refused) c->refuse_connection(draining_ ? "the hub is stopping" : "too many connections");
}

void HttpFront::forget(Connection* connection)
{
    connections_.removeOne(connection);
    connection->deleteLater();
    check_drained();
}

int HttpFront::streams_of(const QString& address) const
{
    int n = 0;
    for (const Connection* c : connections_) n += c->state() == Connection::State::Streaming && c->address() == address;
    return n;
}

void HttpFront::drain(int within_ms, std::function<void()> done)
{
    draining_ = true;
    drained_ = std::move(done);
    for (QTcpServer* s : servers_) s->close();
    for (Connection* c : QList<Connection*>(connections_))
        if (c->state() == Connection::State::Reading || c->state() == Connection::State::Streaming) c->close_gracefully();
    QTimer::singleShot(within_ms, this, [this] {
        for (Connection* c : QList<Connection*>(connections_)) c->drop();
        check_drained();
    });
    check_drained();
}

void HttpFront::check_drained()
{
    if (!draining_ || !connections_.isEmpty() || !drained_) return;
    auto done = std::move(drained_);
    drained_ = nullptr;
    done();
}

} // namespace tavrion::hub
