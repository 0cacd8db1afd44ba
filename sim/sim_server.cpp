#include "sim/sim_server.h"

#include "sim/sim_links.h"

#include <QTcpServer>
#include <QTcpSocket>

#include <sstream>

namespace tavrion_sim {

namespace {

bool parse_address(const std::string& text, std::array<int, 4>& out)
{
    std::array<int, 4> a{};
    std::istringstream in(text);
    std::string part;
    int i = 0;
    while (std::getline(in, part, '.')) {
        if (i == 4 || part.empty() || part.size() > 3 ||
            part.find_first_not_of("0123456789") != std::string::npos)
            return false;
        a[static_cast<size_t>(i)] = std::stoi(part);
        if (a[static_cast<size_t>(i)] > 255) return false;
        ++i;
    }
    if (i != 4) return false;
    out = a;
    return true;
}

std::string address_text(const std::array<int, 4>& a)
{
    return std::to_string(a[0]) + "." + std::to_string(a[1]) + "." + std::to_string(a[2]) + "." +
           std::to_string(a[3]);
}

QByteArray to_bytes(const std::string& s)
{
    return QByteArray(s.data(), static_cast<int>(s.size()));
}

}  // namespace

SimServer::SimServer(QObject* parent) : QObject(parent)
{
    clock_.start();
    tcp_ = new TcpLink(this);
    serial_ = new SerialLink(this);
    attach(tcp_);
    attach(serial_);
    connect(tcp_, &TcpLink::client_changed, this, &SimServer::tcp_client_changed);
    connect(tcp_, &TcpLink::restart_finished, this, &SimServer::restart_finished);
    connect(serial_, &SerialLink::closed, this, &SimServer::serial_closed);
}

SimServer::~SimServer()
{
    // Explicitly, while the links can still report to a live server.
    serial_->close();
    tcp_->close();
    serial_->disconnect(this);
    tcp_->disconnect(this);
}

void SimServer::attach(SimLink* link)
{
    connect(link, &SimLink::line_received, this,
            [this, link](const QByteArray& raw, const QString& text) { on_line(link, raw, text); });
    connect(link, &SimLink::bytes_sent, this,
            [this, link](const QByteArray& bytes) {
                log(link->channel(), "TX", bytes);
                emit bytes_sent(link->channel(), bytes);
            });
    connect(link, &SimLink::event, this, [this, link](const QString& text) {
        log(link->channel(), "EV", text.toUtf8());
        emit notice(link->channel() + ": " + text);
    });
}

bool SimServer::listen_tcp(const QHostAddress& address, quint16 port)
{
    if (!tcp_->listen(address, port)) {
        last_error_ = QStringLiteral("cannot listen on %1:%2").arg(address.toString()).arg(port);
        return false;
    }
    return true;
}

quint16 SimServer::tcp_port() const { return tcp_->port(); }
void SimServer::close_tcp() { tcp_->close(); }
bool SimServer::tcp_client_connected() const { return tcp_->is_open(); }
bool SimServer::restarting() const { return tcp_->restarting(); }

bool SimServer::open_serial(const QString& link_path, int baud)
{
    QString error;
    if (!serial_->open(link_path, baud, &error)) {
        last_error_ = error;
        return false;
    }
    return true;
}

void SimServer::close_serial() { serial_->close(); }
bool SimServer::serial_open() const { return serial_->is_open(); }
QString SimServer::serial_device() const { return serial_->device_path(); }

bool SimServer::listen_control(const QHostAddress& address, quint16 port)
{
    delete control_;
    control_ = new QTcpServer(this);
    if (!control_->listen(address, port)) {
        last_error_ = QStringLiteral("cannot listen for control on %1:%2").arg(address.toString()).arg(port);
        delete control_;
        control_ = nullptr;
        return false;
    }
    connect(control_, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* s = control_->nextPendingConnection()) {
            connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
            connect(s, &QTcpSocket::readyRead, this, [this, s] {
                while (s->canReadLine()) {
                    const QString line = QString::fromUtf8(s->readLine()).trimmed();
                    if (!line.isEmpty()) s->write(run_control(line).toUtf8());
                }
                // A control client that never ends its line cannot make us hold everything.
                if (s->bytesAvailable() > 4096) s->abort();
            });
        }
    });
    return true;
}

quint16 SimServer::control_port() const { return control_ ? control_->serverPort() : 0; }

