#pragma once
// The session page template and its resources (script, style sheet, highlight.js and themes),
// built into the program. The template "htmlWrapper.html" is read once per process and split
// at its one "~~INSERT~~" marker into the text before and after the page body.
// For files that leave the program (export, print) the same page is made standalone: the
// template's scripts and style sheets inlined, and a Content-Security-Policy that lets only
// those scripts run, by their hashes.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

class TVLPageTemplate final
{
public:
    static inline const QString insertMarker = QStringLiteral("~~INSERT~~");

    // The process-wide template, read on first use.
    static const TVLPageTemplate &shared();

    // A template split at its marker; unset halves when the marker is missing or repeated.
    explicit TVLPageTemplate(const QString &text);

    const std::optional<QString> &prefix() const { return m_prefix; }
    const std::optional<QString> &suffix() const { return m_suffix; }

    // prefix, body, suffix; a missing half is left out.
    QString documentWithBody(const QString &body) const;

    // A standalone page for a browser: the template's resources inlined. The extra scripts
    // (inline script texts the caller adds, like the print trigger) are allowed by hash too.
    QString standaloneDocumentWithBody(const QString &body, const QStringList &extraScripts = {}) const;

    // A page resource by file name ("highlight.min.js"); nothing when there is none.
    static std::optional<QByteArray> resource(const QString &name);

private:
    QString standalonePrefix(const QStringList &extraScripts) const;

    std::optional<QString> m_prefix;
    std::optional<QString> m_suffix;
};
