// The tag filter bar, the tags badge of outline rows and the tag settings: what they draw, what
// clicks choose, and that a renamed tag reaches bars, badges and pages of every open window.

#include "Halvex/AppKit/HVXColorNames.h"
#include "Halvex/Foundation/HVXDefaults.h"
#include "Tavlo/DataObjects/TVLProjectMetadata.h"
#include "Tavlo/DataObjects/TVLTag.h"
#include "Tavlo/Viewer/TVLOutlineModel.h"
#include "Tavlo/Viewer/TVLPageController.h"
#include "Tavlo/Viewer/TVLSettingsViewController.h"
#include "Tavlo/Viewer/TVLTagFilterView.h"
#include "Tavlo/Viewer/TVLTagsSummaryView.h"
#include "Tavlo/Viewer/TVLViewerViewController.h"
#include "TranscriptBuilder.h"
#include "ViewerTestKit.h"
#include "WebEngineEnvironment.h"

#include "Halvex/AppKit/HVXOutlineView.h"

#include <algorithm>
#include <QApplication>
#include <QDir>
#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QSignalSpy>
#include <QtTest>

using namespace TranscriptBuilder;

namespace {
const QColor sentinel(255, 0, 255);
constexpr int kOffset = 3;

// The badge drawn at (3, 3) into a larger image filled with a colour it never uses.
QImage drawnBadge(quint16 summary)
{
    QImage image(TVLTagsSummaryView::badgeSize + 2 * kOffset, TVLTagsSummaryView::badgeSize + 2 * kOffset,
                 QImage::Format_RGB32);
    image.fill(sentinel);
    QPainter painter(&image);
    QPalette palette;
    palette.setColor(QPalette::Base, Qt::white);
    TVLTagsSummaryView(summary).draw(painter, QPoint(kOffset, kOffset), palette);
    return image;
}

QColor dotColor(const QImage &image, quint64 tagId)
{
    return image.pixelColor(TVLTagsSummaryView::dotRectForTagId(tagId).center() + QPoint(kOffset, kOffset));
}

// The first badge of the tagged exchange's section on the page.
const QString firstBadge = QStringLiteral("document.querySelector('[data-section-id=\"t-p2\"] > .tag-badges > .tag-badge')");
const QString firstBadgeText = QStringLiteral("(%1 || {}).textContent").arg(firstBadge);

QColor tagColor(quint64 tagId) { return hvxQColor(*TVLTag::colorForTagId(tagId)); }

QPoint centreOf(const TVLTagFilterView &bar, int tagIndex)
{
    for (const TVLTagFilterView::Pill &pill : bar.pills())
        if (pill.tagIndex == tagIndex)
            return pill.rect.center();
    return {-1, -1};
}
} // namespace

class TestTagViews : public QObject
{
    Q_OBJECT
    ViewerTestKit m_kit;

private Q_SLOTS:
    void initTestCase()
    {
        HVXDefaults::standard().setInteger(QStringLiteral("TVLSessionDisplayMode"), 0);
    }

    void cleanup() { m_kit.closeAllWindows(); }

    void badgeDotPositions_data()
    {
        QTest::addColumn<quint64>("tagId");
        QTest::addColumn<QRect>("dot");
        // Columns of three from the left, each filled from the top.
        QTest::newRow("1 top left") << quint64(1) << QRect(2, 2, 5, 5);
        QTest::newRow("3 bottom left") << quint64(3) << QRect(2, 12, 5, 5);
        QTest::newRow("7 top right") << quint64(7) << QRect(12, 2, 5, 5);
        QTest::newRow("9 bottom right") << quint64(9) << QRect(12, 12, 5, 5);
    }

    void badgeDotPositions()
    {
        QFETCH(quint64, tagId);
        QFETCH(QRect, dot);
        QCOMPARE(TVLTagsSummaryView::dotRectForTagId(tagId), dot);
        const QImage image = drawnBadge(TVLTag::bitMaskForTagId(tagId));
        for (quint64 other = 1; other <= 9; ++other)
            QCOMPARE(dotColor(image, other), other == tagId ? tagColor(tagId) : QColor(Qt::white));
        // Without annotation the frame is dark grey.
        QCOMPARE(image.pixelColor(kOffset, kOffset), QColor(85, 85, 85));
    }

