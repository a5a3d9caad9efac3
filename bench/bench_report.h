#pragma once

// What every benchmark prints: our figure beside the reference tool's on the
// same data, and their ratio.

#include <QString>
#include <QTextStream>

namespace zq::bench {

inline void print_ratio(QTextStream& out, const QString& what, double ours, double reference,
                        const QString& unit, const QString& referenceName = QStringLiteral("reference"),
                        int width = 28)
{
    out << QStringLiteral("%1  ours %2 %3   %4 %5 %3   ratio %6")
               .arg(what, -width)
               .arg(ours, 9, 'f', 1)
               .arg(unit, referenceName)
               .arg(reference, 9, 'f', 1)
               .arg(ours / reference, 5, 'f', 2)
        << Qt::endl;
}

} // namespace zq::bench
