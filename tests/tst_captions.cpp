// The window's captions with the fonts of the machine: the application font
// is the designed face or a stand-in with close metrics, and the text of
// every label, button and check box fits inside its widget, measured with
// QFontMetrics in the widget's own font, at the size the window opens with,
// which is also its smallest (tst_form's widening holds it there).
// servo-bench's window is measured the same way.
#include "app/widget.h"
#include "benchwindow/benchwindow.h"
#include "benchwindow/slotcard.h"
#include "files/parameterfile.h"
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
    // servo-bench's window at the size it opens with, a job loaded and a
    // card for each state: its captions are checked the same way.
    QTemporaryDir m_dir;
    std::unique_ptr<Servo::BenchWindow> m_bench;
    QList<QWidget *> m_benchCaptions;
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

    // What the bench window remembers goes to the test's own folder.
    QVERIFY(m_dir.isValid());
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir.filePath("settings"));
    const QString job = m_dir.filePath("job.txt");
    QVERIFY(Servo::writeParameterFile(job, Servo::startValues()));
    m_bench = std::make_unique<Servo::BenchWindow>();
    QVERIFY(m_bench->loadJob(job));
    const QList<Servo::SlotState> states{Servo::SlotState::Off,      Servo::SlotState::Empty,
                                         Servo::SlotState::Arrived,  Servo::SlotState::Programming,
                                         Servo::SlotState::Verified, Servo::SlotState::AlreadyHeld,
                                         Servo::SlotState::Failed,   Servo::SlotState::PortLost};
    for (int i = 0; i < states.size(); ++i)
        m_bench->addPort(m_dir.filePath(QStringLiteral("port%1").arg(i)));
    QCOMPARE(m_bench->cards().size(), states.size());
    m_bench->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_bench.get()));
    for (int i = 0; i < states.size(); ++i) {
        Servo::SlotStatus status;
        status.state = states.at(i);
        m_bench->cards().at(i)->display(status);
    }
    settle(*m_bench);
    // The layout gives every caption its room; the window must not grow
    // past the size it opens with to do so.
    QCOMPARE(m_bench->size(), QSize(1000, 720));
    // Four cards side by side fit the cards' panel without scrolling sideways.
    auto *cards = m_bench->findChild<QScrollArea *>();
    QVERIFY(cards);
    QCOMPARE(cards->horizontalScrollBar()->maximum(), 0);
    // Wrapped messages and paths cut to their field are meant to give way.
    for (QWidget *c : m_bench->findChildren<QWidget *>()) {
        auto *label = qobject_cast<QLabel *>(c);
        if (label &&
            (label->wordWrap() || c->sizePolicy().horizontalPolicy() == QSizePolicy::Ignored))
            continue;
        if (textArea(c).isValid() && !textOf(c).isEmpty())
            m_benchCaptions << c;
    }
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
    for (int i = 0; i < m_benchCaptions.size(); ++i) {
        const QString text =
            textOf(m_benchCaptions.at(i)).replace(QLatin1Char('\n'), QLatin1Char(' '));
        QTest::newRow(qPrintable(QStringLiteral("bench %1 %2").arg(i).arg(text)))
            << QStringLiteral("#%1").arg(i);
    }
    // The job's 14 captions and values, 8 tiles and their cards, the buttons.
    QVERIFY2(m_benchCaptions.size() >= 60, qPrintable(QString::number(m_benchCaptions.size())));
}

void TestCaptions::captionsFit()
{
    QFETCH(QString, name);
    QWidget *c = name.startsWith(QLatin1Char('#')) ? m_benchCaptions.value(name.mid(1).toInt())
                                                   : m_window->findChild<QWidget *>(name);
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
