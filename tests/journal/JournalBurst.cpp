// journal-burst <folder> <count>: records count orders in the journal of folder, each
// opened, printed and decided, and after each prints "written <n>" once the order is in
// the file. The crash test kills it in the middle and then looks for every order it
// was told about.
#include "journal/OrderJournal.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: journal-burst <folder> <count>\n");
        return 2;
    }
    OrderJournal journal(QString::fromLocal8Bit(argv[1]), JournalOptions{400, 50});
    const int count = QByteArray(argv[2]).toInt();
    const QDateTime start = QDateTime::currentDateTime();
    for (int n = 1; n <= count; ++n) {
        JournalRecord r;
        r.console = QStringLiteral("burst");
        r.kiosk = QStringLiteral("Киоск %1").arg(n % 4 + 1);
        r.opened = start.addMSecs(n);
        r.sum = n;
        r.orderName = QStringLiteral("burst-%1").arg(n);
        r.document = QString(2000, QLatin1Char('d'));
        const OrderJournal::Handle handle = journal.orderOpened(r);
        journal.orderPrinted(handle, JournalPrint{r.opened, 3, QStringLiteral("COM1"), true, {}});
        journal.orderDecided(handle, JournalDecision::Confirmed, r.opened.addSecs(5), 5);
        if (!journal.flush(30000)) {
            std::fprintf(stderr, "journal-burst: order %d not written\n", n);
            return 1;
        }
        std::printf("written %d\n", n);
        std::fflush(stdout);
    }
    return 0;
}
