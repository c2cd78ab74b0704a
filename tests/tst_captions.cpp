// The window's captions with the fonts of the machine: the application font
// is the designed face or a stand-in with close metrics, and the text of
// every label, button and check box fits inside its widget, measured with
// QFontMetrics in the widget's own font, at the size the window opens with,
// which is also its smallest (tst_form's widening holds it there).
#include "app/widget.h"
#include "ui/applicationfont.h"

#include <QtTest>
#include <QtWidgets>

#include <memory>

namespace {

// The rectangle a widget has for its text, and the style's idea of it.
QRect textArea(QWidget *w)
{
    if (auto *label = qobject_cast<QLabel *>(w)) {
        const int m = label->margin();
        return label->contentsRect().adjusted(m, m, -m, -m);
    }
    if (auto *check = qobject_cast<QCheckBox *>(w)) {
        QStyleOptionButton opt;
        opt.initFrom(check);
        opt.text = check->text();
        opt.state |= check->isChecked() ? QStyle::State_On : QStyle::State_Off;
        return check->style()->subElementRect(QStyle::SE_CheckBoxContents, &opt, check);
    }
    if (auto *button = qobject_cast<QPushButton *>(w)) {
        QStyleOptionButton opt;
        opt.initFrom(button);
        opt.text = button->text();
        opt.features = button->isFlat() ? QStyleOptionButton::Flat : QStyleOptionButton::None;
        return button->style()->subElementRect(QStyle::SE_PushButtonContents, &opt, button);
    }
    return QRect();
}

QString textOf(QWidget *w)
{
    if (auto *label = qobject_cast<QLabel *>(w))
        return label->text();
    if (auto *button = qobject_cast<QAbstractButton *>(w))
        return button->text();
    return QString();
}

// The room a text takes, line by line (no wrapping: none of the captions
// wraps), as the widgets draw it.
QSize textSize(QWidget *w, const QString &text)
{
    const QFontMetrics fm(w->font());
    return fm.size(Qt::TextShowMnemonic, text);
}

void settle(QWidget &w)
{
    w.layout()->activate();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    w.layout()->activate();
}

} // namespace

class TestCaptions : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void applicationFace();
    void captionsFit_data();
    void captionsFit();

private:
    QString m_standIn;
    std::unique_ptr<Widget> m_window;
};

void TestCaptions::initTestCase()
{
    // As the program's entry point does before it builds the window.
    m_standIn = Servo::installApplicationFont();
    qInfo("application font: %s, drawn with %s", qPrintable(Servo::applicationFontFamily()),
          qPrintable(QFontInfo(QApplication::font()).family()));
    m_window = std::make_unique<Widget>();
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    settle(*m_window);
}

// The face the captions are drawn with is the designed one or one of its
// stand-ins, not whatever the platform falls back to.
void TestCaptions::applicationFace()
{
    const QFont font = QApplication::font();
    QCOMPARE(font.family(), Servo::applicationFontFamily());
    QCOMPARE(font.pointSize(), Servo::applicationFontPointSize());
    const QString drawn = QFontInfo(font).family();
    QStringList accepted = Servo::applicationFontStandIns();
    accepted << Servo::applicationFontFamily();
    QVERIFY2(accepted.contains(drawn, Qt::CaseInsensitive),
             qPrintable(QStringLiteral("the application font is drawn with %1, which is none of "
                                       "%2; install one of them (Debian: fonts-wqy-microhei)")
                            .arg(drawn, accepted.join(QLatin1String(", ")))));
    if (!m_standIn.isEmpty())
        QVERIFY2(drawn.compare(m_standIn, Qt::CaseInsensitive) == 0,
                 qPrintable(QStringLiteral("%1 was put in for %2, but %3 draws it")
                                .arg(m_standIn, Servo::applicationFontFamily(), drawn)));
}

void TestCaptions::captionsFit_data()
{
    QTest::addColumn<QString>("name");
    int rows = 0;
    const QList<QWidget *> children = m_window->findChildren<QWidget *>();
    for (QWidget *c : children) {
        if (!textArea(c).isValid() || textOf(c).isEmpty())
            continue;
        QTest::newRow(qPrintable(c->objectName())) << c->objectName();
        ++rows;
    }
    // The form's 30 labels and 4 action buttons at least.
    QVERIFY2(rows >= 34, qPrintable(QString::number(rows)));
}

void TestCaptions::captionsFit()
{
    QFETCH(QString, name);
    QWidget *c = m_window->findChild<QWidget *>(name);
    QVERIFY(c);
    QVERIFY2(c->isVisible(), qPrintable(name));
    const QString text = textOf(c);
    const QRect area = textArea(c);
    const QSize need = textSize(c, text);
    const QString shown = QString(text).replace(QLatin1Char('\n'), QLatin1String("\\n"));
    QVERIFY2(need.width() <= area.width() && need.height() <= area.height(),
             qPrintable(QStringLiteral("\"%1\" needs %2x%3 in %4 (%5), which has %6x%7 for it")
                            .arg(shown)
                            .arg(need.width())
                            .arg(need.height())
                            .arg(QFontInfo(c->font()).family())
                            .arg(QFontInfo(c->font()).pointSizeF())
                            .arg(area.width())
                            .arg(area.height())));
}

QTEST_MAIN(TestCaptions)
#include "tst_captions.moc"