    void badgeFrameAndBounds()
    {
        // Nothing at all for 0.
        QImage empty(drawnBadge(0));
        QImage untouched(empty.size(), empty.format());
        untouched.fill(sentinel);
        QCOMPARE(empty, untouched);
        QVERIFY(TVLTagsSummaryView(0).toolTip().isEmpty());

        // Every bit, ids beyond 9 included: a dark-red frame, and nothing outside the square.
        const QImage full = drawnBadge(0xFFFF);
        QCOMPARE(full.pixelColor(kOffset, kOffset), QColor(153, 26, 26));
        QCOMPARE(full.pixelColor(kOffset + 18, kOffset + 18), QColor(153, 26, 26));
        const QRect square(kOffset, kOffset, TVLTagsSummaryView::badgeSize, TVLTagsSummaryView::badgeSize);
        for (int y = 0; y < full.height(); ++y)
            for (int x = 0; x < full.width(); ++x)
                if (!square.contains(x, y))
                    QCOMPARE(full.pixelColor(x, y), sentinel);
        QVERIFY(TVLTagsSummaryView::dotRectForTagId(0).isEmpty());
        QVERIFY(TVLTagsSummaryView::dotRectForTagId(10).isEmpty());
    }

    void toolTipsListNamedTags()
    {
        const QString expected = QStringLiteral("Annotated\n\n"
                                                "\u2611\uFE0E Reference\n\u2610 Idea\n\u2610 Question\n"
                                                "\u2610 Important\n\u2611\uFE0E Bug\n\u2610 To Do\n"
                                                "\u2610 Custom 1\n\u2610 Custom 2\n\u2610 Custom 3");
        QCOMPARE(TVLTagsSummaryView(0x0023).toolTip(), expected);

        // A tag without a name keeps its dot but has no line.
        TVLTag *idea = TVLTag::tagWithId(2);
        idea->setName(QString());
        const QString toolTip = TVLTagsSummaryView(0x0004).toolTip();
        idea->setName(QStringLiteral("Idea"));
        QVERIFY(!toolTip.contains(QStringLiteral("Idea")));
        QVERIFY(toolTip.startsWith(QStringLiteral("\u2610 Reference\n\u2610 Question")));
        idea->setName(QString());
        const QImage image = drawnBadge(0x0004);
        idea->setName(QStringLiteral("Idea"));
        QCOMPARE(dotColor(image, 2), tagColor(2));
    }

    void filterBarClicks()
    {
        TVLTagFilterView bar;
        bar.resize(bar.sizeHint().width() + 40, bar.pillHeight() + 12);
        bar.show();
        QVERIFY(QTest::qWaitForWindowExposed(&bar));
        QSignalSpy chosen(&bar, &TVLTagFilterView::filterTagsChanged);
        QCOMPARE(bar.pills().size(), 10);

        const auto click = [&](const QPoint &point, Qt::KeyboardModifiers modifiers = {}) {
            QTest::mouseClick(&bar, Qt::LeftButton, modifiers, point);
        };
        click(centreOf(bar, 2));
        click(centreOf(bar, 0));
        QCOMPARE(bar.filterTags(), quint64(0x0005));
        click(centreOf(bar, 2));
        QCOMPARE(bar.filterTags(), quint64(0x0001));
        QCOMPARE(chosen.count(), 3);
        QCOMPARE(chosen.last().first().toULongLong(), quint64(0x0001));

        // The gap between two pills, below the pills and past the last one choose nothing.
        const QRect first = bar.pills().at(0).rect;
        click(QPoint(first.right() + TVLTagFilterView::gap / 2 + 1, first.center().y()));
        click(QPoint(first.center().x(), bar.height() - 1));
        click(QPoint(bar.width() - 2, first.center().y()));
        QCOMPARE(chosen.count(), 3);
        QCOMPARE(bar.tagIndexAtPoint(QPoint(first.right() + 2, first.center().y())), -1);

        // Ctrl+click: on an unselected pill every tag, on a selected one none.
        click(centreOf(bar, 5), Qt::ControlModifier);
        QCOMPARE(bar.filterTags(), quint64(0x03FF));
        click(centreOf(bar, 9), Qt::ControlModifier);
        QCOMPARE(bar.filterTags(), quint64(0));
        QCOMPARE(chosen.count(), 5);

        // The viewer's mask is shown as it is, and not reported back.
        bar.setFilterTags(0x0008);
        QCOMPARE(bar.filterTags(), quint64(0x0008));
        QCOMPARE(chosen.count(), 5);
    }

