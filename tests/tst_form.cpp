// The main window as the rest of the program relies on it: object names,
// classes and parents, texts, sizes, layout, focus order, the slot table and
// the connections by name, the port selector, the embedded images and the
// look on screen.
#include "serial/mycombobox.h"
#include "ui/applicationfont.h"
#include "ui/myspinbox.h"
#include "tests/programs.h"
#include "tests/testline.h"
#include "serial/simulatorports.h"
#include "ui/ui_widget.h"
#include "app/widget.h"

#include <QSerialPort>
#include <QSerialPortInfo>
#include <QtTest>
#include <QtWidgets>

namespace {

// One card per parameter, in the order the form builds them.
struct Card
{
    const char *stem;
    const char *panel;
    int row; // cell (row, 0) of the panel's grid
    const char *grid;
    const char *captions;
    const char *stepper; // nullptr on a switch card
    int spacerWidth;
    const char *english;
    const char *chinese;
};

const Card cards[] = {
    {"TorqueGain", "groupBox", 0, "gridLayout", "verticalLayout_2", "horizontalLayout_2", 33,
     "Torque Gain", "力矩感度(0-255)"},
    {"BrakeGain", "groupBox", 1, "gridLayout_2", "verticalLayout_3", "horizontalLayout_3", 19,
     "Brake Gain", "刹车感度(0-255)"},
    {"IntegralGain", "groupBox", 2, "gridLayout_3", "verticalLayout_4", "horizontalLayout_4", 33,
     "Integral Gain", "积分感度(0-255)"},
    {"IntegralSpeed", "groupBox", 3, "gridLayout_4", "verticalLayout_5", "horizontalLayout_5", 1,
     "Integral Speed", "积分速度(0-255 *3ms)"},
    {"MAXDuty", "groupBox_3", 0, "gridLayout_9", "verticalLayout_10", "horizontalLayout_10", 28,
     "MAX Duty", "最大占空比(0-399)"},
    {"LeftAngleCoefficient", "groupBox_3", 1, "gridLayout_10", "verticalLayout_11",
     "horizontalLayout_11", 5, "Left Angle Coefficient", "大端角度比例(0-255)"},
    {"RightAngleCoefficient", "groupBox_3", 2, "gridLayout_11", "verticalLayout_12",
     "horizontalLayout_12", 3, "Right Angle Coefficient", "大端角度比例(0-255)"},
    {"MinPulseWidth", "groupBox_2", 0, "gridLayout_5", "verticalLayout_6", "horizontalLayout_6", 26,
     "Min Pulse Width", " 最小位置(us)"},
    {"MAXPulseWidth", "groupBox_2", 1, "gridLayout_6", "verticalLayout_7", "horizontalLayout_7", 20,
     "MAX Pulse Width", "最大位置(us)"},
    {"Sensitivity", "groupBox_2", 2, "gridLayout_7", "verticalLayout_8", "horizontalLayout_8", 63,
     "Sensitivity", "灵敏度(us)"},
    {"NeutralPoint", "groupBox_2", 3, "gridLayout_8", "verticalLayout_9", "horizontalLayout_9", 1,
     "Neutral Point", "中点位置(500-2500us)"},
    {"ReversedRotation", "groupBox_4", 0, "gridLayout_18", "verticalLayout_15", nullptr, 46,
     "Reversed Rotation", "反向旋转"},
    {"SoftStart", "groupBox_4", 1, "gridLayout_20", "verticalLayout_16", nullptr, 95, "Soft Start",
     "缓启动开关"},
    {"LOCKProtection", "groupBox_4", 2, "gridLayout_21", "verticalLayout_17", nullptr, 95,
     "LOCK Protection", "堵转保护开关"},
};

const char *const panels[] = {"groupBox", "groupBox_2", "groupBox_3", "groupBox_4", "groupBox_5"};

QString str(const char *s)
{
    return QString::fromUtf8(s);
}

struct Node
{
    QString name;
    QString className;
    QString parent;
};

// Every named object of the form, in creation order, with the object name of
// its Qt parent (a layout's parent is its enclosing layout or its widget).
QVector<Node> formTree()
{
    QVector<Node> t;
    auto add = [&t](const QString &name, const char *cls, const QString &parent) {
        t.push_back({name, QLatin1String(cls), parent});
    };
    auto addCards = [&](const char *panel) {
        for (const Card &c : cards) {
            if (qstrcmp(c.panel, panel) != 0)
                continue;
            const QString s = QLatin1String(c.stem);
            const QString box = QStringLiteral("groupBox_") + s;
            add(box, "QGroupBox", str(panel));
            add(str(c.grid), "QGridLayout", box);
            add(str(c.captions), "QVBoxLayout", str(c.grid));
            add(QStringLiteral("label_") + s + QLatin1Char('E'), "QLabel", box);
            add(QStringLiteral("label_") + s + QLatin1Char('C'), "QLabel", box);
            if (c.stepper) {
                add(str(c.stepper), "QHBoxLayout", str(c.grid));
                add(QStringLiteral("pB_") + s + QStringLiteral("Minus"), "QPushButton", box);
                add(QStringLiteral("spinBox_") + s, "MySpinBox", box);
                add(QStringLiteral("pB_") + s + QStringLiteral("Add"), "QPushButton", box);
            } else {
                add(QStringLiteral("cB_") + s, "QCheckBox", box);
            }
        }
    };
    const QString window = QStringLiteral("Widget");
    add("gridLayout_15", "QGridLayout", window);
    add("horizontalLayout_15", "QHBoxLayout", "gridLayout_15");
    add("horizontalLayout", "QHBoxLayout", "horizontalLayout_15");
    add("verticalLayout", "QVBoxLayout", "horizontalLayout");
    add("label_PortE", "QLabel", window);
    add("label_PortC", "QLabel", window);
    add("comboBox_Port", "MyComboBox", window);
    add("widget", "QWidget", window);
    add("horizontalLayout_14", "QHBoxLayout", "gridLayout_15");
    add("verticalLayout_13", "QVBoxLayout", "horizontalLayout_14");
    add("groupBox", "QGroupBox", window);
    add("gridLayout_13", "QGridLayout", "groupBox");
    addCards("groupBox");
    add("groupBox_3", "QGroupBox", window);
    add("gridLayout_12", "QGridLayout", "groupBox_3");
    addCards("groupBox_3");
    add("verticalLayout_14", "QVBoxLayout", "horizontalLayout_14");
    add("groupBox_2", "QGroupBox", window);
    add("gridLayout_16", "QGridLayout", "groupBox_2");
    addCards("groupBox_2");
    add("groupBox_4", "QGroupBox", window);
    add("gridLayout_17", "QGridLayout", "groupBox_4");
    addCards("groupBox_4");
    add("horizontalLayout_13", "QHBoxLayout", "gridLayout_15");
    add("groupBox_5", "QGroupBox", window);
    add("gridLayout_14", "QGridLayout", "groupBox_5");
    add("pB_SaveParameter", "QPushButton", "groupBox_5");
    add("pB_OpenParameter", "QPushButton", "groupBox_5");
    add("pB_ReadParameter", "QPushButton", "groupBox_5");
    add("textBrowser_StateShow", "QTextBrowser", "groupBox_5");
    add("pB_WriteParameter", "QPushButton", "groupBox_5");
    add("widget_2", "QWidget", window);
    return t;
}

// Names the toolkit gives to the inner parts of compound widgets.
bool isFormName(const QString &name)
{
    return !name.isEmpty() && !name.startsWith(QLatin1String("qt_"));
}

QObject *object(Widget &w, const QString &name)
{
    if (name == QLatin1String("Widget"))
        return &w;
    const QList<QObject *> found = w.findChildren<QObject *>(name);
    return found.size() == 1 ? found.first() : nullptr;
}

template<typename T> T *child(Widget &w, const QString &name)
{
    return qobject_cast<T *>(object(w, name));
}

QStringList itemTexts(const QComboBox *box)
{
    QStringList out;
    for (int i = 0; i < box->count(); ++i)
        out << box->itemText(i);
    return out;
}

QStringList currentPortList()
{
    QStringList out{QString()};
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
        out << info.portName();
    // Simulators that happen to be running are offered after the real ports.
    out << Servo::simulatorPorts();
    return out;
}

void settle(QWidget &w)
{
    w.layout()->activate();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    w.layout()->activate();
}

QRect rectIn(QWidget &w, const QWidget *c)
{
    return QRect(c->mapTo(&w, QPoint(0, 0)), c->size());
}

int countSpacers(QLayout *layout)
{
    int n = 0;
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem *item = layout->itemAt(i);
        if (item->spacerItem())
            ++n;
        else if (item->layout())
            n += countSpacers(item->layout());
    }
    return n;
}

