// The command log: every command sent and every text received, one blank after each; emptied by
// the clear button and before its 32nd entry.
#pragma once

#include <QObject>

#include <string>

class QPlainTextEdit;
class QPushButton;

namespace tavrion {

class DeviceSession;

class CommandLog : public QObject {
public:
    struct Controls {
        QPlainTextEdit* txt_cmd;
        QPushButton* cmd_clear;
    };
    CommandLog(DeviceSession& session, const Controls& controls);

    void log_entry(const std::string& text);
    void cmd_clear_Click();
    int log_lines() const { return log_lines_; }

private:
    Controls c_;
    int log_lines_ = 0; // entries since the log was last cleared
};

} // namespace tavrion
