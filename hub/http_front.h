// The hub's own small face of the HTTP server (Qt 6.4's QHttpServer is a technology preview whose
// interface changes in later Qt): one handler sees every request, and each request's answer can be
// written later, or kept open as an event stream.
#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QUrlQuery>

#include <functional>
#include <memory>

namespace tavrion::hub {

using HeaderList = QList<QPair<QByteArray, QByteArray>>;

struct HttpRequest {
    QByteArray method; // "GET", "POST", ...
    QString path;      // decoded path without the query
    QUrlQuery query;
    HeaderList headers;
    QByteArray body;
    // The first header of that name (names compare without case); empty when absent.
    QByteArray header(const QByteArray& name) const;
    bool has_header(const QByteArray& name) const;
};

// One request's answer. It stays valid after the handler returns; writing to a client that has
// gone does nothing.
class HttpExchange {
public:
    virtual ~HttpExchange() = default;
    // The whole answer with its length; the connection stays usable for the next request.
    virtual void answer(int status, const QByteArray& content_type, const QByteArray& body,
                        const HeaderList& extra = {}) = 0;
    // An open-ended answer (Server-Sent Events): headers now, the body in pieces.
    virtual void start_stream(const QByteArray& content_type) = 0;
    virtual void stream(const QByteArray& piece) = 0;
    virtual bool connected() const = 0;
    virtual bool answered() const = 0;
};
using ExchangePtr = std::shared_ptr<HttpExchange>;

class HttpFront : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<void(const HttpRequest&, const ExchangePtr&)>;
    // Requests whose body is larger than `max_body` bytes are answered 413 before they are read.
    HttpFront(Handler handler, int max_body, QObject* parent = nullptr);
    ~HttpFront() override;
    // The port listened on (the one chosen when `port` is 0); 0 when it cannot listen.
    quint16 listen(const QHostAddress& address, quint16 port);

private:
    class Server;
    Server* server_;
    int max_body_;
};

} // namespace tavrion::hub
