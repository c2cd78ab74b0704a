// The parameter controls on the window: start values and ranges, the plus
// and minus buttons, keyboard and wheel stepping, and values set from code.
#include "app/widget.h"
#include "tests/windowdriver.h"

#include <QtTest>
#include <QtWidgets>

#include <climits>

namespace {

struct Range
{
    const char *stem;
    int minimum;
    int maximum;
    int start;
};

// Canonical order.
const Range ranges[] = {
    {"TorqueGain", 0, 255, 0},
    {"BrakeGain", 0, 255, 0},
    {"IntegralGain", 0, 255, 0},
    {"IntegralSpeed", 0, 255, 0},
    {"MinPulseWidth", 500, 2500, 500},
    {"MAXPulseWidth", 500, 2500, 2500},
    {"Sensitivity", 0, 50, 0},
    {"NeutralPoint", 500, 2500, 1500},
    {"MAXDuty", 0, 399, 0},
    {"LeftAngleCoefficient", 0, 255, 0},
    {"RightAngleCoefficient", 0, 255, 0},
};
const char *const switches[] = {"ReversedRotation", "SoftStart", "LOCKProtection"};

// Every parameter control's state, by object name.
QMap<QString, int> controlState(const WindowDriver &d)
{
    QMap<QString, int> state;
    for (const Range &r : ranges)
        state.insert(QLatin1String(r.stem), d.spinBox(QLatin1String(r.stem))->value());
    for (const char *s : switches)
        state.insert(QLatin1String(s), d.checkBox(QLatin1String(s))->isChecked());
    return state;
}

void showWindow(Widget &w)
{
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
}

QLineEdit *editOf(QSpinBox *spin)
{
    return spin->findChild<QLineEdit *>();
}

} // namespace

class TestSteppers : public QObject
{
    Q_OBJECT

private slots:
    void startState_data();
    void startState();
    void stepButtons_data();
    void stepButtons();
    void eachButtonStepsItsOwnBox_data();
    void eachButtonStepsItsOwnBox();
    void stepOnReleaseOnly();
    void unfinishedTextIsReplaced_data();
    void unfinishedTextIsReplaced();
    void keysAndWheel_data();
    void keysAndWheel();
    void setValueClamps_data();
    void setValueClamps();
    void rangesAreIndependent();
    void checkBoxesToggle_data();
    void checkBoxesToggle();
};

void TestSteppers::startState_data()
{
    QTest::addColumn<QString>("stem");
    QTest::addColumn<int>("minimum");
    QTest::addColumn<int>("maximum");
    QTest::addColumn<int>("start");
    for (const Range &r : ranges)
        QTest::newRow(r.stem) << QString::fromLatin1(r.stem) << r.minimum << r.maximum << r.start;
}

void TestSteppers::startState()
{
    QFETCH(QString, stem);
    QFETCH(int, minimum);
    QFETCH(int, maximum);
    QFETCH(int, start);
    Widget w;
    const WindowDriver d(&w);
    QSpinBox *spin = d.spinBox(stem);
    QVERIFY(spin);
    QCOMPARE(spin->minimum(), minimum);
    QCOMPARE(spin->maximum(), maximum);
    QCOMPARE(spin->singleStep(), 1);
    QCOMPARE(spin->value(), start);
    QCOMPARE(spin->text(), QString::number(start));
    QVERIFY(!spin->wrapping());
    for (const char *s : switches) {
        QCheckBox *box = d.checkBox(QLatin1String(s));
        QVERIFY(box);
        QVERIFY(!box->isChecked());
        QVERIFY(!box->isTristate());
    }
}