const QString windowSheet = QStringLiteral("#Widget{background-color: rgb(0, 0, 0);}\n");

} // namespace

class TestForm : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void objectTree_data();
    void objectTree();
    void namedObjectCounts();
    void texts_data();
    void texts();
    void styleSheets_data();
    void styleSheets();
    void sizes_data();
    void sizes();
    void gridCells_data();
    void gridCells();
    void boxLayouts_data();
    void boxLayouts();
    void gridStretch_data();
    void gridStretch();
    void focusOrder();
    void widening_data();
    void widening();
    void windowSheetSelectsByName_data();
    void windowSheetSelectsByName();

    void windowMetaObject_data();
    void windowMetaObject();
    void stepperAndSelectorMetaObjects();
    void actionButtonsRunTheirSlotOnce_data();
    void actionButtonsRunTheirSlotOnce();

    void portSelectorLists();
    void pressOnSelector_data();
    void pressOnSelector();

    void resourceImages_data();
    void resourceImages();
    void windowIcon();
    void lookOnScreen_data();
    void lookOnScreen();
    void checkBoxIndicatorSwaps_data();
    void checkBoxIndicatorSwaps();
    void informationWithoutDisplay_data();
    void informationWithoutDisplay();
};

void TestForm::initTestCase()
{
    // Simulators announce their ports under the temporary folder; a private
    // one keeps those of other programs running meanwhile out of the lists.
    static QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    qputenv("TMPDIR", QFile::encodeName(tmp.path()));
    // The program's entry point installs this font before it builds the window.
    Servo::installApplicationFont();
}

void TestForm::objectTree_data()
{
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("parentName");
    for (const Node &n : formTree())
        QTest::newRow(qPrintable(n.name)) << n.className << n.parent;
}

void TestForm::objectTree()
{
    QFETCH(QString, className);
    QFETCH(QString, parentName);
    Widget w;
    const QString name = QString::fromLatin1(QTest::currentDataTag());
    const QList<QObject *> found = w.findChildren<QObject *>(name);
    QCOMPARE(found.size(), 1);
    QCOMPARE(QString::fromLatin1(found.first()->metaObject()->className()), className);
    QVERIFY(found.first()->parent());
    QCOMPARE(found.first()->parent()->objectName(), parentName);
}

void TestForm::namedObjectCounts()
{
    Widget w;
    QStringList widgets, layouts;
    for (QWidget *c : w.findChildren<QWidget *>())
        if (isFormName(c->objectName()))
            widgets << c->objectName();
    for (QLayout *l : w.findChildren<QLayout *>())
        if (isFormName(l->objectName()))
            layouts << l->objectName();
    QCOMPARE(widgets.size(), 93);
    QCOMPARE(layouts.size(), 52);

    QStringList expected;
    for (const Node &n : formTree())
        expected << n.name;
    QCOMPARE(expected.size(), 145);
    QStringList all = widgets + layouts;
    all.sort();
    expected.sort();
    QCOMPARE(all, expected);

    QVERIFY(w.layout());
    QCOMPARE(w.layout()->objectName(), QStringLiteral("gridLayout_15"));
    int spacers = countSpacers(w.layout());
    for (const char *panel : panels)
        spacers += countSpacers(child<QWidget>(w, str(panel))->layout());
    for (const Card &c : cards)
        spacers +=
            countSpacers(child<QWidget>(w, QStringLiteral("groupBox_") + str(c.stem))->layout());
    QCOMPARE(spacers, 15);

    int sheets = w.styleSheet().isEmpty() ? 0 : 1;
    for (QWidget *c : w.findChildren<QWidget *>())
        if (!c->styleSheet().isEmpty())
            ++sheets;
    QCOMPARE(sheets, 94);
}

