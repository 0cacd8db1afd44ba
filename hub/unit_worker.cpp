// UnitWorker: the unit's jobs, poll and link, carried out one at a time in its own thread.
#include "hub/unit_worker.h"

#include "hub/protocol_port.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMetaObject>
#include <QRandomGenerator>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstring>
#include <utility>

namespace tavrion::hub {

namespace {

constexpr int kFirstBackoffMs = 1000;
constexpr int kLongestBackoffMs = 30000;

int http_status(int command_status)
{
    switch (command_status) {
    case kDone: return 200;
    case kUsage: return 400;
    case kLinkDown: return 503;
    default: return 502;
    }
}

QString first_line(const std::string& text)
{
    const QString s = QString::fromStdString(text).trimmed();
    return s.section(QLatin1Char('\n'), 0, 0);
}

} // namespace

UnitWorker::UnitWorker(UnitConfig config, std::string program_dir, ResolutionNames names, int poll_seconds,
                       std::function<void(const QJsonObject&)> publish)
    : config_(std::move(config)), program_dir_(std::move(program_dir)), names_(std::move(names)), poll_seconds_(poll_seconds),
      publish_(std::move(publish))
{
}

UnitWorker::~UnitWorker() = default;

void UnitWorker::start_in(QThread* thread)
{
    moveToThread(thread);
    QObject::connect(thread, &QThread::started, this, &UnitWorker::begin);
    thread->start();
}

void UnitWorker::begin()
{
    poll_timer_ = new QTimer(this);
    reopen_timer_ = new QTimer(this);
    reopen_timer_->setSingleShot(true);
    connect(reopen_timer_, &QTimer::timeout, this, [this] {
        open_due_ = true;
        pump();
    });
    if (poll_seconds_ > 0) {
        connect(poll_timer_, &QTimer::timeout, this, [this] {
            poll_due_ = true;
            hub_work_due();
            pump();
        });
        // Units started together would all be read at the same moment of every period, contending
        // for the processor: each unit's period begins at a moment of its own.
        const int period_ms = poll_seconds_ * 1000;
        QTimer::singleShot(int(QRandomGenerator::global()->bounded(period_ms)), poll_timer_, [this, period_ms] {
            if (!stopped_) poll_timer_->start(period_ms);
        });
    }
    open_protocol_port();
    publish_if_changed();
    open_due_ = true;
    pump();
}

void UnitWorker::open_protocol_port()
{
    if (!config_.protocol_listen) {
        port_opened_.set_value({0, {}});
        return;
    }
    port_ = new ProtocolPort(config_.id, [this](Job job) { submit(std::move(job)); }, this);
    port_->count_clients_into(stats_);
    QString error;
    const bool listening = port_->listen(*config_.protocol_listen, error);
    port_opened_.set_value({listening ? port_->port() : quint16(0), error});
}

quint16 UnitWorker::protocol_port(QString& error)
{
    const auto opened = port_opened_.get_future().get();
    error = opened.second;
    return opened.first;
}

// The port takes clients while the link is up; the link going takes them all.
void UnitWorker::follow_link_on_port()
{
    if (port_) port_->set_unit_up(backend_ && backend_->link_up() && std::strcmp(link_state_, "up") == 0);
}

void UnitWorker::stop()
{
    stopped_ = true;
    ++stops_unreported_;
    if (poll_timer_) poll_timer_->stop();
    if (reopen_timer_) reopen_timer_->stop();
    std::map<int, std::deque<Job>> left;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        left.swap(waiting_);
        turns_.clear();
    }
    for (auto& [source, jobs] : left)
        for (Job& j : jobs) j.done({503, {{QStringLiteral("error"), QStringLiteral("the hub is stopping")}}});
    // Asked from inside a job's wait, the link goes once that job has returned.
    if (!busy_) finish_stop();
}

void UnitWorker::finish_stop()
{
    delete port_; // in the thread its sockets live in
    port_ = nullptr;
    backend_.reset();
    for (; stops_unreported_ > 0; --stops_unreported_) emit stopped();
}

