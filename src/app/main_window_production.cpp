// The production group of the window: the power switch every chip is brought into its boot
// loader with, and the production log every programmed chip gets its line in.
#include <QFileDialog>

#include "app/main_window.h"
#include "app/option_controls.h"
#include "app/production_controls.h"
#include "ops/production_setup.h"

namespace qmx::gui {

void MainWindow::connectProduction() {
    production_->chooseLogFile = [this](const QString& current) {
        // The log is appended to: choosing an existing file must not ask to replace it.
        return QFileDialog::getSaveFileName(this, QStringLiteral("Production log / 生产记录"),
                                            current,
                                            QStringLiteral("JSON Lines (*.jsonl);;All files (*)"),
                                            nullptr, QFileDialog::DontConfirmOverwrite);
    };
    connect(production_, &ProductionControls::changed, this, &MainWindow::scheduleSave);
}

MainWindow::Operation MainWindow::withProduction(Operation operation) {
    // Read on the window's thread; the worker only acts on it.
    std::string problem;
    if (std::string error; !production_->powerCycle(error))
        problem = "Power cycle: " + error + " (options page, Production). / 电源切换设置不完整。";
    else if (production_->logMissingFile())
        problem =
            "Production log: no file is chosen (options page, Production). / "
            "请选择生产记录文件。";
    const std::string logPath = production_->logPath();
    return [this, problem, logPath, op = std::move(operation)]() -> OpResult {
        // Nothing is programmed without the records the user asked for.
        std::string why = problem;
        if (why.empty() && !logPath.empty()) why = openProductionLog(core_, logPath);
        if (!why.empty()) {
            core_.clearMessages();
            core_.error(why);
            core_.ui().beep(3);
            return OpResult::failed(why);
        }
        return op();
    };
}

}  // namespace qmx::gui
