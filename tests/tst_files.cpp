// Save and Open through the real window, with the file dialogs answered the
// way a user would: pick a file and accept, or cancel.
#include "files/parameterfile.h"
#include "tests/pipewatch.h"
#include "tests/filenodes.h"
#include "tests/windowdriver.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QTemporaryDir>
#include <QTimer>
#include <QLineEdit>
#include <QtTest>

#include <csignal>
#include <functional>
#include <memory>
#ifndef Q_OS_WIN
#include <sys/resource.h>
#else
#include <windows.h>
#endif

using namespace Servo;

Q_DECLARE_METATYPE(Servo::Values)

namespace {

const QString savedOk = QStringLiteral("参数已成功保存  Saved successfully");
const QString saveFailed = QStringLiteral("参数保存失败  Save failed");
const QString loadedOk = QStringLiteral("参数载入成功  Loading successful");
const QString loadFailed = QStringLiteral("参数载入失败  Loading failed");

struct DialogSeen
{
    bool shown = false;
    QString caption;
    QStringList filters;
    QString directory;
    QFileDialog::AcceptMode mode = QFileDialog::AcceptOpen;
};

// Waits for the modal file dialog that the next click opens and answers it:
// with a path it selects that file and accepts, with an empty path it
// cancels. beforeAccept runs just before the answer.
void answerDialog(DialogSeen *seen, const QString &path, std::function<void()> beforeAccept = {})
{
    auto *poll = new QTimer;
    poll->setInterval(20);
    auto tries = std::make_shared<int>(0);
    QObject::connect(poll, &QTimer::timeout, [=] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        if (!seen->shown) {
            seen->shown = true;
            seen->caption = dialog->windowTitle();
            seen->filters = dialog->nameFilters();
            seen->directory = dialog->directory().absolutePath();
            seen->mode = dialog->acceptMode();
        }
        if (!path.isEmpty()) {
            // Typed into the name field as a user would; selectFile() depends on
            // the dialog having listed the folder, which it does in the
            // background.
            auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
            if (!name)
                return;
            name->setText(path);
            if (dialog->selectedFiles() != QStringList{path} &&
                ++*tries < 1000) // 20 s: a hang only
                return;
        }
        poll->stop();
        poll->deleteLater();
        if (path.isEmpty()) {
            dialog->reject();
            return;
        }
        if (beforeAccept)
            beforeAccept();
        // done() rather than accept(): the path is taken as given, without
        // the overwrite question or the check that its folder exists.
        static_cast<QDialog *>(dialog)->done(QDialog::Accepted);
    });
    poll->start();
}

#ifdef Q_OS_WIN
BOOL CALLBACK findOwnDialog(HWND window, LPARAM found)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    wchar_t name[16] = {};
    GetClassNameW(window, name, 16);
    if (pid != GetCurrentProcessId() || !IsWindowVisible(window) || wcscmp(name, L"#32770") != 0)
        return TRUE;
    *reinterpret_cast<HWND *>(found) = window;
    return FALSE;
}

BOOL CALLBACK findNameField(HWND window, LPARAM found)
{
    wchar_t name[16] = {};
    GetClassNameW(window, name, 16);
    if (!IsWindowVisible(window) || wcscmp(name, L"Edit") != 0)
        return TRUE;
    *reinterpret_cast<HWND *>(found) = window;
    return FALSE;
}

// Answers Windows' own file dialog, which the windows platform shows instead
// of Qt's: types path into its name field and presses its default button, as
// a user would. Its title goes to *caption.
void answerSystemDialog(QString *caption, const QString &path)
{
    auto *poll = new QTimer;
    poll->setInterval(50);
    auto tries = std::make_shared<int>(0);
    QObject::connect(poll, &QTimer::timeout, [=] {
        HWND dialog = nullptr, name = nullptr;
        EnumWindows(findOwnDialog, LPARAM(&dialog));
        if (dialog)
            EnumChildWindows(dialog, findNameField, LPARAM(&name));
        if (!name && ++*tries < 400) // 20 s: a hang only
            return;
        poll->stop();
        poll->deleteLater();
        if (!name)
            return;
        wchar_t title[128] = {};
        GetWindowTextW(dialog, title, 128);
        *caption = QString::fromWCharArray(title);
        SetWindowTextW(name,
                       reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(path).utf16()));
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                     LPARAM(GetDlgItem(dialog, IDOK)));
    });
    poll->start();
}
#endif

