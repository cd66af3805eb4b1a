// Helpers shared by the window tests: a window on a temporary settings file, finding controls
// by their control names, and answering message boxes.
#pragma once

#include <QByteArray>
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

// Writes a settings file.
void writeFile(const QString& path, const QByteArray& bytes);

// Random bytes for an image.
QByteArray randomImage(int size);
// Whether the chip's flash file begins with the image; with `erasedTail`, also whether every
// cell behind it is erased. `flash` (when given) gets the file's bytes.
bool flashHolds(const QString& path, const QByteArray& image, QByteArray* flash = nullptr,
                bool erasedTail = false);

// The simulator built beside the tests.
QString simPath();
// Starts qmx-chipsim with `args` and "--link LINK" and waits until it is ready; false (with
// what it printed, or why it did not start, in `output`) when it is not. The simulator is
// started by the tests' own process support rather than by QProcess, so that the window tests
// also run under ThreadSanitizer, which cannot follow QProcess's way of starting a program.
bool startSim(qmx::test::SimProcess& sim, QStringList args, const QString& link,
              QByteArray* output = nullptr);

}  // namespace qmx::gui::test
