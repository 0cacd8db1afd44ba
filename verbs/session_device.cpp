// The verbs' device over a real session: one transaction at a time with the window's waits, telling its
// users what crosses the wire, when the link comes and goes, and when the device restarts.
#include "verbs/session_device.h"

#include "protocol/command_catalogue.h"
#include "session/clock.h"
#include "session/device_model.h"
#include "session/device_session.h"
#include "protocol/protocol.h"
#include "session/serial_port.h"
#include "session/tcp_client.h"

#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <climits>
#include <utility>

namespace tavrion::verbs {

namespace {

// Between two attempts to reach a restarted device.
constexpr qint64 kRetryMs = 500;

} // namespace

SessionDevice::SessionDevice(std::unique_ptr<Clock> clock, std::unique_ptr<SerialPort> serial,
                             std::unique_ptr<TcpClient> socket, LinkWatch watch, ReplyWait wait)
    : clock_(std::move(clock)), serial_(std::move(serial)), socket_(std::move(socket))
{
    SessionPlatform p;
    p.clock = clock_.get();
    p.serial = serial_.get();
    p.socket = socket_.get();
    p.link_watch = watch;
    p.reply_wait = wait;
    session_ = std::make_unique<DeviceSession>(p);
    DeviceSession* s = session_.get();
    QObject::connect(s, &DeviceSession::log_entry, s,
                     [this](const std::string& text, Direction direction) { tell_line(direction, text); });
    QObject::connect(s, &DeviceSession::ethernet_link_up, s, [this] { tell_link(true); });
    QObject::connect(s, &DeviceSession::ethernet_link_down, s, [this] { tell_link(false); });
    QObject::connect(s, &DeviceSession::serial_link_shown, s, [this](bool open) { tell_link(open); });
    QObject::connect(s, &DeviceSession::restart_course, s, [this] { tell_restart(Restart::TcpCourse); });
    const DeviceModel* model = &s->model();
    QObject::connect(model, &DeviceModel::reset_reported, s, [this](int digit) {
        // A picture reset leaves the device running.
        if (factory_reset(command_of(Code::RST, digit))) tell_restart(Restart::FactoryReset);
    });
    QObject::connect(model, &DeviceModel::power_reported, s, [this](bool on) {
        const bool was_off = powered_ && !*powered_;
        powered_ = on;
        if (on && was_off) tell_restart(Restart::PowerOn);
    });
    if (socket_)
        QObject::connect(socket_.get(), &TcpClient::attempt_error, s,
                         [this](const QString& why) { attempt_error_ = why.toStdString(); });
}

SessionDevice::~SessionDevice() = default;

bool SessionDevice::open_serial(int port)
{
    session_->set_link_interface(0);
    session_->set_com_port(port);
    session_->set_comm();
    if (!session_->serial_connected()) return false;
    session_->start_receiving(); // as at the end of the panel's start-up
    return true;
}

bool SessionDevice::open_tcp(const std::string& address, std::string& error)
{
    address_ = address;
    session_->set_link_interface(1);
    return connect_within(-1, error);
}

// As Connect: the session's 7 s attempt, ended early by a refusal or by `deadline_ms` (-1: none).
bool SessionDevice::connect_within(qint64 deadline_ms, std::string& error)
{
    attempt_error_.clear();
    bool timed_out = false;
    QEventLoop loop;
    QObject::connect(session_.get(), &DeviceSession::ethernet_link_up, &loop, &QEventLoop::quit);
    QObject::connect(session_.get(), &DeviceSession::ethernet_attempt_failed, &loop, [&] {
        timed_out = true;
        loop.quit();
    });
    if (socket_) QObject::connect(socket_.get(), &TcpClient::attempt_error, &loop, &QEventLoop::quit);
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    if (deadline_ms >= 0) deadline.start(int(std::clamp<qint64>(deadline_ms - clock_->now_ms(), 0, INT_MAX)));

    session_->connect_tcp(QString::fromStdString(address_));
    if (!session_->eth_connected() && attempt_error_.empty()) loop.exec();
    if (session_->eth_connected()) return true;
    if (!timed_out) session_->disconnect_eth(); // ends the attempt and its timer
    if (!attempt_error_.empty()) error = "cannot connect: " + attempt_error_;
    else if (timed_out) error = "no connection within 7 s";
    else error = "no connection in the time left";
    return false;
}

void SessionDevice::sleep_until(qint64 deadline_ms)
{
    const qint64 ms = deadline_ms - clock_->now_ms();
    if (ms <= 0) return;
    QEventLoop loop;
    QTimer::singleShot(int(std::min<qint64>(ms, INT_MAX)), &loop, &QEventLoop::quit);
    loop.exec();
}

Answer SessionDevice::transact(const std::string& command, bool slow)
{
    Answer answer = session_->send_command(command);
    // Nothing went out on a closed link, and a restarted device has dropped it: nothing to wait for.
    const bool gone = answer.kind == Answer::Kind::LinkDown || answer.kind == Answer::Kind::Restarted;
    if (slow && !gone) answer = session_->await_late_reply(command, answer);
    return answer;
}

Answer SessionDevice::ask(const std::string& command) { return transact(command, false); }

Answer SessionDevice::ask_slow(const std::string& command) { return transact(command, true); }

std::optional<std::string> SessionDevice::network_query(const std::string& command)
{
    if (!on_serial()) return std::nullopt;
    // The window's log leaves these sends out; --verbose shows them so the answer has its question.
    tell_line(Direction::Sent, command);
    if (!session_->link_up()) return std::nullopt; // nothing goes out, so nothing to wait for
    const Answer answer = session_->query_network(command);
    if (!answer.answered()) return std::nullopt;
    return answer.reply;
}

DeviceModel& SessionDevice::model() { return session_->model(); }

bool SessionDevice::on_serial() const { return session_->link_interface() == 0; }

bool SessionDevice::wait_ready(int seconds)
{
    const qint64 deadline = clock_->now_ms() + qint64(seconds) * 1000;
    for (;;) {
        std::string why;
        const bool linked = session_->link_up() || (!on_serial() && connect_within(deadline, why));
        if (linked && ask(query_of(Code::VER)).kind == Answer::Kind::Answered) return true;
        if (clock_->now_ms() >= deadline) return false;
        sleep_until(std::min(deadline, clock_->now_ms() + kRetryMs));
    }
}

std::unique_ptr<SessionDevice> open_session(const LinkTarget& link, const std::string& program_dir, std::string& error,
                                            LinkWatch watch, ReplyWait wait)
{
    auto serial = std::make_unique<QtSerialPort>(QString::fromLocal8Bit(program_dir.c_str()));
    QtSerialPort* port = serial.get();
    if (!link.serial_path.empty()) port->set_device_path(QString::fromLocal8Bit(link.serial_path.c_str()));
    auto device = std::make_unique<SessionDevice>(std::make_unique<SteadyClock>(), std::move(serial),
                                                  std::make_unique<QtTcpClient>(), watch, wait);
    if (link.serial) {
        if (device->open_serial(link.com_port)) return device;
        error = "cannot be opened";
        if (link.serial_path.empty()) error += " (" + port->opened_path().toStdString() + ")";
        error += ": " + port->error_text().toStdString();
        return nullptr;
    }
    if (device->open_tcp(link.name(), error)) return device;
    return nullptr;
}

DeviceOpener session_opener(const std::string& program_dir, ReplyWait wait)
{
    return [program_dir, wait](const LinkTarget& link, std::string& error) -> std::unique_ptr<Device> {
        return open_session(link, program_dir, error, LinkWatch::Polled, wait);
    };
}

} // namespace tavrion::verbs
