#include "commandline.h"

#include "datafiles.h"
#include "platform/filesystem.h"

#include <QFileInfo>
#include <cstdio>

namespace himekuri {

namespace {

constexpr char Usage[] = "Usage: himekuri [--autostart on|off | --help | --version]\n"
                         "A tear-off desktop calendar (日めくりカレンダー).\n"
                         "\n"
                         "  --autostart on    start the calendar whenever you log in\n"
                         "  --autostart off   no longer start it at log-in\n"
                         "  --help            show this help and exit\n"
                         "  --version         show the version and exit\n"
                         "\n"
                         "Without options the calendar starts. See himekuri(1).\n";

void say(FILE *to, const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), to);
    std::fputc('\n', to);
}

// A desktop entry's Exec argument: quoted where it holds a character the
// format reserves, with the quote's own escapes, then the string escapes of
// every value.
QString execArgument(const QString &path)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    if (std::none_of(path.begin(), path.end(), [](QChar c) { return reserved.contains(c); }))
        return path;
    QString quoted = QStringLiteral("\"");
    for (const QChar c : path) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        quoted += c;
    }
    quoted += u'"';
    return quoted.replace(u'\\', QLatin1String("\\\\"));
}

int autostart(bool on)
{
    const QString file = autostartFile();
    if (file.isEmpty()) {
        say(stderr,
            QStringLiteral("himekuri: there is no start at log-in to set here; "
                           "the installer's choice decides it"));
        return 2;
    }
    if (!on) {
        const QFileInfo entry(file);
        if (!entry.exists() && !entry.isSymLink()) {
            say(stdout, QStringLiteral("Start at log-in was already off (no %1).").arg(file));
            return 0;
        }
        os::removeOwnFile(file);
        if (QFileInfo::exists(file) || QFileInfo(file).isSymLink()) {
            say(stderr,
                QStringLiteral("himekuri: %1 is not a file of the user's own; left alone")
                    .arg(file));
            return 1;
        }
        say(stdout, QStringLiteral("Start at log-in is off: removed %1.").arg(file));
        return 0;
    }
    const QString program = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    const WriteResult written = replaceBytes(file, autostartEntry(program));
    if (!written.ok()) {
        say(stderr, QStringLiteral("himekuri: could not write %1: %2").arg(file, written.reason));
        return 1;
    }
    say(stdout, QStringLiteral("Start at log-in is on: wrote %1.").arg(file));
    return 0;
}

} // namespace

QString autostartFile()
{
    const QString config = os::configFolder();
    return config.isEmpty() ? QString() : config + QStringLiteral("/autostart/himekuri.desktop");
}

QByteArray autostartEntry(const QString &program)
{
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Himekuri\n"
           "Name[ja]=日めくりカレンダー\n"
           "Comment=Tear-off desktop calendar, started at log-in\n"
           "Comment[ja]=ログイン時に日めくりカレンダーを起動します\n"
           "Exec="
        + execArgument(program).toUtf8()
        + "\n"
          "Icon=org.example.himekuri\n"
          "Terminal=false\n"
          "X-GNOME-Autostart-enabled=true\n";
}

std::optional<int> runCommandLine(const QStringList &arguments)
{
    if (arguments.isEmpty())
        return std::nullopt;
    const QString first = arguments.first();
    if (arguments.size() == 1 && (first == u"--help" || first == u"-h")) {
        std::fputs(Usage, stdout);
        return 0;
    }
    if (arguments.size() == 1 && first == u"--version") {
        std::printf("himekuri %s\n", HIMEKURI_VERSION);
        return 0;
    }
    if (arguments.size() == 2 && first == u"--autostart"
        && (arguments[1] == u"on" || arguments[1] == u"off"))
        return autostart(arguments[1] == u"on");
    std::fputs(Usage, stderr);
    return 2;
}

} // namespace himekuri
