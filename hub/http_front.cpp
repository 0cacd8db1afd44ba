// HttpFront on QAbstractHttpServer: every request goes to one handler (no router, so the hub's
// checks run for all of them), and answers are written as raw HTTP/1.1 on the request's socket.
#include "hub/http_front.h"

#include <QAbstractHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QPointer>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>

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
    case 409: return "Conflict";
    case 413: return "Payload Too Large";
    case 500: return "Internal Server Error";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}

QByteArray method_name(QHttpServerRequest::Method m)
{
    switch (m) {
    case QHttpServerRequest::Method::Get: return "GET";
    case QHttpServerRequest::Method::Put: return "PUT";
    case QHttpServerRequest::Method::Delete: return "DELETE";
    case QHttpServerRequest::Method::Post: return "POST";
    case QHttpServerRequest::Method::Head: return "HEAD";
    case QHttpServerRequest::Method::Options: return "OPTIONS";
    case QHttpServerRequest::Method::Patch: return "PATCH";
    case QHttpServerRequest::Method::Connect: return "CONNECT";
    case QHttpServerRequest::Method::Trace: return "TRACE";
    default: return "UNKNOWN";
    }
}

class SocketExchange : public HttpExchange {
public:
    SocketExchange(QHttpServerResponder&& responder, QTcpSocket* socket)
        : responder_(std::move(responder)), socket_(socket)
    {
    }
    void answer(int status, const QByteArray& content_type, const QByteArray& body, const HeaderList& extra) override
    {
        if (answered_) return;
        answered_ = true;
        QByteArray head = status_head(status, content_type, extra);
        head += "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n";
        write(head + body);
    }
    void start_stream(const QByteArray& content_type) override
    {
        if (answered_) return;
        answered_ = true;
        write(status_head(200, content_type, {{"Cache-Control", "no-store"}}) + "\r\n");
    }
    void stream(const QByteArray& piece) override { write(piece); }
    bool connected() const override { return socket_ && socket_->state() == QAbstractSocket::ConnectedState; }
    bool answered() const override { return answered_; }

private:
    static QByteArray status_head(int status, const QByteArray& content_type, const HeaderList& extra)
    {
        QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + " " + reason(status) + "\r\n";
        head += "Content-Type: " + content_type + "\r\n";
        head += "X-Content-Type-Options: nosniff\r\n";
        for (const auto& h : extra) head += h.first + ": " + h.second + "\r\n";
        return head;
    }
    void write(const QByteArray& bytes)
    {
        if (connected()) socket_->write(bytes);
    }

    QHttpServerResponder responder_; // kept: the server's own record of the request lives with it
    QPointer<QTcpSocket> socket_;
    bool answered_ = false;
};

// Qt 6.4 buffers a request's whole body before handing it over. This server looks at the bytes
// first (its handler runs before the HTTP server's): a request that announces or sends more than
// the body limit, or a body of unknown length, is answered 413 and its bytes dropped unread.
class GuardedTcpServer : public QTcpServer {
public:
    GuardedTcpServer(int max_body, QObject* parent) : QTcpServer(parent), max_body_(max_body) {}

protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto* socket = new QTcpSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
        auto since_start = std::make_shared<qint64>(0); // bytes since the last request line
        auto refused = std::make_shared<bool>(false);
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket, since_start, refused] {
            if (*refused) {
                socket->readAll();
                return;
            }
            static const QRegularExpression request_line(QStringLiteral("^[A-Z]+ [^ ]+ HTTP/1\\.[01]\r\n"));
            const QByteArray head = socket->peek(8192);
            bool too_large = false;
            if (request_line.match(QString::fromLatin1(head.left(512))).hasMatch()) {
                *since_start = 0;
                const int end = head.indexOf("\r\n\r\n");
                const QByteArray headers = (end < 0 ? head : head.left(end)).toLower();
                static const QRegularExpression length(QStringLiteral("\r\ncontent-length: *(\\d+)"));
                const QRegularExpressionMatch m = length.match(QString::fromLatin1(headers));
                too_large = (m.hasMatch() && m.captured(1).toLongLong() > max_body_)
                    || headers.contains("\r\ntransfer-encoding:");
            }
            *since_start += socket->bytesAvailable();
            too_large = too_large || *since_start > max_body_ + kMaxHeadBytes;
            if (!too_large) return;
            *refused = true;
            socket->readAll();
            const QByteArray body = "{\"error\":\"the body is larger than " + QByteArray::number(max_body_)
                + " bytes, or of unknown length\"}\n";
            socket->write("HTTP/1.1 413 Payload Too Large\r\nContent-Type: application/json\r\nConnection: close\r\n"
                          "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
            socket->disconnectFromHost();
        });
        addPendingConnection(socket);
    }

private:
    static constexpr qint64 kMaxHeadBytes = 16 * 1024;
    int max_body_;
};

} // namespace

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

class HttpFront::Server : public QAbstractHttpServer {
public:
    Server(Handler handler, QObject* parent) : QAbstractHttpServer(parent), handler_(std::move(handler)) {}

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override
    {
        HttpRequest r;
        r.method = method_name(request.method());
        r.path = request.url().path();
        r.query = request.query();
        r.headers = request.headers();
        r.body = request.body();
        handler_(r, std::make_shared<SocketExchange>(makeResponder(request, socket), socket));
        return true;
    }
    void missingHandler(const QHttpServerRequest&, QTcpSocket*) override {}

private:
    Handler handler_;
};

HttpFront::HttpFront(Handler handler, int max_body, QObject* parent)
    : QObject(parent), server_(new Server(std::move(handler), this)), max_body_(max_body)
{
}

HttpFront::~HttpFront() = default;

quint16 HttpFront::listen(const QHostAddress& address, quint16 port)
{
    auto* tcp = new GuardedTcpServer(max_body_, server_);
    if (!tcp->listen(address, port)) {
        delete tcp;
        return 0;
    }
    server_->bind(tcp);
    return tcp->serverPort();
}

} // namespace tavrion::hub
