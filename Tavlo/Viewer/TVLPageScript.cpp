#include "TVLPageScript.h"

#include "Halvex/Foundation/Categories/HVX_JSON.h"

#include <QJsonDocument>
#include <QVariantMap>
#include <QWebEnginePage>

namespace {

TVLPageScript::ScrollState scrollStateFromAnswer(const QVariant &answer)
{
    TVLPageScript::ScrollState state;
    if (answer.typeId() != QMetaType::QString)
        return state;
    const std::optional<QJsonValue> value = hvxJSONValue(answer.toString());
    if (!value || !value->isObject())
        return state;
    const QJsonObject object = value->toObject();
    state.scrollTop = object.value(QStringLiteral("scrollTop")).toDouble(0);
    state.atBottom = object.value(QStringLiteral("atBottom")).toBool(false);
    return state;
}

} // namespace

void TVLPageScript::call(const QString &function, const QJsonArray &arguments,
                         std::function<void(const QVariant &)> answer) const
{
    // The arguments go as one JSON array spread into the call.
    const QString script = QStringLiteral("typeof %1 === 'function' ? %1(...").arg(function)
                           + QString::fromUtf8(QJsonDocument(arguments).toJson(QJsonDocument::Compact))
                           + QStringLiteral(") : undefined");
    if (answer)
        m_page->runJavaScript(script, std::move(answer));
    else
        m_page->runJavaScript(script);
}

void TVLPageScript::pageScrollState(int tolerance, std::function<void(ScrollState)> answer) const
{
    call(QStringLiteral("pageScrollState"), {tolerance},
         [answer = std::move(answer)](const QVariant &value) { answer(scrollStateFromAnswer(value)); });
}

void TVLPageScript::replaceLastAndAppend(const QString &sectionId, const QJsonValue &section, const QJsonArray &newSections,
                                         bool followEnd, double scrollTop) const
{
    call(QStringLiteral("replaceLastAndAppend"), {sectionId, section, newSections, followEnd, scrollTop});
}

void TVLPageScript::prependSections(const QJsonArray &sections, std::function<void()> done) const
{
    std::function<void(const QVariant &)> answer;
    if (done)
        answer = [done = std::move(done)](const QVariant &) { done(); };
    call(QStringLiteral("prependSections"), QJsonArray{QJsonValue(sections)}, std::move(answer));
}

void TVLPageScript::finishLoad(const QJsonObject &scroll) const { call(QStringLiteral("finishLoad"), {scroll}); }

void TVLPageScript::scrollToExchange(const QString &exchangeId) const
{
    call(QStringLiteral("scrollToExchange"), {exchangeId});
}

void TVLPageScript::selectedText(std::function<void(const QString &)> answer) const
{
    call(QStringLiteral("selectedText"), {},
         [answer = std::move(answer)](const QVariant &value) { answer(value.toString()); });
}

void TVLPageScript::showPopover(const QString &sectionId, const QJsonArray &allTags, const QJsonArray &attachedTagIds,
                                const QString &annotation) const
{
    call(QStringLiteral("showPopover"), {sectionId, allTags, attachedTagIds, annotation});
}

void TVLPageScript::setTagsOfSections(const QJsonArray &sectionsWithTags) const
{
    call(QStringLiteral("setTagsOfSections"), QJsonArray{QJsonValue(sectionsWithTags)});
}

void TVLPageScript::showChanges(const QJsonObject &changes) const { call(QStringLiteral("showChanges"), {changes}); }

void TVLPageScript::showIndexProgress(const QString &text) const { call(QStringLiteral("showIndexProgress"), {text}); }

void TVLPageScript::showLoadingNote(const QString &text) const { call(QStringLiteral("showLoadingNote"), {text}); }

void TVLPageScript::findInPage(const QString &text, bool caseSensitive, bool backwards,
                               std::function<void(int, int)> answer) const
{
    if (!answer) {
        call(QStringLiteral("findInPage"), {text, caseSensitive, backwards});
        return;
    }
    call(QStringLiteral("findInPage"), {text, caseSensitive, backwards},
         [answer = std::move(answer)](const QVariant &result) {
             // A page without its script yet (a load under way) has found nothing.
             const QVariantMap map = result.toMap();
             answer(map.value(QStringLiteral("active")).toInt(), map.value(QStringLiteral("count")).toInt());
         });
}
