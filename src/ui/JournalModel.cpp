#include "ui/JournalModel.h"

#include "journal/JournalReader.h"

#include <cmath>

JournalModel::JournalModel(QObject* parent)
    : QAbstractTableModel(parent) {}

void JournalModel::setShowConsole(bool show) {
    if (show == m_showConsole)
        return;
    beginResetModel();
    m_showConsole = show;
    endResetModel();
}

quint64 JournalModel::setQuery(const JournalQuery& query, bool ask) {
    beginResetModel();
    m_query = query;
    m_query.after.reset();
    m_rows.clear();
    m_atEnd = false;
    m_pending = true;
    ++m_ticket;
    endResetModel();
    if (ask && m_ask)
        m_ask(m_query, m_ticket);
    return m_ticket;
}

void JournalModel::clear() {
    beginResetModel();
    m_rows.clear();
    m_atEnd = true;
    m_pending = false;
    ++m_ticket;
    endResetModel();
}

bool JournalModel::addPage(quint64 ticket, const QList<JournalRecord>& rows, bool failed) {
    if (ticket != m_ticket || !m_pending)
        return false;
    m_pending = false;
    // A short page is the last one; so is a failed read, or the view would ask again at
    // every scroll.
    m_atEnd = failed || rows.size() < kPageSize;
    if (failed || rows.isEmpty())
        return true;
    const int first = static_cast<int>(m_rows.size());
    beginInsertRows({}, first, first + static_cast<int>(rows.size()) - 1);
    m_rows += rows;
    endInsertRows();
    return true;
}

QString JournalModel::decisionText(JournalDecision decision) {
    switch (decision) {
    case JournalDecision::Open:
        return QStringLiteral("Открыт");
    case JournalDecision::Confirmed:
        return QStringLiteral("Исполнен");
    case JournalDecision::Cancelled:
        return QStringLiteral("Отменён");
    case JournalDecision::Returned:
        return QStringLiteral("Возврат в заказ");
    case JournalDecision::Ended:
        return QStringLiteral("Завершён киоском");
    case JournalDecision::Closed:
        return QStringLiteral("Закрыт");
    }
    return QString();
}

QString JournalModel::waitText(double seconds) {
    if (seconds < 0)
        return QString();
    const qint64 whole = std::llround(seconds);
    return QStringLiteral("%1:%2")
        .arg(whole / 60, 2, 10, QLatin1Char('0'))
        .arg(whole % 60, 2, 10, QLatin1Char('0'));
}

QString JournalModel::sumText(double sum) {
    return QString::number(sum, 'f', 2);
}

int JournalModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int JournalModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_showConsole ? colCount : colConsole;
}

QVariant JournalModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const JournalRecord& r = m_rows.at(index.row());
    if (role == kIdRole)
        return r.id;
    if (role == Qt::TextAlignmentRole) {
        switch (index.column()) {
        case colSum:
        case colWait:
        case colPrints:
            return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
        default:
            return {};
        }
    }
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
    case colOpened:
        return r.opened.toLocalTime().toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"));
    case colKiosk:
        return r.kiosk;
    case colOrder:
        return r.orderName;
    case colSum:
        return sumText(r.sum);
    case colDecision:
        return decisionText(r.decision);
    case colWait:
        return r.decision == JournalDecision::Open ? QString() : waitText(r.waitSeconds);
    case colPrints:
        return r.printedCount;
    case colConsole:
        return r.console;
    default:
        return {};
    }
}

QVariant JournalModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case colOpened:
        return QStringLiteral("Открыт");
    case colKiosk:
        return QStringLiteral("Киоск");
    case colOrder:
        return QStringLiteral("Заказ");
    case colSum:
        return QStringLiteral("Сумма");
    case colDecision:
        return QStringLiteral("Решение");
    case colWait:
        return QStringLiteral("Ожидание");
    case colPrints:
        return QStringLiteral("Чеков");
    case colConsole:
        return QStringLiteral("Касса");
    default:
        return {};
    }
}

bool JournalModel::canFetchMore(const QModelIndex& parent) const {
    // The page on its way is not asked for again when the view scrolls meanwhile.
    return !parent.isValid() && !m_atEnd && !m_pending;
}

void JournalModel::fetchMore(const QModelIndex& parent) {
    if (!canFetchMore(parent) || !m_ask)
        return;
    JournalQuery page = m_query;
    if (!m_rows.isEmpty())
        page.after = JournalReader::cursorOf(m_rows.constLast());
    m_pending = true;
    ++m_ticket;
    m_ask(page, m_ticket);
}
