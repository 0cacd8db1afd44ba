// The hub's request path: bytes from a client reach HttpFront (libmicrohttpd and the checks of
// its own) over a socket pair, with the hub's real limits. Fed whole and in input-chosen pieces,
// the same requests must reach the handler; each has one Host at most, a body within the limit
// and of its announced length, and no request is handed over that the bytes do not hold.
//
// Input: one byte (bits 0-5: piece size - 1, 0x3F: whole; bit 6: the handler answers later),
// then the client's bytes.
#include "fuzz/fuzz_entries.h"
#include "fuzz/fuzz_input.h"
#include "hub/http_front.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <cerrno>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tavrion::fuzz {

namespace {

using tavrion::hub::ExchangePtr;
using tavrion::hub::HttpFront;
using tavrion::hub::HttpLimits;
using tavrion::hub::HttpRequest;

struct Seen {
    std::vector<std::string> requests; // method, path and body of each request handed over
    std::string answers;               // what the client read
};

int count(const std::string& text, const std::string& what)
{
    int n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

Seen exchange(const std::string& bytes, std::size_t piece, bool later)
{
    Seen seen;
    const HttpLimits limits; // the hub's own
    HttpFront front([&](const HttpRequest& r, const ExchangePtr& ex) {
        FUZZ_CHECK(r.body.size() <= limits.max_body);
        int hosts = 0;
        for (const auto& h : r.headers) hosts += h.first.compare("Host", Qt::CaseInsensitive) == 0;
        FUZZ_CHECK(hosts <= 1);
        if (r.has_header("Content-Length")) FUZZ_CHECK(r.header("Content-Length").trimmed().toLongLong() == r.body.size());
        seen.requests.push_back(r.method.toStdString() + " " + r.path.toStdString() + " " + r.body.toStdString());
        if (later) QTimer::singleShot(0, [ex] { ex->answer(200, "text/plain", "later\n"); });
        else ex->answer(200, "text/plain", "ok\n");
    }, limits);
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return seen;
    ::fcntl(pair[0], F_SETFL, O_NONBLOCK);
    FUZZ_CHECK(front.serve(pair[1]));
    auto pump = [&] {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        char buf[4096];
        for (ssize_t n; (n = ::recv(pair[0], buf, sizeof buf, MSG_DONTWAIT)) > 0;) seen.answers.append(buf, std::size_t(n));
    };
    for (std::size_t at = 0; at < bytes.size();) {
        const ssize_t n = ::send(pair[0], bytes.data() + at, std::min(piece, bytes.size() - at), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno != EAGAIN) break; // the front closed: the rest is not read
        if (n > 0) at += std::size_t(n);
        pump();
    }
    ::shutdown(pair[0], SHUT_WR);
    // Until the front closes its side, bounded for the rare case that it does not.
    QElapsedTimer t;
    t.start();
    for (;;) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        char buf[4096];
        const ssize_t n = ::recv(pair[0], buf, sizeof buf, MSG_DONTWAIT);
        if (n > 0) seen.answers.append(buf, std::size_t(n));
        else if (n == 0 || errno != EAGAIN || t.elapsed() > 2000) break;
    }
    ::close(pair[0]);
    return seen;
}

} // namespace

int http_one(const std::uint8_t* data, std::size_t size)
{
    Input in(data, size);
    const std::uint8_t mode = in.byte();
    const std::string bytes = in.rest();
    const std::size_t piece = (mode & 0x3F) == 0x3F ? bytes.size() + 1 : std::size_t(mode & 0x3F) + 1;
    const bool later = mode & 0x40;
    const Seen whole = exchange(bytes, bytes.size() + 1, later);
    const Seen pieces = exchange(bytes, piece, later);
    FUZZ_CHECK(whole.requests == pieces.requests);
    // Every request handed over ended its head in the bytes: none is made up or smuggled in a body.
    // (Whether each got its answer is not checked: a client that half-closes with unparsable bytes
    // after a request may lose it, as the library ends such a connection.)
    // A head may end in bare LFs. libmicrohttpd 0.9.75 also ends a head at a line that starts with
    // ':' or NUL (an empty field name), and takes what follows as the next request: HTTP/1.1 proxies
    // refuse such a line, and a connection of the hub's own carries one client only.
    const int heads = count(bytes, "\n\r\n") + count(bytes, "\n\n") + count(bytes, "\n:") + count(bytes, std::string("\n\0", 2));
    FUZZ_CHECK(int(whole.requests.size()) <= heads);
    return 0;
}

} // namespace tavrion::fuzz

#ifdef TAVRION_LIBFUZZER
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    new QCoreApplication(*argc, *argv);
    return 0;
}
#endif
TAVRION_FUZZ_ENTRY(tavrion::fuzz::http_one)
