#pragma once

#include "journal/JournalRecord.h"

#include <QString>

#include <map>

struct JournalDecisionTotal {
    int count = 0;
    double sum = 0;
};

// The orders of a period for one kiosk (or all of them): count and sum by decision, and
// how long the decided ones waited.
struct JournalTotals {
    QString kiosk; // empty for all kiosks together
    std::map<JournalDecision, JournalDecisionTotal> byDecision;
    int count = 0;
    double sum = 0;
    int decided = 0;        // orders with a wait (all but the open ones)
    double medianWait = 0;  // seconds; 0 when none was decided
    double longestWait = 0; // seconds
    // The share of the period (up to now) the kiosk was connected, 0 to 1, from the
    // connection events; for all kiosks the mean of those known. Below 0: no event tells.
    double availability = -1;
};

struct JournalSummary {
    QList<JournalTotals> kiosks; // by kiosk name
    JournalTotals all;
};
