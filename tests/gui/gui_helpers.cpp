#include "gui_helpers.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>

namespace qmx::gui::test {

WindowFixture::WindowFixture(const QString& settingsPath, const QStringList& ports) {
    WindowOptions options;
    options.settingsPath = settingsPath;
    options.extraPorts = ports;
    window = std::make_unique<MainWindow>(options);
    window->face().boxHandler = [this](const MessageBoxRequest& box) {
        boxes.push_back(box);
        if (answers.empty()) return box.defaultAnswer;
        BoxAnswer a = answers.front();
        answers.pop_front();
        return a;
    };
}

WindowFixture::~WindowFixture() {
    if (window) {
        // Let a running operation end before the window goes.
        window->core().session.stop_requested = true;
        QElapsedTimer t;
        t.start();
        while (window->operationRunning() && t.elapsed() < 10000)
            QTest::qWait(20);
    }
}

bool startChipsim(qmx::test::SimProcess& sim, const QStringList& args) {
    std::vector<std::string> list;
    for (const QString& a : args)
        list.push_back(a.toStdString());
    return sim.start(qmx::test::chipsimPath(), list);
}

bool WindowFixture::sawBox(const std::string& needle) const {
    for (const auto& b : boxes)
        if (b.text.find(needle) != std::string::npos) return true;
    return false;
}

bool closeAndWait(MainWindow& window, int timeoutMs) {
    window.setAttribute(Qt::WA_DeleteOnClose, false);
    window.close();
    // The first request hides the window; the unload follows half a second later.
    QElapsedTimer t;
    t.start();
    while (!window.unloaded() && t.elapsed() < timeoutMs)
        QTest::qWait(20);
    return window.unloaded();
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (f.open(QIODevice::WriteOnly)) f.write(bytes);
}

}  // namespace qmx::gui::test
