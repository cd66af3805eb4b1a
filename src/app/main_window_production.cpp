// The production group of the window: the power switch every chip is brought into its boot
// loader with, the production log every programmed chip gets its line in, and the gang dialog
// that programs several ports at once.
#include <QFileDialog>

#include "app/gang_dialog.h"
#include "app/main_window.h"
#include "app/option_controls.h"
#include "app/production_controls.h"
#include "app/qt_ui.h"
#include "ops/production_setup.h"
#include "ops/serial_number_store.h"

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
    connect(production_, &ProductionControls::gangRequested, this, &MainWindow::openGang);
}

void MainWindow::openGang() {
    if (operationRunning() || closing_ || gang_ || !core_.model) return;
    if (!core_.buffer.imageLoaded) {
        core_.ui().messageBox({"    Please open file./请打开文件。    ", "", BoxButtons::Ok,
                               BoxAnswer::Ok, BoxIcon::None});
        return;
    }
    syncChoicesToCore();
    std::string problem = productionProblem();
    if (problem.empty() && !production_->logPath().empty())
        problem = openProductionLog(core_, production_->logPath());
    // The stations share one numbering: the number goes into the image before they copy it.
    if (problem.empty() && core_.serial.enabled && !core_.serial.active &&
        !serialCheckBoxChanged(core_.serial, true, core_.buffer, *core_.model, core_.settings,
                               *ui_))
        problem = "The serial number cannot be applied. / 序列号无法写入。";
    if (!problem.empty()) {
        core_.clearMessages();
        core_.error(problem);
        core_.ui().beep(3);
        return;
    }
    QStringList ports;
    for (int row = 0; row < combCommPort_->count(); ++row)
        ports << combCommPort_->itemData(row).toString();
    gang_ = new GangDialog(core_, ports, this);
    gang_->setAttribute(Qt::WA_DeleteOnClose);
    gang_->setWindowModality(Qt::WindowModal);
    connect(gang_, &GangDialog::gangFinished, this, &MainWindow::takeGangResults);
    connect(gang_, &QObject::destroyed, this, [this] {
        gang_ = nullptr;
        applyButtonState(kStateIdle);
        if (saveDeferred_) {
            saveDeferred_ = false;
            saveSettings();
        }
    });
    // Nothing else starts while the stations own the ports and the counter.
    lockSetupControls();
    for (QWidget* w : {comDownload_[0], comDownload_[1], comStop_})
        w->setEnabled(false);
    setUserEntryButtons(false, false);
    gang_->show();
}

// The stations counted and saved the next serial number to the store: the window takes both
// over, and a ticked auto-increment writes the next number into the image again, so that the
// next run (of the gang or of the window) never repeats a number.
void MainWindow::takeGangResults(const QString& okCount) {
    core_.settings.open(core_.settings.path());
    core_.download.writeOkCount = okCount.toStdString();
    txtWrite_OK_Count_->setText(okCount);
    if (core_.serial.enabled && core_.model) {
        loadSerialSettings(core_.serial, core_.settings);
        core_.serial.active = false;
        serialCheckBoxChanged(core_.serial, true, core_.buffer, *core_.model, core_.settings, *ui_);
    }
    showCoreState();
}

std::string MainWindow::productionProblem() const {
    if (std::string error; !production_->powerCycle(error))
        return "Power cycle: " + error + " (options page, Production). / 电源切换设置不完整。";
    if (production_->logMissingFile())
        return "Production log: no file is chosen (options page, Production). / "
               "请选择生产记录文件。";
    return {};
}

MainWindow::Operation MainWindow::withProduction(Operation operation) {
    // Read on the window's thread; the worker only acts on it.
    const std::string problem = productionProblem();
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
