#ifndef MYSPINBOX_H
#define MYSPINBOX_H

#include <QSpinBox>

// Parameter spin box, stepped by the plus and minus buttons beside it.
class MySpinBox : public QSpinBox
{
    Q_OBJECT

public:
    explicit MySpinBox(QWidget *parent);

public slots:
    void addData();
    void minusData();
};

#endif // MYSPINBOX_H