void TestForm::texts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("property");
    QTest::addColumn<QString>("expected");

    auto row = [](const QString &name, const char *prop, const QString &text) {
        QTest::addRow("%s %s", qPrintable(name), prop) << name << QByteArray(prop) << text;
    };
    row("Widget", "windowTitle", "Vantrel Servo Tool V1.10");
    row("label_PortE", "text", "Port");
    row("label_PortC", "text", str("端口"));
    for (const Card &c : cards) {
        const QString s = str(c.stem);
        row("label_" + s + "E", "text", str(c.english));
        row("label_" + s + "C", "text", str(c.chinese));
        row("groupBox_" + s, "title", QString());
        if (c.stepper) {
            row("pB_" + s + "Minus", "text", QString());
            row("pB_" + s + "Add", "text", QString());
            row("spinBox_" + s, "prefix", QString());
            row("spinBox_" + s, "suffix", QString());
        } else {
            row("cB_" + s, "text", QString());
        }
    }
    for (const char *panel : panels)
        row(str(panel), "title", QString());
    row("pB_SaveParameter", "text", str("Save Parameter\n保存参数"));
    row("pB_OpenParameter", "text", str("Open Parameter\n打开参数"));
    row("pB_ReadParameter", "text", str("Read Parameter\n参数读取"));
    row("pB_WriteParameter", "text", str("Write Parameter\n参数写入"));
    row("textBrowser_StateShow", "plainText", QString());
}

void TestForm::texts()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, property);
    QFETCH(QString, expected);
    Widget w;
    QObject *o = object(w, name);
    QVERIFY(o);
    const QVariant v = o->property(property.constData());
    QVERIFY(v.isValid());
    QCOMPARE(v.toString(), expected);
}

void TestForm::styleSheets_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("sheet");

    const QString panel = str("background-color: rgb(46, 46, 46);\nborder-radius: 15px;/*圆角*/");
    const QString card = str("background-color: rgb(66, 66, 66);\nborder-radius: 10px;/*圆角*/");
    const QString caption = QStringLiteral("color: rgb(255, 255, 255);");
    const QString file = str("border-radius: 5px;/*圆角*/\nbackground-color: rgb(6, 91, 172);");
    const QString device = str("border-radius: 5px;/*圆角*/\nbackground-color: rgb(5, 136, 218);");
    auto row = [](const QString &name, const QString &sheet) {
        QTest::newRow(qPrintable(name)) << name << sheet;
    };

    row("Widget", windowSheet);
    for (const char *p : panels)
        row(str(p), panel);
    row("label_PortE", caption);
    row("label_PortC", caption);
    for (const Card &c : cards) {
        const QString s = str(c.stem);
        row("groupBox_" + s, card);
        row("label_" + s + "E", caption);
        row("label_" + s + "C", caption);
        if (c.stepper) {
            row("pB_" + s + "Minus", "border-image: url(:/ICON/002_jian.png);");
            row("pB_" + s + "Add", "border-image: url(:/ICON/003_jia.png);");
        }
    }
    row("widget", "\nborder-image: url(:/ICON/009.jpg);");
    row("widget_2", "border-image: url(:/ICON/008.jpg);");
    row("pB_SaveParameter", file);
    row("pB_OpenParameter", file + QLatin1Char('\n'));
    row("pB_ReadParameter", device);
    row("pB_WriteParameter", device);
    row("textBrowser_StateShow",
        str("background-color: rgb(66, 66, 66);\nborder-radius: 3px;/*圆角*/\ncolor: rgb(255, 255, "
            "255);"));
}

void TestForm::styleSheets()
{
    QFETCH(QString, name);
    QFETCH(QString, sheet);
    Widget w;
    QWidget *c = child<QWidget>(w, name);
    QVERIFY(c);
    QCOMPARE(c->styleSheet(), sheet);
}

void TestForm::sizes_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QSize>("minimum");
    QTest::addColumn<QSize>("maximum");
    QTest::addColumn<int>("policy"); // both directions; -1 where the form keeps the class default

    const QSize none(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    auto row = [](const QString &name, QSize min, QSize max, int policy) {
        QTest::newRow(qPrintable(name)) << name << min << max << policy;
    };
    row("Widget", QSize(600, 676), none, -1);
    row("widget", QSize(290, 50), QSize(290, 50), -1);
    row("widget_2", QSize(140, 140), QSize(140, 140), -1);
    row("comboBox_Port", QSize(120, 35), none, QSizePolicy::Fixed);
    row("groupBox_5", QSize(0, 100), none, -1);
    row("textBrowser_StateShow", QSize(0, 50), none, -1);
    for (const char *b :
         {"pB_SaveParameter", "pB_OpenParameter", "pB_ReadParameter", "pB_WriteParameter"})
        row(str(b), QSize(0, 40), none, -1);
    for (const Card &c : cards) {
        const QString s = str(c.stem);
        if (c.stepper) {
            row("pB_" + s + "Minus", QSize(30, 30), QSize(30, 30), QSizePolicy::Minimum);
            row("pB_" + s + "Add", QSize(30, 30), QSize(30, 30), QSizePolicy::Minimum);
            row("spinBox_" + s, QSize(50, 0), none, -1);
        } else {
            row("cB_" + s, QSize(30, 30), QSize(30, 30), -1);
        }
    }
}

void TestForm::sizes()
{
    QFETCH(QString, name);
    QFETCH(QSize, minimum);
    QFETCH(QSize, maximum);
    QFETCH(int, policy);
    Widget w;
    QWidget *c = child<QWidget>(w, name);
    QVERIFY(c);
    QCOMPARE(c->minimumSize(), minimum);
    QCOMPARE(c->maximumSize(), maximum);
    if (policy >= 0) {
        QCOMPARE(int(c->sizePolicy().horizontalPolicy()), policy);
        QCOMPARE(int(c->sizePolicy().verticalPolicy()), policy);
    }
}

