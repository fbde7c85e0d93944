#pragma once

#include "journal/JournalTotals.h"

#include <QList>
#include <QWidget>

class QLabel;
class QTableWidget;

// "Итоги": the orders of a period per kiosk and for all kiosks together — how many and
// for how much by decision, how long customers waited (median and longest), and how much
// of the period each kiosk was connected.
class TJournalTotalsView : public QWidget {
    Q_OBJECT
public:
    // The table's columns: kiosk, orders, sum, then a count and a sum per decision (in
    // decisions()' order), then the waits and the availability.
    enum Column { colKiosk, colOrders, colSum, colFirstDecision };
    static const QList<JournalDecision>& decisions();
    static int medianColumn();
    static int longestColumn();
    static int availabilityColumn();

    explicit TJournalTotalsView(QWidget* parent = nullptr);

    // Shows the totals; the row "Все киоски" comes last.
    void setSummary(const JournalSummary& summary, const QString& periodText);
    const JournalSummary& summary() const { return m_summary; }

    QLabel* lblJournalTotalsPeriod = nullptr;
    QTableWidget* tblJournalTotals = nullptr;

private:
    void addRow(const JournalTotals& totals, const QString& name);

    JournalSummary m_summary;
};
