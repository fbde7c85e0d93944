#include "journal/JournalRecord.h"

#include <array>
#include <utility>

namespace {

const std::array<std::pair<JournalDecision, const char*>, 6> kWords{{
    {JournalDecision::Open, "open"},
    {JournalDecision::Confirmed, "confirmed"},
    {JournalDecision::Cancelled, "cancelled"},
    {JournalDecision::Returned, "returned"},
    {JournalDecision::Ended, "ended"},
    {JournalDecision::Closed, "closed"},
}};

} // namespace

QString journalDecisionWord(JournalDecision decision) {
    for (const auto& [value, word] : kWords)
        if (value == decision)
            return QString::fromLatin1(word);
    return QStringLiteral("open");
}

std::optional<JournalDecision> journalDecisionFromWord(const QString& word) {
    for (const auto& [value, text] : kWords)
        if (word == QLatin1String(text))
            return value;
    return std::nullopt;
}
