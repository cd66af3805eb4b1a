#include "gui_helpers.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
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

QByteArray randomImage(int size) {
    QByteArray b(size, 0);
    for (auto& c : b)
        c = static_cast<char>(QRandomGenerator::global()->bounded(256));
    return b;
}

bool flashHolds(const QString& path, const QByteArray& image, QByteArray* flash, bool erasedTail) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return false;
    const QByteArray bytes = f.readAll();
    if (flash) *flash = bytes;
    if (bytes.size() < image.size() || !bytes.startsWith(image)) return false;
    for (qsizetype i = image.size(); erasedTail && i < bytes.size(); ++i)
        if (static_cast<unsigned char>(bytes[i]) != 0xFF) return false;
    return true;
}

QString simPath() {
    return QStringLiteral(QMX_BIN_DIR "/qmx-chipsim");
}

bool startSim(qmx::test::SimProcess& sim, QStringList args, const QString& link,
              QByteArray* output) {
    std::vector<std::string> list;
    for (const QString& a : args << "--link" << link)
        list.push_back(a.toStdString());
    const bool ready = sim.start(simPath().toStdString(), list);
    if (output) *output = QByteArray::fromStdString(sim.output() + sim.error());
    return ready;
}

}  // namespace qmx::gui::test
