// JobResult: its outcome from the tool's statuses, and its document.
#include "hub/job_result.h"

#include <QJsonArray>

namespace tavrion::hub {

int http_status(JobResult::Outcome outcome)
{
    switch (outcome) {
    case JobResult::Outcome::Done: return 200;
    case JobResult::Outcome::Refused: return 400;
    case JobResult::Outcome::DeviceFailed: return 502;
    case JobResult::Outcome::VersionMoved: return 409;
    case JobResult::Outcome::LinkDown:
    case JobResult::Outcome::Stopping: break;
    }
    return 503;
}

JobResult::Outcome outcome_of(int command_status)
{
    switch (command_status) {
    case kDone: return JobResult::Outcome::Done;
    case kUsage: return JobResult::Outcome::Refused;
    case kLinkDown: return JobResult::Outcome::LinkDown;
    default: return JobResult::Outcome::DeviceFailed;
    }
}

QJsonObject job_json(const JobResult& r, const std::vector<std::string>* resolutions)
{
    QJsonObject o;
    if (r.ran) {
        QJsonArray results;
        for (const CommandResult& c : r.results)
            results.append(QJsonObject{{QStringLiteral("command"), QString::fromStdString(c.command)},
                                       {QStringLiteral("status"), c.status},
                                       {QStringLiteral("output"), QString::fromStdString(c.output)}});
        o[QStringLiteral("results")] = results;
    }
    if (r.restore) {
        QJsonArray d;
        for (const std::string& line : r.differences) d.append(QString::fromStdString(line));
        o[QStringLiteral("status")] = r.restore->status;
        o[QStringLiteral("output")] = QString::fromStdString(r.restore->output);
        o[QStringLiteral("differences")] = d;
    }
    if (r.outcome != JobResult::Outcome::Done) o[QStringLiteral("error")] = QString::fromStdString(r.error);
    if (r.state) o[QStringLiteral("state")] = unit_json(*r.state, resolutions);
    return o;
}

} // namespace tavrion::hub
