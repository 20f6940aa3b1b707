#include "calendar/form1.h"
#include "platform/platform.h"
#include "question/form3.h"
#include "runtime/clock.h"
#include "runtime/layout.h"
#include "runtime/runtime.h"
#include "shared/translations.h"
#include "startup/commandline.h"
#include "startup/form2.h"

#include <QApplication>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

int main(int argc, char *argv[])
{
    using namespace himekuri;

    // Before anything that needs a display: --version must answer without one.
    QStringList given;
    for (int i = 1; i < argc; ++i)
        given << QString::fromLocal8Bit(argv[i]);
    if (const std::optional<int> status = runCommandLine(given))
        return *status;

    std::vector<char *> arguments(argv, argv + argc);
    char platformOption[] = "-platform";
    std::string plugin;
    if (const char *preferred = preferredPlatformPlugin()) {
        plugin = preferred;
        arguments.insert(arguments.begin() + 1, {platformOption, plugin.data()});
    }
    // Without a display Qt would abort; the user hears what is missing.
    if (const QString problem = windowSystemProblem(); !problem.isEmpty()) {
        std::fprintf(stderr, "himekuri: %s\n", problem.toUtf8().constData());
        return 1;
    }
    int count = int(arguments.size());
    arguments.push_back(nullptr);
    // Qt's own event loop: the calendar needs nothing of GLib's, whose every
    // turn costs more, and it turns several times a second. Chosen as the
    // application is made, and not handed on to the programs it starts.
    const bool glibChosen = qEnvironmentVariableIsSet("QT_NO_GLIB");
    if (!glibChosen)
        qputenv("QT_NO_GLIB", "1");
    QApplication app(count, arguments.data());
    if (!glibChosen)
        qunsetenv("QT_NO_GLIB");
    QApplication::setApplicationName(QStringLiteral("himekuri"));
    installJapaneseQtTexts(app);
    // A form that is loaded but hidden still keeps the program alive; the
    // run-time says when it is over.
    QApplication::setQuitOnLastWindowClosed(false);
    if (!installFontSubstitutes()) {
        std::fputs("himekuri: no Japanese font is installed, so the calendar shows boxes;"
                   " install the IPA fonts (Debian: apt-get install fonts-ipafont)\n",
                   stderr);
    }

    SystemClock clock;
    SystemPlatform platform;
    Runtime runtime(clock, platform);
    runtime.addForm(std::make_unique<Form1>(runtime));
    auto &splash = runtime.addForm(std::make_unique<Form2>(runtime));
    runtime.addForm(std::make_unique<Form3>(runtime));

    int exitCode = 0;
    QObject::connect(&runtime, &Runtime::finished, &app, [&exitCode](int code) {
        exitCode = code;
        QCoreApplication::exit(code);
    });

    runtime.invoke([&splash] { splash.show(); });
    if (runtime.hasEnded())
        return exitCode;
    return app.exec();
}
