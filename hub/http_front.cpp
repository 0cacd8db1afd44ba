// HttpFront on libmicrohttpd, run in the hub's own thread from Qt's event loop (its epoll
// descriptor under a socket notifier, its timeouts on a timer), so that the handler and every
// answer stay in this thread. The library reads one request at a time and bounds each connection's
// memory; the deadlines, the eviction of idle connections and the streams' bounds are kept here.
#include "hub/http_front.h"
#include "hub/hub_log.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <utility>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tavrion::hub {

namespace {

// Room for a head exactly at its limit, a body piece and the answer's head; the library answers
// 431 by itself for a head that does not fit, and the limit proper is checked on the head's size.
constexpr size_t kConnectionMemory = 48 * 1024;

qint64 now_ms()
{
    static QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return clock.elapsed();
}

QByteArray error_body(const QByteArray& text) { return "{\"error\":\"" + text + "\"}\n"; }

int env_ms(const char* name, int fallback)
{
    bool ok = false;
    const int v = qEnvironmentVariableIntValue(name, &ok);
    return ok && v > 0 ? v : fallback;
}

// Connections are counted per client: an IPv4 client reached over an IPv6 socket is the same one.
QString address_key(const sockaddr* sa)
{
    if (!sa) return {};
    QHostAddress a(sa);
    bool v4 = false;
    const quint32 ip4 = a.toIPv4Address(&v4);
    return v4 ? QHostAddress(ip4).toString() : a.toString();
}

// The decoded path, with an encoded "/" kept as "%2F" so that it never splits a route.
QString decoded_path(const QByteArray& raw)
{
    QByteArray p = raw;
    p.replace("%2F", "%252F").replace("%2f", "%252F");
    return QString::fromUtf8(QByteArray::fromPercentEncoding(p));
}

// Leaves the URL as sent: the path is decoded here, after the split at "?".
size_t keep_escaped(void*, struct MHD_Connection*, char* s) { return std::strlen(s); }

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

struct HttpFront::Daemon {
    MHD_Daemon* mhd = nullptr;
    QSocketNotifier* notifier = nullptr;
    bool listening = true;
    int connections = 0;
};

// One TCP connection (the library's socket context).
struct HttpFront::Conn {
    enum class Phase { Idle, Reading, Handling, Streaming, Closing };
    Daemon* daemon = nullptr;
    MHD_Connection* mhd = nullptr;
    int fd = -1;
    QString address;
    Phase phase = Phase::Idle;
    bool first = true;       // no request answered yet: the first one's time counts from the opening
    qint64 since = 0;        // in this phase since
    qint64 deadline = 0;     // closed when not past this phase by then; 0: none
    Request* request = nullptr;
};

// One request (the library's con_cls), from its request line to its answer's last byte.
struct HttpFront::Request {
    Conn* conn = nullptr;
    QByteArray target;       // as sent
    QByteArray method;
    QByteArray body;
    bool checked = false;
    bool handed = false;
    bool in_handler = false;
    bool suspended = false;
    bool queued = false;
    bool head = false;
    bool close = false;      // Connection: close on the answer
    bool refused = false;    // answered before its body was read
    // An event stream's unsent pieces, and whether it is to end.
    QByteArray pending;
    bool stream_end = false;
    MHD_Response* response = nullptr; // written by the handler, queued on return
    int status = 0;
    std::shared_ptr<std::atomic<bool>> gone = std::make_shared<std::atomic<bool>>(false);
    HttpFront::Exchange* exchange = nullptr;
    QSocketNotifier* watch = nullptr; // a client leaving while its answer is awaited
};

class HttpFront::Exchange : public HttpExchange {
public:
    Exchange(HttpFront* front, Request* r) : front_(front), request_(r), gone_(r->gone) {}
    ~Exchange() override
    {
        if (request_) request_->exchange = nullptr;
    }
    void detach() { request_ = nullptr; }

