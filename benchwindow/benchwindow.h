#ifndef BENCHWINDOW_H
#define BENCHWINDOW_H

#include "bench/bench.h"
#include "benchwindow/benchoptions.h"
#include "benchwindow/sound.h"

#include <QMap>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class QCheckBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QPushButton;

// The hands-free bench as a window: a job panel (the parameter file, its
// fourteen values and fingerprint, the log, the totals, Start and Stop, the
// mute switch) over one card per programmer. The engine (bench/bench.h)
// does the work; the window chooses, shows and remembers.
namespace Servo {

class ProgramLog;
class SlotCard;

class BenchWindow : public QWidget
{
    Q_OBJECT

public:
    explicit BenchWindow(QWidget *parent = nullptr);
    ~BenchWindow() override;

    // Takes the command line's choices; what it leaves out comes from the
    // last session (QSettings): job, log, named ports, slots switched off.
    // With start, starts: false when the bench could not start (the reason
    // is shown).
    bool applyOptions(const BenchOptions &options);

    // Reads the job strictly; on a refusal the reason is shown and the job
    // held before stays. Not while running.
    bool loadJob(const QString &path);
    // Opens the log to append to; a refused target is explained and the log
    // held before stays. Not while running.
    bool openLog(const QString &path);
    // A port served for good, such as a built-in serial port.
    void addPort(const QString &port);
    bool startBench();
    // Ends in order: a servo being written is finished and logged first.
    void stopBench();
    bool isRunning() const;
    // True from Start until the bench reports it stopped.
    bool isLocked() const { return m_locked; }

    Bench *bench() const { return m_bench.get(); }
    QVector<SlotCard *> cards() const;
    SlotCard *card(const QString &port) const;

    // Where the sounds go; the platform's (sound.h) by default.
    void setSoundOutput(std::function<void(BenchSound)> output);
    void setMuted(bool muted);

    int sessionVerified() const { return m_sessionVerified; }
    int sessionFailed() const { return m_sessionFailed; }

signals:
    void benchStopped();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    QWidget *makeJobPanel();
    void chooseJob();
    void chooseLog();
    void addPortFromField();
    void makeBench();
    void dropBench();
    void onEvent(const BenchEvent &event);
    void onSlotChanged(const QString &port);
    void onSlotRemoved(const QString &port);
    void onStopped();
    void addCard(const QString &port);
    void layOutCards();
    void setLocked(bool locked);
    void showTotals();
    void showMessage(QLabel *label, const QString &text, bool error);
    void remember();

    std::optional<Values> m_job;
    QString m_jobPath;
    std::unique_ptr<ProgramLog> m_log;
    int m_loggedForJob = 0; // rows of this job appended since the log was opened
    int m_heldAtOpen = 0;
    std::unique_ptr<Bench> m_bench;
    QStringList m_namedPorts;
    QStringList m_offPorts;
    int m_watch = Bench::UsbAdapters | Bench::Simulators;
    int m_pollMs = 100;
    QString m_expectJob;
    bool m_locked = false;
    bool m_closeWhenStopped = false;
    bool m_restoring = false; // applyOptions() is taking the choices
    bool m_muted = false;
    int m_sessionVerified = 0;
    int m_sessionFailed = 0;
    std::function<void(BenchSound)> m_sound;

    QLabel *m_jobPathLabel;
    QLabel *m_jobMessage;
    QLabel *m_fingerprint;
    QMap<int, QLabel *> m_valueFields;
    QLabel *m_logPathLabel;
    QLabel *m_logMessage;
    QLabel *m_sessionTotals;
    QLabel *m_logTotals;
    QLabel *m_runState;
    QPushButton *m_chooseJob;
    QPushButton *m_chooseLog;
    QPushButton *m_start;
    QPushButton *m_stop;
    QCheckBox *m_mute;
    QLineEdit *m_portField;
    QPushButton *m_addPort;
    QWidget *m_cardArea;
    QGridLayout *m_cardGrid;
    QLabel *m_noCards;
    QVector<SlotCard *> m_cards;
};

} // namespace Servo

#endif // BENCHWINDOW_H
