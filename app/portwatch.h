#pragma once

#include <QObject>
#include <QStringList>
#include <QTimer>
#include <vector>

#include "comports.h"

class QFileSystemWatcher;

// Where serial ports come and go: /dev, udev's by-id links, and the folders
// of the devices the settings file maps (a simulator's link, a by-path name).
QStringList PortFolders(const PortOverrides& overrides);

// The serial ports of this machine, kept current while the program runs: a
// node that appears or leaves under a watched folder probes the ports again
// (the probe of EnumeratePorts, as careful as at start), once the burst of
// changes one plug-in makes has settled. Each probe reads the port map anew.
class CPortWatch : public QObject {
    Q_OBJECT

public:
    // folders empty: PortFolders of the settings file's map, at each probe.
    explicit CPortWatch(PortProbe probe = PortProbe::MappedAndDefaults, QStringList folders = {},
                        QObject* parent = nullptr);
    ~CPortWatch() override;

    const std::vector<ComPort>& Ports() const { return m_ports; }
    // Probes now; portsChanged when the list differs.
    void Rescan();

signals:
    void portsChanged(const std::vector<ComPort>& ports);

private:
    void Watch(const PortOverrides& overrides);

    PortProbe m_probe;
    QStringList m_fixedFolders;
    QFileSystemWatcher* m_watcher;
    QTimer m_settle;
    std::vector<ComPort> m_ports;
};