void TestForm::gridCells_data()
{
    QTest::addColumn<QString>("grid");
    QTest::addColumn<QString>("item");
    QTest::addColumn<QRect>("cell"); // column, row, column span, row span

    auto row = [](const QString &grid, const QString &item, QRect cell) {
        QTest::addRow("%s in %s", qPrintable(item), qPrintable(grid)) << grid << item << cell;
    };
    row("gridLayout_15", "horizontalLayout_15", QRect(0, 0, 1, 1));
    row("gridLayout_15", "horizontalLayout_14", QRect(0, 1, 1, 1));
    row("gridLayout_15", "horizontalLayout_13", QRect(0, 2, 1, 1));
    // Read, Write, Open, Save from left to right over the full-width log.
    row("gridLayout_14", "pB_ReadParameter", QRect(0, 0, 1, 1));
    row("gridLayout_14", "pB_WriteParameter", QRect(1, 0, 1, 1));
    row("gridLayout_14", "pB_OpenParameter", QRect(2, 0, 1, 1));
    row("gridLayout_14", "pB_SaveParameter", QRect(3, 0, 1, 1));
    row("gridLayout_14", "textBrowser_StateShow", QRect(0, 1, 4, 1));
    const QMap<QString, QString> panelGrid{{"groupBox", "gridLayout_13"},
                                           {"groupBox_2", "gridLayout_16"},
                                           {"groupBox_3", "gridLayout_12"},
                                           {"groupBox_4", "gridLayout_17"}};
    for (const Card &c : cards) {
        const QString s = str(c.stem);
        row(panelGrid.value(str(c.panel)), "groupBox_" + s, QRect(0, c.row, 1, 1));
        row(str(c.grid), str(c.captions), QRect(0, 0, 1, 1));
        row(str(c.grid), c.stepper ? str(c.stepper) : "cB_" + s, QRect(2, 0, 1, 1));
    }
}

void TestForm::gridCells()
{
    QFETCH(QString, grid);
    QFETCH(QString, item);
    QFETCH(QRect, cell);
    Widget w;
    auto *g = child<QGridLayout>(w, grid);
    QVERIFY(g);
    QObject *target = object(w, item);
    QVERIFY(target);
    int index = -1;
    for (int i = 0; i < g->count(); ++i) {
        QLayoutItem *it = g->itemAt(i);
        if (it->widget() == target || it->layout() == target)
            index = i;
    }
    QVERIFY2(index >= 0, "not an item of that grid");
    int r, c, rs, cs;
    g->getItemPosition(index, &r, &c, &rs, &cs);
    QCOMPARE(QRect(c, r, cs, rs), cell);
    QCOMPARE(g->itemAt(index)->alignment(), Qt::Alignment());
}

void TestForm::boxLayouts_data()
{
    QTest::addColumn<QString>("layout");
    QTest::addColumn<QStringList>("items"); // "~" for a spacer
    QTest::addColumn<QList<int>>("stretch");

    auto row = [](const QString &layout, const QStringList &items, const QList<int> &stretch) {
        QTest::newRow(qPrintable(layout)) << layout << items << stretch;
    };
    row("horizontalLayout_15", {"horizontalLayout", "~", "widget"}, {0, 1, 0});
    row("horizontalLayout", {"verticalLayout", "comboBox_Port"}, {0, 0});
    row("verticalLayout", {"label_PortE", "label_PortC"}, {0, 0});
    row("horizontalLayout_14", {"verticalLayout_13", "verticalLayout_14"}, {1, 1});
    row("verticalLayout_13", {"groupBox", "groupBox_3"}, {3, 2});
    row("verticalLayout_14", {"groupBox_2", "groupBox_4"}, {3, 2});
    row("horizontalLayout_13", {"groupBox_5", "widget_2"}, {1, 0});
    for (const Card &c : cards) {
        const QString s = str(c.stem);
        row(str(c.captions), {"label_" + s + "E", "label_" + s + "C"}, {0, 0});
        if (c.stepper)
            row(str(c.stepper), {"pB_" + s + "Minus", "spinBox_" + s, "pB_" + s + "Add"},
                {3, 6, 3});
    }
}

void TestForm::boxLayouts()
{
    QFETCH(QString, layout);
    QFETCH(QStringList, items);
    QFETCH(QList<int>, stretch);
    Widget w;
    auto *box = child<QBoxLayout>(w, layout);
    QVERIFY(box);
    QStringList actual;
    QList<int> actualStretch;
    for (int i = 0; i < box->count(); ++i) {
        QLayoutItem *it = box->itemAt(i);
        if (it->widget())
            actual << it->widget()->objectName();
        else if (it->layout())
            actual << it->layout()->objectName();
        else
            actual << QStringLiteral("~");
        actualStretch << box->stretch(i);
    }
    QCOMPARE(actual, items);
    QCOMPARE(actualStretch, stretch);
}

void TestForm::gridStretch_data()
{
    QTest::addColumn<QString>("grid");
    QTest::addColumn<QList<int>>("rows");
    QTest::addColumn<QList<int>>("columns");
    QTest::newRow("gridLayout_15") << "gridLayout_15" << QList<int>{5, 100, 14} << QList<int>{0};
    QTest::newRow("gridLayout_14") << "gridLayout_14" << QList<int>{0, 1} << QList<int>{0, 0, 0, 0};
    for (const Card &c : cards)
        QTest::newRow(c.grid) << str(c.grid) << QList<int>{0}
                              << (c.stepper ? QList<int>{0, 1, 0} : QList<int>{0, 0, 0});
}

void TestForm::gridStretch()
{
    QFETCH(QString, grid);
    QFETCH(QList<int>, rows);
    QFETCH(QList<int>, columns);
    Widget w;
    auto *g = child<QGridLayout>(w, grid);
    QVERIFY(g);
    QCOMPARE(g->rowCount(), rows.size());
    QCOMPARE(g->columnCount(), columns.size());
    for (int i = 0; i < rows.size(); ++i)
        QCOMPARE(g->rowStretch(i), rows[i]);
    for (int i = 0; i < columns.size(); ++i)
        QCOMPARE(g->columnStretch(i), columns[i]);
}