void SimServer::log(const QString& channel, const char* kind, const QByteArray& bytes)
{
    if (!transcript_.isOpen()) return;
    TranscriptEntry e;
    e.micros = clock_.nsecsElapsed() / 1000;
    e.channel = channel.toStdString();
    e.kind = kind;
    e.bytes = bytes.toStdString();
    transcript_.write(QByteArray::fromStdString(format_entry(e) + "\n"));
    transcript_.flush();
}

bool SimServer::set_transcript(const QString& path)
{
    transcript_.close();
    if (path.isEmpty()) return true;
    transcript_.setFileName(path);
    if (!transcript_.open(QIODevice::WriteOnly | QIODevice::Append)) {
        last_error_ = QStringLiteral("cannot write %1").arg(path);
        return false;
    }
    return true;
}

bool SimServer::load_replay(const QString& path, QString* error)
{
    std::string why;
    if (!tavrion_sim::load_replay(path.toStdString(), replay_, why)) {
        last_error_ = QString::fromStdString(why);
        if (error) *error = last_error_;
        return false;
    }
    replay_next_ = 0;
    replay_active_ = true;
    return true;
}

void SimServer::begin_restart()
{
    tcp_->restart(restart_drop_ms_, restart_ms_);
}

void SimServer::on_line(SimLink* link, const QByteArray& raw, const QString& text)
{
    received_ << text;
    log(link->channel(), "RX", raw);
    emit command_received(text);
    if (link == tcp_ && tcp_->restarting()) return;  // going down: nobody is listening

    const std::string command = text.toLatin1().toStdString();
    // Over TCP these two reboot the device: no answer, the connection drops, a pause follows.
    const bool restart = link == tcp_ && (command == "PWR001" || command == "RST001");

    if (replay_active_) {
        if (replay_next_ < replay_.size() && replay_next_ == 0 && replay_[0].command.empty()) {
            // What the device sent before the first command goes out before the first reply.
            for (const auto& piece : replay_[0].pieces)
                link->enqueue({piece.delay_ms, to_bytes(piece.bytes), LinkAction::None});
            ++replay_next_;
        }
        if (replay_next_ < replay_.size()) {
            const ReplayStep& step = replay_[replay_next_++];
            if (step.command != command) {
                const QString warning = QStringLiteral("replay: received %1, the recording has %2")
                                            .arg(text, QString::fromStdString(step.command));
                log(link->channel(), "EV", warning.toUtf8());
                emit notice(warning);
            }
            for (const auto& piece : step.pieces)
                link->enqueue({piece.delay_ms, to_bytes(piece.bytes), LinkAction::None});
            if (restart) begin_restart();
            return;
        }
        replay_active_ = false;
        log(link->channel(), "EV", "replay finished: the device model answers from here on");
        emit notice(QStringLiteral("replay finished: the device model answers from here on"));
    }

    const std::string reply = device_.handle(command);
    if (restart) {
        begin_restart();
        return;
    }
    const std::string code = command.substr(0, 3);
    for (const Chunk& c : faults_.plan(code, reply))
        link->enqueue({c.delay_ms, to_bytes(c.bytes), c.after});
}

void SimServer::send_raw(const QByteArray& bytes)
{
    for (SimLink* link : {static_cast<SimLink*>(tcp_), static_cast<SimLink*>(serial_)})
        if (link->is_open()) link->enqueue({0, bytes, LinkAction::None});
}

qint64 SimServer::unsent_bytes() const { return tcp_->unsent_bytes() + serial_->unsent_bytes(); }

bool SimServer::idle() const { return tcp_->idle() && serial_->idle() && unsent_bytes() == 0; }

bool SimServer::apply_control(const QString& line)
{
    bool ok = false;
    run_control(line, &ok);
    return ok;
}

bool SimServer::set_value(const std::string& key, const std::string& value)
{
    DeviceState& s = device_.state();
    int n = -1;
    if (!value.empty() && value.size() <= 6 && value.find_first_not_of("0123456789") == std::string::npos)
        n = std::stoi(value);
    if (key == "ip" || key == "mask" || key == "gateway")
        return parse_address(value, key == "ip" ? s.ip : key == "mask" ? s.mask : s.gateway);
    if (n < 0) return false;
    if (key == "power" && n <= 1) s.power_on = n == 1;
    else if (key == "lock" && n <= 1) s.locked = n == 1;
    else if (key == "mode" && n >= 1 && n <= 3) s.mode = n;
    else if (key == "version" && n <= 999) s.version = n;
    else if (key == "bezel-h-max" && n <= 997) s.bezel_h_max = n;
    else if (key == "bezel-v-max" && n <= 997) s.bezel_v_max = n;
    else if (key == "restart-ms") restart_ms_ = n;
    else return false;
    return true;
}

