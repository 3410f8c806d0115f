#include "commands/print_queue.h"

#include <cups/cups.h>

#include <QCoreApplication>
#include <algorithm>
#include <cstring>

namespace kaldrome {

namespace {

QString Tr(const char* text) {
    return QCoreApplication::translate("PrintQueue", text);
}

// What the print service said about the last request, after our own words.
Failure Refused(const QString& what) {
    QString text = what;
    const char* reason = cupsLastErrorString();
    if (reason != nullptr && *reason != '\0')
        text += QLatin1Char('\n') + QString::fromLocal8Bit(reason);
    return Failure{text.toStdString()};
}

bool Succeeded(ipp_status_t status) {
    return status <= IPP_STATUS_OK_EVENTS_COMPLETE;
}

// A job goes to the service in pieces of this size, each a sign of life.
constexpr qsizetype SendPieceBytes = qsizetype{256} << 10;
// How long a job's connection may take to open, and how often its waits ask
// whether the job is still wanted.
constexpr int ConnectWaitMs = 30000;
constexpr double AskEverySeconds = 0.5;

int StillWanted(http_t*, void* data) {
    const auto* progress = static_cast<const WorkProgress*>(data);
    return !progress->wanted || progress->wanted() ? 1 : 0;
}

}  // namespace

Outcome<void> CheckQueue(const QString& queue) {
    const QByteArray name = queue.toLocal8Bit();
    cups_dest_t* dest = cupsGetNamedDest(nullptr, name.constData(), nullptr);
    if (dest == nullptr) return Refused(Tr("The printer %1 was not found.").arg(queue));
    const char* accepting =
        cupsGetOption("printer-is-accepting-jobs", dest->num_options, dest->options);
    const bool refuses = accepting != nullptr && std::strcmp(accepting, "false") == 0;
    cupsFreeDests(1, dest);
    if (refuses)
        return Failure{Tr("The printer %1 does not accept jobs.").arg(queue).toStdString()};
    return {};
}

Outcome<int> SubmitPdf(const QString& queue, const QString& title, const QByteArray& pdf,
                       const QString& media, const WorkProgress& progress) {
    const QByteArray name = queue.toLocal8Bit();
    const QByteArray jobTitle = title.toUtf8();
    const QByteArray paper = media.toUtf8();
    const QString failed = Tr("The printer %1 did not take the document.").arg(queue);
    const auto wanted = [&progress] { return !progress.wanted || progress.wanted(); };

    // A connection of its own, whose waits ask now and then whether the job is
    // still wanted: a job given up half-way is cut off by closing it, and the
    // service never prints a document that was not finished.
    http_t* http = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1,
                                ConnectWaitMs, nullptr);
    if (http == nullptr) return Refused(failed);
    httpSetTimeout(http, AskEverySeconds, StillWanted, const_cast<WorkProgress*>(&progress));

    cups_option_t* options = nullptr;
    int optionCount = 0;
    if (!paper.isEmpty()) optionCount = cupsAddOption("media", paper.constData(), 0, &options);
    const int job =
        cupsCreateJob(http, name.constData(), jobTitle.constData(), optionCount, options);
    cupsFreeOptions(optionCount, options);

    // One document, the last of the job; the job prints only once it is complete.
    bool sent = job != 0 && cupsStartDocument(http, name.constData(), job, jobTitle.constData(),
                                              CUPS_FORMAT_PDF, 1) == HTTP_STATUS_CONTINUE;
    for (qsizetype at = 0; sent && at < pdf.size(); at += SendPieceBytes) {
        const qsizetype piece = std::min(SendPieceBytes, pdf.size() - at);
        sent = wanted() && cupsWriteRequestData(http, pdf.constData() + at,
                                                static_cast<size_t>(piece)) == HTTP_STATUS_CONTINUE;
        if (sent && progress.movedOn) progress.movedOn();
    }
    sent = sent && wanted() && Succeeded(cupsFinishDocument(http, name.constData()));
    const Failure reason = Refused(failed);
    httpClose(http);
    if (sent) return job;
    // Cancelled and purged on the shared connection, which waits for a
    // service that hangs: once it answers again, nothing of the job is left.
    if (job != 0) cupsCancelJob2(CUPS_HTTP_DEFAULT, name.constData(), job, 1);
    return reason;
}

}  // namespace kaldrome
