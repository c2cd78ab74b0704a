#ifndef WINDOWDRIVER_H
#define WINDOWDRIVER_H

// Drives the real window through its object names, as a user would.
#include "protocol/parameters.h"
#include "app/widget.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QSerialPort>
#include <QSpinBox>
#include <QTextBrowser>

class WindowDriver
{
public:
    explicit WindowDriver(Widget *w)
        : m_window(w)
    {
    }

    template<typename T> T *child(const QString &name) const
    {
        T *c = m_window->findChild<T *>(name);
        Q_ASSERT_X(c, "WindowDriver", qPrintable(name));
        return c;
    }

    // A parameter's controls, by its index in canonical order or its stem.
    QSpinBox *spinBox(const QString &stem) const
    {
        return child<QSpinBox>(QStringLiteral("spinBox_") + stem);
    }
    QCheckBox *checkBox(const QString &stem) const
    {
        return child<QCheckBox>(QStringLiteral("cB_") + stem);
    }
    QSpinBox *spinBox(int index) const
    {
        return spinBox(QLatin1String(Servo::parameterInfo(index).stem));
    }
    QCheckBox *checkBox(int index) const
    {
        return checkBox(QLatin1String(Servo::parameterInfo(index).stem));
    }
    // A stepper's "Add" or "Minus" button.
    QPushButton *stepButton(const QString &stem, const QString &which) const
    {
        return child<QPushButton>(QStringLiteral("pB_") + stem + which);
    }

    Servo::Values values() const
    {
        Servo::Values v{};
        for (int i = 0; i < Servo::ParameterCount; ++i)
            v[i] = Servo::parameterInfo(i).isSwitch ? int(checkBox(i)->isChecked())
                                                    : spinBox(i)->value();
        return v;
    }
    void setValues(const Servo::Values &v) const
    {
        for (int i = 0; i < Servo::ParameterCount; ++i) {
            if (Servo::parameterInfo(i).isSwitch)
                checkBox(i)->setChecked(v[i] != 0);
            else
                spinBox(i)->setValue(v[i]);
        }
    }

    QComboBox *portSelector() const { return child<QComboBox>(QStringLiteral("comboBox_Port")); }
    // The user picks an entry of the port selector.
    void activatePort(const QString &name) const { emit portSelector()->textActivated(name); }
    void click(const char *button) const { child<QPushButton>(QLatin1String(button))->click(); }
    void read() const { click("pB_ReadParameter"); }
    void write() const { click("pB_WriteParameter"); }

    QSerialPort *port() const { return m_window->findChild<QSerialPort *>(); }

    QTextBrowser *log() const
    {
        return child<QTextBrowser>(QStringLiteral("textBrowser_StateShow"));
    }
    QStringList logLines() const
    {
        const QString text = log()->toPlainText();
        return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
    }
    // Log lines without their time stamps.
    QStringList messages() const
    {
        QStringList out;
        for (const QString &line : logLines())
            out << line.mid(line.indexOf(QLatin1String("] ")) + 2);
        return out;
    }

private:
    Widget *m_window;
};

#endif
