#include "CommandLine.h"

#include <QCoreApplication>

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tavo-send"));
    QCommandLineParser parser;
    cli::addStandardOptions(parser);
    cli::addLineOptions(parser);
    if (const auto status = cli::parse(parser, QCoreApplication::arguments()))
        return *status;
    return 0;
}
