#pragma once

// The benchmark day shared by the player benchmarks: 16 cameras x 24 hours of
// one-minute recordings (23,040 recordings, tiny pictures so that the tree is
// made quickly) on 2024-01-01, with an alarm picture and a tag per camera-hour
// and the day's camera list. Generated once under a work folder and reused.

#include <QDate>
#include <QString>

namespace zq::bench {

inline const QDate kDay(2024, 1, 1);

// Makes (or finds) the tree under work; *root is its storage root folder.
bool make_controller_day_tree(const QString& work, QString* root);

} // namespace zq::bench