bool UnitWorker::submit(Job job)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // Jobs whose clients have gone hold no place in the queue.
        for (auto& [source, jobs] : waiting_)
            jobs.erase(std::remove_if(jobs.begin(), jobs.end(), [](const Job& j) { return j.gone && *j.gone; }), jobs.end());
        std::deque<Job>& own = waiting_[job.source];
        if (job.kind != Job::Kind::Line && int(own.size()) >= kMaxWaitingJobs) return false;
        // A source with nothing waiting joins the round at its end: one job of every source
        // waiting is ahead of it, no more.
        if (own.empty() && std::find(turns_.begin(), turns_.end(), job.source) == turns_.end())
            turns_.push_back(job.source);
        own.push_back(std::move(job));
    }
    QMetaObject::invokeMethod(this, &UnitWorker::wake, Qt::QueuedConnection);
    return true;
}

void UnitWorker::wake() { pump(); }

// The hub's own work takes its turn in the round as a source does: a poll waits behind one job of
// each source at most, and none waits behind more than one poll.
void UnitWorker::hub_work_due()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (std::find(turns_.begin(), turns_.end(), kHubTurn) == turns_.end()) turns_.push_back(kHubTurn);
}

// The next source in the round: its first job (its source goes to the round's end while it has
// more), the hub's turn, or nothing when nothing waits.
UnitWorker::Turn UnitWorker::next_turn(std::optional<Job>& job)
{
    std::lock_guard<std::mutex> lock(mutex_);
    while (!turns_.empty()) {
        const int source = turns_.front();
        turns_.pop_front();
        if (source == kHubTurn) return Turn::Hub;
        const auto it = waiting_.find(source);
        if (it == waiting_.end()) continue;
        if (it->second.empty()) {
            waiting_.erase(it);
            continue;
        }
        job = std::move(it->second.front());
        it->second.pop_front();
        if (it->second.empty()) waiting_.erase(it);
        else turns_.push_back(source);
        return Turn::Job;
    }
    return Turn::None;
}

// One piece of the hub's own work, in the order it matters; the turn comes round again while
// more is due.
void UnitWorker::hub_turn()
{
    if (restart_due_) {
        restart_due_ = false;
        if (port_) port_->drop_clients();
    } else if (link_check_due_) {
        link_check_due_ = false;
        // A restart course inside a command may have brought the link back already.
        if (backend_ && !backend_->link_up()) link_lost();
    } else if (poll_due_) {
        poll_due_ = false;
        if (backend_) reread();
    } else if (state_due_) {
        // A reply outside any job: a late answer, or one the device sent by itself (a recall or a
        // reset made on the device needs the full reading).
        if (backend_ && backend_->take_full_read_due()) reread();
        else take_state();
    }
    if (restart_due_ || link_check_due_ || poll_due_ || state_due_) hub_work_due();
}

// One thing at a time: a reopen, then the sources in turn (the API, MQTT, each protocol-port
// client, the hub's own work). The session runs events while it waits, so this is re-entered from
// inside a job; it then leaves the work to the loop already running.
void UnitWorker::pump()
{
    if (busy_ || stopped_) return;
    busy_ = true;
    for (;;) {
        if (stopped_) break;
        if (open_due_) {
            open_due_ = false;
            open_link();
            continue;
        }
        std::optional<Job> job;
        const Turn turn = next_turn(job);
        if (turn == Turn::Job) {
            if (job->gone && *job->gone) continue; // nobody waits for it: nothing is sent
            current_ = &*job;
            const JobResult r = carry_out(*job);
            current_ = nullptr;
            if (!std::exchange(current_answered_, false)) job->done(r);
            // A client's line is answered before the state it changed is read; the full reading
            // a recall or a reset needs is part of that client's turn.
            if (job->kind == Job::Kind::Line) settle(false);
            continue;
        }
        if (turn == Turn::Hub) {
            hub_turn();
            continue;
        }
        break;
    }
    busy_ = false;
    if (stopped_) finish_stop();
}

