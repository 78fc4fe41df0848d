// The titles the desktop shows, read back from the X server as a window manager reads
// them (_NET_WM_NAME), with the application set up as the program sets it up. Offscreen,
// Qt hands titles on unchanged; on X11 it may add to them. Runs on the xcb platform under
// a private Xvfb display (tests/CMakeLists.txt).

#include "TestSupport.h"

#include "console/Form3.h"
#include "host/Application.h"
#include "link/Module1.h"
#include "port_dialog/Form2.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <cstdlib>
#include <xcb/xcb.h>

namespace {

// The window's _NET_WM_NAME as the X server holds it, or a note saying why there is none.
QString titleOnTheDisplay(QWidget *window) {
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11)
        return QStringLiteral("<not on X11>");
    xcb_connection_t *connection = x11->connection();
    const QByteArray name("_NET_WM_NAME");
    xcb_intern_atom_reply_t *atom = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 1, quint16(name.size()), name.constData()), nullptr);
    if (!atom)
        return QStringLiteral("<no _NET_WM_NAME atom>");
    const xcb_window_t id = xcb_window_t(window->winId());
    xcb_get_property_reply_t *property = xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, id, atom->atom, XCB_GET_PROPERTY_TYPE_ANY, 0, 4096), nullptr);
    std::free(atom);
    if (!property)
        return QStringLiteral("<no property>");
    const QString title = QString::fromUtf8(static_cast<const char *>(xcb_get_property_value(property)),
                                            xcb_get_property_value_length(property));
    std::free(property);
    return title;
}

} // namespace

class WindowTitles : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        QApplication::setQuitOnLastWindowClosed(false);
        setUpApplication();
        QVERIFY2(qGuiApp->nativeInterface<QNativeInterface::QX11Application>(),
                 "this test reads the X server; run it on the xcb platform");
    }

    void everyWindowShowsItsOwnTitleExactly() {
        PanelRig rig;
        rig.startWithPort();
        rig.form->show();
        QVERIFY(QTest::qWaitForWindowExposed(rig.form.get()));
        QCOMPARE(titleOnTheDisplay(rig.form.get()), QStringLiteral("TAVO   QT735  CONTROL"));

        Form2 *dialog = Form2::showModeless(*rig.form);
        QVERIFY(QTest::qWaitForWindowExposed(dialog));
        QCOMPARE(titleOnTheDisplay(dialog), QStringLiteral("  COM PORT"));

        // The port warning is modal: read its title while it is up, then answer it.
        QString warningTitle;
        QTimer poll;
        poll.setInterval(10);
        connect(&poll, &QTimer::timeout, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || !box->windowHandle() || !box->windowHandle()->isExposed())
                return;
            poll.stop();
            warningTitle = titleOnTheDisplay(box);
            box->button(QMessageBox::Ok)->click();
        });
        poll.start();
        Module1::ComPortNo = 0; // no port chosen: OK warns
        QTest::mouseClick(dialog->Command1, Qt::LeftButton);
        QCOMPARE(warningTitle, QStringLiteral("Error"));
        dialog->close();

        rig.form->Command74_Click(); // Command Table
        Form3 *console = Form3::instance();
        QVERIFY(console);
        QVERIFY(QTest::qWaitForWindowExposed(console));
        QCOMPARE(titleOnTheDisplay(console), QStringLiteral("Command List"));
        console->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
};

QTEST_MAIN(WindowTitles)
#include "test_window_titles.moc"