void TestForm::focusOrder()
{
    Widget w;
    QStringList expected{QStringLiteral("comboBox_Port")};
    for (const Card &c : cards) {
        const QString s = str(c.stem);
        if (c.stepper)
            expected << "pB_" + s + "Minus"
                     << "spinBox_" + s << "pB_" + s + "Add";
        else
            expected << "cB_" + s;
    }
    expected << "pB_SaveParameter"
             << "pB_OpenParameter"
             << "pB_ReadParameter"
             << "textBrowser_StateShow"
             << "pB_WriteParameter";

    // Walk the chain once round, as Tab does, and name each stop by the form
    // control it belongs to (a spin box takes focus in its inner line edit).
    QWidget *start = child<QWidget>(w, "comboBox_Port");
    QVERIFY(start);
    QStringList order;
    QWidget *cur = start;
    int guard = 0;
    do {
        if ((cur->focusPolicy() & Qt::TabFocus) && cur->isEnabled()) {
            QWidget *owner = cur;
            while (owner && owner != &w && !isFormName(owner->objectName()))
                owner = owner->parentWidget();
            if (owner && owner != &w && (order.isEmpty() || order.last() != owner->objectName()))
                order << owner->objectName();
        }
        cur = cur->nextInFocusChain();
    } while (cur != start && ++guard < 1000);
    QCOMPARE(order, expected);
}

void TestForm::widening_data()
{
    QTest::addColumn<QSize>("request");
    QTest::addColumn<QSize>("expected");
    QTest::newRow("600x676") << QSize(600, 676) << QSize(600, 676);
    QTest::newRow("1000x800") << QSize(1000, 800) << QSize(1000, 800);
    QTest::newRow("1400x900") << QSize(1400, 900) << QSize(1400, 900);
    QTest::newRow("400x300 is held at the minimum") << QSize(400, 300) << QSize(600, 676);
    QTest::newRow("500x900 keeps the minimum width") << QSize(500, 900) << QSize(600, 900);
}

void TestForm::widening()
{
    QFETCH(QSize, request);
    QFETCH(QSize, expected);
    Widget w;
    QCOMPARE(w.size(), QSize(600, 676));
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    settle(w);
    auto *combo = child<QComboBox>(w, "comboBox_Port");
    auto *banner = child<QWidget>(w, "widget");
    auto *badge = child<QWidget>(w, "widget_2");
    QSpacerItem *spacer = child<QLayout>(w, "horizontalLayout_15")->itemAt(1)->spacerItem();
    QVERIFY(combo && banner && badge && spacer);
    const QRect combo0 = rectIn(w, combo);
    const int spacer0 = spacer->geometry().width();
    QVERIFY(combo0.width() >= 120 && combo0.height() >= 35);

    w.resize(request);
    settle(w);
    QCOMPARE(w.size(), expected);
    QCOMPARE(w.minimumSize(), QSize(600, 676));
    QCOMPARE(w.maximumSize(), QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));

    // The selector stays put at the left; the banner rides the right margin;
    // all extra width of the top bar goes to the spacer between them.
    QCOMPARE(rectIn(w, combo), combo0);
    QCOMPARE(banner->size(), QSize(290, 50));
    QCOMPARE(rectIn(w, banner).right(), w.width() - 12 - 1);
    QCOMPARE(spacer->geometry().width() - spacer0, w.width() - 600);
    QCOMPARE(badge->size(), QSize(140, 140));
    QCOMPARE(rectIn(w, badge).right(), w.width() - 12 - 1);

    const QRect left = rectIn(w, child<QWidget>(w, "groupBox"));
    const QRect right = rectIn(w, child<QWidget>(w, "groupBox_2"));
    QVERIFY2(qAbs(left.width() - right.width()) <= 1, "the two columns share the width equally");
    QVERIFY(left.right() < right.left());

    for (const Card &c : cards) {
        const QString s = str(c.stem);
        if (c.stepper) {
            QCOMPARE(child<QWidget>(w, "pB_" + s + "Minus")->size(), QSize(30, 30));
            QCOMPARE(child<QWidget>(w, "pB_" + s + "Add")->size(), QSize(30, 30));
            // The value field shows no arrow buttons at any width.
            auto *spin = child<QSpinBox>(w, "spinBox_" + s);
            QStyleOptionSpinBox opt;
            opt.initFrom(spin);
            opt.subControls = QStyle::SC_All;
            opt.buttonSymbols = spin->buttonSymbols();
            opt.frame = spin->hasFrame();
            QCOMPARE(spin->style()
                         ->subControlRect(QStyle::CC_SpinBox, &opt, QStyle::SC_SpinBoxUp, spin)
                         .width(),
                     0);
            QCOMPARE(spin->style()
                         ->subControlRect(QStyle::CC_SpinBox, &opt, QStyle::SC_SpinBoxDown, spin)
                         .width(),
                     0);
        } else {
            QCOMPARE(child<QWidget>(w, "cB_" + s)->size(), QSize(30, 30));
        }
    }
}

void TestForm::windowSheetSelectsByName_data()
{
    QTest::addColumn<QString>("nameBefore");
    QTest::addColumn<QString>("nameAfter");
    QTest::addColumn<bool>("black");
    QTest::newRow("unnamed window") << QString() << "Widget" << true;
    QTest::newRow("window named Other") << "Other"
                                        << "Other" << false;
}

void TestForm::windowSheetSelectsByName()
{
    QFETCH(QString, nameBefore);
    QFETCH(QString, nameAfter);
    QFETCH(bool, black);
    QWidget host;
    host.setObjectName(nameBefore);
    Ui_Widget form;
    form.setupUi(&host);
    QCOMPARE(host.objectName(), nameAfter);
    QCOMPARE(host.styleSheet(), windowSheet);
    host.show();
    QVERIFY(QTest::qWaitForWindowExposed(&host));
    settle(host);
    // A point in the window's own margin, left of the parameter panels.
    const QRect panel = rectIn(host, form.groupBox);
    const QPoint margin(panel.left() / 2, panel.center().y());
    const QColor got = host.grab().toImage().pixelColor(margin);
    QCOMPARE(got == QColor(0, 0, 0), black);
}

