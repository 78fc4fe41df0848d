#pragma once

// What the program does around the server: the open-files limit its caps need, the record
// the panel reads to reach a projector whose port the server holds, and the lines that say
// where it listens.

#include "Options.h"

#include <QObject>
#include <QString>

class ProjectorServer;

// Takes all the open files the system allows, and warns when the connection caps may need more.
void raiseFileLimit(const ServerOptions &options);

// Says what the server works and where each front end listens, and warns of a PJLink front end
// open to other machines without a password.
void announceStart(const ProjectorServer &projector, const StartOptions &start, const QString &device);

// The record of this server's listeners for `device` (nothing for a socket:// device), written
// once the port is open, so that a server turned away from a port another one holds never
// touches that one's record; removed by the destructor while it is still this process's.
class ServerRecord {
public:
    ServerRecord(ProjectorServer &projector, const QString &device);
    ~ServerRecord();
    ServerRecord(const ServerRecord &) = delete;
    ServerRecord &operator=(const ServerRecord &) = delete;

private:
    void writeOnceOpen();

    ProjectorServer &m_projector;
    QString m_device;
    QString m_file;
    QObject m_context; // ends the connections with the record
};
