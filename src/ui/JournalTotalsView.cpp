#include "ui/JournalTotalsView.h"

#include "ui/JournalModel.h"

#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

// How much of the period a kiosk was connected; a dash where no connection event tells.
QString availabilityText(double share) {
    return share < 0 ? QStringLiteral("—") : QStringLiteral("%1 %").arg(share * 100, 0, 'f', 1);
}

} // namespace

const QList<JournalDecision>& TJournalTotalsView::decisions() {
    static const QList<JournalDecision> all{JournalDecision::Confirmed, JournalDecision::Cancelled,
                                            JournalDecision::Returned,  JournalDecision::Ended,
                                            JournalDecision::Closed,    JournalDecision::Open};
    return all;
}

int TJournalTotalsView::medianColumn() {
    return colFirstDecision + 2 * static_cast<int>(decisions().size());
}

int TJournalTotalsView::longestColumn() {
    return medianColumn() + 1;
}

int TJournalTotalsView::availabilityColumn() {
    return medianColumn() + 2;
}

TJournalTotalsView::TJournalTotalsView(QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("frmJournalTotals"));
    auto* root = new QVBoxLayout(this);
    lblJournalTotalsPeriod = new QLabel(this);
    lblJournalTotalsPeriod->setObjectName(QStringLiteral("lblJournalTotalsPeriod"));
    root->addWidget(lblJournalTotalsPeriod);

    tblJournalTotals = new QTableWidget(this);
    tblJournalTotals->setObjectName(QStringLiteral("tblJournalTotals"));
    tblJournalTotals->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tblJournalTotals->setSelectionBehavior(QAbstractItemView::SelectRows);
    tblJournalTotals->verticalHeader()->hide();
    QStringList headers{QStringLiteral("Киоск"), QStringLiteral("Заказов"),
                        QStringLiteral("Сумма")};
    for (const JournalDecision d : decisions())
        headers << JournalModel::decisionText(d) << QStringLiteral("сумма");
    headers << QStringLiteral("Ожидание, медиана") << QStringLiteral("Ожидание, наибольшее")
            << QStringLiteral("Доступность");
    tblJournalTotals->setColumnCount(static_cast<int>(headers.size()));
    tblJournalTotals->setHorizontalHeaderLabels(headers);
    root->addWidget(tblJournalTotals, 1);
}

void TJournalTotalsView::setSummary(const JournalSummary& summary, const QString& periodText) {
    m_summary = summary;
    lblJournalTotalsPeriod->setText(periodText);
    tblJournalTotals->setRowCount(0);
    for (const JournalTotals& t : summary.kiosks)
        addRow(t, t.kiosk);
    addRow(summary.all, QStringLiteral("Все киоски"));
    tblJournalTotals->resizeColumnsToContents();
}

void TJournalTotalsView::addRow(const JournalTotals& t, const QString& name) {
    const int row = tblJournalTotals->rowCount();
    tblJournalTotals->insertRow(row);
    const auto put = [&](int column, const QString& text, bool number = true) {
        auto* item = new QTableWidgetItem(text);
        if (number)
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        tblJournalTotals->setItem(row, column, item);
    };
    put(colKiosk, name, false);
    put(colOrders, QString::number(t.count));
    put(colSum, JournalModel::sumText(t.sum));
    int column = colFirstDecision;
    for (const JournalDecision d : decisions()) {
        const auto it = t.byDecision.find(d);
        const JournalDecisionTotal total =
            it == t.byDecision.end() ? JournalDecisionTotal{} : it->second;
        put(column++, QString::number(total.count));
        put(column++, JournalModel::sumText(total.sum));
    }
    const bool waited = t.decided > 0;
    put(medianColumn(), waited ? JournalModel::waitText(t.medianWait) : QString());
    put(longestColumn(), waited ? JournalModel::waitText(t.longestWait) : QString());
    put(availabilityColumn(), availabilityText(t.availability));
}
