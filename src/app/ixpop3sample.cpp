// The POP3 sample program: one window, TForm1, until it is closed.
//   ixpop3sample [--port N] [--walkthrough DIR]
// --port replaces the window's initial port; --walkthrough runs the demo session unattended,
// saves its screenshots into DIR and ends the program.
#include "app/ixDemoWalkthrough.h"
#include "app/main.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>

#include <cstdio>
#include <exception>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ixpop3sample"));

    QCommandLineParser options;
    options.setApplicationDescription(QStringLiteral("POP3 Client with SSL / TLS support - Sample"));
    options.addHelpOption();
    const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("Initial port."), QStringLiteral("N"));
    const QCommandLineOption walkthrough(QStringLiteral("walkthrough"),
        QStringLiteral("Run the demo session unattended, screenshots into DIR."), QStringLiteral("DIR"));
    options.addOption(port);
    options.addOption(walkthrough);
    options.process(application);

    try {
        ix::TForm1 form;
        if (options.isSet(port))
            form.edtPort->setText(options.value(port));
        form.show();
        if (!options.isSet(walkthrough))
            return QApplication::exec();
        int result = 1;
        QTimer::singleShot(0, &form, [&] {
            result = ix::RunWalkthrough(form, options.value(walkthrough));
            form.close();
        });
        QApplication::exec();
        return result;
    } catch (const std::exception& E) {
        std::fprintf(stderr, "ixpop3sample: %s\n", E.what());
        return 1;
    }
}
