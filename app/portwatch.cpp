#include "portwatch.h"

#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>

#include "settings.h"

namespace {

// udev makes the node, then its by-id and by-path links, within a few tens
// of milliseconds; one probe after them all.
constexpr int kSettleMs = 250;

}  // namespace

QStringList PortFolders(const PortOverrides& overrides) {
    // /dev/serial appears with the first adapter; its by-id folder after it.
    QStringList folders{QStringLiteral("/dev"), QStringLiteral("/dev/serial"),
                        QStringLiteral("/dev/serial/by-id")};
    for (const auto& [number, device] : overrides)
        if (!device.empty()) folders << QFileInfo(QString::fromStdString(device)).absolutePath();
    folders.removeDuplicates();
    return folders;
}

CPortWatch::CPortWatch(PortProbe probe, QStringList folders, QObject* parent)
    : QObject(parent),
      m_probe(probe),
      m_fixedFolders(std::move(folders)),
      m_watcher(new QFileSystemWatcher(this)) {
    m_settle.setSingleShot(true);
    m_settle.setInterval(kSettleMs);
    connect(&m_settle, &QTimer::timeout, this, &CPortWatch::Rescan);
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, &m_settle,
            qOverload<>(&QTimer::start));
    const PortOverrides overrides = CSettings().PortMap();
    Watch(overrides);
    m_ports = EnumeratePorts(overrides, m_probe);
}

CPortWatch::~CPortWatch() = default;

void CPortWatch::Watch(const PortOverrides& overrides) {
    QStringList folders = m_fixedFolders.isEmpty() ? PortFolders(overrides) : m_fixedFolders;
    // A folder made since (by-id after the first adapter) is watched from now
    // on; one that went away the watcher has dropped by itself.
    folders.removeIf([&](const QString& f) {
        return !QFileInfo(f).isDir() || m_watcher->directories().contains(f);
    });
    if (!folders.isEmpty()) m_watcher->addPaths(folders);
}

void CPortWatch::Rescan() {
    const PortOverrides overrides = CSettings().PortMap();
    Watch(overrides);
    std::vector<ComPort> ports = EnumeratePorts(overrides, m_probe);
    if (ports == m_ports) return;
    m_ports = std::move(ports);
    emit portsChanged(m_ports);
}
