#include "TVLPageTemplate.h"

#include "Halvex/Foundation/HVXLog.h"

#include <QCryptographicHash>
#include <QFile>
#include <QRegularExpression>

// The resources live in this static library; make sure the linker keeps them.
static void initPageResources()
{
    Q_INIT_RESOURCE(TVLPageResources);
}

namespace {

QString scriptHashSource(const QString &script)
{
    const QByteArray digest = QCryptographicHash::hash(script.toUtf8(), QCryptographicHash::Sha256);
    return QStringLiteral("'sha256-%1'").arg(QString::fromLatin1(digest.toBase64()));
}

// Inline text must not close its element early.
QString inlineSafe(QString text, const QString &closingTag)
{
    return text.replace(closingTag, QStringLiteral("<\\") + closingTag.mid(1), Qt::CaseInsensitive);
}

} // namespace

const TVLPageTemplate &TVLPageTemplate::shared()
{
    static const TVLPageTemplate pageTemplate = [] {
        initPageResources();
        const std::optional<QByteArray> bytes = resource(QStringLiteral("htmlWrapper.html"));
        if (!bytes)
            HVXLogWarning(QStringLiteral("Missing page template resource: htmlWrapper.html"));
        return TVLPageTemplate(bytes ? QString::fromUtf8(*bytes) : QString());
    }();
    return pageTemplate;
}

TVLPageTemplate::TVLPageTemplate(const QString &text)
{
    const QStringList pieces = text.split(insertMarker);
    if (pieces.size() == 2) {
        m_prefix = pieces[0];
        m_suffix = pieces[1];
    } else if (!text.isEmpty()) {
        HVXLogWarning(QStringLiteral("Page template needs exactly one %1 marker, found %2")
                          .arg(insertMarker).arg(pieces.size() - 1));
    }
}

QString TVLPageTemplate::documentWithBody(const QString &body) const
{
    return m_prefix.value_or(QString()) + body + m_suffix.value_or(QString());
}

std::optional<QByteArray> TVLPageTemplate::resource(const QString &name)
{
    initPageResources();
    if (name.isEmpty() || name.contains(QLatin1Char('/')))
        return std::nullopt;
    QFile file(QStringLiteral(":/page/") + name);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

QString TVLPageTemplate::standaloneDocumentWithBody(const QString &body, const QStringList &extraScripts) const
{
    return standalonePrefix(extraScripts) + body + m_suffix.value_or(QString());
}

QString TVLPageTemplate::standalonePrefix(const QStringList &extraScripts) const
{
    QString head = m_prefix.value_or(QString());
    QStringList scriptHashes;
    for (const QString &script : extraScripts)
        scriptHashes << scriptHashSource(script);

    static const QRegularExpression scriptTag(QStringLiteral("<script src=\"([^\"/]+)\"></script>"));
    static const QRegularExpression styleTag(QStringLiteral("<link rel=\"stylesheet\" href=\"([^\"/]+)\"([^>]*)>"));
    static const QRegularExpression policyTag(QStringLiteral("<meta http-equiv=\"Content-Security-Policy\"[^>]*>"));

    QString result;
    qsizetype last = 0;
    auto matches = scriptTag.globalMatch(head);
    while (matches.hasNext()) {
        const QRegularExpressionMatch match = matches.next();
        result += head.mid(last, match.capturedStart() - last);
        last = match.capturedEnd();
        // The channel to the program exists only inside it.
        const std::optional<QByteArray> script = resource(match.captured(1));
        if (!script || match.captured(1) == QStringLiteral("qwebchannel.js"))
            continue;
        const QString text = inlineSafe(QString::fromUtf8(*script), QStringLiteral("</script"));
        scriptHashes << scriptHashSource(text);
        result += QStringLiteral("<script>") + text + QStringLiteral("</script>");
    }
    result += head.mid(last);
    head = result;

    result.clear();
    last = 0;
    matches = styleTag.globalMatch(head);
    while (matches.hasNext()) {
        const QRegularExpressionMatch match = matches.next();
        result += head.mid(last, match.capturedStart() - last);
        last = match.capturedEnd();
        if (const std::optional<QByteArray> style = resource(match.captured(1)))
            result += QStringLiteral("<style%1>").arg(match.captured(2))
                      + inlineSafe(QString::fromUtf8(*style), QStringLiteral("</style"))
                      + QStringLiteral("</style>");
    }
    result += head.mid(last);

    const QString policy = QStringLiteral("<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
                                          "script-src %1; style-src 'unsafe-inline'; img-src data:; "
                                          "base-uri 'none'; form-action 'none'\">")
                               .arg(scriptHashes.join(QLatin1Char(' ')));
    result.replace(policyTag, policy);
    return result;
}
