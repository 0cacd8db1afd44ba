// UnitWorker: the unit's jobs, poll and link, carried out one at a time in its own thread.
#include "hub/unit_worker.h"

#include "hub/audit.h"
#include "hub/protocol_port.h"

#include <QDateTime>
#include <QMetaObject>
#include <QRandomGenerator>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <string>
#include <utility>

namespace tavrion::hub {

namespace {

constexpr int kFirstBackoffMs = 1000;
constexpr int kLongestBackoffMs = 30000;

std::string first_line(const std::string& text)
{
    const QString s = QString::fromStdString(text).trimmed();
    return s.section(QLatin1Char('\n'), 0, 0).toStdString();
}

} // namespace

UnitWorker::UnitWorker(UnitConfig config, std::string program_dir, ResolutionNames names, int poll_seconds,
                       std::function<void(const UnitState&)> publish)
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
    if (port_) port_->set_unit_up(link_ == LinkState::Up);
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
        for (Job& j : jobs) {
            JobResult r;
            r.outcome = JobResult::Outcome::Stopping;
            r.error = "the hub is stopping";
            j.done(r);
        }
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
    // What changes the device's state here no client asked for: a front-panel change a poll
    // found, or a reply the device sent by itself.
    const std::optional<verbs::DeviceStatus> status_before = status_;
    const quint64 version_before = version_;
    if (restart_due_) {
        restart_due_ = false;
        if (port_) port_->drop_clients();
        link_log_.restarting(QDateTime::currentMSecsSinceEpoch());
    } else if (link_check_due_) {
        link_check_due_ = false;
        // A restart course inside a command may have brought the link back already.
        if (backend_ && !backend_->link_up()) link_lost();
        else if (backend_) {
            set_link(LinkState::Up);
            follow_link_on_port();
        }
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
    if (audit_ && version_ != version_before && status_before && status_)
        if (const auto e = audit_device_change(QString::fromStdString(config_.id), verbs::status_object(*status_before, nullptr),
                                               verbs::status_object(*status_, nullptr), version_before, version_))
            audit_->record(*e);
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
            const quint64 before = version_;
            const JobResult r = carry_out(*job);
            current_ = nullptr;
            // The audit entry is on file before the request is answered.
            const auto audit = [&] {
                if (const auto e = audit_ ? audit_job(QString::fromStdString(config_.id), *job, r, before, version_) : std::nullopt)
                    audit_->record(*e);
            };
            if (job->kind != Job::Kind::Line) audit();
            if (!std::exchange(current_answered_, false)) job->done(r);
            // A client's line is answered before the state it changed is read; the full reading
            // a recall or a reset needs is part of that client's turn.
            if (job->kind == Job::Kind::Line) {
                settle(false);
                audit();
            }
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
    set_link(LinkState::Connecting);
    auto backend = std::make_unique<UnitBackend>(config_.link, program_dir_, names_);
    std::string error;
    if (!backend->open(error)) {
        problem_ = error;
        set_link(LinkState::Down);
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
        // Known at once, published once the hub's turn has seen to it (a restart's course may
        // bring the link back first).
        link_ = LinkState::Down;
        follow_link_on_port();
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
    link_ = LinkState::Up;
    follow_link_on_port();
    reread();
}

void UnitWorker::link_lost()
{
    backend_.reset();
    set_link(LinkState::Down);
    follow_link_on_port();
    backoff_ms_ = kFirstBackoffMs;
    reopen_timer_->start(backoff_ms_);
}

void UnitWorker::answer_lost_link()
{
    current_answered_ = true;
    JobResult r;
    r.outcome = JobResult::Outcome::LinkDown;
    r.error = config_.link.name() + ": the link was lost during the request";
    r.state = state(); // down already: the link's loss told it
    current_->done(r);
}

void UnitWorker::set_link(LinkState state)
{
    link_ = state;
    publish_if_changed();
}

JobResult UnitWorker::carry_out(const Job& job)
{
    JobResult r;
    if (job.if_version && *job.if_version != version_) {
        r.outcome = JobResult::Outcome::VersionMoved;
        r.error = "the unit is at version " + std::to_string(version_) + ", not " + std::to_string(*job.if_version)
            + ": nothing sent; read its state again";
        r.state = state();
        return r;
    }
    // The guard's codes never reach the unit: the client hears what the device says to a code it
    // does not take.
    if (job.kind == Job::Kind::Line && guard_refuses(config_.protocol_refuse, job.line)) {
        if (job.heard) job.heard(guard_refusal_reply());
        r.refused_here = true;
        return r;
    }
    if (!backend_ || !backend_->link_up()) {
        if (backend_) link_lost();
        r.outcome = JobResult::Outcome::LinkDown;
        r.error = config_.link.name() + ": the link is down";
        r.state = state();
        return r;
    }
    if (job.kind == Job::Kind::Line) {
        backend_->pass_through(job.line, [&job, &r](const std::string& bytes) {
            r.reply += bytes; // for the audit's outcome
            if (job.heard) job.heard(bytes);
        });
        return r;
    }
    int last = kDone;
    bool cut_short = false;
    if (job.kind == Job::Kind::Run) {
        // Between two commands: a stopping hub or a client that has gone ends the run.
        const auto stop_here = [this, &job, &cut_short] {
            cut_short = stopped_ || (job.gone && *job.gone);
            return cut_short || current_answered_;
        };
        r.ran = true;
        r.results = backend_->run(job.commands, stop_here);
        for (const CommandResult& c : r.results) {
            last = c.status;
            if (c.status != kDone) r.error = c.command + ": " + first_line(c.output);
        }
    } else {
        r.restore = backend_->restore(job.backup, r.differences);
        last = r.restore->status;
        if (last != kDone) r.error = "restore: " + first_line(r.restore->output);
    }
    // The answers went into the model on their way: the state shown is what the device reported,
    // without reading it all again. Only what the replies do not tell (a restart, a recall, a
    // reset) needs the full reading.
    settle(last == kLinkDown);
    r.outcome = outcome_of(last);
    if (last == kDone && cut_short) {
        r.outcome = JobResult::Outcome::Stopping;
        r.error = "stopped after " + std::to_string(r.results.size()) + " of " + std::to_string(job.commands.size())
            + " commands: the hub is stopping";
    }
    r.state = state();
    return r;
}

// After a job: the link lost, or the state as the replies left it (read whole when they cannot
// tell it).
void UnitWorker::settle(bool lost)
{
    if (!backend_) return;
    if (lost || !backend_->link_up()) {
        link_lost();
        return;
    }
    link_ = LinkState::Up; // a restart's course inside the job may have taken it down and back
    if (backend_->take_full_read_due() && !stopped_) reread();
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
    link_ = LinkState::Up;
    // A reading cut short updates what it read and keeps the other values as last reported; the
    // problem says why.
    state_due_ = false;
    status_ = backend_->status();
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
    status_ = backend_->status();
    publish_if_changed();
}

UnitState UnitWorker::state() const
{
    UnitState s;
    s.id = config_.id;
    s.name = config_.name;
    s.link_name = config_.link.name();
    s.input_names = config_.input_names;
    s.output_names = config_.output_names;
    // A unit whose last exchange went unanswered is linked but silent until it answers again.
    s.link = link_ == LinkState::Up && backend_ && backend_->unanswered() ? LinkState::Silent : link_;
    s.status = status_;
    s.problem = problem_;
    s.version = version_;
    return s;
}

void UnitWorker::publish_if_changed()
{
    UnitState now = state();
    link_log_.changed(QString::fromLatin1(link_state_name(now.link)), QString::fromStdString(problem_),
                      QDateTime::currentMSecsSinceEpoch());
    if (version_ > 0 && now.same_as(published_)) return;
    now.version = ++version_;
    published_ = now;
    publish_(now);
}

} // namespace tavrion::hub
