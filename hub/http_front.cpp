// HttpFront on QAbstractHttpServer: every request goes to one handler (no router, so the hub's
// checks run for all of them), and answers are written as raw HTTP/1.1 on the request's socket.
#include "hub/http_front.h"

#include <QAbstractHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QPointer>
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

HttpFront::HttpFront(Handler handler, QObject* parent) : QObject(parent), server_(new Server(std::move(handler), this)) {}

HttpFront::~HttpFront() = default;

quint16 HttpFront::listen(const QHostAddress& address, quint16 port) { return server_->listen(address, port); }

} // namespace tavrion::hub
