#include "ui/myspinbox.h"

MySpinBox::MySpinBox(QWidget *parent)
    : QSpinBox(parent)
{
}

// setValue() holds the result to the range, so a step at a bound does nothing.
void MySpinBox::addData()
{
    setValue(value() + singleStep());
}

void MySpinBox::minusData()
{
    setValue(value() - singleStep());
}