QString SimServer::run_control(const QString& line, bool* ok)
{
    ControlRequest req;
    std::string why;
    QString out;
    if (ok) *ok = false;
    auto fail = [&](const QString& text) {
        last_error_ = text;
        return out + QStringLiteral("error: ") + text + QLatin1Char('\n');
    };
    if (!parse_control(line.toStdString(), req, why)) return fail(QString::fromStdString(why));

    switch (req.type) {
    case ControlRequest::Arm: faults_.arm(req.fault); break;
    case ControlRequest::Reset: faults_.reset(); break;
    case ControlRequest::List:
        for (const Fault& f : faults_.faults()) out += QString::fromStdString(f.describe()) + '\n';
        break;
    case ControlRequest::Status: out += status_text(); break;
    case ControlRequest::Help: out += QString::fromLatin1(control_help()); break;
    case ControlRequest::Send:
        if (!tcp_->is_open() && !serial_->is_open()) return fail(QStringLiteral("no open link"));
        send_raw(to_bytes(req.bytes));
        break;
    case ControlRequest::ExtNow:
        if (!tcp_->is_open()) return fail(QStringLiteral("no TCP client"));
        tcp_->enqueue({0, to_bytes(DeviceModel::reply("EXT", req.number)), LinkAction::Close});
        break;
    case ControlRequest::VanishNow:
        if (!serial_->is_open()) return fail(QStringLiteral("the serial line is not open"));
        serial_->close();
        break;
    case ControlRequest::DropNow:
        if (!tcp_->is_open()) return fail(QStringLiteral("no TCP client"));
        tcp_->drop_client(true);
        break;
    case ControlRequest::RestartNow:
        if (!tcp_->listening()) return fail(QStringLiteral("not listening on TCP"));
        begin_restart();
        break;
    case ControlRequest::Set:
        if (!set_value(req.key, req.value))
            return fail(QStringLiteral("cannot set %1 to %2")
                            .arg(QString::fromStdString(req.key), QString::fromStdString(req.value)));
        break;
    }
    last_error_.clear();
    if (ok) *ok = true;
    return out + QStringLiteral("ok\n");
}

QString SimServer::status_text() const
{
    const DeviceState& s = device_.state();
    std::ostringstream o;
    auto row = [&](const char* name, const std::array<int, 4>& a) {
        o << "  " << name << ' ' << a[0] << ' ' << a[1] << ' ' << a[2] << ' ' << a[3] << '\n';
    };
    o << "power " << (s.power_on ? "on" : "standby") << ", lock " << (s.locked ? "on" : "off")
      << ", audio " << (s.audio_on ? "on" : "off") << ", audio EDID " << s.audio_edid
      << ", dual audio A " << s.dual_a_audio << " B " << s.dual_b_audio << '\n';
    o << "mode " << s.mode << ", current output " << s.current_output << ", routes A..D "
      << s.routes[0] << ' ' << s.routes[1] << ' ' << s.routes[2] << ' ' << s.routes[3]
      << ", resolution " << s.resolution << " of " << s.resolution_count << '\n';
    o << "picture A..D:\n";
    row("BRI", s.brightness);
    row("CON", s.contrast);
    row("HUE", s.hue);
    row("SAT", s.saturation);
    o << "bezel " << (s.bezel_on ? "on" : "off") << " H " << s.bezel_h << "/" << s.bezel_h_max
      << " V " << s.bezel_v << "/" << s.bezel_v_max << '\n';
    o << "firmware VER" << DeviceModel::pad3(s.version) << ", ip " << address_text(s.ip)
      << ", mask " << address_text(s.mask) << ", gateway " << address_text(s.gateway) << '\n';
    o << "menu keys " << s.menu_keys << (s.last_menu_key.empty() ? "" : ", last ")
      << s.last_menu_key << '\n';
    o << "tcp " << (tcp_->listening() ? "listening on port " + std::to_string(tcp_->port()) : std::string("off"))
      << (tcp_->is_open() ? ", client connected" : "") << (tcp_->restarting() ? ", restarting" : "")
      << "; serial " << (serial_->is_open() ? serial_->link_path().toStdString() + " -> " +
                                                  serial_->device_path().toStdString()
                                            : std::string("closed"))
      << '\n';
    return QString::fromStdString(o.str());
}

}  // namespace tavrion_sim
