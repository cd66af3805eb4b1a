// qmx-isp-gui: the QMX-ISP window.
#include <QApplication>
#include <QCommandLineParser>
#include <QScreen>
#include <QTabBar>
#include <QTimer>
#include <cstdio>

#include "app/main_window.h"
#include "app/widgets.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("qmx-isp-gui");
    QApplication::setApplicationVersion("3.1");
    QApplication::setDesktopFileName("qmx-isp-gui");
    QApplication::setWindowIcon(qmx::gui::programIcon());

    QCommandLineParser parser;
    parser.setApplicationDescription("QMX-ISP: in-system programmer for QMX 8051-family MCUs");
    parser.addHelpOption();
    parser.addVersionOption();
    QCommandLineOption settings(
        "settings", "Settings file (default $XDG_CONFIG_HOME/qmx-isp/settings.ini).", "FILE");
    QCommandLineOption port("port",
                            "Add a serial device (e.g. a pseudo-terminal) to the port "
                            "list and select it.",
                            "PATH");
    QCommandLineOption model("model", "Select this model at start (e.g. M-070).", "NAME");
    QCommandLineOption tab("tab", "Show this setup tab at start (1-9).", "N");
    QCommandLineOption shot("screenshot", "Save a picture of the window to FILE and quit.", "FILE");
    QCommandLineOption monitorDir("monitor-dir", "Look for the SoftICE monitor files in DIR first.",
                                  "DIR");
    parser.addOptions({settings, port, model, tab, shot, monitorDir});
    parser.process(app);

    qmx::gui::WindowOptions options;
    options.settingsPath = parser.value(settings);
    if (parser.isSet(port)) options.extraPorts << parser.value(port);
    if (parser.isSet(monitorDir)) options.monitorDir = parser.value(monitorDir);
    qmx::gui::MainWindow window(options);
    if (parser.isSet(model)) {
        const int row = qmx::modelListIndex(parser.value(model).toStdString());
        if (row < 0) {
            fprintf(stderr, "qmx-isp-gui: unknown model %s\n", qPrintable(parser.value(model)));
            return 2;
        }
        window.selectModelRow(row);
    }
    if (parser.isSet(tab)) window.selectSetupTab(parser.value(tab).toInt() - 1);
    window.show();

    if (parser.isSet(shot)) {
        const QString file = parser.value(shot);
        QTimer::singleShot(600, &window, [&window, file] {
            const bool ok = window.grab().save(file);
            if (!ok) fprintf(stderr, "qmx-isp-gui: cannot write %s\n", qPrintable(file));
            QApplication::exit(ok ? 0 : 1);
        });
    }
    return app.exec();
}
