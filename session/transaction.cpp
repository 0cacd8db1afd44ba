// One command, its bounded wait and the dispatch of its reply; the waiting primitive.
#include "session/device_session.h"

#include "session/clock.h"
#include "session/device_model.h"
#include "protocol/command_catalogue.h"
#include "protocol/protocol.h"
#include "session/serial_port.h"
#include "session/tcp_client.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <cmath>
#include <limits>

#ifdef Q_OS_LINUX
#include <sys/timerfd.h>
#include <unistd.h>
#endif

namespace tavrion {

namespace {
constexpr int kSerialWaitSteps = 300;
constexpr int kEthernetWaitSteps = 600;

// Waits in progress in this thread, nested ones included, whichever session runs them. Each unit of
// the hub has a session in a thread of its own: a count shared between threads would never come
// back to zero, and every session's backup timer would then wake its thread for ever.
thread_local int wait_depth = 0;

// A pass nested in a wait's own (a reply handler processing events) may take the wait's wake-up.
// A repeating toolkit timer stands behind it: first 1 ms after the deadline, then every
// millisecond a few times, then every 50 ms, so that a long nested loop (a message box left open)
// costs next to nothing.
constexpr int kQuickRewakes = 5;
constexpr int kQuickRewakeMs = 1;
constexpr int kSlowRewakeMs = 50;

// The smallest whole number of milliseconds whose elapsed time, as the waits compute it, is
// strictly greater than `seconds`.
qint64 first_ms_beyond(float seconds)
{
    if (!(seconds >= 0.0f)) return 0;
    qint64 m = qint64(std::floor(double(seconds) * 1000.0)) + 1;
    while (float(double(m) / 1000.0) <= seconds) ++m;
    while (m > 0 && float(double(m - 1) / 1000.0) > seconds) --m;
    return m;
}
} // namespace

// Wakes a sleeping wait at its deadline: to the microsecond where the clock can tell when it ticks
// next (toolkit timers count whole milliseconds from the moment they are started, so a wait woken
// by one would sleep on for up to a millisecond after the clock had passed its bound), in whole
// milliseconds otherwise; behind either, the repeating safety timer of kQuickRewakes.
class WaitDeadline : public QObject {
public:
    explicit WaitDeadline(QObject* parent) : QObject(parent), timer_(new QTimer(this))
    {
        timer_->setTimerType(Qt::PreciseTimer);
        connect(timer_, &QTimer::timeout, this, [this] {
            const int next = ++fires_ < kQuickRewakes ? kQuickRewakeMs : kSlowRewakeMs;
            if (timer_->interval() != next) timer_->setInterval(next);
        });
#ifdef Q_OS_LINUX
        fd_ = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
        if (fd_ < 0) return;
        notifier_ = new QSocketNotifier(qintptr(fd_), QSocketNotifier::Read, this);
        connect(notifier_, &QSocketNotifier::activated, this, [this] {
            quint64 expirations = 0;
            (void)!::read(fd_, &expirations, sizeof expirations);
        });
#endif
    }
    ~WaitDeadline() override
    {
#ifdef Q_OS_LINUX
        delete notifier_; // before its descriptor goes
        if (fd_ >= 0) ::close(fd_);
#endif
    }
    // Arms the wake-up `ns` from now, or, when the clock cannot tell (`ns` < 0), `ms` whole
    // milliseconds from now. Replaces any earlier one.
    void arm(qint64 ns, qint64 ms)
    {
        fires_ = 0;
        ms = std::max<qint64>(1, ms);
        if (ns >= 0 && fd_ >= 0) {
#ifdef Q_OS_LINUX
            ns = std::max<qint64>(ns, 1000); // zero would disarm it
            itimerspec t{};
            t.it_value.tv_sec = time_t(ns / 1000000000);
            t.it_value.tv_nsec = long(ns % 1000000000);
            ::timerfd_settime(fd_, 0, &t, nullptr);
#endif
            ms += kQuickRewakeMs; // the safety timer only
        }
        timer_->start(int(std::min<qint64>(ms, std::numeric_limits<int>::max())));
    }
    void disarm() { timer_->stop(); }