// The dialogs start in "/home/". Windows completes that with the drive of
// the current folder (C:/home, which seldom exists); Wine takes a path with
// forward slashes for a Unix one, Z:/home.
QString startFolder()
{
#ifdef Q_OS_WIN
    return QFileInfo(QStringLiteral("/home/")).absolutePath();
#else
    return QStringLiteral("/home");
#endif
}

QByteArray contents(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void writeFile(const QString &path, const QByteArray &data)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(data);
}

} // namespace

class TestFiles : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void saveDialogAndContent_data();
    void saveDialogAndContent();
    void load_data();
    void load();
    void loadNotAFile_data();
    void loadNotAFile();
    void roundTripEveryControl_data();
    void roundTripEveryControl();
    void cancel_data();
    void cancel();
    void saveIntoMissingFolder();
    void systemDialogs();
    void failedWriteKeepsOldFile();
    void saveNotAFile_data();
    void saveNotAFile();

private:
    Widget *window = nullptr;
    WindowDriver *ui = nullptr;
    QTemporaryDir *dir = nullptr;
};

void TestFiles::init()
{
    window = new Widget;
    window->show();
    ui = new WindowDriver(window);
    dir = new QTemporaryDir;
}

void TestFiles::cleanup()
{
    delete window;
    delete ui;
    delete dir;
}

void TestFiles::saveDialogAndContent_data()
{
    QTest::addColumn<Values>("values");
    QTest::newRow("0,0,0,0,500,2500,0,1500,0,0,0,0,0,0") << startValues();
    Values v = startValues();
    v[TorqueGain] = 120;
    v[ReversedRotation] = 1;
    v[LOCKProtection] = 1;
    QTest::newRow("120,0,0,0,500,2500,0,1500,0,0,0,1,0,1") << v;
}

void TestFiles::saveDialogAndContent()
{
    QFETCH(Values, values);
    ui->setValues(values);
    const QString path = dir->filePath("params.txt");
    DialogSeen seen;
    answerDialog(&seen, path);
    ui->click("pB_SaveParameter");
    QVERIFY(seen.shown);
    QCOMPARE(seen.caption, QStringLiteral("保存参数"));
    QCOMPARE(seen.filters, QStringList{QStringLiteral("文本类型 (*.txt)")});
    QCOMPARE(seen.directory, startFolder());
    QCOMPARE(seen.mode, QFileDialog::AcceptSave);
    QCOMPARE(contents(path), QByteArray(QTest::currentDataTag()));
    QCOMPARE(ui->messages(), QStringList{savedOk});
}