    void renamingReachesEveryWindow()
    {
        const QString dir = m_kit.filePath("root/projects/-home-me-tags");
        write(dir + "/s.jsonl", QList<QJsonObject>{prompt("t-p1", "first"), assistant("t-a1", "answer"),
                                                   prompt("t-p2", "second"), assistant("t-a2", "answer")});
        TVLProjectMetadata::metadataForProjectPath(dir)->addTagIdToMessageId(2, "t-p2");

        // A window on the project and one on its root: in both the session is the first row
        // under the first row.
        QList<TVLViewerViewController *> viewers;
        for (const QString &path : {dir, QFileInfo(dir).absolutePath()}) {
            TVLViewerViewController *viewer = m_kit.openViewer(path);
            QVERIFY(viewer && QTest::qWaitForWindowExposed(viewer->window()));
            TVLOutlineModel *model = viewer->outlineModel();
            const QModelIndex sessionRow = model->index(0, 0, model->index(0, 0));
            QSignalSpy loads(viewer->page(), &TVLPageController::pageLoaded);
            m_kit.select(viewer, sessionRow);
            QVERIFY(loads.wait(20000));
            const QModelIndex tags = sessionRow.siblingAtColumn(TVLOutlineModel::TagsColumn);
            QCOMPARE(tags.data(TVLOutlineModel::TagSummaryRole).toUInt(), 0x0004u);
            QVERIFY(tags.data(Qt::ToolTipRole).toString().contains(QStringLiteral("\u2611\uFE0E Idea")));
            QTRY_COMPARE(m_kit.evaluate(viewer, firstBadgeText).toString(), QStringLiteral("Idea"));
            viewers << viewer;
        }
        // The bar sets the mask the viewer holds, and shows the viewer's mask.
        TVLViewerViewController *first = viewers.first();
        TVLTagFilterView *bar = first->tagFilterView();
        QTest::mouseClick(bar, Qt::LeftButton, {}, centreOf(*bar, 2));
        QCOMPARE(first->selectedTagMask(), quint64(0x0004));
        QTest::mouseClick(bar, Qt::LeftButton, Qt::ControlModifier, centreOf(*bar, 2));
        QCOMPARE(first->selectedTagMask(), quint64(0));
        QTest::mouseClick(bar, Qt::LeftButton, Qt::ControlModifier, centreOf(*bar, 2));
        QCOMPARE(first->selectedTagMask(), TVLTagFilterView::fullMask());
        first->setFilterTags(0x0021);
        QCOMPARE(bar->filterTags(), quint64(0x0021));
        QCOMPARE(viewers.last()->selectedTagMask(), quint64(0));
        first->setFilterTags(0);

        const QImage barBefore = bar->grab().toImage();

        TVLSettingsViewController *settings = TVLSettingsViewController::showSettingsWindow();
        QLineEdit *editor = settings->nameEditorAt(1);
        QVERIFY(editor);
        editor->setText(QStringLiteral("Insight"));
        Q_EMIT editor->editingFinished();
        QCOMPARE(TVLTag::tagWithId(2)->name(), QStringLiteral("Insight"));
        QVERIFY(HVXDefaults::standard().stringForKey(QStringLiteral("TVLTags")).contains(QStringLiteral("\"Insight\"")));

        for (TVLViewerViewController *viewer : viewers) {
            const QModelIndex sessionRow = viewer->outlineModel()->index(0, 0, viewer->outlineModel()->index(0, 0));
            QVERIFY(sessionRow.siblingAtColumn(TVLOutlineModel::TagsColumn)
                        .data(Qt::ToolTipRole).toString().contains(QStringLiteral("\u2611\uFE0E Insight")));
            QTRY_COMPARE(m_kit.evaluate(viewer, firstBadgeText).toString(), QStringLiteral("Insight"));
        }
        // The bar's pill for the tag carries the new name, and what is drawn there changed.
        const QList<TVLTagFilterView::Pill> pills = bar->pills();
        const auto renamed = std::find_if(pills.cbegin(), pills.cend(),
                                          [](const TVLTagFilterView::Pill &pill) { return pill.tagIndex == 2; });
        QVERIFY(renamed != pills.cend());
        QCOMPARE(renamed->name, QStringLiteral("Insight"));
        QVERIFY(bar->grab(renamed->rect).toImage() != barBefore.copy(renamed->rect));

        // A new colour too: the badges of the page carry it.
        settings->commitColorAt(1, QColor(0x12, 0x34, 0x56));
        for (TVLViewerViewController *viewer : viewers)
            QTRY_COMPARE(m_kit.evaluate(viewer,
                                  "getComputedStyle(" + firstBadge + ").backgroundColor")
                             .toString(),
                         QStringLiteral("rgb(18, 52, 86)"));
        settings->close();
        TVLTag::tagWithId(2)->setName(QStringLiteral("Idea"));
        TVLTag::tagWithId(2)->setColor(HVXSystemColor::yellow());
    }
};

int main(int argc, char **argv)
{
    prepareWebEngineForHeadlessRuns();
    QApplication app(argc, argv);
    TestTagViews test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_tagviews.moc"