    void answer(int status, const QByteArray& content_type, const QByteArray& body, const HeaderList& extra) override
    {
        if (answered_) return;
        answered_ = true;
        if (!alive()) return;
        const QByteArray content = request_->head ? QByteArray() : body;
        MHD_Response* resp = MHD_create_response_from_buffer(size_t(content.size()), const_cast<char*>(content.constData()),
                                                             MHD_RESPMEM_MUST_COPY);
        // HEAD gets the length the GET's body would have.
        if (request_->head) MHD_add_response_header(resp, MHD_HTTP_HEADER_CONTENT_LENGTH, QByteArray::number(body.size()).constData());
        add_headers(resp, content_type, extra);
        // A refusal of the hub's rules (token, Host, another site) is what an operator looks for;
        // the query is left out, since it may hold a token.
        if (status == 401 || status == 403) {
            const QString why = QJsonDocument::fromJson(body).object().value(QLatin1String("error")).toString();
            hub_log::about_client(hub_log::Area::http, QStringLiteral("client %1 refused: %2 %3 %4%5")
                                                   .arg(request_->conn->address).arg(status)
                                                   .arg(QString::fromLatin1(request_->method),
                                                        QString::fromLatin1(request_->target).section(QLatin1Char('?'), 0, 0),
                                                        why.isEmpty() ? QString() : QStringLiteral(": ") + why));
        }
        deliver(resp, status);
    }

    void start_stream(const QByteArray& content_type) override
    {
        if (answered_ || !alive()) return;
        if (front_->streams_of(request_->conn->address) >= front_->limits_.streams_per_address) {
            hub_log::about_client(hub_log::Area::http, QStringLiteral("client %1 refused: too many event streams from its address")
                                                   .arg(request_->conn->address));
            answer(503, "application/json", error_body("too many event streams from this address"), {{"Retry-After", "10"}});
            return;
        }
        answered_ = true;
        MHD_Response* resp = MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, 4096, &read_stream, request_, nullptr);
        add_headers(resp, content_type, {{"Cache-Control", "no-store"}});
        request_->conn->phase = Conn::Phase::Streaming;
        request_->conn->deadline = 0;
        deliver(resp, 200);
    }

    void stream(const QByteArray& piece) override
    {
        if (!alive() || request_->conn->phase != Conn::Phase::Streaming || request_->stream_end) return;
        // A client that does not read would make the hub keep every change for it.
        if (request_->pending.size() + piece.size() > front_->limits_.max_unsent) request_->stream_end = true;
        else request_->pending += piece;
        front_->wake(request_);
    }

    void end_stream() override
    {
        if (!alive() || request_->conn->phase != Conn::Phase::Streaming || request_->stream_end) return;
        request_->stream_end = true;
        front_->wake(request_);
    }

    bool connected() const override { return alive() && !gone_->load() && !request_->stream_end; }
    bool answered() const override { return answered_; }
    std::shared_ptr<const std::atomic<bool>> gone() const override { return gone_; }

    static ssize_t read_stream(void* cls, uint64_t, char* buf, size_t max)
    {
        auto* r = static_cast<Request*>(cls);
        if (r->stream_end || !r->conn) return MHD_CONTENT_READER_END_WITH_ERROR;
        if (r->pending.isEmpty()) {
            // Nothing to send: the connection sleeps until a piece or the end wakes it.
            MHD_suspend_connection(r->conn->mhd);
            r->suspended = true;
            return 0;
        }
        const size_t n = std::min(max, size_t(r->pending.size()));
        std::memcpy(buf, r->pending.constData(), n);
        r->pending.remove(0, int(n));
        return ssize_t(n);
    }

private:
    bool alive() const { return request_ && request_->conn; }
    void add_headers(MHD_Response* resp, const QByteArray& content_type, const HeaderList& extra)
    {
        MHD_add_response_header(resp, MHD_HTTP_HEADER_CONTENT_TYPE, content_type.constData());
        MHD_add_response_header(resp, "X-Content-Type-Options", "nosniff");
        for (const auto& h : extra) MHD_add_response_header(resp, h.first.constData(), h.second.constData());
        if (request_->close || front_->draining_) MHD_add_response_header(resp, MHD_HTTP_HEADER_CONNECTION, "close");
    }

    void deliver(MHD_Response* resp, int status)
    {
        Request* r = request_;
        if (r->in_handler) {
            // Queued by the request callback once the handler returns.
            r->response = resp;
            r->status = status;
            return;
        }
        // A suspended connection takes its answer at any time, and sends it once resumed.
        MHD_queue_response(r->conn->mhd, unsigned(status), resp);
        MHD_destroy_response(resp);
        r->queued = true;
        front_->wake(r);
    }

