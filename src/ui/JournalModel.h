#pragma once

#include "journal/JournalQuery.h"
#include "journal/JournalRecord.h"

#include <QAbstractTableModel>
#include <QList>
#include <QString>

class JournalReader;

// The orders of the journal list, newest first, read a page at a time as the view
// scrolls: a journal of a year opens with its first page and never sits in memory whole.
// Each page goes on after the last row read (JournalCursor), so rows written meanwhile
// neither repeat nor shift a row out of the list.
class JournalModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column {
        colOpened,
        colKiosk,
        colOrder,
        colSum,
        colDecision,
        colWait,
        colPrints,
        colConsole, // only with the journal shared by several consoles
        colCount
    };
    static constexpr int kPageSize = 200;
    // The row's id in the file, for Qt::UserRole.
    static constexpr int kIdRole = Qt::UserRole;

    // reader belongs to the caller and outlives the model (or the next setReader).
    explicit JournalModel(JournalReader& reader, QObject* parent = nullptr);

    // Another reader (a new connection to the shared journal); the list is emptied.
    void setReader(JournalReader& reader);
    // The column of the console that took each order: the shared journal holds the
    // orders of every console, and the same kiosk names may stand at several of them.
    void setShowConsole(bool show);
    bool showConsole() const { return m_showConsole; }

    // Starts the list over for query (its cursor is ignored) and reads the first page.
    void setQuery(const JournalQuery& query);
    // Empties the list; nothing more is read until the next setQuery.
    void clear();
    // The query of the list, without a cursor.
    const JournalQuery& query() const { return m_query; }
    const JournalRecord& record(int row) const { return m_rows.at(row); }

    // The words of the list.
    static QString decisionText(JournalDecision decision);
    // "mm:ss" of a wait in seconds; empty for an order still open.
    static QString waitText(double seconds);
    static QString sumText(double sum);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    bool canFetchMore(const QModelIndex& parent = {}) const override;
    void fetchMore(const QModelIndex& parent = {}) override;

private:
    JournalReader* m_reader;
    JournalQuery m_query;
    QList<JournalRecord> m_rows;
    bool m_atEnd = true;
    bool m_showConsole = false;
};
