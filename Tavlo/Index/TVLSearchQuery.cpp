#include "TVLSearchQuery.h"

#include <QStringList>

namespace {
// The characters the index takes for a word without quotes.
bool isBareword(QChar c)
{
    const char16_t u = c.unicode();
    return u > 127 || u == '_' || u == 0x1a || (u >= '0' && u <= '9') || (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z');
}

bool isPlainWord(QStringView core)
{
    qsizetype begin = core.startsWith(u'^') ? 1 : 0;
    qsizetype end = core.endsWith(u'*') ? core.size() - 1 : core.size();
    if (begin >= end)
        return false;
    for (qsizetype i = begin; i < end; ++i)
        if (!isBareword(core[i]))
            return false;
    return true;
}

bool hasWordCharacter(QStringView text)
{
    for (QChar c : text)
        if (c.isLetterOrNumber())
            return true;
    return false;
}

QString quoted(QStringView text)
{
    return QLatin1Char('"') + text.toString().replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"');
}

// One word without quotes in it. Parentheses around it count as grouping when `grouping`.
QString wordForIndex(QStringView word, bool grouping)
{
    if (word == u"AND" || word == u"OR" || word == u"NOT")
        return word.toString();
    qsizetype begin = 0, end = word.size();
    while (grouping && begin < end && word[begin] == u'(')
        ++begin;
    while (grouping && end > begin && word[end - 1] == u')')
        --end;
    const QStringView core = word.mid(begin, end - begin);
    const QString open = word.left(begin).toString(), close = word.mid(end).toString();
    if (core.isEmpty() || isPlainWord(core))
        return open + core.toString() + close;
    if (!hasWordCharacter(core))
        return open + close;
    return open + quoted(core) + close;
}

// The text cut into phrases (kept as typed, closed if left open) and words.
QStringList piecesOf(const QString &text)
{
    QStringList pieces;
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n) {
        if (text[i].isSpace()) {
            ++i;
        } else if (text[i] == u'"') {
            qsizetype j = i + 1;
            while (j < n && (text[j] != u'"' || (j + 1 < n && text[j + 1] == u'"')))
                j += text[j] == u'"' ? 2 : 1;
            pieces << (j < n ? text.mid(i, j + 1 - i) : text.mid(i) + QLatin1Char('"'));
            i = j + 1;
        } else {
            qsizetype j = i;
            while (j < n && !text[j].isSpace() && text[j] != u'"')
                ++j;
            pieces << text.mid(i, j - i);
            i = j;
        }
    }
    return pieces;
}

QString join(const QStringList &pieces, bool grouping)
{
    QStringList words;
    for (const QString &piece : pieces) {
        const QString word = piece.startsWith(u'"') ? piece : wordForIndex(piece, grouping);
        if (!word.isEmpty())
            words << word;
    }
    return words.join(QLatin1Char(' '));
}

// Whether the parentheses outside phrases pair up.
bool balanced(const QString &query)
{
    int depth = 0;
    bool inPhrase = false;
    for (QChar c : query) {
        if (c == u'"')
            inPhrase = !inPhrase;
        else if (!inPhrase && c == u'(')
            ++depth;
        else if (!inPhrase && c == u')' && --depth < 0)
            return false;
    }
    return depth == 0;
}
} // namespace

QString TVLSearchQuery::forIndex(const QString &text)
{
    const QStringList pieces = piecesOf(text);
    const QString grouped = join(pieces, true);
    // Parentheses that don't pair up are no grouping: they are searched as part of their words.
    return balanced(grouped) ? grouped : join(pieces, false);
}
