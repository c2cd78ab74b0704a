// The Windows programs as a user gets them: started from the folder the zip
// or the installer made (SERVO_DEPLOYED), with nothing on PATH but Windows'
// own folders, so that each loads only the DLLs and plugins beside it. Run
// under Wine by the checks of the Windows packages (packaging/windows.cmake).
#include "tests/deployed.h"
#include "tests/testline.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QtTest>

#include <windows.h>

class TestDeployed : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void starts_data();
    void starts();
    void versionInformation_data();
    void versionInformation();
    void windowIcon_data();
    void windowIcon();
    void windowOnScreen_data();
    void windowOnScreen();

private:
    QString program(const QString &name) const { return m_folder.filePath(name + ".exe"); }
    QProcessEnvironment environment(const QStringList &settings) const;

    QDir m_folder;
};

void TestDeployed::initTestCase()
{
    const QString folder = qEnvironmentVariable("SERVO_DEPLOYED");
    QVERIFY2(!folder.isEmpty(), "SERVO_DEPLOYED names no folder of deployed programs");
    m_folder.setPath(folder);
    QVERIFY2(m_folder.exists(), qPrintable(folder));
}

// This process's environment, with Windows' own folders alone on PATH and
// no Qt settings, then the given NAME=value settings.
QProcessEnvironment TestDeployed::environment(const QStringList &settings) const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString &name : env.keys())
        if (name.startsWith(QLatin1String("QT_")) ||
            name.compare(QLatin1String("WINEPATH"), Qt::CaseInsensitive) == 0)
            env.remove(name);
    const QString windows = env.value(QStringLiteral("SystemRoot"), QStringLiteral("C:\\windows"));
    env.insert(QStringLiteral("PATH"), windows + QStringLiteral("\\system32;") + windows);
    for (const QString &setting : settings)
        env.insert(setting.section(QLatin1Char('='), 0, 0), setting.section(QLatin1Char('='), 1));
    return env;
}

void TestDeployed::starts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("settings");
    QTest::addColumn<QString>("expected"); // a pattern of the output
    QTest::addColumn<bool>("ends");

    QTest::newRow("servo-cli --help")
        << "servo-cli" << QStringList{"--help"} << QStringList() << "^Usage: servo-cli" << true;
    QTest::newRow("servo-sim --help")
        << "servo-sim" << QStringList{"--help"} << QStringList() << "^Usage: .*servo-sim" << true;
    QTest::newRow("servo-tool --version") << "servo-tool" << QStringList{"--version"}
                                          << QStringList() << "^servo-tool \\d+\\.\\d+" << true;
    QTest::newRow("servo-bench --help")
        << "servo-bench" << QStringList{"--help"} << QStringList() << "^Usage: servo-bench" << true;
    QTest::newRow("servo-bench --version") << "servo-bench" << QStringList{"--version"}
                                           << QStringList() << "^servo-bench \\d+\\.\\d+" << true;
    // The offscreen platform is not deployed: it comes from the SDK. The
    // first flush of a main window shows that the window is on its screen.
    const QStringList offscreen{
        "QT_QPA_PLATFORM=offscreen",
        "QT_QPA_PLATFORM_PLUGIN_PATH=" + qEnvironmentVariable("SERVO_QT_PLATFORMS"),
        "QT_QPA_FONTDIR=" + qEnvironmentVariable("QT_QPA_FONTDIR"), "QT_FORCE_STDERR_LOGGING=1",
        "QT_LOGGING_RULES=qt.widgets.painting=true"};
    QTest::newRow("servo-tool, offscreen")
        << "servo-tool" << QStringList() << offscreen
        << R"(Flushing .* of Widget\(0x[0-9a-f]+, name="Widget"\))" << false;
    QTest::newRow("servo-bench, offscreen")
        << "servo-bench" << QStringList() << offscreen
        << R"(Flushing .* of Servo::BenchWindow\(0x[0-9a-f]+, name="BenchWindow"\))" << false;
}

void TestDeployed::starts()
{
    QFETCH(QString, name);
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, settings);
    QFETCH(QString, expected);
    QFETCH(bool, ends);

    QProcess process;
    process.setProcessEnvironment(environment(settings));
    process.setWorkingDirectory(m_folder.path());
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program(name), arguments);
    QVERIFY2(process.waitForStarted(), qPrintable(process.errorString()));
    auto stop = qScopeGuard([&process] {
        process.kill();
        process.waitForFinished();
    });
    const QRegularExpression pattern(expected, QRegularExpression::MultilineOption);
    QByteArray output;
    QTRY_VERIFY2_WITH_TIMEOUT((output += process.readAll(),
                               pattern.match(QString::fromUtf8(output)).hasMatch() &&
                                   (!ends || process.state() == QProcess::NotRunning)),
                              output.right(2000).constData(), 60000);
    if (ends) {
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
    } else {
        QCOMPARE(process.state(), QProcess::Running);
    }
}

