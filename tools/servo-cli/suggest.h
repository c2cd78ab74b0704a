#ifndef SERVOCLI_SUGGEST_H
#define SERVOCLI_SUGGEST_H

#include <QString>
#include <QStringList>

// The nearest of names to what was typed, for "did you mean ...?".
namespace ServoCli {

// The name nearest to typed, compared without case and spaces, counting
// letters left out, added, changed or swapped with a neighbour; empty when
// the nearest differs in more than a quarter of typed's letters (at least
// one is allowed), or typed is one of names.
QString nearestName(const QString &typed, const QStringList &names);

// "; did you mean NAME?" with nearestName, or empty.
QString didYouMean(const QString &typed, const QStringList &names);

} // namespace ServoCli

#endif // SERVOCLI_SUGGEST_H
