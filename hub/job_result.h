// What became of a unit's job, in the hub's own terms: the outcome, what each command printed and
// the unit's state after it. HTTP and MQTT each word it as their clients expect.
#pragma once

#include "hub/unit_backend.h"
#include "hub/unit_state.h"

#include <QJsonObject>

#include <optional>
#include <string>
#include <vector>

namespace tavrion::hub {

struct JobResult {
    enum class Outcome {
        Done,         // carried out
        Refused,      // a command the tool would refuse: nothing more sent
        DeviceFailed, // the device refused, answered another code or fell silent
        LinkDown,     // the link is down, or was lost during the job
        Stopping,     // the hub is stopping: nothing, or not all, was sent
        VersionMoved, // the unit's version is not the one the request named: nothing sent
    };
    Outcome outcome = Outcome::Done;
    std::string error; // what went wrong, naming the command; empty when done

    bool ran = false;                    // a run: `results` holds each command carried out
    std::vector<CommandResult> results;
    std::optional<CommandResult> restore; // a restore, with the differences left
    std::vector<std::string> differences;
    std::optional<UnitState> state;       // the unit's state afterwards, when the job reached it
    // A protocol line: what came back for it, and whether the hub answered it for the unit (a
    // guarded code, never sent).
    std::string reply;
    bool refused_here = false;
};

// The outcome as an HTTP status: POST /run answers with it, and MQTT's result messages carry the
// same number, so that a script reads one set of codes.
int http_status(JobResult::Outcome outcome);

// The outcome of a finished command list: that of its last command.
JobResult::Outcome outcome_of(int command_status);

// The answer's document: the error, the results (a run) or the restore's, and the unit's state.
QJsonObject job_json(const JobResult& result, const std::vector<std::string>* resolutions);

} // namespace tavrion::hub
