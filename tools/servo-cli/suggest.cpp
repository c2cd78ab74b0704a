#include "tools/servo-cli/suggest.h"

#include <QVector>

#include <algorithm>

namespace ServoCli {

namespace {

QString folded(const QString &name)
{
    return name.toLower().remove(QLatin1Char(' '));
}

// Edits from a to b: a letter left out, added or changed, or two
// neighbours swapped.
int editDistance(const QString &a, const QString &b)
{
    const int n = a.size();
    const int m = b.size();
    QVector<QVector<int>> d(n + 1, QVector<int>(m + 1));
    for (int i = 0; i <= n; ++i)
        d[i][0] = i;
    for (int j = 0; j <= m; ++j)
        d[0][j] = j;
    for (int i = 1; i <= n; ++i) {
        for (int j = 1; j <= m; ++j) {
            const int cost = a.at(i - 1) == b.at(j - 1) ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && a.at(i - 1) == b.at(j - 2) && a.at(i - 2) == b.at(j - 1))
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    }
    return d[n][m];
}

} // namespace

QString nearestName(const QString &typed, const QStringList &names)
{
    const QString word = folded(typed);
    if (word.isEmpty())
        return QString();
    const int allowed = std::max(1, int(word.size()) / 4);
    QString best;
    int bestDistance = allowed + 1;
    for (const QString &name : names) {
        const int distance = editDistance(word, folded(name));
        if (distance == 0)
            return QString();
        if (distance < bestDistance) {
            best = name;
            bestDistance = distance;
        }
    }
    return best;
}

QString didYouMean(const QString &typed, const QStringList &names)
{
    const QString near = nearestName(typed, names);
    return near.isEmpty() ? QString() : QStringLiteral("; did you mean %1?").arg(near);
}

} // namespace ServoCli
