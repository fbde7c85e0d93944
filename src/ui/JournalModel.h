#pragma once

#include "journal/JournalQuery.h"
#include "journal/JournalRecord.h"

#include <QAbstractTableModel>
#include <QList>
#include <QString>

#include <functional>

// The orders of the journal list, newest first, read a page at a time as the view
// scrolls: a journal of a year opens with its first page and never sits in memory whole.
// Each page goes on after the last row read (JournalCursor), so rows written meanwhile
// neither repeat nor shift a row out of the list.
//
// The model reads nothing itself: it asks for a page (the tab reads it off the window's
// thread) and takes the rows when they come back with the ticket they were asked with.
// One page at a time is asked; rows of a list started over since are not taken.
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

    // Asks for up to kPageSize orders of page (the list's query, with its cursor); the
    // answer goes to addPage with ticket.
    using PageAsker = std::function<void(const JournalQuery& page, quint64 ticket)>;

    explicit JournalModel(QObject* parent = nullptr);

    void setPageAsker(PageAsker asker) { m_ask = std::move(asker); }
    // The column of the console that took each order: the shared journal holds the
    // orders of every console, and the same kiosk names may stand at several of them.
    void setShowConsole(bool show);
    bool showConsole() const { return m_showConsole; }

    // Starts the list over for query (its cursor is ignored), empty until its first page
    // comes, and returns that page's ticket. With ask, the page is asked through the
    // asker; without, the caller reads it alongside something else and hands it in.
    quint64 setQuery(const JournalQuery& query, bool ask = true);
    // The rows of the page asked with ticket; failed: none could be read, and the list ends
    // there. False, taking nothing, when the list has started over since it was asked.
    bool addPage(quint64 ticket, const QList<JournalRecord>& rows, bool failed = false);
    // Empties the list; nothing more is read until the next setQuery, and no page on its
    // way is taken.
    void clear();
    // A page has been asked and has not come yet.
    bool pending() const { return m_pending; }
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
    PageAsker m_ask;
    JournalQuery m_query;
    QList<JournalRecord> m_rows;
    bool m_atEnd = true;
    bool m_pending = false;
    quint64 m_ticket = 0; // of the page asked last
    bool m_showConsole = false;
};
