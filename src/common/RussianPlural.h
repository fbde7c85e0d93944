#pragma once

#include <QString>

// The form of a Russian noun after a count: one for 1, 21, 101…; few for 2–4, 22–24…;
// many for 0, 5–20, 25–30…, and for 11–14 after any hundred ("заказ", "заказа",
// "заказов").
QString russianPlural(qint64 count, const QString& one, const QString& few, const QString& many);