    HttpFront* front_;
    Request* request_;
    std::shared_ptr<std::atomic<bool>> gone_;
    bool answered_ = false;
};

// The library's callbacks, with the front as their closure.
struct FrontCallbacks {
    static HttpFront::Conn* conn_of(MHD_Connection* c)
    {
        const MHD_ConnectionInfo* i = MHD_get_connection_info(c, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
        return i ? static_cast<HttpFront::Conn*>(i->socket_context) : nullptr;
    }

    static void on_connection(void* cls, MHD_Connection* c, void** socket_context, MHD_ConnectionNotificationCode what)
    {
        auto* front = static_cast<HttpFront*>(cls);
        if (what == MHD_CONNECTION_NOTIFY_STARTED) {
            auto* conn = new HttpFront::Conn;
            conn->mhd = c;
            const MHD_ConnectionInfo* fd = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CONNECTION_FD);
            conn->fd = fd ? fd->connect_fd : -1;
            // Handshake records and answers go out as written: no wait for the client's delayed ACK.
            const int on = 1;
            ::setsockopt(conn->fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            const MHD_ConnectionInfo* a = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
            conn->address = address_key(a ? a->client_addr : nullptr);
            const MHD_ConnectionInfo* d = MHD_get_connection_info(c, MHD_CONNECTION_INFO_DAEMON);
            for (HttpFront::Daemon* daemon : front->daemons_)
                if (d && daemon->mhd == d->daemon) conn->daemon = daemon;
            if (conn->daemon) ++conn->daemon->connections;
            *socket_context = conn;
            front->admit(conn);
            return;
        }
        auto* conn = static_cast<HttpFront::Conn*>(*socket_context);
        if (!conn) return;
        *socket_context = nullptr;
        if (conn->request) {
            conn->request->gone->store(true);
            conn->request->conn = nullptr;
        }
        front->conns_.removeOne(conn);
        if (conn->daemon) --conn->daemon->connections;
        delete conn;
        if (!front->stopping_) QTimer::singleShot(0, front, [front] {
            front->retire_idle_daemons();
            front->check_drained();
        });
    }

    // The request line is in: a request has begun.
    static void* on_uri(void* cls, const char* uri, MHD_Connection* c)
    {
        auto* front = static_cast<HttpFront*>(cls);
        auto* r = new HttpFront::Request;
        r->target = uri;
        r->conn = conn_of(c);
        if (r->conn) {
            r->conn->request = r;
            if (!r->conn->first) {
                r->conn->deadline = now_ms() + front->limits_.request_ms;
                r->conn->since = now_ms();
            }
            r->conn->phase = HttpFront::Conn::Phase::Reading;
        }
        return r;
    }

    static MHD_Result on_request(void* cls, MHD_Connection*, const char*, const char* method, const char*, const char* upload,
                                 size_t* upload_size, void** con_cls)
    {
        auto* r = static_cast<HttpFront::Request*>(*con_cls);
        if (!r || !r->conn) return MHD_NO;
        if (r->method.isEmpty()) r->method = method;
        return static_cast<HttpFront*>(cls)->handle(r->conn, r, upload, upload_size) ? MHD_YES : MHD_NO;
    }

    static void on_completed(void* cls, MHD_Connection*, void** con_cls, MHD_RequestTerminationCode)
    {
        auto* front = static_cast<HttpFront*>(cls);
        auto* r = static_cast<HttpFront::Request*>(*con_cls);
        *con_cls = nullptr;
        if (!r) return;
        front->rerun_ = true;
        r->gone->store(true);
        if (r->exchange) r->exchange->detach();
        delete r->watch;
        if (r->response) MHD_destroy_response(r->response);
        if (HttpFront::Conn* conn = r->conn) {
            if (r->refused) front->linger(conn->fd);
            conn->request = nullptr;
            if (conn->phase != HttpFront::Conn::Phase::Closing) {
                // Waiting for its next request, at most the idle time.
                conn->first = false;
                conn->phase = HttpFront::Conn::Phase::Idle;
                conn->since = now_ms();
                conn->deadline = conn->since + front->limits_.idle_ms;
                if (front->draining_) front->close(conn);
            }
        }
        delete r;
    }
};

HttpFront::HttpFront(Handler handler, HttpLimits limits, QObject* parent)
    : QObject(parent), handler_(std::move(handler)), limits_(limits), timer_(new QTimer(this))
{
    timer_->setSingleShot(true);
    connect(timer_, &QTimer::timeout, this, &HttpFront::run);
}

HttpFront::~HttpFront()
{
    stopping_ = true;
    // The library may not stop with connections asleep.
    for (Conn* c : QList<Conn*>(conns_))
        if (c->request && c->request->suspended) {
            c->request->suspended = false;
            c->request->stream_end = true;
            MHD_resume_connection(c->mhd);
        }
    for (Daemon* d : daemons_) {
        delete d->notifier;
        MHD_stop_daemon(d->mhd);
        delete d;
    }
}

bool HttpFront::use_tls(const QByteArray& cert_pem, const QByteArray& key_pem, QString& error)
{
    const QByteArray old_cert = cert_, old_key = key_;
    cert_ = cert_pem;
    key_ = key_pem;
    // A daemon without a socket of its own loads the pair as the listening one would.
    if (daemons_.isEmpty()) {
        Daemon* probe = start_daemon(-1, error);
        if (!probe) {
            cert_ = old_cert, key_ = old_key;
            return false;
        }
        daemons_.removeOne(probe);
        delete probe->notifier;
        MHD_stop_daemon(probe->mhd);
        delete probe;
        return true;
    }
    Daemon* current = daemons_.last();
    const MHD_DaemonInfo* info = MHD_get_daemon_info(current->mhd, MHD_DAEMON_INFO_LISTEN_FD);
    if (!current->listening || !info) {
        cert_ = old_cert, key_ = old_key;
        error = QStringLiteral("not listening");
        return false;
    }
    // The new daemon takes a copy of the listening socket; the old one stops accepting and
    // finishes the connections it has.
    const int fd = ::fcntl(info->listen_fd, F_DUPFD_CLOEXEC, 0);
    Daemon* next = fd >= 0 ? start_daemon(fd, error) : nullptr;
    if (!next) {
        cert_ = old_cert, key_ = old_key;
        return false;
    }
    const int old_fd = MHD_quiesce_daemon(current->mhd);
    if (old_fd >= 0) ::close(old_fd);
    current->listening = false;
    retire_idle_daemons();
    schedule();
    return true;
}

HttpFront::Daemon* HttpFront::start_daemon(int listen_fd, QString& error)
{
    unsigned flags = MHD_USE_EPOLL | MHD_ALLOW_SUSPEND_RESUME;
    if (listen_fd < 0) flags |= MHD_USE_NO_LISTEN_SOCKET;
    if (tls()) flags |= MHD_USE_TLS;
    auto* d = new Daemon;
    daemons_.append(d);
    const unsigned idle_s = unsigned((limits_.idle_ms + 999) / 1000);
    std::vector<MHD_OptionItem> o{
        {MHD_OPTION_CONNECTION_LIMIT, limits_.total + 1, nullptr}, // the one over is let in to evict another
        {MHD_OPTION_PER_IP_CONNECTION_LIMIT, limits_.per_address, nullptr},
        {MHD_OPTION_CONNECTION_MEMORY_LIMIT, intptr_t(kConnectionMemory), nullptr},
        {MHD_OPTION_CONNECTION_TIMEOUT, intptr_t(idle_s), nullptr},
        {MHD_OPTION_NOTIFY_CONNECTION, intptr_t(&FrontCallbacks::on_connection), this},
        {MHD_OPTION_NOTIFY_COMPLETED, intptr_t(&FrontCallbacks::on_completed), this},
        {MHD_OPTION_URI_LOG_CALLBACK, intptr_t(&FrontCallbacks::on_uri), this},
        {MHD_OPTION_UNESCAPE_CALLBACK, intptr_t(&keep_escaped), nullptr},
        {MHD_OPTION_SIGPIPE_HANDLED_BY_APP, 1, nullptr},
        {MHD_OPTION_STRICT_FOR_CLIENT, 1, nullptr},
    };
    if (listen_fd >= 0) o.push_back({MHD_OPTION_LISTEN_SOCKET, listen_fd, nullptr});
    if (tls()) {
        o.push_back({MHD_OPTION_HTTPS_MEM_CERT, 0, const_cast<char*>(cert_.constData())});
        o.push_back({MHD_OPTION_HTTPS_MEM_KEY, 0, const_cast<char*>(key_.constData())});
        o.push_back({MHD_OPTION_HTTPS_PRIORITIES, 0, const_cast<char*>("NORMAL:-VERS-ALL:+VERS-TLS1.3:+VERS-TLS1.2")});
    }
    o.push_back({MHD_OPTION_END, 0, nullptr});
    d->mhd = MHD_start_daemon(flags, 0, nullptr, nullptr, &FrontCallbacks::on_request, this, MHD_OPTION_ARRAY, o.data(),
                              MHD_OPTION_END);
    if (!d->mhd) {
        daemons_.removeOne(d);
        delete d;
        error = tls() ? QStringLiteral("the certificate and key cannot be used together (PEM, a key that belongs to the certificate)")
                      : QStringLiteral("cannot start the HTTP server");
        return nullptr;
    }
    const MHD_DaemonInfo* e = MHD_get_daemon_info(d->mhd, MHD_DAEMON_INFO_EPOLL_FD);
    d->notifier = new QSocketNotifier(e->epoll_fd, QSocketNotifier::Read, this);
    connect(d->notifier, &QSocketNotifier::activated, this, &HttpFront::run);
    return d;
}

quint16 HttpFront::listen(const QHostAddress& address, quint16 port)
{
    // A client that has gone must not end the hub when an answer is written to it.
    std::signal(SIGPIPE, SIG_IGN);
    sockaddr_storage ss {};
    socklen_t len = 0;
    bool v4 = false;
    const quint32 ip4 = address.toIPv4Address(&v4);
    if (v4) {
        auto* sa = reinterpret_cast<sockaddr_in*>(&ss);
        sa->sin_family = AF_INET;
        sa->sin_port = htons(port);
        sa->sin_addr.s_addr = htonl(ip4);
        len = sizeof(sockaddr_in);
    } else {
        auto* sa = reinterpret_cast<sockaddr_in6*>(&ss);
        sa->sin6_family = AF_INET6;
        sa->sin6_port = htons(port);
        const Q_IPV6ADDR a = address.toIPv6Address();
        std::memcpy(&sa->sin6_addr, a.c, 16);
        len = sizeof(sockaddr_in6);
    }
    const int fd = ::socket(ss.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        listen_error_ = QString::fromLocal8Bit(std::strerror(errno));
        return 0;
    }
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&ss), len) != 0 || ::listen(fd, 128) != 0
        || ::getsockname(fd, reinterpret_cast<sockaddr*>(&ss), &len) != 0) {
        listen_error_ = QString::fromLocal8Bit(std::strerror(errno));
        ::close(fd);
        return 0;
    }
    QString error;
    if (!start_daemon(fd, error)) {
        listen_error_ = error;
        ::close(fd);
        return 0;
    }
    schedule();
    return ntohs(v4 ? reinterpret_cast<sockaddr_in*>(&ss)->sin_port : reinterpret_cast<sockaddr_in6*>(&ss)->sin6_port);
}

