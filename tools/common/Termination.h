#pragma once

class QCoreApplication;

namespace cli {

// SIGINT, SIGTERM and SIGHUP leave the event loop normally, so destructors run (ports
// closed, links removed) and the program exits with 0. Returns false when the handlers
// cannot be installed.
bool quitOnTerminationSignals(QCoreApplication &app);

} // namespace cli