void TestForm::windowMetaObject_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QByteArray>("signature");
    QTest::newRow("0") << 0 << QByteArray("on_comboBox_Port_textActivated(QString)");
    QTest::newRow("1") << 1 << QByteArray("on_pB_ReadParameter_clicked()");
    QTest::newRow("2") << 2 << QByteArray("on_pB_WriteParameter_clicked()");
    QTest::newRow("3") << 3 << QByteArray("on_pB_OpenParameter_clicked()");
    QTest::newRow("4") << 4 << QByteArray("on_pB_SaveParameter_clicked()");
    QTest::newRow("5") << 5 << QByteArray("serialDataRead()");
}

void TestForm::windowMetaObject()
{
    QFETCH(int, index);
    QFETCH(QByteArray, signature);
    const QMetaObject &mo = Widget::staticMetaObject;
    QCOMPARE(QByteArray(mo.className()), QByteArray("Widget"));
    QCOMPARE(mo.superClass(), &QWidget::staticMetaObject);
    QCOMPARE(mo.methodCount() - mo.methodOffset(), 6);
    QCOMPARE(mo.propertyCount(), mo.propertyOffset());
    QCOMPARE(mo.enumeratorCount(), mo.enumeratorOffset());
    QCOMPARE(mo.classInfoCount(), mo.classInfoOffset());
    const QMetaMethod m = mo.method(mo.methodOffset() + index);
    QCOMPARE(m.methodSignature(), signature);
    QCOMPARE(m.methodType(), QMetaMethod::Slot);
    QCOMPARE(m.access(), QMetaMethod::Private);
    QCOMPARE(m.returnType(), int(QMetaType::Void));
}

void TestForm::stepperAndSelectorMetaObjects()
{
    const QMetaObject &spin = MySpinBox::staticMetaObject;
    QCOMPARE(QByteArray(spin.className()), QByteArray("MySpinBox"));
    QCOMPARE(spin.superClass(), &QSpinBox::staticMetaObject);
    QCOMPARE(spin.methodCount() - spin.methodOffset(), 2);
    QCOMPARE(spin.propertyCount(), spin.propertyOffset());
    QCOMPARE(spin.classInfoCount(), spin.classInfoOffset());
    const char *const names[] = {"addData()", "minusData()"};
    for (int i = 0; i < 2; ++i) {
        const QMetaMethod m = spin.method(spin.methodOffset() + i);
        QCOMPARE(m.methodSignature(), QByteArray(names[i]));
        QCOMPARE(m.methodType(), QMetaMethod::Slot);
        QCOMPARE(m.access(), QMetaMethod::Public);
    }

    const QMetaObject &combo = MyComboBox::staticMetaObject;
    QCOMPARE(QByteArray(combo.className()), QByteArray("MyComboBox"));
    QCOMPARE(combo.superClass(), &QComboBox::staticMetaObject);
    QCOMPARE(combo.methodCount(), combo.methodOffset());
    QCOMPARE(combo.propertyCount(), combo.propertyOffset());
}

void TestForm::actionButtonsRunTheirSlotOnce_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("write");
    QTest::newRow("pB_ReadParameter") << "pB_ReadParameter" << false;
    QTest::newRow("pB_WriteParameter") << "pB_WriteParameter" << true;
}

void TestForm::actionButtonsRunTheirSlotOnce()
{
    QFETCH(QString, button);
    QFETCH(bool, write);
    Widget w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto *b = child<QPushButton>(w, button);
    auto *log = child<QTextBrowser>(w, "textBrowser_StateShow");
    auto *combo = child<QComboBox>(w, "comboBox_Port");
    QVERIFY(b && log && combo);

    // No port chosen yet: the click does nothing at all.
    QTest::mouseClick(b, Qt::LeftButton);
    QCoreApplication::processEvents();
    QCOMPARE(log->toPlainText(), QString());

    TestLine pty;
    QString error;
    if (!pty.open(&error))
        QSKIP(qPrintable("no line for the servo programmer: " + error));
    emit combo->textActivated(pty.slavePath());
    QCOMPARE(log->document()->blockCount(), 1);
    QVERIFY2(log->toPlainText().contains(QLatin1String("Open successfully")),
             qPrintable(log->toPlainText()));

    // One click, one frame: a second connection would send it twice. The
    // port writes from the event loop; once it holds nothing more, all it was
    // given is on its way, however long the machine took.
    QTest::mouseClick(b, Qt::LeftButton);
    auto *port = w.findChild<QSerialPort *>();
    QVERIFY(port);
    QTRY_VERIFY_WITH_TIMEOUT(port->bytesToWrite() == 0, 20000);
    QByteArray sent = pty.readExactly(20, 20000);
    sent += pty.read(200);
    QCOMPARE(sent.size(), 20);
    QCOMPARE(quint8(sent.at(0)), quint8(0x55));
    QCOMPARE(bool(quint8(sent.at(3)) & 0x02), write);
    QCOMPARE(log->document()->blockCount(), 1);
}

void TestForm::portSelectorLists()
{
    const QStringList ports = currentPortList();
    MyComboBox alone(nullptr);
    QCOMPARE(itemTexts(&alone), ports);
    QCOMPARE(alone.currentIndex(), 0);

    Widget w;
    auto *combo = child<QComboBox>(w, "comboBox_Port");
    QVERIFY(combo);
    QCOMPARE(itemTexts(combo), ports);
    QCOMPARE(combo->currentIndex(), 0);
    QCOMPARE(combo->currentText(), QString());
    for (int i = 0; i < combo->count(); ++i) {
        QVERIFY(combo->itemIcon(i).isNull());
        QVERIFY(!combo->itemData(i, Qt::UserRole).isValid());
    }
}

void TestForm::pressOnSelector_data()
{
    QTest::addColumn<int>("button");
    QTest::addColumn<bool>("rescans");
    QTest::newRow("left") << int(Qt::LeftButton) << true;
    QTest::newRow("right") << int(Qt::RightButton) << false;
    QTest::newRow("middle") << int(Qt::MiddleButton) << false;
}