void UnitWorker::open_link()
{
    set_link("connecting");
    auto backend = std::make_unique<UnitBackend>(config_.link, program_dir_, names_);
    std::string error;
    if (!backend->open(error)) {
        problem_ = QString::fromStdString(error);
        set_link("down");
        backoff_ms_ = backoff_ms_ ? std::min(backoff_ms_ * 2, kLongestBackoffMs) : kFirstBackoffMs;
        reopen_timer_->start(backoff_ms_);
        return;
    }
    backoff_ms_ = 0;
    backend_ = std::move(backend);
    backend_->count_into(stats_);
    backend_->on_link_down([this] {
        link_check_due_ = true;
        hub_work_due();
        if (port_) port_->set_unit_up(false);
        // The request waits no longer than the link lived, unless this is a restart's course.
        if (current_ && !current_answered_ && !backend_->restarting()) answer_lost_link();
        QMetaObject::invokeMethod(this, &UnitWorker::wake, Qt::QueuedConnection);
    });
    backend_->on_received([this](const std::string& text) {
        // Between jobs, what the device sends is its own: every client hears it.
        if (!busy_ && port_) port_->broadcast(text);
    });
    backend_->on_restart([this] {
        restart_due_ = true;
        hub_work_due();
        QMetaObject::invokeMethod(this, &UnitWorker::wake, Qt::QueuedConnection);
    });
    backend_->on_reported([this] {
        if (state_due_) return;
        state_due_ = true;
        hub_work_due();
        QMetaObject::invokeMethod(this, &UnitWorker::wake, Qt::QueuedConnection);
    });
    problem_.clear();
    link_state_ = "up";
    follow_link_on_port();
    reread();
}

void UnitWorker::link_lost()
{
    backend_.reset();
    set_link("down");
    follow_link_on_port();
    backoff_ms_ = kFirstBackoffMs;
    reopen_timer_->start(backoff_ms_);
}

void UnitWorker::answer_lost_link()
{
    current_answered_ = true;
    QJsonObject state = document();
    QJsonObject link = state.value(QLatin1String("link")).toObject();
    link[QStringLiteral("state")] = QStringLiteral("down");
    state[QStringLiteral("link")] = link;
    current_->done({503, {{QStringLiteral("error"), QStringLiteral("%1: the link was lost during the request")
                                                         .arg(QString::fromStdString(config_.link.name()))},
                          {QStringLiteral("state"), state}}});
}

void UnitWorker::set_link(const char* state)
{
    link_state_ = state;
    publish_if_changed();
}

