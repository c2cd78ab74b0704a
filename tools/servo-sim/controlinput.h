#ifndef SERVOSIM_CONTROLINPUT_H
#define SERVOSIM_CONTROLINPUT_H

#include <QObject>
#include <QString>

#include <memory>

// servo-sim's control channel: standard input, read line by line on a
// thread of its own (a pipe cannot be watched by the event loop on every
// system), each line handed to the event loop as line(). The end of the
// input only ends the reading; the program runs on.
//
// On a terminal, commands are read while servo-sim runs in the foreground:
// started in the background with "&", it leaves the terminal to the shell
// (controlinput_unix.cpp) and reads none.
class ControlInput : public QObject
{
    Q_OBJECT

public:
    explicit ControlInput(QObject *parent = nullptr);
    ~ControlInput() override;

    void start();

signals:
    void line(const QString &text); // without its line end
    void ended();

private:
    struct Shared;
    std::shared_ptr<Shared> m_shared;
};

// controlinput_unix.cpp, controlinput_win.cpp: called once before the
// reading starts.
void prepareControlInput();

#endif // SERVOSIM_CONTROLINPUT_H
