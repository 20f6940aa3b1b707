#include "calendar/form1.h"
#include "question/form3.h"
#include "runtime/clock.h"
#include "runtime/layout.h"
#include "runtime/platform.h"
#include "runtime/runtime.h"
#include "startup/form2.h"

#include <QApplication>
#include <memory>

int main(int argc, char *argv[])
{
    using namespace himekuri;

    choosePlatformPlugin();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("himekuri"));
    // A form that is loaded but hidden still keeps the program alive; the
    // run-time says when it is over.
    QApplication::setQuitOnLastWindowClosed(false);
    installFontSubstitutes();

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
