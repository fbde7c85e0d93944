#include "common/RussianPlural.h"

QString russianPlural(qint64 count, const QString& one, const QString& few, const QString& many) {
    const qint64 n = count < 0 ? -count : count;
    const qint64 lastTwo = n % 100;
    const qint64 last = n % 10;
    if (lastTwo >= 11 && lastTwo <= 14)
        return many;
    if (last == 1)
        return one;
    if (last >= 2 && last <= 4)
        return few;
    return many;
}
