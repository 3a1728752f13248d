#include "HVXMarkDown.h"

#include "Halvex/Foundation/HVXLog.h"

#include <cmark-gfm-core-extensions.h>
#include <cmark-gfm-extension_api.h>
#include <cmark-gfm.h>
// Debian ships the registry and the extension record as internal headers; they are the only
// way to list the registered extensions by name.
#include <cmark-gfm/registry.h>
#include <cmark-gfm/syntax_extension.h>

namespace {

// Raw HTML and every link scheme pass; nothing else is switched on.
constexpr int markdownOptions = CMARK_OPT_UNSAFE;

} // namespace

QStringList HVXMarkDown::availableSyntaxExtensions()
{
    cmark_gfm_core_extensions_ensure_registered();
    cmark_mem *allocator = cmark_get_default_mem_allocator();
    cmark_llist *extensions = cmark_list_syntax_extensions(allocator);
    QStringList names;
    for (cmark_llist *item = extensions; item; item = item->next) {
        auto *extension = static_cast<cmark_syntax_extension *>(item->data);
        names << QString::fromUtf8(extension->name);
    }
    cmark_llist_free(allocator, extensions);
    return names;
}

std::optional<QString> HVXMarkDown::htmlFromMarkdown(const QString &markdown)
{
    const QStringList extensionNames = availableSyntaxExtensions();
    cmark_parser *parser = cmark_parser_new(markdownOptions);
    for (const QString &name : extensionNames) {
        cmark_syntax_extension *extension = cmark_find_syntax_extension(name.toUtf8().constData());
        if (!extension) {
            HVXLogError(QStringLiteral("Unknown cmark extension: %1").arg(name));
            continue;
        }
        cmark_parser_attach_syntax_extension(parser, extension);
    }

    const QByteArray utf8 = markdown.toUtf8();
    cmark_parser_feed(parser, utf8.constData(), size_t(utf8.size()));
    cmark_node *document = cmark_parser_finish(parser);
    if (!document) {
        HVXLogError(QStringLiteral("cmark_parser_finish failed trying to produce HTML from markdown: %1")
                        .arg(hvxLogValue(markdown)));
        cmark_parser_free(parser);
        return std::nullopt;
    }

    cmark_mem *allocator = cmark_get_default_mem_allocator();
    char *rendered = cmark_render_html_with_mem(document, markdownOptions,
                                                cmark_parser_get_syntax_extensions(parser), allocator);
    std::optional<QString> html;
    if (!rendered || rendered[0] == '\0') {
        HVXLogError(QStringLiteral("cmark_render_html_with_mem failed trying to produce HTML from markdown: %1")
                        .arg(hvxLogValue(markdown)));
    } else {
        html = QString::fromUtf8(rendered);
    }
    if (rendered)
        allocator->free(rendered);
    cmark_parser_free(parser);
    cmark_node_free(document);
    return html;
}

QString HVXMarkDown::htmlDocFromMarkdown(const QString &markdown)
{
    return htmlWrapperTop() + htmlFromMarkdown(markdown).value_or(QString()) + htmlWrapperBottom();
}

QString HVXMarkDown::htmlWrapperTop()
{
    struct Rule
    {
        const char *selector;
        QStringList declarations;
    };
    static const QList<Rule> rules = {
        {"html",
         {"font-family: -apple-system,BlinkMacSystemFont,Segoe UI,Helvetica,Arial,sans-serif,Apple Color Emoji,Segoe UI Emoji",
          "-ms-text-size-adjust: 100%", "-webkit-text-size-adjust:100%"}},
        {"code", {"background-color: rgba(27,31,35,.05)"}},
        {"pre > code", {"background-color: transparent", "font-size: 13.6px"}},
        {"sub", {"bottom: -.25em"}},
        {"sub, sup", {"font-size: 75%", "position: relative", "vertical-align: initial"}},
        {"table td, table th", {"padding: 6px 13px", "border: 1px solid #dfe2e5", "white-space: nowrap"}},
        {"table", {"border-spacing: 0", "border-collapse: collapse", "margin-top: 0", "margin-bottom: 16px"}},
        {"table tr:nth-child(2n)", {"background-color: #f6f8fa"}},
        {"pre",
         {"padding: 16px", "overflow: auto", "line-height: 1.45", "background-color: #f6f8fa", "border-radius: 6px"}},
        {"code, pre, tt", {"font-family: SFMono-Regular,Consolas,Liberation Mono,Menlo,monospace"}},
    };
    static const QString top = []() -> QString {
        // Tabs only, no line breaks: two before each declaration, one before each closing brace.
        QString css;
        for (const Rule &rule : rules) {
            css += QLatin1String(rule.selector) + QStringLiteral(" {");
            for (const QString &declaration : rule.declarations)
                css += QStringLiteral("\t\t") + declaration + QLatin1Char(';');
            css += QStringLiteral("\t}\t");
        }
        return QStringLiteral("<html><head><style>") + css + QStringLiteral("</style></head><body>");
    }();
    return top;
}

QString HVXMarkDown::htmlWrapperBottom()
{
    return QStringLiteral("</body></html>");
}
