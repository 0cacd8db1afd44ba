// The hub's HTTP/1.1 (and HTTPS) front on libmicrohttpd: one handler sees every request, each
// request's answer can be written later or kept open as an event stream, and every client's cost
// is bounded (bytes, time, connections, unsent data).
#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QUrlQuery>

#include <atomic>
#include <functional>
#include <memory>

class QTimer;

namespace tavrion::hub {

using HeaderList = QList<QPair<QByteArray, QByteArray>>;

struct HttpRequest {
    QByteArray method; // "GET", "POST", ...
    QString path;      // decoded path without the query; an encoded "/" stays "%2F"
    QUrlQuery query;
    HeaderList headers;
    QByteArray body;
    QString client; // the client's address, for the log and the audit
    // The first header of that name (names compare without case); empty when absent.
    QByteArray header(const QByteArray& name) const;
    bool has_header(const QByteArray& name) const;
};

// What one client may cost. The defaults are the hub's; the two timeouts can be shortened through
// TAVRION_HUB_REQUEST_MS and TAVRION_HUB_IDLE_MS so that tests need not wait a minute.
struct HttpLimits {
    qint64 max_body = 16 * 1024;
    int max_head = 16 * 1024;        // request line and headers
    int max_headers = 99;
    int request_ms = 10000;          // a connection's first request from its opening (TLS handshake
                                     // included), every later one from its request line, to its last byte
    int idle_ms = 60000;             // a connection without a request
    int per_address = 64;            // connections from one client address
    int total = 512;                 // connections in all
    int streams_per_address = 32;
    qint64 max_unsent = 256 * 1024;  // an event stream the client does not read is closed beyond this
    static HttpLimits from_environment();
};

// One request's answer. It stays valid after the handler returns; writing to a client that has
// gone does nothing.
class HttpExchange {
public:
    virtual ~HttpExchange() = default;
    // The whole answer with its length (for HEAD, without the body).
    virtual void answer(int status, const QByteArray& content_type, const QByteArray& body,
                        const HeaderList& extra = {}) = 0;
    // An open-ended answer (Server-Sent Events): headers now, the body in pieces. Beyond the
    // client address's share of streams it is answered 503 instead.
    virtual void start_stream(const QByteArray& content_type) = 0;
    virtual void stream(const QByteArray& piece) = 0;
    // Closes a stream now, whatever it has not sent yet (a sign-in that was removed).
    virtual void end_stream() = 0;
    virtual bool connected() const = 0;
    virtual bool answered() const = 0;
    // Set once the client has gone; readable from any thread.
    virtual std::shared_ptr<const std::atomic<bool>> gone() const = 0;
};
using ExchangePtr = std::shared_ptr<HttpExchange>;

class HttpFront : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<void(const HttpRequest&, const ExchangePtr&)>;
    HttpFront(Handler handler, HttpLimits limits, QObject* parent = nullptr);
    ~HttpFront() override;
    // HTTPS with this certificate (PEM, chain allowed) and key (PEM). Before listen(): checks the
    // pair; after it: new connections use the new pair, open ones keep theirs. False, with `error`,
    // for a pair that cannot be used (the one in use stays).
    bool use_tls(const QByteArray& cert_pem, const QByteArray& key_pem, QString& error);
    bool tls() const { return !cert_.isEmpty(); }
    // The port listened on (the one chosen when `port` is 0); 0 when it cannot listen.
    quint16 listen(const QHostAddress& address, quint16 port);
    // Why the last listen() failed ("Address already in use", ...).
    QString listen_error() const { return listen_error_; }
    // Client connections open now, event streams included.
    int open_connections() const { return int(conns_.size()); }
    // Serves a connected socket from elsewhere (the fuzz target's socket pair); false when it
    // cannot. Without listen(), a daemon without a listening socket is started for it.
    bool serve(int fd);
    // Stops listening, closes the streams and the connections without a request in progress,
    // lets the answers already written reach their clients (at most `within_ms`), then calls `done`.
    void drain(int within_ms, std::function<void()> done);

    struct Conn;
    struct Request;
    struct Daemon;

private:
    class Exchange;
    Daemon* start_daemon(int listen_fd, QString& error);
    void run();
    void schedule();
    void retire_idle_daemons();
    void check_drained();
    void admit(Conn* conn);
    void close(Conn* conn);
    void wake(Request* r);
    void linger(int fd);
    int streams_of(const QString& address) const;

    friend struct FrontCallbacks; // libmicrohttpd's callbacks
    int handle(Conn* conn, Request* r, const char* upload, size_t* upload_size);
    void hand_over(Conn* conn, Request* r);

    Handler handler_;
    HttpLimits limits_;
    QByteArray cert_, key_;
    QList<Daemon*> daemons_; // the last one listens; the others finish their connections
    QList<Conn*> conns_;
    QTimer* timer_ = nullptr;
    std::function<void()> drained_;
    bool draining_ = false;
    bool stopping_ = false;
    bool rerun_ = false; // a request ended in the last run
    int lingering_ = 0;  // refused connections still read until their clients close
    QString listen_error_;
};

} // namespace tavrion::hub