void TestFiles::load_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<Values>("values");
    QTest::addColumn<QString>("message");

    const Values preset = {1, 2, 3, 4, 600, 700, 7, 800, 9, 10, 11, 1, 1, 1};
    QTest::newRow("beyond the bounds")
        << QByteArray("300,0,0,0,0,9999,0,1500,0,0,0,2,0,0")
        << Values{255, 0, 0, 0, 500, 2500, 0, 1500, 0, 0, 0, 1, 0, 0} << loadedOk;
    QTest::newRow("negative values")
        << QByteArray("-1,-1,-1,-1,-1,-1,-1,-1,-1,-1,-1,-1,0,0")
        << Values{0, 0, 0, 0, 500, 500, 0, 500, 0, 0, 0, 1, 0, 0} << loadedOk;
    QTest::newRow("CR LF and further lines")
        << QByteArray("120,0,0,0,500,2500,0,1500,0,0,0,1,0,1\r\n5,5,5,5,5,5,5,5,5,5,5,0,0,0\r\n")
        << Values{120, 0, 0, 0, 500, 2500, 0, 1500, 0, 0, 0, 1, 0, 1} << loadedOk;
    QTest::newRow("letters count as 0")
        << QByteArray("abc,0,0,0,600,600,0,600,0,0,0,0,x,1")
        << Values{0, 0, 0, 0, 600, 600, 0, 600, 0, 0, 0, 0, 0, 1} << loadedOk;
    QTest::newRow("extra fields ignored")
        << QByteArray("1,1,1,1,501,501,1,501,1,1,1,0,1,0,77,88")
        << Values{1, 1, 1, 1, 501, 501, 1, 501, 1, 1, 1, 0, 1, 0} << loadedOk;
    QTest::newRow("thirteen fields refused")
        << QByteArray("0,0,0,0,500,2500,0,1500,0,0,0,0,0") << preset << loadFailed;
    QTest::newRow("empty file refused") << QByteArray() << preset << loadFailed;
    QTest::newRow("empty first line refused")
        << QByteArray("\n0,0,0,0,500,2500,0,1500,0,0,0,0,0,0") << preset << loadFailed;
    QTest::newRow("over-long first line refused")
        << QByteArray(5000, '1') + ",0,0,0,500,2500,0,1500,0,0,0,0,0,0" << preset << loadFailed;
    QTest::newRow("header row of names refused")
        << QByteArray("TorqueGain,BrakeGain,IntegralGain,IntegralSpeed,MinPulseWidth,MAXPulseWidth,"
                      "Sensitivity,NeutralPoint,MAXDuty,LeftAngleCoefficient,"
                      "RightAngleCoefficient,ReversedRotation,SoftStart,LOCKProtection\r\n"
                      "100,50,20,10,900,2100,2,1500,399,128,128,1,0,1\r\n")
        << preset << loadFailed;
    QTest::newRow("quoted numbers refused")
        << QByteArray("\"100\",\"50\",\"20\",\"10\",\"900\",\"2100\",\"2\",\"1500\",\"399\","
                      "\"128\",\"128\",\"1\",\"0\",\"1\"")
        << preset << loadFailed;
    const Values loaded = {120, 0, 0, 0, 500, 2500, 0, 1500, 0, 0, 0, 1, 0, 1};
    QByteArray utf16le; // as a Windows editor saves "Unicode" text, without its mark
    for (char c : QByteArray("120,0,0,0,500,2500,0,1500,0,0,0,1,0,1"))
        utf16le += QByteArray(1, c) + '\0';
    QTest::newRow("UTF-8 with byte-order mark")
        << QByteArray("\xEF\xBB\xBF"
                      "120,0,0,0,500,2500,0,1500,0,0,0,1,0,1\r\n")
        << loaded << loadedOk;
    QTest::newRow("UTF-16 LE with byte-order mark") << "\xFF\xFE" + utf16le << loaded << loadedOk;
    QTest::newRow("UTF-16 LE without byte-order mark refused") << utf16le << preset << loadFailed;
}

void TestFiles::load()
{
    QFETCH(QByteArray, file);
    QFETCH(Values, values);
    QFETCH(QString, message);
    ui->setValues({1, 2, 3, 4, 600, 700, 7, 800, 9, 10, 11, 1, 1, 1});
    const QString path = dir->filePath("load.txt");
    writeFile(path, file);
    DialogSeen seen;
    answerDialog(&seen, path);
    ui->click("pB_OpenParameter");
    QVERIFY(seen.shown);
    QCOMPARE(seen.caption, QStringLiteral("打开参数"));
    QCOMPARE(seen.filters, QStringList{QStringLiteral("文本类型 (*.txt)")});
    QCOMPARE(seen.directory, startFolder());
    QCOMPARE(seen.mode, QFileDialog::AcceptOpen);
    QCOMPARE(ui->values(), values);
    QCOMPARE(ui->messages(), QStringList{message});
}