void TestDeployed::versionInformation_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("servo-tool") << "servo-tool";
    QTest::newRow("servo-bench") << "servo-bench";
    QTest::newRow("servo-cli") << "servo-cli";
    QTest::newRow("servo-sim") << "servo-sim";
}

void TestDeployed::versionInformation()
{
    QFETCH(QString, name);
    const std::wstring path = QDir::toNativeSeparators(program(name)).toStdWString();
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), nullptr);
    QVERIFY2(size > 0, "no version information");
    QByteArray data(int(size), '\0');
    QVERIFY(GetFileVersionInfoW(path.c_str(), 0, size, data.data()));
    void *value = nullptr;
    UINT length = 0;
    QVERIFY(VerQueryValueW(data.constData(), L"\\StringFileInfo\\040904B0\\FileVersion", &value,
                           &length));
    QCOMPARE(QString::fromWCharArray(static_cast<const wchar_t *>(value)),
             QStringLiteral(SERVO_VERSION));
}

// The images of a program's icon IDI_ICON1 (empty when it has none), as its
// icon group lists them.
static QList<QByteArray> iconImages(const QString &path)
{
    QList<QByteArray> images;
    const std::wstring file = QDir::toNativeSeparators(path).toStdWString();
    const HMODULE module = LoadLibraryExW(file.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module)
        return images;
    auto unload = qScopeGuard([module] { FreeLibrary(module); });
    const HRSRC group = FindResourceW(module, L"IDI_ICON1", MAKEINTRESOURCEW(14)); // RT_GROUP_ICON
    if (!group)
        return images;
    // reserved, type, count; then 14 bytes for each image, its id last
    const auto *header = static_cast<const uchar *>(LockResource(LoadResource(module, group)));
    const DWORD size = SizeofResource(module, group);
    const int count = header && size >= 6 ? header[4] | header[5] << 8 : 0;
    for (int i = 0; i < count && 6 + 14 * DWORD(i + 1) <= size; ++i) {
        const uchar *entry = header + 6 + 14 * i;
        const WORD id = WORD(entry[12] | entry[13] << 8);
        const HRSRC image =
            FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(3)); // RT_ICON
        const char *data =
            image ? static_cast<const char *>(LockResource(LoadResource(module, image))) : nullptr;
        images << (data ? QByteArray(data, int(SizeofResource(module, image))) : QByteArray());
    }
    return images;
}

void TestDeployed::windowIcon_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("images"); // in its icon file in packaging/windows/
    QTest::addColumn<QString>("other"); // the other window, whose icon is another
    QTest::newRow("servo-tool") << "servo-tool" << SERVO_ICON_IMAGES << "servo-bench";
    QTest::newRow("servo-bench") << "servo-bench" << SERVO_BENCH_ICON_IMAGES << "servo-tool";
}

// A window's icon, IDI_ICON1, with every image of its drawn icon file, none
// of them the other window's.
void TestDeployed::windowIcon()
{
    QFETCH(QString, name);
    QFETCH(int, images);
    QFETCH(QString, other);
    const QList<QByteArray> icon = iconImages(program(name));
    QCOMPARE(icon.size(), images);
    const QList<QByteArray> others = iconImages(program(other));
    QVERIFY(!others.isEmpty());
    for (const QByteArray &image : icon) {
        QVERIFY(!image.isEmpty());
        QVERIFY2(!others.contains(image), qPrintable(other + " has the same image"));
    }
}

void TestDeployed::windowOnScreen_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("title");
    QTest::newRow("servo-tool") << "servo-tool" << QStringLiteral(SERVO_WINDOW_TITLE);
    QTest::newRow("servo-bench") << "servo-bench" << QStringLiteral(SERVO_BENCH_WINDOW_TITLE);
}

// On the windows platform (under Wine, an X display), the window appears
// with its title.
void TestDeployed::windowOnScreen()
{
    QFETCH(QString, name);
    QFETCH(QString, title);
    if (underWine() && qEnvironmentVariableIsEmpty("DISPLAY"))
        QSKIP("under Wine the windows platform needs an X display: run the tests under xvfb-run");
    QProcess process;
    process.setProcessEnvironment(environment({}));
    process.setWorkingDirectory(m_folder.path());
    process.start(program(name), QStringList());
    QVERIFY2(process.waitForStarted(), qPrintable(process.errorString()));
    auto stop = qScopeGuard([&process] {
        process.kill();
        process.waitForFinished();
    });
    const std::wstring wanted = title.toStdWString();
    const auto shown = [&] {
        const HWND window = FindWindowW(nullptr, wanted.c_str());
        DWORD owner = 0;
        if (window)
            GetWindowThreadProcessId(window, &owner);
        return window && IsWindowVisible(window) && owner == DWORD(process.processId());
    };
    QTRY_VERIFY_WITH_TIMEOUT(shown(), 60000);
}

QTEST_GUILESS_MAIN(TestDeployed)
#include "tst_deployed.moc"
