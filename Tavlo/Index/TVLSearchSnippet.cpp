#include "TVLSearchSnippet.h"

#include <QRegularExpression>
#include <QStringList>

namespace {
struct Term
{
    QString text;
    bool prefix = false;
};

// Case and accents folded, as the index's tokenizer folds them.
QString folded(const QString &word)
{
    QString decomposed = word.toCaseFolded().normalized(QString::NormalizationForm_D);
    QString result;
    result.reserve(decomposed.size());
    for (const QChar c : decomposed)
        if (c.category() != QChar::Mark_NonSpacing)
            result += c;
    return result;
}

std::vector<Term> termsOf(const QString &query)
{
    static const QRegularExpression word(QStringLiteral("[\\p{L}\\p{N}_]+\\*?"));
    std::vector<Term> terms;
    auto it = word.globalMatch(query);
    while (it.hasNext()) {
        QString text = it.next().captured();
        if (text == QLatin1String("AND") || text == QLatin1String("OR") || text == QLatin1String("NOT")
            || text == QLatin1String("NEAR"))
            continue;
        const bool prefix = text.endsWith(QLatin1Char('*'));
        if (prefix)
            text.chop(1);
        terms.push_back({folded(text), prefix});
    }
    return terms;
}

bool matches(const std::vector<Term> &terms, const QString &word)
{
    const QString f = folded(word);
    for (const Term &term : terms)
        if (term.prefix ? f.startsWith(term.text) : f == term.text)
            return true;
    return false;
}
} // namespace

QString TVLSearchSnippet::snippet(const QString &text, const QString &query, const QString &open, const QString &close,
                                  int length)
{
    static const QRegularExpression word(QStringLiteral("[\\p{L}\\p{N}_]+"));
    const std::vector<Term> terms = termsOf(query);
    std::vector<std::pair<qsizetype, qsizetype>> hits;  // start, length
    auto it = word.globalMatch(text);
    while (it.hasNext()) {
        const auto match = it.next();
        if (matches(terms, match.captured()))
            hits.emplace_back(match.capturedStart(), match.capturedLength());
    }
    qsizetype start = hits.empty() ? 0 : qMax<qsizetype>(0, hits.front().first - length / 4);
    // Begin at a word.
    while (start > 0 && !text.at(start - 1).isSpace() && hits.front().first - start < length / 2)
        --start;
    const qsizetype end = qMin(text.size(), start + length);
    QString result = start > 0 ? QStringLiteral("\u2026") : QString();
    qsizetype at = start;
    for (const auto &[hitStart, hitLength] : hits) {
        if (hitStart < start)
            continue;
        if (hitStart + hitLength > end)
            break;
        result += text.mid(at, hitStart - at) + open + text.mid(hitStart, hitLength) + close;
        at = hitStart + hitLength;
    }
    result += text.mid(at, end - at);
    if (end < text.size())
        result += QStringLiteral("\u2026");
    return result.simplified();
}