bool HttpFront::serve(int fd)
{
    QString error;
    if (daemons_.isEmpty() && !start_daemon(-1, error)) return false;
    sockaddr_in from {};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool added = MHD_add_connection(daemons_.last()->mhd, fd, reinterpret_cast<sockaddr*>(&from), sizeof from) == MHD_YES;
    schedule();
    return added;
}

void HttpFront::run()
{
    rerun_ = false;
    // The library frees a connection it closed in one run at the start of the next: a second
    // run (one more epoll_wait without waiting) lets the counts and the drain see it at once.
    for (Daemon* d : QList<Daemon*>(daemons_)) {
        MHD_run(d->mhd);
        MHD_run(d->mhd);
    }
    // Connections past their phase's deadline are closed; none is read again before that.
    const qint64 now = now_ms();
    for (Conn* c : QList<Conn*>(conns_))
        if (c->deadline && c->deadline <= now) {
            if (c->phase == Conn::Phase::Idle && !c->first)
                hub_log::debug(hub_log::Area::http, QStringLiteral("client %1 closed: idle").arg(c->address));
            else
                hub_log::about_client(hub_log::Area::http, QStringLiteral("client %1 dropped: no whole request within %2")
                                                       .arg(c->address, hub_log::duration_text(now - c->since)));
            close(c);
        }
    schedule();
}

