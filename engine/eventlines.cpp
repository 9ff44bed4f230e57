// The one place the message list is worded. The texts keep the engine's
// translation context, where the Chinese catalogue has them.
#include <QCoreApplication>

#include "engineevent.h"

namespace {

QString Tr(const char* text) {
    return QCoreApplication::translate("UpdateEngine", text);
}

QString Dashes(bool trailingBlank) {
    return QString(41, QLatin1Char('-')) + (trailingBlank ? QStringLiteral(" ") : QString());
}

ListChange Append(QStringList lines) {
    return {ListChange::Op::Append, std::move(lines), false};
}

QStringList Lines(const ev::ReceiverIdentified& e) {
    return {Tr("Connected receiver information:"), Tr("  SN: %1").arg(e.serial),
            Tr("  sw version: %1 - %2").arg(e.cpu, e.fpga), Tr("  boot version: %1").arg(e.boot)};
}

QStringList Lines(const ev::PortRefused& e) {
    switch (e.why) {
        case LinkRefusal::PermissionDenied:
            // Without access to the device the operator would otherwise see
            // nothing at all; other failures stay as quiet as they always were.
            return {Tr("Cannot open COM%1 (%2): permission denied. Your user needs access to "
                       "the device, e.g. membership of the dialout group.")
                        .arg(e.comPort)
                        .arg(e.device)};
        case LinkRefusal::Console:
            return {Tr("COM%1 (%2) is the system console and was not opened. To use it, give "
                       "its device path by name.")
                        .arg(e.comPort)
                        .arg(e.device)};
        default:
            return {};
    }
}

QStringList Lines(const ev::RestartBegun& e) {
    if (!e.usb) return {Dashes(true), Tr("Your serial port is COM%1").arg(e.comPort)};
    if (e.usbDeviceReady)
        return {Dashes(true), Tr("Your Communication Port is USB"),
                Tr("Begin update, rebooting the receiver...")};
    return {Dashes(true), Tr("Your Communication Port is USB"), Tr("To Update,"),
            Tr("Please reboot the receiver manually...")};
}

QStringList Lines(const ev::TransferStarted& e) {
    QStringList lines;
    if (e.boot) {
        lines << Tr("Copy receiver serial number...")
              << Tr("Prepare updating for %1...").arg(e.partNumber);
    } else {
        lines << Tr("Begin update %1...").arg(e.partNumber);
        if (e.echoPartNumber) lines << Tr("P/N: %1").arg(e.partNumber);
        if (e.fpgaImageMissing)
            lines << Tr("No FPGA image in the package for %1: only the CPU image is sent.")
                         .arg(e.partNumber);
    }
    // Which images these are, before the first of them goes out.
    if (e.hasPackage)
        lines << (e.builtinPackage
                      ? Tr("Firmware package: built-in test image")
                      : Tr("Firmware package: %1 (%2)").arg(e.packageName, e.packageFolder));
    return lines;
}

QStringList Lines(const ev::Finished& e) {
    switch (e.outcome) {
        case UpdateOutcome::Completed:
            return {Tr("Completed!"), Dashes(false)};
        case UpdateOutcome::LinkLost:
        case UpdateOutcome::Unconfirmed:
            return {e.detail};
        default:
            return {};
    }
}

QStringList Lines(const ev::Verified& e) {
    const auto q = [](const std::string& s) { return QString::fromStdString(s); };
    switch (e.result) {
        case ev::Verified::Result::Matches: {
            QString line = Tr("Verified: CPU %1").arg(q(e.reported.cpu));
            if (!e.expected.fpga.empty()) line += Tr(", FPGA %1").arg(q(e.reported.fpga));
            return {line};
        }
        case ev::Verified::Result::Differs:
            return {Tr("Warning: the receiver came back with CPU %1, FPGA %2, not the "
                       "package's %3. Check the package and the receiver.")
                        .arg(q(e.reported.cpu), q(e.reported.fpga), VersionsText(e.expected))};
        case ev::Verified::Result::NoAnswer:
            return {Tr("Warning: the receiver did not report its versions within %1 s after "
                       "the update. Check that it has restarted and runs the new firmware.")
                        .arg(e.waitedMs / 1000)};
    }
    return {};
}

// "Address: %X": upper-case hexadecimal without leading zeros.
QString AddressLine(std::uint32_t address) {
    return QStringLiteral("Address: ") + QString::number(address, 16).toUpper();
}

}  // namespace

