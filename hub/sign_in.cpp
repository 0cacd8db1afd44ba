// Sign-in addresses, their QR code, the lasting cookie and the sign-in pages of tavrion-hub.
#include "hub/sign_in.h"

#include <qrencode.h>

#include <memory>

namespace tavrion::hub {

namespace {

constexpr int kCookieSeconds = 365 * 24 * 3600;
constexpr int kQuietZone = 2; // modules of light around the code; scanners want a margin

bool listens_on_all(const QHostAddress& a)
{
    return a == QHostAddress::Any || a == QHostAddress::AnyIPv4 || a == QHostAddress::AnyIPv6;
}

QString host_part(const QHostAddress& a)
{
    return a.protocol() == QAbstractSocket::IPv6Protocol ? QLatin1Char('[') + a.toString() + QLatin1Char(']')
                                                         : a.toString();
}

QList<QHostAddress> reachable(const QList<QHostAddress>& machine)
{
    QList<QHostAddress> out;
    for (const QHostAddress& a : machine)
        if (a.protocol() == QAbstractSocket::IPv4Protocol && !a.isLoopback() && !a.isLinkLocal()) out << a;
    return out;
}

QByteArray page(const QString& title, const QStringList& paragraphs)
{
    QString body;
    for (const QString& p : paragraphs) body += QStringLiteral("<p>") + p + QStringLiteral("</p>\n");
    return QStringLiteral(
               "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
               "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>%1 - Tavrion</title>\n"
               "<style>body{font-family:system-ui,sans-serif;margin:0;padding:1rem;background:#f4f4f4;color:#111;"
               "line-height:1.5}main{background:#fff;border-radius:8px;padding:1rem;max-width:36rem}"
               "code{background:#eee;padding:0 .2em}</style></head>\n<body><main><h1>%1</h1>\n%2</main></body></html>\n")
        .arg(title, body)
        .toUtf8();
}

} // namespace

QStringList sign_in_urls(const HubOptions& options, const QByteArray& token, const QList<QHostAddress>& machine)
{
    QStringList hosts = options.allow_hosts;
    if (!listens_on_all(options.listen_address)) hosts << host_part(options.listen_address);
    else
        for (const QHostAddress& a : reachable(machine)) hosts << host_part(a);
    if (hosts.isEmpty()) hosts << QStringLiteral("127.0.0.1");
    QStringList urls;
    const QString scheme = options.tls_cert.isEmpty() ? QStringLiteral("http") : QStringLiteral("https");
    for (const QString& h : hosts)
        urls << QStringLiteral("%1://%2:%3/?token=%4").arg(scheme, h).arg(options.listen_port).arg(QString::fromLatin1(token));
    urls.removeDuplicates();
    return urls;
}

QString qr_text(const QString& text, bool ansi)
{
    const QByteArray bytes = text.toUtf8();
    std::unique_ptr<QRcode, void (*)(QRcode*)> code(QRcode_encodeString8bit(bytes.constData(), 0, QR_ECLEVEL_L),
                                                    QRcode_free);
    if (!code) return {};
    const int width = code->width, size = width + 2 * kQuietZone;
    auto dark = [&](int x, int y) {
        x -= kQuietZone, y -= kQuietZone;
        return x >= 0 && y >= 0 && x < width && y < width && (code->data[y * width + x] & 1);
    };
    QString out;
    for (int y = 0; y < size; y += 2) {
        if (ansi) out += QStringLiteral("\x1b[30;107m"); // black on bright white
        for (int x = 0; x < size; ++x) {
            const bool top = dark(x, y), bottom = dark(x, y + 1);
            out += top && bottom ? QChar(0x2588) : top ? QChar(0x2580) : bottom ? QChar(0x2584) : QChar(' ');
        }
        if (ansi) out += QStringLiteral("\x1b[0m");
        out += QLatin1Char('\n');
    }
    return out;
}

QString show_url_text(const HubOptions& options, const QByteArray& token, const QList<QHostAddress>& machine,
                      bool ansi)
{
    const QStringList urls = sign_in_urls(options, token, machine);
    QString out = urls.join(QLatin1Char('\n')) + QLatin1Char('\n');
    if (options.listen_port == 0)
        out += QStringLiteral("note: --listen names port 0, so the hub picks a port when it starts; give the port "
                              "it is to listen on\n");
    if (options.listen_address.isLoopback() && options.allow_hosts.isEmpty())
        out += QStringLiteral("note: the hub listens on this machine only; for a phone, start it with --listen "
                              "0.0.0.0:%1 (or this machine's address) and open the address --show-url prints then\n")
                   .arg(options.listen_port);
    if (listens_on_all(options.listen_address) && options.allow_hosts.isEmpty() && reachable(machine).isEmpty())
        out += QStringLiteral("note: this machine has no network address besides loopback\n");
    out += QLatin1Char('\n') + qr_text(urls.first(), ansi);
    return out;
}

QByteArray sign_in_cookie(const QByteArray& name, const QByteArray& token, bool secure)
{
    return name + "=" + token + "; HttpOnly; SameSite=Strict; Path=/; Max-Age=" + QByteArray::number(kCookieSeconds)
        + (secure ? "; Secure" : "");
}

bool forwarded_https(const QByteArray& x_forwarded_proto, const QByteArray& forwarded)
{
    if (x_forwarded_proto.trimmed().toLower() == "https") return true;
    // Forwarded: for=...;proto=https, possibly for several hops; the first hop is the browser's.
    const QByteArray first = forwarded.split(',').value(0);
    for (const QByteArray& part : first.split(';'))
        if (part.trimmed().toLower() == "proto=https") return true;
    return false;
}

QByteArray sign_in_page()
{
    return page(QStringLiteral("Sign in to Tavrion"),
                {QStringLiteral("This browser is not signed in, or its sign-in address is wrong or out of date "
                                "(the hub's access token may have been made anew)."),
                 QStringLiteral("On the machine that runs the hub, run <code>tavrion-hub --show-url</code> and "
                                "open the address it prints, or scan its QR code with the phone's camera. The "
                                "browser then stays signed in for a year.")});
}

QByteArray refused_host_page(const QByteArray& host)
{
    const QString name = QString::fromLatin1(host).toHtmlEscaped();
    return page(QStringLiteral("Not served under this name"),
                {QStringLiteral("This hub does not answer to the name <code>%1</code>, so that other web sites "
                                "cannot reach it through a name of their own.").arg(name.isEmpty() ? QStringLiteral("(none)") : name),
                 QStringLiteral("Open the address that <code>tavrion-hub --show-url</code> prints, or start the "
                                "hub with <code>--allow-host NAME</code> for the name you use.")});
}

QByteArray plain_page_policy()
{
    return "default-src 'none'; style-src 'unsafe-inline'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";
}

} // namespace tavrion::hub