void TestSteppers::stepButtons_data()
{
    QTest::addColumn<QString>("stem");
    QTest::addColumn<int>("from");
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("clicks");
    QTest::addColumn<int>("expected");

    QTest::newRow("NeutralPoint 1500 plus") << "NeutralPoint" << 1500 << "Add" << 1 << 1501;
    QTest::newRow("NeutralPoint 1501 minus twice")
        << "NeutralPoint" << 1501 << "Minus" << 2 << 1499;
    QTest::newRow("MinPulseWidth 500 minus") << "MinPulseWidth" << 500 << "Minus" << 1 << 500;
    QTest::newRow("MAXPulseWidth 2500 plus") << "MAXPulseWidth" << 2500 << "Add" << 1 << 2500;
    QTest::newRow("MAXDuty 399 plus") << "MAXDuty" << 399 << "Add" << 1 << 399;
    QTest::newRow("Sensitivity 50 plus") << "Sensitivity" << 50 << "Add" << 1 << 50;
    QTest::newRow("Sensitivity 48 plus five times") << "Sensitivity" << 48 << "Add" << 5 << 50;
    QTest::newRow("MAXDuty 2 minus five times") << "MAXDuty" << 2 << "Minus" << 5 << 0;
    for (const Range &r : ranges) {
        const QString s = QLatin1String(r.stem);
        QTest::addRow("%s minus at minimum", r.stem) << s << r.minimum << "Minus" << 1 << r.minimum;
        QTest::addRow("%s plus at maximum", r.stem) << s << r.maximum << "Add" << 1 << r.maximum;
        QTest::addRow("%s plus from minimum", r.stem)
            << s << r.minimum << "Add" << 1 << r.minimum + 1;
        QTest::addRow("%s minus from maximum", r.stem)
            << s << r.maximum << "Minus" << 1 << r.maximum - 1;
        QTest::addRow("%s plus from start", r.stem)
            << s << r.start << "Add" << 1 << qMin(r.start + 1, r.maximum);
    }
}

void TestSteppers::stepButtons()
{
    QFETCH(QString, stem);
    QFETCH(int, from);
    QFETCH(QString, button);
    QFETCH(int, clicks);
    QFETCH(int, expected);
    Widget w;
    const WindowDriver d(&w);
    showWindow(w);
    QSpinBox *spin = d.spinBox(stem);
    QPushButton *b = d.stepButton(stem, button);
    QVERIFY(spin && b);
    spin->setValue(from);
    QCOMPARE(spin->value(), from);
    for (int i = 0; i < clicks; ++i)
        QTest::mouseClick(b, Qt::LeftButton);
    QCOMPARE(spin->value(), expected);
    QCOMPARE(spin->text(), QString::number(expected));
}

void TestSteppers::eachButtonStepsItsOwnBox_data()
{
    QTest::addColumn<QString>("stem");
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("delta");
    for (const Range &r : ranges) {
        QTest::addRow("pB_%sAdd", r.stem) << QString::fromLatin1(r.stem) << "Add" << 1;
        QTest::addRow("pB_%sMinus", r.stem) << QString::fromLatin1(r.stem) << "Minus" << -1;
    }
}

void TestSteppers::eachButtonStepsItsOwnBox()
{
    QFETCH(QString, stem);
    QFETCH(QString, button);
    QFETCH(int, delta);
    Widget w;
    const WindowDriver d(&w);
    showWindow(w);
    // Every box away from its bounds, so that a stray step would show.
    for (const Range &r : ranges)
        d.spinBox(QLatin1String(r.stem))->setValue((r.minimum + r.maximum) / 2);
    QMap<QString, int> expected = controlState(d);
    expected[stem] += delta;

    QPushButton *b = d.stepButton(stem, button);
    QVERIFY(b);
    QTest::mouseClick(b, Qt::LeftButton);
    QCOMPARE(controlState(d), expected);
}

void TestSteppers::stepOnReleaseOnly()
{
    Widget w;
    const WindowDriver d(&w);
    showWindow(w);
    QSpinBox *spin = d.spinBox("NeutralPoint");
    QPushButton *plus = d.stepButton("NeutralPoint", "Add");
    QVERIFY(spin && plus);
    QTest::mousePress(plus, Qt::LeftButton);
    QTest::qWait(800); // longer than any auto-repeat delay
    QCOMPARE(spin->value(), 1500);
    QTest::mouseRelease(plus, Qt::LeftButton);
    QCOMPARE(spin->value(), 1501);
}