void HttpFront::schedule()
{
    qint64 wait = -1;
    for (Daemon* d : daemons_) {
        MHD_UNSIGNED_LONG_LONG t = 0;
        if (MHD_get_timeout(d->mhd, &t) == MHD_YES) wait = wait < 0 ? qint64(t) : std::min(wait, qint64(t));
    }
    const qint64 now = now_ms();
    for (const Conn* c : conns_)
        if (c->deadline) {
            const qint64 left = std::max<qint64>(0, c->deadline - now);
            wait = wait < 0 ? left : std::min(wait, left);
        }
    if (rerun_) wait = 0;
    if (wait < 0) timer_->stop();
    else timer_->start(int(std::min<qint64>(wait, 60000)));
}

// Takes a new connection into the counts; over the total, the one that has waited longest
// without a request in progress makes room, or else the new one goes.
void HttpFront::admit(Conn* conn)
{
    conn->since = now_ms();
    conn->deadline = draining_ ? conn->since : conn->since + limits_.request_ms;
    int from_address = 0;
    Conn* oldest = nullptr;
    int open = 0;
    for (Conn* c : conns_) {
        if (c->phase == Conn::Phase::Closing) continue;
        ++open;
        from_address += c->address == conn->address;
        const bool waiting = c->phase == Conn::Phase::Idle || (c->phase == Conn::Phase::Reading && c->first);
        if (waiting && (!oldest || c->since < oldest->since)) oldest = c;
    }
    conns_.append(conn);
    // The library counts each daemon's own; across a certificate change both count here.
    if (from_address >= limits_.per_address) {
        hub_log::about_client(hub_log::Area::http, QStringLiteral("client %1 refused: %2 connections from its address are open already")
                                               .arg(conn->address).arg(from_address));
        return close(conn);
    }
    if (open >= limits_.total) {
        if (!oldest) {
            hub_log::about_client(hub_log::Area::http, QStringLiteral("client %1 refused: %2 connections are busy already")
                                                   .arg(conn->address).arg(open));
            return close(conn);
        }
        hub_log::about_client(hub_log::Area::http, QStringLiteral("client %1 dropped: it waited longest of %2 connections, and %3 came")
                                               .arg(oldest->address).arg(open).arg(conn->address));
        close(oldest);
    }
}

