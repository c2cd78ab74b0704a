#include "benchwindow/benchwindow.h"

#include "benchwindow/slotcard.h"
#include "files/parameterfile.h"
#include "files/parametertext.h"
#include "files/programlog.h"
#include "ui/style.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QVariant>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSettings>
#include <QVBoxLayout>

namespace Servo {

namespace {

constexpr int CardColumns = 4;

const char keyJob[] = "bench/job";
const char keyLog[] = "bench/log";
const char keyPorts[] = "bench/ports";
const char keyOff[] = "bench/off";
const char keyMute[] = "bench/mute";

QLabel *caption(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setProperty("look", QStringLiteral("caption"));
    return label;
}

QLabel *field(const QString &name, QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setObjectName(name);
    label->setProperty("look", QStringLiteral("field"));
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

// A field for a file's path: a long path is cut, not the window widened; the
// whole path is its tool tip.
QLabel *pathField(const QString &name, QWidget *parent)
{
    QLabel *label = field(name, parent);
    label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    label->setMinimumWidth(80);
    return label;
}

QPushButton *button(const QString &name, const QString &text, const char *look, QWidget *parent)
{
    auto *b = new QPushButton(text, parent);
    b->setObjectName(name);
    b->setProperty("look", QString::fromLatin1(look));
    b->setMinimumHeight(40);
    return b;
}

} // namespace

BenchWindow::BenchWindow(QWidget *parent)
    : QWidget(parent)
    , m_sound(playBenchSound)
{
    setObjectName(QStringLiteral("BenchWindow"));
    setProperty("look", QStringLiteral("window"));
    setWindowTitle(QStringLiteral("舵机批量编程  Servo Bench"));
    setStyleSheet(toolStyleSheet());
    setAttribute(Qt::WA_StyledBackground, true);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setSpacing(12);
    layout->addWidget(makeJobPanel());

    auto *cardPanel = new QFrame(this);
    cardPanel->setProperty("look", QStringLiteral("panel"));
    auto *cardPanelLayout = new QVBoxLayout(cardPanel);
    auto *scroll = new QScrollArea(cardPanel);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    m_cardArea = new QWidget(scroll);
    m_cardArea->setObjectName(QStringLiteral("cards"));
    m_cardGrid = new QGridLayout(m_cardArea);
    m_cardGrid->setSpacing(10);
    m_noCards = new QLabel(m_cardArea);
    m_noCards->setObjectName(QStringLiteral("noCards"));
    m_noCards->setAlignment(Qt::AlignCenter);
    m_noCards->setWordWrap(true);
    scroll->setWidget(m_cardArea);
    cardPanelLayout->addWidget(scroll);
    layout->addWidget(cardPanel, 1);
    layOutCards();
    setLocked(false);
    showTotals();
    resize(1000, 720);
}

BenchWindow::~BenchWindow()
{
    // The bench goes before the log it writes to.
    m_bench.reset();
}

QWidget *BenchWindow::makeJobPanel()
{
    auto *panel = new QFrame(this);
    panel->setObjectName(QStringLiteral("jobPanel"));
    panel->setProperty("look", QStringLiteral("panel"));
    auto *row = new QHBoxLayout(panel);
    row->setContentsMargins(12, 12, 12, 12);
    row->setSpacing(12);

    // The job: its file, its values and fingerprint.
    auto *jobCard = new QFrame(panel);
    jobCard->setProperty("look", QStringLiteral("card"));
    auto *job = new QGridLayout(jobCard);
    m_chooseJob = button(QStringLiteral("chooseJob"), QStringLiteral("选择参数  Choose Job"),
                         "fileButton", jobCard);
    connect(m_chooseJob, &QPushButton::clicked, this, &BenchWindow::chooseJob);
    m_jobPathLabel = pathField(QStringLiteral("jobPath"), jobCard);
    m_fingerprint = field(QStringLiteral("fingerprint"), jobCard);
    m_jobMessage = new QLabel(jobCard);
    m_jobMessage->setObjectName(QStringLiteral("jobMessage"));
    m_jobMessage->setWordWrap(true);
    job->addWidget(caption(QStringLiteral("参数文件  Job"), jobCard), 0, 0);
    job->addWidget(m_jobPathLabel, 0, 1, 1, 3);
    job->addWidget(m_chooseJob, 0, 4, 1, 2);
    job->addWidget(caption(QStringLiteral("指纹  Fingerprint"), jobCard), 1, 0);
    job->addWidget(m_fingerprint, 1, 1);
    job->addWidget(m_jobMessage, 1, 2, 1, 4);
    constexpr int valueRows = (ParameterCount + 2) / 3;
    for (int i = 0; i < ParameterCount; ++i) {
        const ParameterInfo &info = parameterInfo(i);
        auto *name = caption(QString::fromUtf8(info.chinese) + QLatin1Char('\n') +
                                 QString::fromLatin1(info.english),
                             jobCard);
        QLabel *value = field(QStringLiteral("value:") + parameterKey(i), jobCard);
        value->setMinimumWidth(48);
        value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        m_valueFields.insert(i, value);
        job->addWidget(name, 2 + i % valueRows, 2 * (i / valueRows));
        job->addWidget(value, 2 + i % valueRows, 2 * (i / valueRows) + 1);
    }
    row->addWidget(jobCard, 3);

    // The log, the totals and the controls of the run.
    auto *runCard = new QFrame(panel);
    runCard->setProperty("look", QStringLiteral("card"));
    auto *run = new QGridLayout(runCard);
    m_chooseLog = button(QStringLiteral("chooseLog"), QStringLiteral("选择记录  Choose Log"),
                         "fileButton", runCard);
    connect(m_chooseLog, &QPushButton::clicked, this, &BenchWindow::chooseLog);
    m_logPathLabel = pathField(QStringLiteral("logPath"), runCard);
    m_logMessage = new QLabel(runCard);
    m_logMessage->setObjectName(QStringLiteral("logMessage"));
    m_logMessage->setWordWrap(true);
    m_sessionTotals = new QLabel(runCard);
    m_sessionTotals->setObjectName(QStringLiteral("sessionTotals"));
    m_logTotals = new QLabel(runCard);
    m_logTotals->setObjectName(QStringLiteral("logTotals"));
    m_runState = new QLabel(runCard);
    m_runState->setObjectName(QStringLiteral("runState"));
    m_start = button(QStringLiteral("start"), QStringLiteral("开始  Start"), "button", runCard);
    m_stop = button(QStringLiteral("stop"), QStringLiteral("停止  Stop"), "button", runCard);
    connect(m_start, &QPushButton::clicked, this, &BenchWindow::startBench);
    connect(m_stop, &QPushButton::clicked, this, &BenchWindow::stopBench);
    m_mute = new QCheckBox(QStringLiteral("静音  Mute"), runCard);
    m_mute->setObjectName(QStringLiteral("mute"));
    connect(m_mute, &QCheckBox::toggled, this, [this](bool on) {
        m_muted = on;
        remember();
    });
    m_portField = new QLineEdit(runCard);
    m_portField->setObjectName(QStringLiteral("portField"));
    m_portField->setPlaceholderText(QStringLiteral("COM1, /dev/ttyS0"));
    m_addPort = button(QStringLiteral("addPort"), QStringLiteral("添加端口  Add Port"),
                       "fileButton", runCard);
    connect(m_addPort, &QPushButton::clicked, this, &BenchWindow::addPortFromField);
    connect(m_portField, &QLineEdit::returnPressed, this, &BenchWindow::addPortFromField);

    run->addWidget(caption(QStringLiteral("记录文件  Log"), runCard), 0, 0);
    run->addWidget(m_logPathLabel, 0, 1);
    run->addWidget(m_chooseLog, 0, 2);
    run->addWidget(m_logMessage, 1, 0, 1, 3);
    run->addWidget(m_sessionTotals, 2, 0, 1, 3);
    run->addWidget(m_logTotals, 3, 0, 1, 3);
    run->addWidget(m_start, 4, 0);
    run->addWidget(m_stop, 4, 1);
    run->addWidget(m_mute, 4, 2);
    run->addWidget(m_runState, 5, 0, 1, 3);
    run->addWidget(m_portField, 6, 0, 1, 2);
    run->addWidget(m_addPort, 6, 2);
    run->setColumnStretch(1, 1);
    run->setRowStretch(7, 1);
    row->addWidget(runCard, 2);
    return panel;
}

bool BenchWindow::applyOptions(const BenchOptions &options)
{
    QSettings settings;
    const QString lastJob = settings.value(QLatin1String(keyJob)).toString();
    const QString lastLog = settings.value(QLatin1String(keyLog)).toString();
    // Nothing is remembered while the choices are taken, and all of it after.
    m_restoring = true;
    m_pollMs = options.pollMs;
    m_expectJob = options.expectJob;
    if (options.portsGiven) {
        m_watch = (options.watchUsb ? Bench::UsbAdapters : 0) |
            (options.watchSimulators ? Bench::Simulators : 0);
        m_namedPorts = options.ports;
    } else {
        m_watch = Bench::UsbAdapters | Bench::Simulators;
        m_namedPorts = settings.value(QLatin1String(keyPorts)).toStringList();
    }
    m_offPorts = settings.value(QLatin1String(keyOff)).toStringList();
    m_mute->setChecked(settings.value(QLatin1String(keyMute), false).toBool());

    const QString job = options.job.isEmpty() ? lastJob : options.job;
    const QString log = options.log.isEmpty() ? lastLog : options.log;
    bool ready = true;
    if (!job.isEmpty())
        ready = loadJob(job) || options.job.isEmpty();
    if (!log.isEmpty() && !openLog(log) && !options.log.isEmpty())
        ready = false;
    m_restoring = false;
    remember();
    makeBench();
    if (!options.start)
        return true;
    return ready && startBench();
}

bool BenchWindow::loadJob(const QString &path)
{
    if (m_locked)
        return false;
    QString text;
    ValuesCheck check;
    const ParsedLine::Status status = readTextFile(path, &text, &check.problem);
    if (status == ParsedLine::Ok)
        check = parseValuesText(text);
    if (!check.ok) {
        showMessage(m_jobMessage,
                    QStringLiteral("参数载入失败  Loading failed: %1: %2").arg(path, check.problem),
                    true);
        return false;
    }
    m_job = check.values;
    m_jobPath = path;
    m_jobPathLabel->setText(path);
    m_jobPathLabel->setToolTip(path);
    m_fingerprint->setText(jobFingerprint(*m_job));
    for (int i = 0; i < ParameterCount; ++i)
        m_valueFields.value(i)->setText(QString::number((*m_job)[i]));
    showMessage(m_jobMessage, QStringLiteral("参数载入成功  Loading successful"), false);
    if (m_log)
        m_heldAtOpen = m_log->heldCount(*m_job);
    m_loggedForJob = 0;
    remember();
    makeBench();
    showTotals();
    return true;
}

bool BenchWindow::openLog(const QString &path)
{
    if (m_locked)
        return false;
    auto log = std::make_unique<ProgramLog>();
    QString why;
    if (!log->open(path, &why)) {
        showMessage(m_logMessage,
                    QStringLiteral("记录文件被拒  Log refused: %1: %2").arg(path, why), true);
        return false;
    }
    if (m_bench)
        m_bench->setLog(log.get());
    m_log = std::move(log);
    m_logPathLabel->setText(path);
    m_logPathLabel->setToolTip(path);
    m_heldAtOpen = m_job ? m_log->heldCount(*m_job) : 0;
    m_loggedForJob = 0;
    showMessage(
        m_logMessage,
        m_log->oldLayout()
            ? QStringLiteral("记录文件已打开  Log open (earlier layout: rows without servo, "
                             "job and seconds)")
            : QStringLiteral("记录文件已打开  Log open"),
        false);
    remember();
    showTotals();
    return true;
}

void BenchWindow::addPort(const QString &port)
{
    const QString name = port.trimmed();
    if (name.isEmpty())
        return;
    if (!m_namedPorts.contains(name))
        m_namedPorts << name;
    remember();
    if (m_bench)
        m_bench->addPort(name);
}

void BenchWindow::addPortFromField()
{
    addPort(m_portField->text());
    m_portField->clear();
}

void BenchWindow::chooseJob()
{
    const QString path = QFileDialog::getOpenFileName(
        this, QStringLiteral("选择参数  Choose Job"), m_jobPath,
        QStringLiteral("Parameter files (*.txt *.csv *.json);;All files (*)"));
    if (!path.isEmpty())
        loadJob(path);
}

void BenchWindow::chooseLog()
{
    const QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("选择记录  Choose Log"), m_log ? m_log->path() : QString(),
        QStringLiteral("Logs (*.csv);;All files (*)"), nullptr, QFileDialog::DontConfirmOverwrite);
    if (!path.isEmpty())
        openLog(path);
}

void BenchWindow::makeBench()
{
    if (m_locked)
        return;
    dropBench();
    if (!m_job) {
        layOutCards();
        return;
    }
    BenchSettings settings;
    settings.job = *m_job;
    settings.pollMs = m_pollMs;
    m_bench = std::make_unique<Bench>(settings);
    m_bench->setLog(m_log.get());
    m_bench->setForgetGonePorts(true);
    connect(m_bench.get(), &Bench::event, this, &BenchWindow::onEvent);
    connect(m_bench.get(), &Bench::slotChanged, this, &BenchWindow::onSlotChanged);
    connect(m_bench.get(), &Bench::slotRemoved, this, &BenchWindow::onSlotRemoved);
    connect(m_bench.get(), &Bench::stopped, this, &BenchWindow::onStopped);
    connect(m_bench.get(), &Bench::logFailed, this,
            [this](const QString &why) { showMessage(m_logMessage, why, true); });
    for (const QString &port : qAsConst(m_namedPorts))
        m_bench->addPort(port);
    m_bench->setWatch(m_watch);
    layOutCards();
}

void BenchWindow::dropBench()
{
    m_bench.reset();
    for (SlotCard *card : qAsConst(m_cards))
        delete card;
    m_cards.clear();
}

bool BenchWindow::startBench()
{
    if (m_locked)
        return false;
    if (!m_job) {
        showMessage(m_jobMessage, QStringLiteral("请先选择参数  Choose a job first"), true);
        return false;
    }
    const QString fingerprint = jobFingerprint(*m_job);
    if (!m_expectJob.isEmpty() && fingerprint != m_expectJob) {
        showMessage(m_jobMessage,
                    QStringLiteral("参数不符  Wrong job: %1 has the fingerprint %2, not the "
                                   "expected %3; nothing was started")
                        .arg(m_jobPath, fingerprint, m_expectJob),
                    true);
        return false;
    }
    if (!m_bench)
        makeBench();
    setLocked(true);
    m_bench->start();
    return true;
}

void BenchWindow::stopBench()
{
    if (!m_bench || !m_bench->isRunning())
        return;
    m_runState->setText(QStringLiteral("正在停止，完成当前舵机  Stopping: finishing the servos "
                                       "being written"));
    m_stop->setEnabled(false);
    m_bench->stop();
}

bool BenchWindow::isRunning() const
{
    return m_bench && m_bench->isRunning();
}

void BenchWindow::onStopped()
{
    setLocked(false);
    emit benchStopped();
    if (m_closeWhenStopped)
        close();
}

QVector<SlotCard *> BenchWindow::cards() const
{
    return m_cards;
}

SlotCard *BenchWindow::card(const QString &port) const
{
    for (SlotCard *c : m_cards) {
        if (c->port() == port)
            return c;
    }
    return nullptr;
}

void BenchWindow::setSoundOutput(std::function<void(BenchSound)> output)
{
    m_sound = std::move(output);
}

void BenchWindow::setMuted(bool muted)
{
    m_mute->setChecked(muted);
}

void BenchWindow::onEvent(const BenchEvent &event)
{
    switch (event.kind) {
    case BenchEvent::SlotAdded:
        addCard(event.port);
        return;
    case BenchEvent::Verified:
    case BenchEvent::AlreadyHeld:
        ++m_sessionVerified;
        if (m_log)
            ++m_loggedForJob;
        if (!m_muted && m_sound)
            m_sound(BenchSound::Verified);
        break;
    case BenchEvent::Failed:
    case BenchEvent::Interrupted:
        ++m_sessionFailed;
        if (!m_muted && m_sound)
            m_sound(BenchSound::Failed);
        break;
    default:
        break;
    }
    // The slot's status holds the result by now (its last change came
    // before the result was recorded).
    onSlotChanged(event.port);
    showTotals();
}

void BenchWindow::addCard(const QString &port)
{
    if (card(port))
        return;
    auto *c = new SlotCard(port, m_cardArea);
    const bool off = m_offPorts.contains(port);
    c->setSwitchedOn(!off);
    if (off && m_bench)
        m_bench->setSlotEnabled(port, false);
    connect(c, &SlotCard::switched, this, [this](const QString &p, bool on) {
        m_offPorts.removeAll(p);
        if (!on)
            m_offPorts << p;
        remember();
        if (m_bench)
            m_bench->setSlotEnabled(p, on);
    });
    m_cards << c;
    onSlotChanged(port);
    layOutCards();
}

void BenchWindow::onSlotChanged(const QString &port)
{
    SlotCard *c = card(port);
    if (!c || !m_bench)
        return;
    const QVector<SlotStatus> statuses = m_bench->slotStatuses();
    for (const SlotStatus &status : statuses) {
        if (status.port == port)
            c->display(status);
    }
}

void BenchWindow::onSlotRemoved(const QString &port)
{
    SlotCard *c = card(port);
    if (!c)
        return;
    m_cards.removeAll(c);
    delete c;
    layOutCards();
}

void BenchWindow::layOutCards()
{
    while (m_cardGrid->count() > 0)
        delete m_cardGrid->takeAt(0);
    for (int i = 0; i < m_cards.size(); ++i)
        m_cardGrid->addWidget(m_cards.at(i), i / CardColumns, i % CardColumns, Qt::AlignTop);
    for (int column = 0; column < CardColumns; ++column)
        m_cardGrid->setColumnStretch(column, 1);
    m_noCards->setVisible(m_cards.isEmpty());
    if (m_cards.isEmpty()) {
        m_noCards->setText(
            m_job ? QStringLiteral("插入编程器，或添加端口  Plug in a programmer, or add a port")
                  : QStringLiteral("请先选择参数  Choose a job first"));
        m_cardGrid->addWidget(m_noCards, 0, 0, 1, CardColumns);
    }
    m_cardGrid->setRowStretch(m_cards.size() / CardColumns + 1, 1);
}

void BenchWindow::setLocked(bool locked)
{
    m_locked = locked;
    m_chooseJob->setEnabled(!locked);
    m_chooseLog->setEnabled(!locked);
    m_start->setEnabled(!locked);
    m_stop->setEnabled(locked);
    m_runState->setText(locked ? QStringLiteral("运行中：参数与记录已锁定  Running: job and log "
                                                "locked")
                               : QStringLiteral("已停止  Stopped"));
}

void BenchWindow::showTotals()
{
    m_sessionTotals->setText(QStringLiteral("本次  Session: 成功 %1 verified, 失败 %2 failed")
                                 .arg(m_sessionVerified)
                                 .arg(m_sessionFailed));
    m_sessionTotals->setProperty("verified", m_sessionVerified);
    m_sessionTotals->setProperty("failed", m_sessionFailed);
    const int inLog = m_heldAtOpen + m_loggedForJob;
    if (m_log && m_job)
        m_logTotals->setText(
            QStringLiteral("记录中本参数  Servos of this job in the log: %1").arg(inLog));
    else
        m_logTotals->setText(QStringLiteral("记录中本参数  Servos of this job in the log: —"));
    m_logTotals->setProperty("servos", m_log && m_job ? inLog : -1);
}

void BenchWindow::showMessage(QLabel *label, const QString &text, bool error)
{
    label->setText(text);
    label->setProperty("error", error);
    label->setStyleSheet(error ? QStringLiteral("color: rgb(255, 110, 110);")
                               : QStringLiteral("color: rgb(140, 220, 140);"));
}

void BenchWindow::remember()
{
    if (m_restoring)
        return;
    QSettings settings;
    settings.setValue(QLatin1String(keyJob), m_jobPath);
    settings.setValue(QLatin1String(keyLog), m_log ? m_log->path() : QString());
    settings.setValue(QLatin1String(keyPorts), m_namedPorts);
    settings.setValue(QLatin1String(keyOff), m_offPorts);
    settings.setValue(QLatin1String(keyMute), m_muted);
}

void BenchWindow::closeEvent(QCloseEvent *event)
{
    if (isRunning()) {
        // The servos being written are finished and logged first.
        event->ignore();
        m_closeWhenStopped = true;
        stopBench();
        return;
    }
    remember();
    event->accept();
}

} // namespace Servo
