#include "platform/Spooler.h"

#include "platform/Error.h"

#include <cups/cups.h>

namespace orvanta {

const char* const kSpoolRawFormat = CUPS_FORMAT_RAW;
const char* const kSpoolPdfFormat = CUPS_FORMAT_PDF;

namespace {

QString lastCupsError() {
    return QString::fromUtf8(cupsLastErrorString());
}

// libcups reports a server it could not reach (no socket, connection refused, a scheduler
// stopping) as "service unavailable", whatever the request was.
bool lastErrorIsNoService() {
    return cupsLastError() == IPP_STATUS_ERROR_SERVICE_UNAVAILABLE;
}

const QString kNoService = QStringLiteral("Служба печати CUPS не отвечает");

// Dests of the server, released when the list goes out of scope.
class DestList {
public:
    DestList() { m_count = cupsGetDests2(CUPS_HTTP_DEFAULT, &m_dests); }
    ~DestList() { cupsFreeDests(m_count, m_dests); }
    DestList(const DestList&) = delete;
    DestList& operator=(const DestList&) = delete;

    int count() const { return m_count; }
    const cups_dest_t& at(int i) const { return m_dests[i]; }

private:
    cups_dest_t* m_dests = nullptr;
    int m_count = 0;
};

// Whether the queue takes several documents in one job. The scheduler says so for its
// queues; a server that is an IPP printer itself may not, and then every document gets a
// job of its own, submitted in order, which the queue keeps.
bool takesSeveralDocuments(const QString& printer) {
    const QByteArray name = printer.toUtf8();
    cups_dest_t* dest = cupsGetNamedDest(CUPS_HTTP_DEFAULT, name.constData(), nullptr);
    if (!dest)
        return false;
    bool several = false;
    if (cups_dinfo_t* info = cupsCopyDestInfo(CUPS_HTTP_DEFAULT, dest)) {
        ipp_attribute_t* attr =
            cupsFindDestSupported(CUPS_HTTP_DEFAULT, dest, info, "multiple-document-jobs");
        several = attr && ippGetValueTag(attr) == IPP_TAG_BOOLEAN && ippGetBoolean(attr, 0);
        cupsFreeDestInfo(info);
    }
    cupsFreeDests(1, dest);
    return several;
}

void SubmitOne(const QString& printer, const QString& title, const QList<SpoolDocument>& docs) {
    const QByteArray name = printer.toUtf8();
    const QByteArray jobTitle = title.toUtf8();
    const int jobId =
        cupsCreateJob(CUPS_HTTP_DEFAULT, name.constData(), jobTitle.constData(), 0, nullptr);
    if (jobId <= 0) {
        // A missing socket fails the request with the system's error, not as "service
        // unavailable"; asking again tells a server that is not there.
        if (lastErrorIsNoService() || !PrintServiceAnswers())
            throw orvanta::Exception(kNoService + QStringLiteral(": задание для принтера \"%1\" "
                                                                 "не передано")
                                                      .arg(printer));
        throw orvanta::Exception(QStringLiteral("Принтер \"%1\" не принял задание печати: %2")
                                     .arg(printer, lastCupsError()));
    }
    auto fail = [&](const QString& error) {
        const bool noService = lastErrorIsNoService() || !PrintServiceAnswers();
        cupsCancelJob2(CUPS_HTTP_DEFAULT, name.constData(), jobId, 1);
        if (noService)
            throw orvanta::Exception(kNoService + QStringLiteral(": задание для принтера \"%1\" "
                                                                 "не передано")
                                                      .arg(printer));
        throw orvanta::Exception(
            QStringLiteral("Ошибка передачи задания на принтер \"%1\": %2").arg(printer, error));
    };
    for (qsizetype i = 0; i < docs.size(); ++i) {
        const SpoolDocument& doc = docs.at(i);
        const QByteArray docName = QByteArray("part") + QByteArray::number(i + 1);
        if (cupsStartDocument(CUPS_HTTP_DEFAULT, name.constData(), jobId, docName.constData(),
                              doc.format.constData(),
                              i + 1 == docs.size() ? 1 : 0) != HTTP_STATUS_CONTINUE)
            fail(lastCupsError());
        if (cupsWriteRequestData(CUPS_HTTP_DEFAULT, doc.data.constData(),
                                 static_cast<size_t>(doc.data.size())) != HTTP_STATUS_CONTINUE) {
            cupsFinishDocument(CUPS_HTTP_DEFAULT, name.constData());
            fail(lastCupsError());
        }
        if (cupsFinishDocument(CUPS_HTTP_DEFAULT, name.constData()) > IPP_STATUS_OK_CONFLICTING)
            fail(lastCupsError());
    }
}

} // namespace

QStringList InstalledPrinters() {
    DestList dests;
    QStringList names;
    for (int i = 0; i < dests.count(); ++i) {
        if (!dests.at(i).instance)
            names.append(QString::fromUtf8(dests.at(i).name));
    }
    return names;
}

QString DefaultPrinterName() {
    DestList dests;
    for (int i = 0; i < dests.count(); ++i) {
        if (dests.at(i).is_default && !dests.at(i).instance)
            return QString::fromUtf8(dests.at(i).name);
    }
    return {};
}

namespace {

// Printer names are matched without regard to case, as the print settings were first
// written against a spooler that did.
QString findPrinterIn(const QStringList& names, const QString& name) {
    if (name.isEmpty())
        return {};
    for (const QString& installed : names) {
        if (installed.compare(name, Qt::CaseInsensitive) == 0)
            return installed;
    }
    return {};
}

} // namespace

QString FindInstalledPrinter(const QString& name) {
    return findPrinterIn(InstalledPrinters(), name);
}

QString SelectPrinter(const QString& name) {
    const QStringList names = InstalledPrinters();
    if (const QString installed = findPrinterIn(names, name); !installed.isEmpty())
        return installed;
    const QString fallback = DefaultPrinterName();
    if (!fallback.isEmpty())
        return fallback;
    if (!names.isEmpty())
        return names.first();
    if (!PrintServiceAnswers())
        throw orvanta::Exception(kNoService);
    if (name.isEmpty())
        throw orvanta::Exception(QStringLiteral("Нет ни одного установленного принтера"));
    throw orvanta::Exception(
        QStringLiteral("Принтер \"%1\" не установлен, и нет ни одного другого принтера").arg(name));
}

bool PrintServiceAnswers() {
    // A request every scheduler answers, with or without queues: "not found" for no
    // default is an answer too.
    ipp_t* request = ippNewRequest(IPP_OP_CUPS_GET_DEFAULT);
    ippDelete(cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/"));
    return !lastErrorIsNoService();
}

QueueState QueueStatus(const QString& name) {
    if (name.isEmpty())
        return PrintServiceAnswers() ? QueueState::Missing : QueueState::NoService;
    const QByteArray utf8 = name.toUtf8();
    cups_dest_t* dest = cupsGetNamedDest(CUPS_HTTP_DEFAULT, utf8.constData(), nullptr);
    if (!dest) {
        // cupsGetNamedDest leaves the error of its last request: asking a stopped server
        // fails with "service unavailable", asking a running one for a queue it lacks
        // does not.
        return lastErrorIsNoService() || !PrintServiceAnswers() ? QueueState::NoService
                                                                : QueueState::Missing;
    }
    const char* accepting =
        cupsGetOption("printer-is-accepting-jobs", dest->num_options, dest->options);
    const bool takes = !accepting || qstrcmp(accepting, "false") != 0;
    cupsFreeDests(1, dest);
    return takes ? QueueState::Accepting : QueueState::NotAccepting;
}

void SubmitJob(const QString& printer, const QString& title,
               const QList<SpoolDocument>& documents) {
    if (documents.isEmpty())
        return;
    if (documents.size() == 1 || takesSeveralDocuments(printer)) {
        SubmitOne(printer, title, documents);
        return;
    }
    for (const SpoolDocument& doc : documents)
        SubmitOne(printer, title, {doc});
}

} // namespace orvanta