void HttpFront::close(Conn* conn)
{
    if (conn->phase == Conn::Phase::Closing) return;
    conn->phase = Conn::Phase::Closing;
    conn->deadline = 0;
    ::shutdown(conn->fd, SHUT_RDWR);
    if (Request* r = conn->request) {
        r->gone->store(true);
        r->stream_end = true;
        wake(r);
    }
    timer_->start(0);
}

// A sleeping connection has something to send (or is to end): the library takes it up again.
void HttpFront::wake(Request* r)
{
    if (!r->suspended || !r->conn) return;
    r->suspended = false;
    delete r->watch;
    r->watch = nullptr;
    MHD_resume_connection(r->conn->mhd);
    timer_->start(0);
}

int HttpFront::handle(Conn* conn, Request* r, const char* upload, size_t* upload_size)
{
    MHD_Connection* c = conn->mhd;
    // A connection closed here while it slept ends now.
    if (conn->phase == Conn::Phase::Closing && !r->response && !r->queued) return false;
    auto refuse = [&](int status, const QByteArray& text) {
        const QByteArray body = error_body(text);
        MHD_Response* resp = MHD_create_response_from_buffer(size_t(body.size()), const_cast<char*>(body.constData()),
                                                             MHD_RESPMEM_MUST_COPY);
        MHD_add_response_header(resp, MHD_HTTP_HEADER_CONTENT_TYPE, "application/json");
        MHD_add_response_header(resp, "X-Content-Type-Options", "nosniff");
        MHD_add_response_header(resp, MHD_HTTP_HEADER_CONNECTION, "close");
        const MHD_Result ok = MHD_queue_response(c, unsigned(status), resp);
        MHD_destroy_response(resp);
        r->queued = true;
        r->refused = true;
        conn->deadline = 0;
        hub_log::about_client(hub_log::Area::http, QStringLiteral("client %1 refused: %2 %3").arg(conn->address).arg(status)
                                               .arg(QString::fromUtf8(text)));
        return ok == MHD_YES;
    };
    if (!r->checked) {
        r->checked = true;
        // The checks the library leaves to the application, before any body is read.
        struct Count {
            int all = 0, hosts = 0, lengths = 0, encodings = 0;
            QByteArray length;
            bool differing = false;
            bool malformed = false;
        } n;
        MHD_get_connection_values_n(c, MHD_HEADER_KIND, [](void* cls, MHD_ValueKind, const char* key, size_t key_size,
                                                           const char* value, size_t value_size) {
            auto* n = static_cast<Count*>(cls);
            ++n->all;
            // A header without a name, or one whose name or value holds a NUL as the library reports it.
            if (!key_size || std::strlen(key) != key_size || (value && std::strlen(value) != value_size)) n->malformed = true;
            if (!strcasecmp(key, "Host")) ++n->hosts;
            if (!strcasecmp(key, "Transfer-Encoding")) ++n->encodings;
            if (!strcasecmp(key, "Content-Length")) {
                if (n->lengths++ && n->length != value) n->differing = true;
                n->length = value ? value : "";
            }
            return MHD_YES;
        }, &n);
        const MHD_ConnectionInfo* head = MHD_get_connection_info(c, MHD_CONNECTION_INFO_REQUEST_HEADER_SIZE);
        if (head && head->header_size > size_t(limits_.max_head)) return refuse(431, "the request's headers are too large");
        if (n.all > limits_.max_headers) return refuse(400, "too many headers");
        if (n.malformed) return refuse(400, "a header line is not NAME: VALUE");
        if (n.hosts > 1) return refuse(400, "more than one Host header");
        if (n.encodings) return refuse(413, "a body of unknown length is not taken");
        if (n.differing) return refuse(400, "a bad Content-Length");
        if (n.length.size() > 12 || n.length.toLongLong() > limits_.max_body)
            return refuse(413, "the body is larger than " + QByteArray::number(limits_.max_body) + " bytes");
        return true; // a body may follow (after "100 Continue" where it was asked for)
    }
    if (*upload_size) {
        if (r->body.size() + qint64(*upload_size) > limits_.max_body) return refuse(413, "the body is larger than the limit");
        r->body.append(upload, int(*upload_size));
        *upload_size = 0;
        return true;
    }
    if (!r->handed) {
        r->handed = true;
        hand_over(conn, r);
    }
    if (r->response) {
        MHD_Response* resp = std::exchange(r->response, nullptr);
        const MHD_Result ok = MHD_queue_response(c, unsigned(r->status), resp);
        MHD_destroy_response(resp);
        r->queued = true;
        return ok == MHD_YES;
    }
    if (r->queued) return true;
    // The answer comes later: the connection sleeps, and reads nothing more, until it does. A
    // client that leaves meanwhile is noticed, so that its run can be dropped.
    MHD_suspend_connection(c);
    r->suspended = true;
    if (!r->watch) {
        r->watch = new QSocketNotifier(conn->fd, QSocketNotifier::Read, this);
        QSocketNotifier* watch = r->watch;
        connect(watch, &QSocketNotifier::activated, this, [r, watch] {
            char b;
            const ssize_t got = ::recv(r->conn->fd, &b, 1, MSG_PEEK | MSG_DONTWAIT);
            // Bytes of a next request wait unread; only an end or an error is news.
            watch->setEnabled(false);
            if (got <= 0 && !(got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))) r->gone->store(true);
        });
    }
    return true;
}

