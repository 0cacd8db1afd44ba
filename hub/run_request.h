// A run request's body turned into a checked job: the same verbs, checks and refusals for the
// JSON API and the MQTT run topic.
#pragma once

#include "hub/unit_worker.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <string>

namespace tavrion::hub {

constexpr int kMaxCommands = 64;

// The job for `{"commands": [...], "if_version": N}`, its `done` left for the caller; nothing,
// with `error` (the answer's text), when the body is refused.
std::optional<Job> run_job(const QByteArray& body, const ResolutionNames& names, QString& error);

} // namespace tavrion::hub