void TestForm::pressOnSelector()
{
    QFETCH(int, button);
    QFETCH(bool, rescans);
    Widget w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto *combo = child<QComboBox>(w, "comboBox_Port");
    auto *log = child<QTextBrowser>(w, "textBrowser_StateShow");
    QVERIFY(combo && log);

    // Make the list differ from what a scan yields.
    combo->addItem(QStringLiteral("X"));
    combo->setCurrentIndex(combo->count() - 1);
    const QStringList before = itemTexts(combo);
    QSignalSpy activated(combo, &QComboBox::textActivated);

    QTest::mousePress(combo, Qt::MouseButton(button));
    combo->hidePopup();
    QTest::mouseRelease(combo, Qt::MouseButton(button));

    if (rescans) {
        QCOMPARE(itemTexts(combo), currentPortList());
        QCOMPARE(combo->currentIndex(), 0);
    } else {
        QCOMPARE(itemTexts(combo), before);
        QCOMPARE(combo->currentText(), QStringLiteral("X"));
    }
    QCOMPARE(activated.count(), 0);
    QCOMPARE(log->toPlainText(), QString());
}

void TestForm::resourceImages_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("imageFormat");
    const int rgba = QImage::Format_ARGB32;
    const int rgb = QImage::Format_RGB32;
    QTest::newRow("000_Set.png") << ":/ICON/000_Set.png" << QByteArray("png") << QSize(200, 200)
                                 << rgba;
    QTest::newRow("002_jian.png") << ":/ICON/002_jian.png" << QByteArray("png") << QSize(200, 200)
                                  << rgba;
    QTest::newRow("003_jia.png") << ":/ICON/003_jia.png" << QByteArray("png") << QSize(200, 200)
                                 << rgba;
    QTest::newRow("005_.png") << ":/ICON/005_.png" << QByteArray("png") << QSize(450, 450) << rgba;
    QTest::newRow("006_.png") << ":/ICON/006_.png" << QByteArray("png") << QSize(450, 450) << rgba;
    QTest::newRow("007.png") << ":/ICON/007.png" << QByteArray("png") << QSize(400, 200) << rgba;
    QTest::newRow("008.jpg") << ":/ICON/008.jpg" << QByteArray("jpeg") << QSize(140, 140) << rgb;
    QTest::newRow("009.jpg") << ":/ICON/009.jpg" << QByteArray("jpeg") << QSize(290, 60) << rgb;
}

void TestForm::resourceImages()
{
    QFETCH(QString, path);
    QFETCH(QByteArray, format);
    QFETCH(QSize, size);
    QFETCH(int, imageFormat);
    QResource res(path);
    QVERIFY(res.isValid());
    QCOMPARE(res.compressionAlgorithm(), QResource::NoCompression);
    QImageReader reader(path);
    QVERIFY2(reader.canRead(), qPrintable(reader.errorString()));
    QCOMPARE(reader.format(), format);
    QCOMPARE(reader.size(), size);
    QCOMPARE(int(reader.imageFormat()), imageFormat);
    const QImage img = reader.read();
    QVERIFY(!img.isNull());
    QCOMPARE(img.size(), size);
}

void TestForm::windowIcon()
{
    Widget w;
    const QIcon icon = w.windowIcon();
    QVERIFY(!icon.isNull());
    QCOMPARE(icon.availableSizes(), QList<QSize>{QSize(200, 200)});
    // Both premultiplied, as a pixmap holds them: premultiplying rounds by one
    // level differently on each processor's SIMD path, so partly transparent
    // pixels may differ by that much.
    const QImage expected =
        QImage(":/ICON/000_Set.png").convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QImage shown =
        icon.pixmap(QSize(200, 200)).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QCOMPARE(shown.size(), expected.size());
    int differing = 0;
    for (int y = 0; y < expected.height(); ++y)
        for (int x = 0; x < expected.width(); ++x) {
            const QRgb a = expected.pixel(x, y), b = shown.pixel(x, y);
            const int slack = qAlpha(a) == 0 || qAlpha(a) == 255 ? 0 : 1;
            if (qAlpha(a) != qAlpha(b) || qAbs(qRed(a) - qRed(b)) > slack ||
                qAbs(qGreen(a) - qGreen(b)) > slack || qAbs(qBlue(a) - qBlue(b)) > slack)
                ++differing;
        }
    QCOMPARE(differing, 0);
}

namespace {

QColor meanColour(const QImage &img, const QRect &r)
{
    qint64 red = 0, green = 0, blue = 0, n = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x) {
            const QRgb p = img.pixel(x, y);
            red += qRed(p);
            green += qGreen(p);
            blue += qBlue(p);
            ++n;
        }
    return n ? QColor(int(red / n), int(green / n), int(blue / n)) : QColor();
}

// The colour most pixels of the rectangle have: a widget's ground, whatever
// font its text is drawn in.
QColor groundColour(const QImage &img, const QRect &r)
{
    QHash<QRgb, int> counts;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            ++counts[img.pixel(x, y)];
    QRgb best = 0;
    int most = 0;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        if (it.value() > most) {
            best = it.key();
            most = it.value();
        }
    return QColor::fromRgb(best);
}

bool closeTo(const QColor &a, const QColor &b, int tolerance)
{
    return qAbs(a.red() - b.red()) <= tolerance && qAbs(a.green() - b.green()) <= tolerance &&
        qAbs(a.blue() - b.blue()) <= tolerance;
}

} // namespace

void TestForm::lookOnScreen_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QString>("file");
    QTest::newRow("600x676") << QSize(600, 676) << "screenshot.png";
    QTest::newRow("1000x800") << QSize(1000, 800) << "screenshot-wide.png";
}