void TestSteppers::unfinishedTextIsReplaced_data()
{
    QTest::addColumn<QString>("stem");
    QTest::addColumn<int>("from");
    QTest::addColumn<QString>("typed"); // replaces the whole text
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("expected");
    QTest::newRow("NeutralPoint 1500, typed 7, plus") << "NeutralPoint" << 1500 << "7"
                                                      << "Add" << 1501;
    QTest::newRow("MinPulseWidth 800, emptied, minus") << "MinPulseWidth" << 800 << ""
                                                       << "Minus" << 799;
    QTest::newRow("MAXPulseWidth 2000, typed 2, plus") << "MAXPulseWidth" << 2000 << "2"
                                                       << "Add" << 2001;
}

void TestSteppers::unfinishedTextIsReplaced()
{
    QFETCH(QString, stem);
    QFETCH(int, from);
    QFETCH(QString, typed);
    QFETCH(QString, button);
    QFETCH(int, expected);
    Widget w;
    const WindowDriver d(&w);
    showWindow(w);
    QSpinBox *spin = d.spinBox(stem);
    QVERIFY(spin);
    spin->setValue(from);
    QLineEdit *edit = editOf(spin);
    QVERIFY(edit);
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClicks(edit, typed);
    QCOMPARE(spin->text(), typed);
    QCOMPARE(spin->value(), from); // not a value yet

    QTest::mouseClick(d.stepButton(stem, button), Qt::LeftButton);
    QCOMPARE(spin->value(), expected);
    QCOMPARE(spin->text(), QString::number(expected));
}

void TestSteppers::keysAndWheel_data()
{
    QTest::addColumn<QString>("stem");
    QTest::addColumn<int>("from");
    QTest::addColumn<QString>("input");
    QTest::addColumn<int>("times");
    QTest::addColumn<int>("expected");

    QTest::newRow("TorqueGain 0 Up") << "TorqueGain" << 0 << "Up" << 1 << 1;
    QTest::newRow("TorqueGain 0 Down") << "TorqueGain" << 0 << "Down" << 1 << 0;
    QTest::newRow("TorqueGain 255 Up") << "TorqueGain" << 255 << "Up" << 1 << 255;
    QTest::newRow("NeutralPoint 1500 Down x3") << "NeutralPoint" << 1500 << "Down" << 3 << 1497;
    QTest::newRow("MAXDuty 0 PageUp") << "MAXDuty" << 0 << "PageUp" << 1 << 10;
    QTest::newRow("Sensitivity 45 PageUp") << "Sensitivity" << 45 << "PageUp" << 1 << 50;
    QTest::newRow("MinPulseWidth 505 PageDown") << "MinPulseWidth" << 505 << "PageDown" << 1 << 500;
    QTest::newRow("MAXPulseWidth 2500 Up") << "MAXPulseWidth" << 2500 << "Up" << 1 << 2500;
    QTest::newRow("NeutralPoint 1500 wheel up") << "NeutralPoint" << 1500 << "WheelUp" << 1 << 1501;
    QTest::newRow("IntegralSpeed 5 wheel down x2") << "IntegralSpeed" << 5 << "WheelDown" << 2 << 3;
    QTest::newRow("MinPulseWidth 500 wheel down")
        << "MinPulseWidth" << 500 << "WheelDown" << 1 << 500;
    QTest::newRow("MAXDuty 399 wheel up") << "MAXDuty" << 399 << "WheelUp" << 2 << 399;
    QTest::newRow("RightAngleCoefficient 0 wheel down")
        << "RightAngleCoefficient" << 0 << "WheelDown" << 1 << 0;
}

void TestSteppers::keysAndWheel()
{
    QFETCH(QString, stem);
    QFETCH(int, from);
    QFETCH(QString, input);
    QFETCH(int, times);
    QFETCH(int, expected);
    Widget w;
    const WindowDriver d(&w);
    showWindow(w);
    QSpinBox *spin = d.spinBox(stem);
    QVERIFY(spin);
    spin->setValue(from);
    const QMap<QString, Qt::Key> keys{{"Up", Qt::Key_Up},
                                      {"Down", Qt::Key_Down},
                                      {"PageUp", Qt::Key_PageUp},
                                      {"PageDown", Qt::Key_PageDown}};
    for (int i = 0; i < times; ++i) {
        if (keys.contains(input)) {
            QTest::keyClick(spin, keys.value(input));
        } else {
            const QPoint centre = spin->rect().center();
            const int delta = input == QLatin1String("WheelUp") ? 120 : -120;
            QWheelEvent wheel(QPointF(centre), QPointF(spin->mapToGlobal(centre)), QPoint(),
                              QPoint(0, delta), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase,
                              false);
            QApplication::sendEvent(spin, &wheel);
        }
    }
    QCOMPARE(spin->value(), expected);
}

