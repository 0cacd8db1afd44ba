// The verbs' Device on the panel's own DeviceSession: the same framing, the same bounds of the
// waits, the same late-reply waits and the same restart course as the window, and the session's
// lines, link changes and restarts passed on as the Device's events. The session runs
// without message boxes; what they would report comes back as an Answer or as the reason a link
// could not be opened.
#pragma once

#include "session/device_session.h"
#include "verbs/device.h"
#include "verbs/link.h"

#include <QString>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tavrion {
class Clock;
class DeviceModel;
class SerialPort;
class TcpClient;
} // namespace tavrion

namespace tavrion::verbs {

class SessionDevice : public Device {
public:
    // Takes the platform the session runs on; nothing is opened yet. `watch`: how the session
    // learns that its TCP link went (the window's 100 ms watch unless told otherwise); `wait`: how
    // it waits for an answer (the window's steps unless told otherwise).
    SessionDevice(std::unique_ptr<Clock> clock, std::unique_ptr<SerialPort> serial, std::unique_ptr<TcpClient> socket,
                  LinkWatch watch = LinkWatch::Polled, ReplyWait wait = ReplyWait::Stepped);
    ~SessionDevice() override;

    // Opens COM `port` as the panel's Connect does, with the receive tick running. False when the
    // port cannot be opened.
    bool open_serial(int port);
    // Connects as the panel's Connect does. A refused connection or an unknown host ends the
    // attempt at once; otherwise it has the panel's 7 s. False, with the reason, on failure.
    bool open_tcp(const std::string& address, std::string& error);

    Answer ask(const std::string& command) override;
    Answer ask_slow(const std::string& command) override;
    std::optional<std::string> network_query(const std::string& command) override;
    bool on_serial() const override;
    bool wait_ready(int seconds) override;

    DeviceModel& model() override;

    DeviceSession& session() { return *session_; }

private:
    Answer transact(const std::string& command, bool slow);
    bool connect_within(qint64 deadline_ms, std::string& error);
    void sleep_until(qint64 deadline_ms);

    std::unique_ptr<Clock> clock_;
    std::unique_ptr<SerialPort> serial_;
    std::unique_ptr<TcpClient> socket_;
    std::unique_ptr<DeviceSession> session_; // goes before what it runs on
    std::string address_;                    // the TCP address, for reconnecting

    std::optional<bool> powered_; // the power state last reported: on after standby is a restart
    std::string attempt_error_; // why the TCP attempt failed at once
};

// Opens `link` on the real clock, serial port and TCP client, with the serial devices of
// `program_dir` (as the panel's COMn). Failures name the device and the reason.
std::unique_ptr<SessionDevice> open_session(const LinkTarget& link, const std::string& program_dir, std::string& error,
                                            LinkWatch watch = LinkWatch::Polled, ReplyWait wait = ReplyWait::Stepped);
// The same, as tavrion-ctl's opener: waits that end on the answer, as nobody watches them in steps.
DeviceOpener session_opener(const std::string& program_dir, ReplyWait wait = ReplyWait::Prompt);

} // namespace tavrion::verbs
