// One command, its bounded wait and the dispatch of its reply; the waiting primitive; the log.
#include "shell/frm_main.h"

#include "link/clock.h"
#include "link/protocol.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTextCursor>
#include <QTimer>

#include <cmath>
#include <limits>
#include <unordered_map>

#ifdef Q_OS_LINUX
#include <sys/timerfd.h>
#include <unistd.h>
#endif

namespace tavrion {

namespace {
constexpr int kSerialWaitSteps = 300;
constexpr int kEthernetWaitSteps = 600;
constexpr int kLogLimit = 30; // more entries than this: the next one starts a new log

int wait_depth = 0; // waits in progress, nested ones included (one UI thread)

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

private:
    QTimer* timer_;
    int fd_ = -1;
    QSocketNotifier* notifier_ = nullptr;
    int fires_ = 0;
};

void FrmMain::do_events() { QCoreApplication::processEvents(); }

void FrmMain::show_message(const QString& text, BoxIcon icon)
{
    if (platform_.boxes) platform_.boxes->show(text, icon);
}

bool FrmMain::check_link()
{
    if (link_interface == 0 && !serial_connected) {
        show_message(QStringLiteral("RS232 port is disconnected !"), BoxIcon::Critical);
        return false;
    }
    if (link_interface == 1 && !eth_connected) {
        show_message(QStringLiteral("Ethernet port is disconnected !"), BoxIcon::Critical);
        return false;
    }
    return true;
}

void FrmMain::send_command(const std::string& command)
{
    reply_ok = false;
    if (!check_link()) return;
    if (cmd_busy) return; // a transaction is in flight: dropped without a word

    log_entry(command);
    rx_count = 0;
    reply_text.clear();
    reply_ok = false;
    cmd_busy = true;

    int wait_steps = kSerialWaitSteps;
    if (link_interface == 0) {
        serial_write(command);
    } else {
        eth_send(command);
        wait_steps = kEthernetWaitSteps;
        if (command == "RST001" || command == "PWR001") {
            // The device restarts and drops the connection instead of answering.
            wait_steps = 0;
            wait_seconds(1.0f);
            show_message(QStringLiteral("Need to re-connect Ethernet after KV-7720 re-boots ready !"), BoxIcon::Exclamation);
            img_start->show();
            cmd_keypad->hide();
            cmd_disconn_eth_Click();
        }
    }

    for (int i = 0; i <= wait_steps; ++i) {
        if (reply_ok) break;
        wait_seconds(0.001f);
    }

    // A reply counts when a whole line was accepted into the buffer since the send, even if a
    // nested send has cleared reply_ok meanwhile.
    const bool accepted = rx_count >= kLineLength && reply_text.size() == 6;
    if (!accepted) {
        reply_ok = false;
    } else {
        reply_ok = true;
        const std::string code = reply_code(reply_text);
        if (code != "ERR") {
            if (command.compare(0, 3, code) != 0)
                reply_ok = false;
            else
                dispatch_reply(code, false);
        }
    }

    rx_count = 0;
    reply_text.clear();
    cmd_busy = false;
    if (link_interface == 0) {
        set_tim_rx_enabled(true);
        do_events();
    }
}

void FrmMain::wait_seconds(float seconds)
{
    ++wait_step_count;
    waiting = true;
    const qint64 start = clock_->now_ms();
    const qint64 needed = first_ms_beyond(seconds);
    if (!wait_deadline_) wait_deadline_ = new WaitDeadline(this);
    ++wait_depth;
    for (;;) {
        const qint64 passed = clock_->now_ms() - start;
        const float elapsed = float(double(passed) / 1000.0);
        if (elapsed > seconds) break;
        // Sleep until the next event or the moment the clock can pass the bound, never spin.
        wait_deadline_->arm(clock_->ns_until_ms(start + needed), needed - passed);
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    if (--wait_depth == 0) wait_deadline_->disarm();
    waiting = false;
    // A wait nested in another one has replaced the outer wait's deadline with its own: wake the
    // outer pass now so that it re-arms, rather than when the backup timer comes round.
    if (wait_depth > 0)
        if (QAbstractEventDispatcher* d = QAbstractEventDispatcher::instance()) d->wakeUp();
}

void FrmMain::await_late_reply()
{
    for (int i = 0; i < 10 && !reply_ok; ++i) wait_seconds(0.5f);
}

void FrmMain::cmd_clear_Click()
{
    txt_cmd->clear();
    log_lines = 0;
}

void FrmMain::log_entry(const std::string& text)
{
    if (log_lines > kLogLimit) cmd_clear_Click();
    QTextCursor c(txt_cmd->document());
    c.movePosition(QTextCursor::End);
    c.insertText(QString::fromLatin1(text.data(), int(text.size())) + QLatin1Char(' '));
    txt_cmd->moveCursor(QTextCursor::End);
    ++log_lines;
}

bool FrmMain::dispatch_reply(const std::string& code, bool ethernet_receiver)
{
    using Handler = void (FrmMain::*)();
    static const std::unordered_map<std::string, Handler> table = {
        {"AUA", &FrmMain::reply_aua}, {"AUB", &FrmMain::reply_aub}, {"AUD", &FrmMain::reply_aud},
        {"AUE", &FrmMain::reply_aue}, {"BEH", &FrmMain::reply_beh}, {"BEV", &FrmMain::reply_bev},
        {"BEZ", &FrmMain::reply_bez}, {"BRI", &FrmMain::reply_bri}, {"CAL", &FrmMain::reply_cal},
        {"CON", &FrmMain::reply_con}, {"HUE", &FrmMain::reply_hue}, {"INP", &FrmMain::reply_inp},
        {"LCK", &FrmMain::reply_lck}, {"MOD", &FrmMain::reply_mod}, {"OUT", &FrmMain::reply_out},
        {"PWR", &FrmMain::reply_pwr}, {"RES", &FrmMain::reply_res}, {"RST", &FrmMain::reply_rst},
        {"SAT", &FrmMain::reply_sat}, {"SAV", &FrmMain::reply_sav}, {"VER", &FrmMain::reply_ver},
    };
    if (code == "EXT") {
        // Only the TCP receiver acts on the device ending the session.
        if (!ethernet_receiver) return false;
        if (on_dispatch) on_dispatch(code);
        reply_ext();
        return true;
    }
    const auto it = table.find(code);
    if (it == table.end()) return false;
    if (on_dispatch) on_dispatch(code);
    (this->*(it->second))();
    return true;
}

} // namespace tavrion
