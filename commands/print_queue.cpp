#include "commands/print_queue.h"

#include <cups/cups.h>

#include <QCoreApplication>
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
                       const QString& media) {
    const QByteArray name = queue.toLocal8Bit();
    const QByteArray jobTitle = title.toUtf8();
    const QByteArray paper = media.toUtf8();
    cups_option_t* options = nullptr;
    int optionCount = 0;
    if (!paper.isEmpty()) optionCount = cupsAddOption("media", paper.constData(), 0, &options);

    const QString failed = Tr("The printer %1 did not take the document.").arg(queue);
    const int job =
        cupsCreateJob(nullptr, name.constData(), jobTitle.constData(), optionCount, options);
    cupsFreeOptions(optionCount, options);
    if (job == 0) return Refused(failed);

    // One document, the last of the job; the job prints only once it is complete.
    bool sent = cupsStartDocument(nullptr, name.constData(), job, jobTitle.constData(),
                                  CUPS_FORMAT_PDF, 1) == HTTP_STATUS_CONTINUE;
    sent = sent && cupsWriteRequestData(nullptr, pdf.constData(),
                                        static_cast<size_t>(pdf.size())) == HTTP_STATUS_CONTINUE;
    sent = Succeeded(cupsFinishDocument(nullptr, name.constData())) && sent;
    if (!sent) {
        Failure reason = Refused(failed);
        cupsCancelJob2(nullptr, name.constData(), job, 1);
        return reason;
    }
    return job;
}

}  // namespace kaldrome