JobResult UnitWorker::carry_out(const Job& job)
{
    JobResult r;
    auto error = [&r](int http, const QString& text) {
        r.http = http;
        r.body[QStringLiteral("error")] = text;
        return r;
    };
    if (job.if_version && *job.if_version != version_) {
        error(409, QStringLiteral("the unit is at version %1, not %2: nothing sent; read its state again")
                       .arg(version_).arg(*job.if_version));
        r.body[QStringLiteral("state")] = document();
        return r;
    }
    if (!backend_ || !backend_->link_up()) {
        if (backend_) link_lost();
        error(503, QStringLiteral("%1: the link is down").arg(QString::fromStdString(config_.link.name())));
        r.body[QStringLiteral("state")] = document();
        return r;
    }
    if (job.kind == Job::Kind::Line) {
        backend_->pass_through(job.line, job.heard);
        return r;
    }
    int last = kDone;
    QString message;
    bool cut_short = false;
    if (job.kind == Job::Kind::Run) {
        QJsonArray results;
        // Between two commands: a stopping hub or a client that has gone ends the run.
        const auto stop_here = [this, &job, &cut_short] {
            cut_short = stopped_ || (job.gone && *job.gone);
            return cut_short || current_answered_;
        };
        for (const CommandResult& c : backend_->run(job.commands, stop_here)) {
            QJsonObject o;
            o[QStringLiteral("command")] = QString::fromStdString(c.command);
            o[QStringLiteral("status")] = c.status;
            o[QStringLiteral("output")] = QString::fromStdString(c.output);
            results.append(o);
            last = c.status;
            if (c.status != kDone) message = QString::fromStdString(c.command) + QStringLiteral(": ") + first_line(c.output);
        }
        r.body[QStringLiteral("results")] = results;
    } else {
        std::vector<std::string> differences;
        const CommandResult c = backend_->restore(job.backup, differences);
        QJsonArray d;
        for (const std::string& line : differences) d.append(QString::fromStdString(line));
        r.body[QStringLiteral("status")] = c.status;
        r.body[QStringLiteral("output")] = QString::fromStdString(c.output);
        r.body[QStringLiteral("differences")] = d;
        last = c.status;
        if (c.status != kDone) message = QStringLiteral("restore: ") + first_line(c.output);
    }
    // The answers went into the model on their way: the state shown is what the device reported,
    // without reading it all again. Only what the replies do not tell (a restart, a recall, a
    // reset) needs the full reading.
    settle(last == kLinkDown);
    r.http = http_status(last);
    if (last != kDone) r.body[QStringLiteral("error")] = message;
    else if (cut_short) {
        r.http = 503;
        r.body[QStringLiteral("error")] = QStringLiteral("stopped after %1 of %2 commands: the hub is stopping")
                                              .arg(r.body.value(QLatin1String("results")).toArray().size())
                                              .arg(job.commands.size());
    }
    r.body[QStringLiteral("state")] = document();
    return r;
}

// After a job: the link lost, or the state as the replies left it (read whole when they cannot
// tell it).
void UnitWorker::settle(bool lost)
{
    if (!backend_) return;
    if (lost || !backend_->link_up()) link_lost();
    else if (backend_->take_full_read_due() && !stopped_) reread();
    else take_state();
    follow_link_on_port();
}

void UnitWorker::reread()
{
    const UnitBackend::StateRead s = backend_->read_state();
    if (s.status == kLinkDown || !backend_->link_up()) {
        problem_ = first_line(s.message);
        link_lost();
        return;
    }
    link_state_ = "up";
    // A reading cut short updates what it read and keeps the other values as last reported; the
    // problem says why.
    state_due_ = false;
    state_ = QJsonDocument::fromJson(QByteArray::fromStdString(s.document)).object();
    if (s.status == kDone) {
        problem_.clear();
        stats_->last_full_read_ms = QDateTime::currentMSecsSinceEpoch();
    } else {
        problem_ = first_line(s.message);
    }
    publish_if_changed();
}

void UnitWorker::take_state()
{
    state_due_ = false;
    if (!backend_) return;
    state_ = QJsonDocument::fromJson(QByteArray::fromStdString(backend_->document())).object();
    publish_if_changed();
}

QJsonObject UnitWorker::document() const
{
    QJsonObject doc = state_;
    QJsonObject link;
    link[QStringLiteral("name")] = QString::fromStdString(config_.link.name());
    // A unit whose last exchange went unanswered is linked but silent until it answers again.
    const bool silent = backend_ && std::strcmp(link_state_, "up") == 0 && backend_->unanswered();
    link[QStringLiteral("state")] = silent ? QStringLiteral("silent") : QString::fromLatin1(link_state_);
    doc[QStringLiteral("link")] = link;
    doc[QStringLiteral("id")] = QString::fromStdString(config_.id);
    doc[QStringLiteral("name")] = QString::fromStdString(config_.name);
    doc[QStringLiteral("problem")] = problem_.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(problem_);
    doc[QStringLiteral("version")] = double(version_);
    return doc;
}

void UnitWorker::publish_if_changed()
{
    QJsonObject now = document();
    now.remove(QStringLiteral("version"));
    if (now == published_ && version_ > 0) return;
    published_ = now;
    ++version_;
    publish_(document());
}

} // namespace tavrion::hub