void HttpFront::hand_over(Conn* conn, Request* r)
{
    MHD_Connection* c = conn->mhd;
    HttpRequest req;
    req.method = r->method;
    req.client = conn->address;
    r->head = req.method == "HEAD";
    MHD_get_connection_values(c, MHD_HEADER_KIND, [](void* cls, MHD_ValueKind, const char* key, const char* value) {
        static_cast<HttpRequest*>(cls)->headers.append(qMakePair(QByteArray(key), QByteArray(value ? value : "")));
        return MHD_YES;
    }, &req);
    conn->phase = Conn::Phase::Handling;
    conn->deadline = 0;
    r->body.swap(req.body);
    // A target in absolute form names its host; it must be this request's Host.
    QByteArray target = r->target;
    const int scheme = target.indexOf("://");
    if (!target.startsWith('/') && scheme > 0) {
        const int slash = target.indexOf('/', scheme + 3);
        const QByteArray authority = target.mid(scheme + 3, slash < 0 ? -1 : slash - scheme - 3);
        if (authority.compare(req.header("Host"), Qt::CaseInsensitive) != 0) {
            r->close = true;
            auto ex = std::make_shared<Exchange>(this, r);
            r->exchange = ex.get();
            r->in_handler = true;
            ex->answer(400, "application/json", error_body("the request names another host"), {});
            r->in_handler = false;
            return;
        }
        target = slash < 0 ? QByteArray("/") : target.mid(slash);
    }
    const int q = target.indexOf('?');
    req.path = decoded_path(q < 0 ? target : target.left(q));
    if (q >= 0) req.query = QUrlQuery(QString::fromUtf8(target.mid(q + 1)));
    r->close = draining_;
    auto ex = std::make_shared<Exchange>(this, r);
    r->exchange = ex.get();
    r->in_handler = true;
    handler_(req, ex);
    r->in_handler = false;
}