void TestFiles::loadNotAFile_data()
{
    QTest::addColumn<QString>("path"); // empty: a named pipe
    QTest::newRow("named pipe") << QString();
    QTest::newRow("/dev/zero") << "/dev/zero";
}

// The window must not wait on a pipe or device: it refuses it unopened.
void TestFiles::loadNotAFile()
{
    SKIP_WITHOUT_SPECIAL_FILES();
    QFETCH(QString, path);
    const Values preset = {1, 2, 3, 4, 600, 700, 7, 800, 9, 10, 11, 1, 1, 1};
    ui->setValues(preset);
    PipeWatch watch(dir->filePath("pipe.txt"));
    QVERIFY(watch.made());
    DialogSeen seen;
    answerDialog(&seen, path.isEmpty() ? dir->filePath("pipe.txt") : path);
    ui->click("pB_OpenParameter");
    QCOMPARE(watch.opened(), 0);
    QVERIFY(seen.shown);
    QCOMPARE(ui->values(), preset);
    QCOMPARE(ui->messages(), QStringList{loadFailed});
}

void TestFiles::roundTripEveryControl_data()
{
    QTest::addColumn<Values>("values");
    QTest::newRow("minimum") << Values{0, 0, 0, 0, 500, 500, 0, 500, 0, 0, 0, 0, 0, 0};
    QTest::newRow("maximum") << Values{255,  255, 255, 255, 2500, 2500, 50,
                                       2500, 399, 255, 255, 1,    1,    1};
    QTest::newRow("mixed") << Values{17, 201, 3, 99, 2000, 1000, 25, 2500, 123, 1, 254, 0, 1, 0};
    QTest::newRow("switches apart") << Values{1, 2, 3, 4, 5000, 0, 60, 1499, 400, 256, -3, 1, 0, 1};
}

void TestFiles::roundTripEveryControl()
{
    QFETCH(Values, values);
    ui->setValues(values);
    const Values shown = ui->values(); // held to the ranges by the controls
    QCOMPARE(shown, clampedToRanges(values));
    const QString path = dir->filePath("round.txt");
    DialogSeen seen;
    answerDialog(&seen, path);
    ui->click("pB_SaveParameter");

    // Every control moves away from what was saved.
    Values other = shown;
    for (int i = 0; i < ParameterCount; ++i) {
        const ParameterInfo &p = parameterInfo(i);
        other[i] = shown[i] == p.minimum ? p.maximum : p.minimum;
    }
    ui->setValues(other);
    QVERIFY(ui->values() != shown);

    answerDialog(&seen, path);
    ui->click("pB_OpenParameter");
    QCOMPARE(ui->messages(), (QStringList{savedOk, loadedOk}));
    QCOMPARE(formatParameterLine(ui->values()), formatParameterLine(shown));
}

void TestFiles::cancel_data()
{
    QTest::addColumn<QByteArray>("button");
    QTest::newRow("save") << QByteArray("pB_SaveParameter");
    QTest::newRow("open") << QByteArray("pB_OpenParameter");
}

