#include "panel/shell/command_log.h"

#include "session/device_session.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>
#include <QTextDocument>

namespace tavrion {

namespace {
constexpr int kLogLimit = 30; // more entries than this: the next one starts a new log
// More characters than this (a flood of junk; 31 ordinary entries take about 500): the next entry
// starts a new log too. The log is one paragraph that is laid out anew at every entry, so an
// unbounded one would make each entry cost more than the last.
constexpr int kLogCharLimit = 1024;
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
    if (log_lines_ > kLogLimit || c_.txt_cmd->document()->characterCount() > kLogCharLimit) cmd_clear_Click();
    // Received text is logged as received, its CR included, and the box wraps it. The text document
    // would make a CR or LF a paragraph break, so control characters are shown as their Unicode
    // control pictures (CR as U+240D): the log stays one run of text, and nothing the device can
    // send (single bytes) reads as one of them.
    QString entry = QString::fromLatin1(text.data(), int(text.size()));
    for (QChar& ch : entry) {
        if (ch.unicode() < 0x20)
            ch = QChar(0x2400 + ch.unicode());
        else if (ch.unicode() == 0x7F)
            ch = QChar(0x2421);
    }
    QTextCursor c(c_.txt_cmd->document());
    c.movePosition(QTextCursor::End);
    c.insertText(entry + QLatin1Char(' '));
    c_.txt_cmd->moveCursor(QTextCursor::End);
    ++log_lines_;
}

} // namespace tavrion