void TestSteppers::setValueClamps_data()
{
    QTest::addColumn<QString>("stem");
    QTest::addColumn<int>("input");
    QTest::addColumn<int>("expected");

    for (const char *s : {"MinPulseWidth", "MAXPulseWidth", "NeutralPoint"}) {
        QTest::addRow("%s 0", s) << s << 0 << 500;
        QTest::addRow("%s 3000", s) << s << 3000 << 2500;
    }
    QTest::newRow("Sensitivity 51") << "Sensitivity" << 51 << 50;
    QTest::newRow("Sensitivity 100") << "Sensitivity" << 100 << 50;
    QTest::newRow("MAXDuty 400") << "MAXDuty" << 400 << 399;
    for (const char *s : {"TorqueGain", "BrakeGain", "IntegralGain", "IntegralSpeed",
                          "LeftAngleCoefficient", "RightAngleCoefficient"})
        QTest::addRow("%s 256", s) << s << 256 << 255;
    for (const Range &r : ranges) {
        const QString s = QLatin1String(r.stem);
        QTest::addRow("%s -1", r.stem) << s << -1 << r.minimum;
        QTest::addRow("%s INT_MIN", r.stem) << s << INT_MIN << r.minimum;
        QTest::addRow("%s INT_MAX", r.stem) << s << INT_MAX << r.maximum;
        QTest::addRow("%s minimum", r.stem) << s << r.minimum << r.minimum;
        QTest::addRow("%s maximum", r.stem) << s << r.maximum << r.maximum;
        QTest::addRow("%s one above", r.stem) << s << r.maximum + 1 << r.maximum;
        QTest::addRow("%s one below", r.stem) << s << r.minimum - 1 << r.minimum;
    }
}

void TestSteppers::setValueClamps()
{
    QFETCH(QString, stem);
    QFETCH(int, input);
    QFETCH(int, expected);
    Widget w;
    const WindowDriver d(&w);
    QSpinBox *spin = d.spinBox(stem);
    QVERIFY(spin);
    spin->setValue(input);
    QCOMPARE(spin->value(), expected);
    QCOMPARE(spin->text(), QString::number(expected));
}

void TestSteppers::rangesAreIndependent()
{
    Widget w;
    const WindowDriver d(&w);
    d.spinBox("MinPulseWidth")->setValue(2000);
    d.spinBox("MAXPulseWidth")->setValue(1000);
    d.spinBox("NeutralPoint")->setValue(2500);
    QCOMPARE(d.spinBox("MinPulseWidth")->value(), 2000);
    QCOMPARE(d.spinBox("MAXPulseWidth")->value(), 1000);
    QCOMPARE(d.spinBox("NeutralPoint")->value(), 2500);
}

void TestSteppers::checkBoxesToggle_data()
{
    QTest::addColumn<QString>("stem");
    for (const char *s : switches)
        QTest::newRow(s) << QString::fromLatin1(s);
}

void TestSteppers::checkBoxesToggle()
{
    QFETCH(QString, stem);
    Widget w;
    const WindowDriver d(&w);
    showWindow(w);
    QCheckBox *box = d.checkBox(stem);
    QVERIFY(box);
    QMap<QString, int> expected = controlState(d);

    QTest::mouseClick(box, Qt::LeftButton, Qt::NoModifier, box->rect().center());
    expected[stem] = 1;
    QCOMPARE(controlState(d), expected);

    QTest::mouseClick(box, Qt::LeftButton, Qt::NoModifier, box->rect().center());
    expected[stem] = 0;
    QCOMPARE(controlState(d), expected);
}

QTEST_MAIN(TestSteppers)
#include "tst_steppers.moc"
