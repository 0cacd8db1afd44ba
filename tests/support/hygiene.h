// What a test leaves behind: windows, timers, sockets, notifiers, threads and processes that are
// still alive once the test function has returned, and any socket of the process whose ends are
// not both on loopback. Call Hygiene::start() in initTestCase() and check in cleanup():
//
//     void initTestCase() { Hygiene::start(); }
//     void cleanup() { TAVRION_VERIFY_HYGIENE(); }
//
// Objects are watched from start() on through Qt's object hooks, so a timer or socket that nobody
// owns any more (leaked without a parent) is found as well as one hanging off a live window.
#pragma once

#include <QString>
#include <QStringList>
#include <QtTest>

#include <sys/types.h>

namespace tavrion::test {

class Hygiene {
public:
    // Installs the object watch (once per process) and takes the thread count as the baseline.
    static void start();

    // What is left: top-level widgets, live QTimer / socket / socket notifier / QThread / QProcess
    // objects created since start(), more threads than at start(), open TCP or UDP sockets.
    // Deferred deletes run first, and threads get up to `grace_ms` to finish.
    static QStringList leftovers(int grace_ms = 1000);

    // TCP and UDP sockets of process `pid` (0 = this one) with an end that is not loopback: a
    // connection to another host, or a socket bound to every interface.
    static QStringList non_loopback_sockets(pid_t pid = 0);
    // Listening TCP sockets, bound UDP sockets and listening local (unix) sockets of `pid`.
    static QStringList listening_sockets(pid_t pid = 0);
    // Every TCP/UDP socket of `pid`, as "tcp 127.0.0.1:4000 -> 127.0.0.1:5123 ESTABLISHED".
    static QStringList inet_sockets(pid_t pid = 0);

    static int thread_count(pid_t pid = 0);
    static qint64 resident_bytes(); // this process's resident set
};

} // namespace tavrion::test

#define TAVRION_VERIFY_HYGIENE()                                                                  \
    do {                                                                                          \
        const QStringList tavrion_left_ = ::tavrion::test::Hygiene::leftovers();                  \
        QVERIFY2(tavrion_left_.isEmpty(), qPrintable(tavrion_left_.join(QStringLiteral("; ")))); \
    } while (false)
