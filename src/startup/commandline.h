#pragma once

#include <QStringList>
#include <optional>

namespace himekuri {

// What the program does when it is started with arguments: say its version,
// how it is used, or turn its start at log-in on or off. Never needs a
// display. Returns the exit status, or nothing when the calendar is to
// start. Bad arguments give the usage on stderr and status 2, and change
// nothing.
std::optional<int> runCommandLine(const QStringList &arguments);

// The start-at-log-in entry: the XDG autostart file
// ${XDG_CONFIG_HOME:-~/.config}/autostart/himekuri.desktop; empty where the
// platform has none (on Windows the installer makes a shortcut instead).
QString autostartFile();

// The entry itself, starting the program at the given path.
QByteArray autostartEntry(const QString &program);

} // namespace himekuri
