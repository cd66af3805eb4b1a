// Helpers shared by the window tests: a window on a temporary settings file, finding controls
// by their control names, and answering message boxes.
#pragma once

#include <QRadioButton>
#include <QString>
#include <QTemporaryDir>
#include <QWidget>

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "app/qt_ui.h"
#include "support/sim_process.h"

namespace qmx::gui::test {

// A window over its own settings file; message boxes are recorded and answered from a script
// (then with their default button).
struct WindowFixture {
    explicit WindowFixture(const QString& settingsPath, const QStringList& ports = {});
    ~WindowFixture();

    template <class T>
    T* find(const QString& name) const {
        return window->findChild<T*>(name);
    }
    QWidget* widget(const QString& name) const { return find<QWidget>(name); }

    // Whether some recorded box contains the text.
    bool sawBox(const std::string& needle) const;

    std::unique_ptr<MainWindow> window;
    std::vector<MessageBoxRequest> boxes;
    std::deque<BoxAnswer> answers;
};

// Closes the window the way a user does (two passes) and waits until it has unloaded.
bool closeAndWait(MainWindow& window, int timeoutMs = 5000);

// Starts qmx-chipsim with `args` and waits until it is ready; false (with sim.error() saying
// why) when it is not. The simulator is started from our own code rather than by QProcess, so
// that it also runs under ThreadSanitizer, which cannot follow QProcess's way of forking.
bool startChipsim(qmx::test::SimProcess& sim, const QStringList& args);

// Writes a settings file.
void writeFile(const QString& path, const QByteArray& bytes);

}  // namespace qmx::gui::test
