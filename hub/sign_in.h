// How a browser on another machine signs in to the hub: the addresses --show-url prints (with a QR
// code for a phone), the cookie that keeps it signed in, and the short pages for a wrong or old
// token and for a Host name the hub does not serve.
#pragma once

#include "hub/hub_config.h"
#include "hub/role.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QString>
#include <QStringList>

namespace tavrion::hub {

// Who asked: the sign-in's name and role, and the client's address; what the hub checks a request
// against and names in its records.
struct Caller {
    QString name;
    Role role = Role::Viewer;
    QString address;
};

// The sign-in addresses a browser elsewhere can open: each --allow-host name, then the listening
// address, or, when the hub listens on all addresses, this machine's own (`machine`, loopback and
// link-local left out). Each carries the listening port and the token.
QStringList sign_in_urls(const HubOptions& options, const QByteArray& token, const QList<QHostAddress>& machine);

// `text` as a QR code drawn in block characters, two rows of modules a line, with its quiet zone.
// With `ansi`, dark on light whatever the terminal's colours; without, dark modules are blocks.
// Empty when the text does not fit a QR code.
QString qr_text(const QString& text, bool ansi);

// What --show-url prints: the addresses, a note when a phone cannot reach them, and the first one's
// QR code.
QString show_url_text(const HubOptions& options, const QByteArray& token, const QList<QHostAddress>& machine,
                      bool ansi);

// The Set-Cookie value that keeps a browser signed in for a year; `secure` when the request came
// through a TLS proxy.
QByteArray sign_in_cookie(const QByteArray& name, const QByteArray& token, bool secure);
// Whether a proxy in front says the browser used https (X-Forwarded-Proto or Forwarded).
bool forwarded_https(const QByteArray& x_forwarded_proto, const QByteArray& forwarded);

// Short HTML pages that say what to do, for a browser rather than a program.
QByteArray sign_in_page();              // no token, or a wrong or old one
QByteArray refused_host_page(const QByteArray& host);
// The Content-Security-Policy of those pages: nothing runs, nothing loads.
QByteArray plain_page_policy();

} // namespace tavrion::hub
