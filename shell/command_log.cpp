#include "shell/command_log.h"

#include "link/device_session.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>

namespace tavrion {

namespace {
constexpr int kLogLimit = 30; // more entries than this: the next one starts a new log
} // namespace

CommandLog::CommandLog(DeviceSession& session, const Controls& controls) : c_(controls)
{
    connect(&session, &DeviceSession::log_entry, this, [this](const std::string& text) { log_entry(text); });
    connect(c_.cmd_clear, &QPushButton::clicked, this, [this] { cmd_clear_Click(); });
}

void CommandLog::cmd_clear_Click()
{
    c_.txt_cmd->clear();
    log_lines_ = 0;
}

void CommandLog::log_entry(const std::string& text)
{
    if (log_lines_ > kLogLimit) cmd_clear_Click();
    QTextCursor c(c_.txt_cmd->document());
    c.movePosition(QTextCursor::End);
    c.insertText(QString::fromLatin1(text.data(), int(text.size())) + QLatin1Char(' '));
    c_.txt_cmd->moveCursor(QTextCursor::End);
    ++log_lines_;
}

} // namespace tavrion
