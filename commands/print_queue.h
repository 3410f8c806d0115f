// The system's print service (CUPS): whether a queue takes jobs, and handing
// it a finished printout as one job.
//
// Qt's own print engine pipes its output to the spooler and never looks at
// the answer, so a queue that refuses jobs swallowed a printout without a word.
// Here every step's answer is read and a refusal comes back in plain words.
#pragma once

#include <QByteArray>
#include <QString>

#include "base/outcome.h"
#include "commands/print_service.h"

namespace kaldrome {

// Succeeds when the queue exists and accepts jobs (a stopped queue accepts
// them and prints them once it is started again).
Outcome<void> CheckQueue(const QString& queue);

// Sends pdf to queue as one job titled title, on paper media (a page size
// name such as "A4"; empty: the queue's default). Returns the job's number.
// A job that fails on the way is cancelled and purged: nothing half-sent stays
// queued. The job goes piece by piece, each piece a sign of life to progress;
// once progress no longer wants it, sending ends and the job is cancelled
// (when the service answers again, if it hangs).
Outcome<int> SubmitPdf(const QString& queue, const QString& title, const QByteArray& pdf,
                       const QString& media, const WorkProgress& progress = {});

}  // namespace kaldrome
