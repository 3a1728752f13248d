#pragma once
// The tag filter bar of a viewer window: a row of pills, "*" for annotations and then one per
// tag of the palette in palette order, each in its tag's colour, filled when selected. Clicking
// a pill toggles its bit of the mask; Ctrl+click (or Alt+click, where the window manager leaves
// it alone) on an unselected pill selects every pill and on a selected pill clears them all.
// The context menu offers the same and the tag settings. The bar only shows the mask it is
// given: a click reports the new mask through filterTagsChanged and the viewer, which owns the
// mask, hands it back. The bar redraws when the palette changes.

#include <QList>
#include <QRect>
#include <QWidget>

class TVLTagFilterView final : public QWidget
{
    Q_OBJECT
public:
    // Pill metrics, in proportion to the height of the bar's font.
    static constexpr int gap = 4;
    static constexpr int textInset = 6;
    static constexpr int cornerRadius = 4;

    explicit TVLTagFilterView(QWidget *parent = nullptr);
    ~TVLTagFilterView() override;

    quint64 filterTags() const { return m_filterTags; }
    // Shows the mask; reports nothing.
    void setFilterTags(quint64 mask);
    // Bit 0 and the bits of every tag of the palette.
    static quint64 fullMask();

    // 0 for the annotation pill, the tag's id for a tag pill, -1 for no pill.
    int tagIndexAtPoint(const QPoint &point) const;
    // The pills as they are drawn: the tag index (as tagIndexAtPoint answers) and the rectangle.
    struct Pill
    {
        int tagIndex;
        quint64 bit;
        QString name;
        QColor color;
        QRect rect;
    };
    QList<Pill> pills() const;
    int pillHeight() const;

    // The click of a pill: toggles its bit, or with selectAllOrNone selects every pill (when the
    // pill is not selected) or none (when it is). Reports the new mask.
    void clickPill(int tagIndex, bool selectAllOrNone);
    void selectAllTags();
    void clearTags();

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

Q_SIGNALS:
    // The user chose this mask.
    void filterTagsChanged(quint64 mask);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    QFont pillFont() const;
    // Draws one pill and answers the x just past it.
    int drawTagWithName(QPainter &painter, const QString &name, const QColor &color, bool selected, int x, int y,
                        const QFont &font) const;
    void chooseMask(quint64 mask);
    void tagsDidChange();

    quint64 m_filterTags = 0;
};