void TestForm::lookOnScreen()
{
    QFETCH(QSize, size);
    QFETCH(QString, file);
    Widget w;
    w.resize(size);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    settle(w);
    QCOMPARE(w.size(), size);
    const QImage img = w.grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(img.size(), size);
    const QString path = QCoreApplication::applicationDirPath() + QLatin1Char('/') + file;
    QVERIFY(img.save(path));
    qInfo("window picture: %s", qPrintable(path));

    // A point halfway between a widget's left edge and its parent's, at the
    // widget's vertical centre, shows the parent's ground.
    auto beside = [&](const char *name) {
        QWidget *c = child<QWidget>(w, name);
        const QRect r = rectIn(w, c);
        const QRect p = c->parentWidget() == &w ? w.rect() : rectIn(w, c->parentWidget());
        return QPoint((p.left() + r.left()) / 2, r.center().y());
    };
    // A point in the free space of a card: the middle of its spacer.
    auto inCard = [&](const Card &c) {
        QWidget *box = child<QWidget>(w, QStringLiteral("groupBox_") + str(c.stem));
        auto *g = qobject_cast<QGridLayout *>(box->layout());
        return box->mapTo(&w, g->itemAtPosition(0, 1)->geometry().center());
    };

    const QColor black(0, 0, 0), panel(46, 46, 46), card(66, 66, 66);
    struct Probe
    {
        const char *what;
        QPoint at;
        QColor colour;
    };
    QVector<Probe> probes{
        {"window margin beside groupBox", beside("groupBox"), black},
        {"window margin beside groupBox_5", beside("groupBox_5"), black},
        {"panel groupBox", beside("groupBox_TorqueGain"), panel},
        {"panel groupBox_2", beside("groupBox_NeutralPoint"), panel},
        {"panel groupBox_3", beside("groupBox_MAXDuty"), panel},
        {"panel groupBox_4", beside("groupBox_SoftStart"), panel},
        {"panel groupBox_5", beside("pB_ReadParameter"), panel},
    };
    for (const Card &c : cards)
        probes.push_back({c.stem, inCard(c), card});
    for (const Probe &p : probes) {
        QVERIFY2(img.rect().contains(p.at), p.what);
        const QColor got = img.pixelColor(p.at);
        QVERIFY2(got.rgb() == p.colour.rgb(),
                 qPrintable(QStringLiteral("%1 at (%2,%3): %4, expected %5")
                                .arg(QLatin1String(p.what))
                                .arg(p.at.x())
                                .arg(p.at.y())
                                .arg(got.name(), p.colour.name())));
    }
    // Where text lies depends on the font the machine substitutes, so the
    // buttons and the log are judged by their ground, the commonest colour.
    const struct
    {
        const char *name;
        QColor colour;
    } grounds[] = {{"pB_ReadParameter", QColor(5, 136, 218)},
                   {"pB_WriteParameter", QColor(5, 136, 218)},
                   {"pB_OpenParameter", QColor(6, 91, 172)},
                   {"pB_SaveParameter", QColor(6, 91, 172)},
                   {"textBrowser_StateShow", card}};
    for (const auto &g : grounds) {
        const QColor got = groundColour(img, rectIn(w, child<QWidget>(w, g.name)));
        QVERIFY2(got.rgb() == g.colour.rgb(),
                 qPrintable(QStringLiteral("%1: %2, expected %3")
                                .arg(QLatin1String(g.name), got.name(), g.colour.name())));
    }

    // The banner and the badge show their pictures, stretched over the whole
    // widget: the mean colour matches that of the image file.
    const struct
    {
        const char *name;
        const char *image;
    } pictures[] = {{"widget", ":/ICON/009.jpg"}, {"widget_2", ":/ICON/008.jpg"}};
    for (const auto &pic : pictures) {
        const QImage source(QString::fromLatin1(pic.image));
        const QColor want = meanColour(source, source.rect());
        const QColor got = meanColour(img, rectIn(w, child<QWidget>(w, pic.name)));
        QVERIFY2(closeTo(got, want, 8),
                 qPrintable(QStringLiteral("%1: mean %2, image mean %3")
                                .arg(QLatin1String(pic.name), got.name(), want.name())));
    }
}

void TestForm::checkBoxIndicatorSwaps_data()
{
    QTest::addColumn<QString>("stem");
    for (const Card &c : cards)
        if (!c.stepper)
            QTest::newRow(c.stem) << str(c.stem);
}

void TestForm::checkBoxIndicatorSwaps()
{
    QFETCH(QString, stem);
    Widget w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    settle(w);
    auto *card = child<QWidget>(w, "groupBox_" + stem);
    auto *box = child<QCheckBox>(w, "cB_" + stem);
    QVERIFY(card && box);
    const QImage off = card->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QTest::mouseClick(box, Qt::LeftButton, Qt::NoModifier, box->rect().center());
    QVERIFY(box->isChecked());
    const QImage on = card->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(on.size(), off.size());

    // Only pixels of the check box itself change, and some of them do.
    const QRect boxRect(box->mapTo(card, QPoint(0, 0)), box->size());
    int changedInside = 0, changedOutside = 0;
    for (int y = 0; y < on.height(); ++y)
        for (int x = 0; x < on.width(); ++x)
            if (on.pixel(x, y) != off.pixel(x, y))
                ++(boxRect.contains(x, y) ? changedInside : changedOutside);
    QVERIFY(changedInside > 20);
    QCOMPARE(changedOutside, 0);

    QTest::mouseClick(box, Qt::LeftButton, Qt::NoModifier, box->rect().center());
    QVERIFY(!box->isChecked());
    QCOMPARE(card->grab().toImage().convertToFormat(QImage::Format_RGB32), off);
}

void TestForm::informationWithoutDisplay_data()
{
    QTest::addColumn<QString>("argument");
    QTest::addColumn<QString>("printed"); // a pattern of standard output
    QTest::newRow("--version") << "--version"
                               << "^servo-tool \\d+\\.\\d+\r?\n$";
    QTest::newRow("--help") << "--help"
                            << "^Usage: servo-tool .*\r?\n  --version ";
    QTest::newRow("-h") << "-h"
                        << "^Usage: servo-tool ";
}

// The program prints and ends before it asks for a display, and without
// opening the window.
void TestForm::informationWithoutDisplay()
{
    QFETCH(QString, argument);
    QFETCH(QString, printed);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
#ifndef Q_OS_WIN // under Wine the display is Wine's own business
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
#endif
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(buildProgram(QStringLiteral("servo-tool")), {argument});
    const bool ended = process.waitForFinished(30000);
    if (!ended) {
        process.kill();
        process.waitForFinished();
    }
    QVERIFY2(ended, "still running: it opened the window");
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
    const QString out = QString::fromLocal8Bit(process.readAllStandardOutput());
    QVERIFY2(QRegularExpression(printed, QRegularExpression::DotMatchesEverythingOption)
                 .match(out)
                 .hasMatch(),
             qPrintable(out));
}

QTEST_MAIN(TestForm)
#include "tst_form.moc"
