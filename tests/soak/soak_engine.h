// A long session against the simulated device with seeded random faults on the replies: commands
// straight through the transaction engine, Refresh clicks, slider sends, and now and then a
// quiet line followed by a command that must be answered. Watches that every reply handed to a
// handler is a whole line the device sent and carries the code of the command in flight, that
// every transaction ends within its steps, and how the resident memory moves.
//
// Used by test_soak (a short run) and by the program tavrion_soak (tools/soak.sh, the long run).
#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

#include <functional>

namespace tavrion::soak {

enum class Link { Serial, Tcp };

struct Options {
    int commands = 1000;      // per link: commands written on the wire, at least
    quint32 seed = 1;
    QList<Link> links{Link::Serial, Link::Tcp};
    double fault_share = 0.30; // commands whose reply gets a quick fault (ERR, other code, split...)
    double slow_share = 0.02;  // commands whose reply gets a slow one (silent, junk, very late)
    int probe_every = 50;      // commands between checks that a quiet line answers again
    int report_every = 500;    // commands between resident-memory lines
    int warmup = 300;          // commands before the resident-memory baseline
    QString transcript;        // the simulator's transcript, <path>.<link>; empty for none
    std::function<void(const QString&)> print; // progress lines; may be empty
};

struct LinkReport {
    QString link;
    int commands = 0;          // written on the wire
    int transactions = 0;      // send_command calls made by the soak itself
    int answered = 0;          // ... that ended with reply_ok (ERR included)
    int err_answers = 0;
    int unanswered = 0;
    int refreshes = 0;
    int slider_sends = 0;
    int probes = 0;
    int probe_failures = 0;
    int transaction_dispatches = 0; // replies handed over by a transaction
    int receiver_dispatches = 0;    // replies dispatched by a receiver (late or unasked)
    QMap<QString, int> faults;      // armed, by kind
    int max_steps = 0;              // wait steps of the longest transaction
    qint64 max_ms = 0;              // and its duration
    qint64 rss_warm = 0, rss_end = 0, rss_peak = 0;
    qint64 seconds_ms = 0;
    QStringList problems;           // wrong attributions, overrun bounds, messages, failed probes
};

QList<LinkReport> run(const Options& options);
QString summary(const LinkReport& r);

} // namespace tavrion::soak