// A refused request's answer is out, but its client may still be sending the body: closing on
// unread bytes would reset the connection and the client could lose the answer. A copy of the
// socket outlives the library's: the hub's side is shut, and what still comes is read and dropped
// until the client closes too, for a short while at most.
void HttpFront::linger(int fd)
{
    constexpr int kLingering = 64, kLingerMs = 2000;
    if (lingering_ >= kLingering || fd < 0) return;
    const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (copy < 0) return;
    ::shutdown(copy, SHUT_WR);
    ++lingering_;
    auto* notifier = new QSocketNotifier(copy, QSocketNotifier::Read, this);
    auto done = [this, notifier, copy] {
        if (!notifier->isEnabled()) return;
        notifier->setEnabled(false);
        notifier->deleteLater();
        ::close(copy);
        --lingering_;
    };
    connect(notifier, &QSocketNotifier::activated, this, [copy, done] {
        char scratch[16384];
        const ssize_t n = ::recv(copy, scratch, sizeof scratch, MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) done();
    });
    QTimer::singleShot(std::min(kLingerMs, limits_.request_ms), notifier, done);
}

int HttpFront::streams_of(const QString& address) const
{
    int n = 0;
    for (const Conn* c : conns_) n += c->phase == Conn::Phase::Streaming && c->address == address;
    return n;
}

void HttpFront::retire_idle_daemons()
{
    for (Daemon* d : QList<Daemon*>(daemons_)) {
        if (d->listening || d->connections > 0) continue;
        daemons_.removeOne(d);
        delete d->notifier;
        MHD_stop_daemon(d->mhd);
        delete d;
    }
}

void HttpFront::drain(int within_ms, std::function<void()> done)
{
    draining_ = true;
    drained_ = std::move(done);
    for (Daemon* d : daemons_)
        if (d->listening) {
            const int fd = MHD_quiesce_daemon(d->mhd);
            if (fd >= 0) ::close(fd);
            d->listening = false;
        }
    for (Conn* c : QList<Conn*>(conns_))
        if (c->phase != Conn::Phase::Handling) close(c);
    QTimer::singleShot(within_ms, this, [this] {
        for (Conn* c : QList<Conn*>(conns_)) close(c);
        check_drained();
    });
    check_drained();
}

void HttpFront::check_drained()
{
    if (!draining_ || !conns_.isEmpty() || !drained_) return;
    auto done = std::move(drained_);
    drained_ = nullptr;
    done();
}

} // namespace tavrion::hub
