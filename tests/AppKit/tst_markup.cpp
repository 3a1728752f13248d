// Styled-text markup, colour names, the high-contrast palette, hex forms and fonts.

#include "Halvex/AppKit/HVXAttributedString.h"
#include "Halvex/AppKit/HVXColorNames.h"
#include "Halvex/AppKit/HVXFontRegistry.h"
#include "LogCapture.h"

#include <QApplication>
#include <QPainter>
#include <QPalette>
#include <QImage>
#include <QtTest>

class TestMarkup : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void plainTextKeepsTheBaseStyle()
    {
        HVXTextAttributes style;
        style.color = QColor(Qt::darkCyan);
        const HVXAttributedString text = hvxAttributedStringWithStyle(QStringLiteral("abc"), style);
        QCOMPARE(text.string(), QStringLiteral("abc"));
        QCOMPARE(text.runs().size(), size_t(1));
        QCOMPARE(*text.colorAt(2), QColor(Qt::darkCyan));
        QVERIFY(!text.fontAt(0));
    }

    void colourTagsCoverTheirStretch()
    {
        const HVXAttributedString text = hvxAttributedStringNoClip(QStringLiteral("a[c:Green]x[c:]y"));
        QCOMPARE(text.string(), QStringLiteral("axy"));
        QVERIFY(!text.colorAt(0));
        QCOMPARE(hvxRgbHexString(*text.colorAt(1)), QStringLiteral("008000"));
        // Back to the default colour, which the empty base style does not have.
        QVERIFY(!text.colorAt(2));

        HVXTextAttributes style;
        style.color = QColor(Qt::blue);
        const HVXAttributedString styled = hvxAttributedStringWithStyle(QStringLiteral("[c:Brown]x[c:]y"), style);
        QCOMPARE(hvxRgbHexString(*styled.colorAt(0)), QStringLiteral("A52A2A"));
        QCOMPARE(*styled.colorAt(1), QColor(Qt::blue));
    }

    void bracketsThatAreNoTagStayText()
    {
        QCOMPARE(hvxAttributedString(QStringLiteral("a[b]c")).string(), QStringLiteral("a[b]c"));
        QCOMPARE(hvxAttributedString(QStringLiteral("a[")).string(), QStringLiteral("a["));
        QCOMPARE(hvxAttributedString(QStringLiteral("[x[c:Blue]y")).string(), QStringLiteral("[xy"));
        QCOMPARE(hvxAttributedString(QStringLiteral("[]")).string(), QStringLiteral("[]"));
        QVERIFY(hvxAttributedString(QStringLiteral("t")).truncatesTail());
        QVERIFY(!hvxAttributedStringNoClip(QStringLiteral("t")).truncatesTail());
    }

    void unknownColoursAreLoggedAndLeaveNoColour()
    {
        LogCapture log;
        const HVXAttributedString text = hvxAttributedString(QStringLiteral("[c:Nope]x"));
        QVERIFY(!text.colorAt(0));
        QCOMPARE(log.count(QStringLiteral("WARNING: Unknown color requested: Nope")), 1);
        QVERIFY(!hvxColorNamed(QStringLiteral("red")));

        const auto red = hvxColorNamed(QStringLiteral("NSColor:noSuchColor"));
        QCOMPARE(log.count(QStringLiteral("ERROR: Can't find color for 'NSColor:noSuchColor'")), 1);
        QCOMPARE(hvxRgbHexString(*red), QStringLiteral("FF0000"));
    }

    void secondaryLabelFollowsThePalette()
    {
        const QPalette saved = QApplication::palette();
        QPalette dark = saved;
        dark.setColor(QPalette::WindowText, QColor(240, 240, 240));
        QApplication::setPalette(dark);
        const QColor onDark = *hvxColorNamed(QStringLiteral("NSColor:secondaryLabelColor"));
        QPalette light = saved;
        light.setColor(QPalette::WindowText, QColor(10, 10, 10));
        QApplication::setPalette(light);
        const QColor onLight = *hvxColorNamed(QStringLiteral("NSColor:secondaryLabelColor"));
        QApplication::setPalette(saved);
        QVERIFY(onDark.lightness() > 200);
        QVERIFY(onLight.lightness() < 50);
        QVERIFY(onDark.alphaF() < 1.0);
        QCOMPARE(hvxRgbHexString(*hvxColorNamed(QStringLiteral("NSColor:systemRed"))),
                 hvxRgbHexString(hvxQColor(HVXSystemColor::red())));
    }

    void fontTags()
    {
        const HVXAttributedString text =
            hvxAttributedString(QStringLiteral("[F:systemFontOfSize:weight:|13.0|0.0]x[F:]y"));
        QCOMPARE(text.fontAt(0)->pixelSize(), 13);
        QCOMPARE(text.fontAt(0)->weight(), QFont::Normal);
        QVERIFY(!text.fontAt(1));

        const HVXAttributedString mono = hvxAttributedString(
            QStringLiteral("[F:monospacedSystemFontOfSize:weight:|13.0|0.4]id[F:systemFontOfSize:weight:|11|0]rest"));
        QCOMPARE(mono.fontAt(0)->weight(), QFont::Bold);
        QCOMPARE(mono.fontAt(2)->pixelSize(), 11);
        QVERIFY(mono.fontAt(0)->family() != mono.fontAt(2)->family() || mono.fontAt(0)->fixedPitch());

        // One part: a known selector without numbers keeps the font in force.
        const HVXAttributedString kept =
            hvxAttributedString(QStringLiteral("[F:systemFontOfSize:|20]a[F:systemFontOfSize:]b"));
        QCOMPARE(kept.fontAt(1)->pixelSize(), 20);
        // Text that is not a number reads as 0.0: a weight of "bold" is the regular weight.
        QCOMPARE(hvxAttributedString(QStringLiteral("[F:systemFontOfSize:weight:|12|bold]a")).fontAt(0)->weight(),
                 QFont::Normal);
    }

    void badFontDefinitionsAreLogged()
    {
        LogCapture log;
        const HVXAttributedString four = hvxAttributedString(QStringLiteral("[F:systemFontOfSize:|1|2|3]x"));
        QVERIFY(!four.fontAt(0));
        QCOMPARE(log.count(QStringLiteral("NSFont selector for font definition 'systemFontOfSize:|1|2|3' not found!")), 1);
        HVXTextAttributes style;
        style.font = QFont(QStringLiteral("Serif"));
        const HVXAttributedString unknown = hvxAttributedStringWithStyle(QStringLiteral("a[F:fancyFont|3]b"), style);
        QCOMPARE(unknown.fontAt(0)->family(), QStringLiteral("Serif"));
        QVERIFY(!unknown.fontAt(1));
        QCOMPARE(log.count(QStringLiteral("'fancyFont|3' not found!")), 1);
    }

    void symbolsAppendOneAttachment()
    {
        const HVXAttributedString text = hvxAttributedString(QStringLiteral("a[s:no-such-symbol]b"));
        QCOMPARE(text.length(), 3);
        QVERIFY(text.isAttachmentAt(1));
        QCOMPARE(text.runs().size(), size_t(3));
    }

    void addTakesTheAttributesAtTheEnd()
    {
        HVXAttributedString text = hvxAttributedString(QStringLiteral("x[c:Blue]y"));
        text.add(QStringLiteral("z"));
        QCOMPARE(hvxRgbHexString(*text.colorAt(2)), QStringLiteral("0000FF"));
        text.hvxAddAttributes(QStringLiteral("w"), {});
        QVERIFY(!text.colorAt(3));
    }

    void hexColours()
    {
        const QColor translucent = *hvxColorFromHex(QStringLiteral("#ff000080"));
        QCOMPARE(translucent.alpha(), 128);
        QCOMPARE(hvxRgbaHexString(translucent), QStringLiteral("FF000080"));
        QVERIFY(!hvxColorFromHex(QStringLiteral("#ff00")));
        QVERIFY(!hvxColorFromHex(QStringLiteral("ff0000")));
        // Digits stop at the first non-hex character.
        QCOMPARE(hvxRgbHexString(*hvxColorFromHex(QStringLiteral("#1g2233"))), QStringLiteral("012233"));
        QCOMPARE(hvxRgbHexString(QColor::fromRgbF(1.0f, 0.5f, 0.0f)), QStringLiteral("FF7F00"));
        for (int channel = 0; channel < 256; ++channel)
            QCOMPARE(hvxRgbHexString(QColor(channel, channel, channel)).left(2),
                     QStringLiteral("%1").arg(channel, 2, 16, QLatin1Char('0')).toUpper());
    }

    void namedTable()
    {
        QCOMPARE(hvxNamedColorTable().size(), 140);
        QCOMPARE(hvxRgbHexString(*hvxColorNamed(QStringLiteral("AliceBlue"))), QStringLiteral("F0F8FF"));
        QCOMPARE(hvxRgbHexString(*hvxColorNamed(QStringLiteral("LightGoldenRodYellow"))), QStringLiteral("FAFAD2"));
        QCOMPARE(hvxRgbHexString(*hvxColorNamed(QStringLiteral("Gray"))), QStringLiteral("808080"));
        LogCapture log;
        QVERIFY(!hvxColorNamed(QStringLiteral("Grey")));
        QVERIFY(!hvxColorNamed(QStringLiteral("RebeccaPurple")));
        QVERIFY(!hvxColorNamed(QStringLiteral("green")));
    }

    void highContrastPalette()
    {
        QCOMPARE(hvxHighContrastColors().size(), 18);
        QCOMPARE(hvxRgbHexString(hvxHighContrastColorForInt(18)), QStringLiteral("E6194B"));
        QCOMPARE(hvxRgbHexString(hvxHighContrastColorForInt(35)), QStringLiteral("808080"));
        QCOMPARE(hvxRgbHexString(hvxHighContrastColorForInt(5)), QStringLiteral("911EB4"));
    }

    void weights()
    {
        QCOMPARE(HVXFontRegistry::qtWeight(0.0), QFont::Normal);
        QCOMPARE(HVXFontRegistry::qtWeight(-1.0), QFont::Thin);
        QCOMPARE(HVXFontRegistry::qtWeight(1.0), QFont::Black);
        QVERIFY(!HVXFontRegistry::fontForSelector(QStringLiteral("boldSystemFontOfSize:"), {12}));
    }

    void drawingCutsWithAnEllipsisAndUsesTheColours()
    {
        const HVXAttributedString text =
            hvxAttributedString(QStringLiteral("Title  [c:#00ff00]a remark that is much too long to fit"));
        QVERIFY(text.width(QFont()) > 120 && text.width(QFont()) < 300);
        // Drawn in the first 120 pixels of a wider image, and with room for all of it.
        auto drawn = [&](qreal width) {
            QImage image(300, 20, QImage::Format_ARGB32);
            image.fill(Qt::white);
            QPainter painter(&image);
            text.draw(&painter, QRectF(0, 0, width, 20), QFont(), Qt::black);
            painter.end();
            return image;
        };
        const QImage image = drawn(120);
        const QImage whole = drawn(300);
        auto inked = [&](int x) {
            for (int y = 0; y < image.height(); ++y)
                if (image.pixelColor(x, y) != Qt::white)
                    return true;
            return false;
        };
        int lastInked = -1;
        for (int x = 0; x < image.width(); ++x)
            if (inked(x))
                lastInked = x;
        // The text fills the room up to its edge and not beyond; it starts as the whole does and
        // ends otherwise than the whole text cut off at the edge: in an ellipsis.
        QVERIFY2(lastInked >= 100 && lastInked < 120, qPrintable(QString::number(lastInked)));
        QCOMPARE(image.copy(0, 0, 40, 20), whole.copy(0, 0, 40, 20));
        QVERIFY(image.copy(100, 0, 20, 20) != whole.copy(100, 0, 20, 20));
        bool sawGreen = false, sawBlack = false;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QColor pixel = image.pixelColor(x, y);
                sawGreen |= pixel.green() > 200 && pixel.red() < 60 && pixel.blue() < 60;
                sawBlack |= pixel.lightness() < 40;
            }
        QVERIFY(sawGreen);
        QVERIFY(sawBlack);
    }
};

QTEST_MAIN(TestMarkup)
#include "tst_markup.moc"
