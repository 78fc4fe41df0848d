#pragma once

#include <QWidget>

class Form1;

// TEMPORARY interface; the command console replaces this file.
class Form3 : public QWidget {
    Q_OBJECT
public:
    // "Command Table": creates the console, or brings the open one forward.
    static Form3 *showConsole(Form1 &main);
    static Form3 *instance();
};
