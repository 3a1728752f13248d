#include "TVLUserText.h"

#include "TVLToolSteps.h"

namespace {
QString escapedLine(QString text)
{
    text.replace(QLatin1Char('&'), QLatin1String("&amp;"));
    text.replace(QLatin1Char('<'), QLatin1String("&lt;"));
    text.replace(QLatin1Char('>'), QLatin1String("&gt;"));
    text.replace(QLatin1Char('"'), QLatin1String("&quot;"));
    // One line of the page's Markdown: a blank line would end the HTML block.
    return text.simplified();
}
} // namespace

TVLUserText::Shape TVLUserText::shapeOf(std::string_view content)
{
    if (content.starts_with("<command-message>") || content.starts_with("<command-name>"))
        return Shape::SlashCommand;
    if (content.starts_with("<bash-input>"))
        return Shape::ShellCommand;
    if (content.starts_with("<bash-stdout>") || content.starts_with("<bash-stderr>"))
        return Shape::ShellOutput;
    if (content.starts_with("<task-notification>"))
        return Shape::TaskNotification;
    if (content.starts_with("<local-command-stdout>"))
        return Shape::LocalCommandOutput;
    return Shape::Prompt;
}

QString TVLUserText::tagContent(const QString &content, QLatin1StringView tag)
{
    const QString open = QLatin1Char('<') + tag + QLatin1Char('>');
    const QString close = QStringLiteral("</") + tag + QLatin1Char('>');
    const qsizetype start = content.indexOf(open);
    if (start < 0)
        return {};
    const qsizetype from = start + open.size();
    const qsizetype end = content.indexOf(close, from);
    if (end < 0)
        return {};
    return content.mid(from, end - from);
}

QString TVLUserText::promptText(Shape shape, const QString &content)
{
    if (shape == Shape::ShellCommand) {
        const QString command = tagContent(content, QLatin1StringView("bash-input"));
        return command.isNull() ? content : QStringLiteral("! ") + command;
    }
    if (shape != Shape::SlashCommand)
        return content;
    QString name = tagContent(content, QLatin1StringView("command-name")).trimmed();
    if (name.isEmpty()) {
        // Only the message: its first word is the command's name ("NAME is running…").
        name = tagContent(content, QLatin1StringView("command-message")).trimmed().section(QLatin1Char(' '), 0, 0);
    }
    if (name.isEmpty())
        return content;
    if (!name.startsWith(QLatin1Char('/')))
        name.prepend(QLatin1Char('/'));
    const QString arguments = tagContent(content, QLatin1StringView("command-args"));
    return arguments.trimmed().isEmpty() ? name : name + QLatin1Char(' ') + arguments;
}

QString TVLUserText::shellOutputHtml(const QString &content)
{
    const QString output = tagContent(content, QLatin1StringView("bash-stdout"));
    const QString errors = tagContent(content, QLatin1StringView("bash-stderr"));
    QString html;
    if (!output.isEmpty() || errors.isEmpty())
        html = TVLToolSteps::htmlForOutput(QStringLiteral("Output"), output, false);
    if (!errors.isEmpty()) {
        if (!html.isEmpty())
            html += QStringLiteral("\n\n");
        html += TVLToolSteps::htmlForOutput(QStringLiteral("Error output"), errors, true);
    }
    return html;
}

QString TVLUserText::taskNotificationHtml(const QString &content)
{
    QString summary = tagContent(content, QLatin1StringView("summary"));
    if (summary.trimmed().isEmpty())
        summary = QStringLiteral("Background task");
    const QString status = tagContent(content, QLatin1StringView("status")).trimmed();
    QString html = QStringLiteral("<p class=\"task-note\">") + escapedLine(summary);
    if (!status.isEmpty())
        html += QStringLiteral(" <span class=\"task-status\">") + escapedLine(status) + QStringLiteral("</span>");
    return html + QStringLiteral("</p>");
}
