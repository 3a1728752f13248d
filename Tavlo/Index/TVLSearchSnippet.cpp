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

// Words as the query's terms are written: letters, digits and "_" (code points, so a letter
// outside the basic plane is one character and an emoji is none).
class Words
{
public:
    explicit Words(const QString &text) : m_text(text) {}
    // The next word after the last one: its start and length; false at the end.
    bool next(qsizetype *start, qsizetype *length)
    {
        const qsizetype size = m_text.size();
        while (m_at < size && !isWordAt(m_at))
            m_at += step(m_at);
        if (m_at >= size)
            return false;
        *start = m_at;
        while (m_at < size && isWordAt(m_at))
            m_at += step(m_at);
        *length = m_at - *start;
        return true;
    }

private:
    qsizetype step(qsizetype at) const
    {
        return m_text.at(at).isHighSurrogate() && at + 1 < m_text.size() && m_text.at(at + 1).isLowSurrogate() ? 2 : 1;
    }
    bool isWordAt(qsizetype at) const
    {
        const QChar c = m_text.at(at);
        if (c.unicode() < 0x80)
            return (c.unicode() >= 'a' && c.unicode() <= 'z') || (c.unicode() >= 'A' && c.unicode() <= 'Z')
                || (c.unicode() >= '0' && c.unicode() <= '9') || c.unicode() == '_';
        if (step(at) == 2)
            return QChar::isLetterOrNumber(QChar::surrogateToUcs4(c, m_text.at(at + 1)));
        return c.isLetterOrNumber();
    }

    const QString &m_text;
    qsizetype m_at = 0;
};

// Folds like folded(), without its normalisation for the plain ASCII words most text is made of.
QString foldedWord(QStringView word)
{
    for (const QChar c : word)
        if (c.unicode() >= 0x80)
            return folded(word.toString());
    QString lower(word.size(), Qt::Uninitialized);
    QChar *out = lower.data();
    for (const QChar c : word)
        *out++ = QChar(c.unicode() >= 'A' && c.unicode() <= 'Z' ? c.unicode() + 32 : c.unicode());
    return lower;
}

bool matches(const std::vector<Term> &terms, QStringView word)
{
    const QString f = foldedWord(word);
    for (const Term &term : terms)
        if (term.prefix ? f.startsWith(term.text) : f == term.text)
            return true;
    return false;
}
} // namespace

QString TVLSearchSnippet::snippet(const QString &text, const QString &query, const QString &open, const QString &close,
                                  int length)
{
    const std::vector<Term> terms = termsOf(query);
    std::vector<std::pair<qsizetype, qsizetype>> hits;  // start, length
    Words words(text);
    qsizetype wordStart = 0, wordLength = 0;
    while (words.next(&wordStart, &wordLength)) {
        // Nothing after the first match's window is shown.
        if (!hits.empty() && wordStart > hits.front().first + length)
            break;
        if (matches(terms, QStringView(text).mid(wordStart, wordLength)))
            hits.emplace_back(wordStart, wordLength);
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