void TestFiles::cancel()
{
    QFETCH(QByteArray, button);
    const Values before = ui->values();
    DialogSeen seen;
    answerDialog(&seen, QString());
    ui->click(button.constData());
    QVERIFY(seen.shown);
    QCOMPARE(ui->values(), before);
    QCOMPARE(ui->messages(), QStringList{});
    QCOMPARE(QDir(dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList{});
}

void TestFiles::saveIntoMissingFolder()
{
    DialogSeen seen;
    answerDialog(&seen, dir->filePath("no/such/folder/p.txt"));
    ui->click("pB_SaveParameter");
    QVERIFY(seen.shown);
    QCOMPARE(ui->messages(), QStringList{saveFailed});
    QVERIFY(!QFile::exists(dir->filePath("no")));
}

void TestFiles::failedWriteKeepsOldFile()
{
    const QString path = dir->filePath("old.txt");
    const QByteArray old = "9,9,9,9,900,900,9,900,9,9,9,1,1,1";
    writeFile(path, old);

#ifdef Q_OS_WIN
    // The file is open in another program: the save writes its temporary
    // file, which then cannot replace the held one.
    QFile holder(path);
    QVERIFY(holder.open(QIODevice::ReadOnly));
    DialogSeen seen;
    answerDialog(&seen, path);
    ui->click("pB_SaveParameter");
    holder.close();
#else
    // Root ignores permissions, not the file-size limit: the file opens, the
    // write fails. The limit goes on only for the moment of saving.
    struct rlimit saved;
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    DialogSeen seen;
    answerDialog(&seen, path, [saved] {
        struct rlimit small = saved;
        small.rlim_cur = 10;
        setrlimit(RLIMIT_FSIZE, &small);
    });
    ui->click("pB_SaveParameter");
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
#endif

    QVERIFY(seen.shown);
    QCOMPARE(contents(path), old);
    QCOMPARE(QDir(dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList{"old.txt"});
    QCOMPARE(ui->messages(), QStringList{saveFailed});
}

void TestFiles::saveNotAFile_data()
{
    QTest::addColumn<QString>("target"); // pipe, device (a copy of /dev/null), or a link to one
    QTest::newRow("named pipe") << "pipe";
    QTest::newRow("device file") << "device";
    QTest::newRow("link to a device file") << "link:device";
}

// A save picked onto a named pipe or a device file leaves it as it is, never
// opens it, and says the save failed.
void TestFiles::saveNotAFile()
{
    QFETCH(QString, target);
    const QString node = dir->filePath("node.txt");
    std::unique_ptr<PipeWatch> watch;
    MAKE_PIPE_OR_DEVICE(target.section(QLatin1Char(':'), -1), node, watch);
    QString name = node;
    if (target.startsWith(QLatin1String("link:"))) {
        name = dir->filePath("link.txt");
        QVERIFY(QFile::link(node, name));
    }
    const QString before = nodeKind(node);
    const QStringList entries = allEntries(dir->path());
    const Values values = ui->values();
    DialogSeen seen;
    answerDialog(&seen, name);
    ui->click("pB_SaveParameter");
    if (watch)
        QCOMPARE(watch->opened(), 0);
    QVERIFY(seen.shown);
    QCOMPARE(ui->messages(), QStringList{saveFailed});
    QCOMPARE(nodeKind(node), before);
    QCOMPARE(allEntries(dir->path()), entries);
    QCOMPARE(ui->values(), values);
}

// Save and Open through the dialogs a Windows user gets: Windows' own, which
// the windows platform shows (./setup.sh windows runs this under Xvfb).
void TestFiles::systemDialogs()
{
#ifndef Q_OS_WIN
    QSKIP("Windows' own file dialogs are on Windows");
#else
    if (QGuiApplication::platformName() != QLatin1String("windows"))
        QSKIP("Windows' own file dialogs are on the windows platform (-platform windows)");
    const Values held = {120, 0, 7, 0, 900, 2100, 0, 1500, 0, 0, 0, 1, 0, 1};
    ui->setValues(held);
    const QString path = dir->filePath("through-system-dialog.txt");
    QString caption;
    answerSystemDialog(&caption, path);
    ui->click("pB_SaveParameter");
    QCOMPARE(caption, QStringLiteral("保存参数"));
    QCOMPARE(contents(path), formatParameterLine(held).toLatin1());

    ui->setValues(startValues());
    answerSystemDialog(&caption, path);
    ui->click("pB_OpenParameter");
    QCOMPARE(caption, QStringLiteral("打开参数"));
    QCOMPARE(ui->values(), held);
    QCOMPARE(ui->messages(), (QStringList{savedOk, loadedOk}));
#endif
}

QTEST_MAIN(TestFiles)
#include "tst_files.moc"