ListChange ListLines(const EngineEvent& event) {
    return std::visit(
        [](const auto& e) -> ListChange {
            using T = std::decay_t<decltype(e)>;
            if constexpr (std::is_same_v<T, ev::ListCleared>) {
                return {ListChange::Op::Clear, {}, false};
            } else if constexpr (std::is_same_v<T, ev::ReceiverIdentified> ||
                                 std::is_same_v<T, ev::PortRefused> ||
                                 std::is_same_v<T, ev::RestartBegun> ||
                                 std::is_same_v<T, ev::TransferStarted> ||
                                 std::is_same_v<T, ev::Finished> ||
                                 std::is_same_v<T, ev::Verified>) {
                return Append(Lines(e));
            } else if constexpr (std::is_same_v<T, ev::RestartSent>) {
                return Append({e.manual ? Tr("Please manually restart the receiver now.")
                                        : Tr("Begin update, restarting the receiver...")});
            } else if constexpr (std::is_same_v<T, ev::BootStarting>) {
                return Append({Tr("Try to update now...")});
            } else if constexpr (std::is_same_v<T, ev::BlockSent>) {
                // One address line, replaced with every block.
                if (e.first) return {ListChange::Op::Append, {AddressLine(e.offset)}, true};
                return {ListChange::Op::ReplaceLast, {AddressLine(e.offset)}, true};
            } else if constexpr (std::is_same_v<T, ev::AllSent>) {
                return Append({e.boot ? QStringLiteral("继续升级，请立即重启接收机并保持供电……")
                                      : Tr("Updating Firmware! please wait.............")});
            } else if constexpr (std::is_same_v<T, ev::LineClosed>) {
                return Append({Tr("The receiver closed the line (%1).").arg(e.device)});
            } else if constexpr (std::is_same_v<T, ev::Note>) {
                return Append({e.text});
            } else {
                return {};
            }
        },
        event);
}

bool IsUpToDate(const FirmwareVersions& receiver, const FirmwareVersions& package) {
    if (!package.Any() || receiver.cpu.empty()) return false;
    const auto same = [](const std::string& has, const std::string& brings) {
        return brings.empty() || has == brings;
    };
    return same(receiver.cpu, package.cpu) && same(receiver.fpga, package.fpga) &&
           same(receiver.boot, package.boot);
}

QString VersionStepText(const FirmwareVersions& receiver, const FirmwareVersions& package) {
    if (!package.Any()) return {};
    if (IsUpToDate(receiver, package)) return Tr("up to date");
    QStringList steps;
    const auto step = [&](const char* what, const std::string& has, const std::string& brings) {
        if (brings.empty() || has == brings) return;
        const QString from = has.empty() ? QString() : QString::fromStdString(has) + " ";
        steps << QStringLiteral("%1 %2→ %3")
                     .arg(QLatin1String(what), from, QString::fromStdString(brings));
    };
    step("CPU", receiver.cpu, package.cpu);
    step("FPGA", receiver.fpga, package.fpga);
    step("boot", receiver.boot, package.boot);
    return steps.join(QStringLiteral(", "));
}

// "CPU 5.200, FPGA 2.400": the versions stated.
QString VersionsText(const FirmwareVersions& v) {
    QStringList parts;
    if (!v.cpu.empty()) parts << QStringLiteral("CPU ") + QString::fromStdString(v.cpu);
    if (!v.fpga.empty()) parts << QStringLiteral("FPGA ") + QString::fromStdString(v.fpga);
    if (!v.boot.empty()) parts << QStringLiteral("boot ") + QString::fromStdString(v.boot);
    return parts.join(QStringLiteral(", "));
}