    int waits = 0; // this session's waits in progress, nested ones included

private:
    QTimer* timer_;
    int fd_ = -1;
    QSocketNotifier* notifier_ = nullptr;
    int fires_ = 0;
};

DeviceSession::DeviceSession(const SessionPlatform& platform, QObject* parent)
    : QObject(parent), platform_(platform), clock_(platform.clock), MSComm1(platform.serial),
      wsk_client(platform.socket), tim_rx_(new QTimer(this)), tim_eth_(new QTimer(this)),
      model_(std::make_unique<DeviceModel>())
{
    tim_rx_->setObjectName(QStringLiteral("tim_rx"));
    tim_rx_->setInterval(1);
    tim_rx_->setTimerType(Qt::PreciseTimer);
    tim_eth_->setObjectName(QStringLiteral("tim_eth"));
    tim_eth_->setInterval(7000);
    connect(tim_rx_, &QTimer::timeout, this, [this] { tim_rx_Timer(); });
    connect(tim_eth_, &QTimer::timeout, this, [this] { tim_eth_Timer(); });
    if (MSComm1) {
        // The 1 ms tick runs only while bytes wait, so an idle session costs nothing.
        connect(MSComm1, &SerialPort::ready_read, this, [this] { serial_ready_read(); });
        // The adapter was pulled or the line hung up: close the port as Disconnect would, so the
        // window's colours tell the user and Connect opens it again once the device is back.
        connect(MSComm1, &SerialPort::device_lost, this, [this] { disconnect_serial(); });
    }
    if (wsk_client) {
        connect(wsk_client, &TcpClient::connected, this, [this] { wsk_client_Connect(); });
        connect(wsk_client, &TcpClient::data_arrival, this, [this] { wsk_client_DataArrival(); });
        if (platform_.link_watch == LinkWatch::Socket) {
            // Without the watch, a peer that died without a word must still be found out.
            wsk_client->set_keep_alive(true);
            connect(wsk_client, &TcpClient::peer_lost, this, [this] {
                if (eth_connected_) eth_link_lost();
            });
        }
    }
    // The device ending a TCP session is the link's own business.
    router_.add(code_text(Code::EXT), [this] { reply_ext(); });
    // An unsolicited reply with one of these codes counts as handled (the late MOD/CAL/SAV answers).
    for (const std::string& code : DeviceModel::reply_codes())
        router_.add(code, [this] { model_->take(reply_text_); });
}

DeviceSession::~DeviceSession() = default;

// Counts the event passes the session runs on behalf of a handler (see event_passes()).
class DeviceSession::PassScope {
public:
    explicit PassScope(DeviceSession& s) : s_(s) { ++s_.event_passes_; }
    ~PassScope()
    {
        if (--s_.event_passes_ == 0) emit s_.event_passes_ended();
    }

private:
    DeviceSession& s_;
};

void DeviceSession::do_events()
{
    PassScope pass(*this);
    QCoreApplication::processEvents();
}

void DeviceSession::show_message(const QString& text, BoxIcon icon)
{
    PassScope pass(*this); // a modal box runs an event loop of its own
    if (platform_.boxes) platform_.boxes->show(text, icon);
}

// Opens a record of what the receivers see for the exchange in progress.
class DeviceSession::HeardScope {
public:
    HeardScope(DeviceSession& s, Heard& h) : s_(s) { s_.heard_.push_back(&h); }
    ~HeardScope() { s_.heard_.pop_back(); }

private:
    DeviceSession& s_;
};

void DeviceSession::heard_text(const std::string& text)
{
    // Enough to show what an unreadable answer began with; a device streaming garbage through a
    // whole exchange must not grow the record with it.
    constexpr std::size_t kHeardLimit = 64;
    for (Heard* h : heard_)
        if (h->text.size() < kHeardLimit) h->text.append(text, 0, kHeardLimit - h->text.size());
}

void DeviceSession::heard_line(const std::string& line)
{
    for (Heard* h : heard_) h->line = line;
}

Exchange::Kind classify_reply(const std::string& command, const std::string& reply)
{
    const std::string code = reply_code(reply);
    if (has_code(code, Code::ERR)) return Exchange::Kind::Refused;
    if (command.compare(0, 3, code) == 0) return Exchange::Kind::Answered;
    if (has_code(code, Code::EXT)) return Exchange::Kind::Ended;
    return Exchange::Kind::OtherCode;
}

bool DeviceSession::link_up() const
{
    return (link_interface_ == 0 && serial_connected_) || (link_interface_ == 1 && eth_connected_);
}

bool DeviceSession::check_link()
{
    if (link_interface_ == 0 && !serial_connected_) {
        show_message(QStringLiteral("RS232 port is disconnected !"), BoxIcon::Critical);
        return false;
    }
    if (link_interface_ == 1 && !eth_connected_) {
        show_message(QStringLiteral("Ethernet port is disconnected !"), BoxIcon::Critical);
        return false;
    }
    return true;
}

Exchange DeviceSession::send_command(const std::string& command)
{
    reply_ok_ = false;
    if (!check_link()) return {Exchange::Kind::LinkDown, {}};
    if (cmd_busy_) return {}; // a transaction is in flight: dropped without a word

    Heard heard;
    HeardScope scope(*this, heard);
    model_->expect_answer_to(command);
    bool restarted = false;
    emit log_entry(command, Direction::Sent);
    rx_count_ = 0;
    reply_text_.clear();
    reply_ok_ = false;
    cmd_busy_ = true;

    int steps = kSerialWaitSteps; // reply_ok is tested before each step, so one step more than this
    if (link_interface_ == 0) {
        serial_write(command);
    } else {
        eth_send(command);
        steps = kEthernetWaitSteps;
        if (restarts_device(command)) {
            // The device restarts and drops the connection instead of answering.
            steps = 0;
            restarted = true;
            restarting_ = true;
            wait_seconds(1.0f);
            show_message(QStringLiteral("Need to re-connect Ethernet after KV-7720 re-boots ready !"), BoxIcon::Exclamation);
            emit restart_course();
            disconnect_eth();
        }
    }

    wait_steps(steps + 1, 0.001f, &DeviceSession::reply_accepted);

    // A reply counts when a whole line was accepted into the buffer since the send, even if a
    // nested send has cleared reply_ok meanwhile.
    const bool accepted = rx_count_ >= kLineLength && reply_text_.size() == 6;
    Exchange outcome;
    if (restarted) outcome = {Exchange::Kind::Restarted, accepted ? reply_text_ : heard.line};
    else if (accepted) outcome = {classify_reply(command, reply_text_), reply_text_};
    // A line the receiver took itself (a nested send had ended the transaction) is not this
    // command's answer, whatever its code.
    else if (!heard.line.empty()) outcome = {Exchange::Kind::OtherCode, heard.line};
    else if (!link_up()) outcome = {Exchange::Kind::LinkDown, {}};
    else if (!heard.text.empty()) outcome = {Exchange::Kind::Unreadable, heard.text};
    if (!accepted) {
        reply_ok_ = false;
    } else {
        reply_ok_ = true;
        const std::string code = reply_code(reply_text_);
        if (!has_code(code, Code::ERR)) {
            if (command.compare(0, 3, code) != 0)
                reply_ok_ = false;
            else
                router_.dispatch(code, false);
        }
    }

    rx_count_ = 0;
    reply_text_.clear();
    cmd_busy_ = false;
    restarting_ = false;
    if (link_interface_ == 0) {
        set_tim_rx_enabled(true);
        do_events();
    }
    model_->exchange_ended(command, outcome);
    return outcome;
}

void DeviceSession::wait_seconds(float seconds)
{
    // A step is a wait that nothing but the clock ends.
    wait_for(nullptr, first_ms_beyond(seconds));
}

void DeviceSession::wait_steps(int steps, float seconds, bool (DeviceSession::*done)() const)
{
    if (platform_.reply_wait == ReplyWait::Stepped) {
        for (int i = 0; i < steps && !(this->*done)(); ++i) wait_seconds(seconds);
        return;
    }
    // Each step lasts until the clock has passed its bound from where the step before ended, so
    // the steps together last at least this long: a device that stays silent is given up on no
    // sooner than in steps.
    if (steps > 0 && !(this->*done)()) wait_for(done, qint64(steps) * first_ms_beyond(seconds));
}

void DeviceSession::wait_for(bool (DeviceSession::*done)() const, qint64 bound_ms)
{
    ++wait_step_count_;
    waiting_ = true;
    const qint64 start = clock_->now_ms();
    if (!wait_deadline_) wait_deadline_ = new WaitDeadline(this);
    ++wait_depth;
    ++wait_deadline_->waits;
    for (;;) {
        // The receivers run inside the pass below: an answer they accept ends the wait as soon as
        // that pass returns.
        if (done && (this->*done)()) break;
        const qint64 passed = clock_->now_ms() - start;
        if (passed >= bound_ms) break;
        // Sleep until the next event or the moment the clock can pass the bound, never spin.
        wait_deadline_->arm(clock_->ns_until_ms(start + bound_ms), bound_ms - passed);
        PassScope pass(*this);
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    --wait_depth;
    // An idle session keeps no timer running.
    if (--wait_deadline_->waits == 0) wait_deadline_->disarm();
    waiting_ = false;
    // A wait nested in another one has replaced the outer wait's deadline with its own: wake the
    // outer pass now so that it re-arms, rather than when the backup timer comes round.
    if (wait_depth > 0)
        if (QAbstractEventDispatcher* d = QAbstractEventDispatcher::instance()) d->wakeUp();
}

Exchange DeviceSession::await_late_reply(const std::string& command, const Exchange& first)
{
    Heard heard;
    HeardScope scope(*this, heard);
    wait_steps(10, 0.5f, &DeviceSession::reply_accepted);
    if (first.ok() || heard.line.empty()) return first;
    // The waits end at a reply the session handles or a refusal; any other line is only noted.
    Exchange late{reply_ok_ ? classify_reply(command, heard.line) : Exchange::Kind::OtherCode, heard.line, reply_ok_};
    model_->exchange_ended(command, late);
    return late;
}

} // namespace tavrion
