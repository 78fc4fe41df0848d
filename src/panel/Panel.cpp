// TEMPORARY: replaced by the control panel.
#include "link/Form1.h"
#include "link/Module1.h"
#include <QTimer>
void Form1::buildPanel() {}
void Form1::sendPanelCommand(QStringView code) {
    Module1::TxCommand = code.toString() + QLatin1Char('\r');
    Hyouji(Module1::TxCommand, 1);
}
void Form1::repeatButtonDown(int) {}
void Form1::Cont_M_down() {}
void Form1::Cont_M_up() {}
void Form1::Timer1_Timer() {}
void Form1::Form_KeyDown(int, int) {}
void Form1::Command16_Click() {}
void Form1::Command33_Click() {}
void Form1::Command74_Click() {}
bool Form1::eventFilter(QObject *watched, QEvent *event) { return QWidget::eventFilter(watched, event); }
