// Start-up and the settings of the window: the load order, the coalesced save of `Timer3`.
#include <QScreen>

#include "app/buffer_view.h"
#include "app/core_bridge.h"
#include "app/main_window.h"

#include "app/debug_panel.h"
#include "app/operation_runner.h"
#include "app/option_controls.h"
#include "app/production_controls.h"
#include "app/qt_ui.h"
#include "app/widgets.h"
#include "link/port_path.h"
#include "ops/serial_number_store.h"

namespace qmx::gui {
namespace {

std::string ss(const QString& s) {
    return s.toStdString();
}

void setRow(QComboBox* list, int row) {
    if (row >= 0 && row < list->count()) list->setCurrentIndex(row);
}

}  // namespace

void MainWindow::refreshPortList(const QStringList& extra) {
    combCommPort_->clear();
    for (const PortRow& p : availablePorts()) {
        const QString text = p.description.isEmpty() || p.description == p.path
                                 ? p.path
                                 : p.path + "  (" + p.description + ")";
        combCommPort_->addItem(text, p.path);
    }
    for (const QString& path : extra)
        if (combCommPort_->findData(path) < 0) combCommPort_->addItem(path, path);
    if (debugPanel_) debugPanel_->syncPorts(combCommPort_);
}

void MainWindow::choosePort(const QString& path) {
    int row = combCommPort_->findData(path);
    if (row < 0) {
        combCommPort_->addItem(path, path);
        row = combCommPort_->count() - 1;
    }
    combCommPort_->setCurrentIndex(row);
    changeCore([this, p = path.toStdString()] { core_.portPath = p; });
    if (debugPanel_) debugPanel_->syncPorts(combCommPort_);
}

// The stored port: found again by its device (a stored /dev/serial/by-id link selects the
// ttyUSB it leads to now); a port not present now (unplugged, or a pseudo-terminal typed with
// "...") is put in the list, so that it stays the choice. An older stored row is a row.
void MainWindow::selectStoredPort(const StoredSettings& stored) {
    if (stored.comPortPath.empty()) {
        setRow(combCommPort_, stored.comPort);
        return;
    }
    for (int row = 0; row < combCommPort_->count(); ++row) {
        if (samePortDevice(ss(combCommPort_->itemData(row).toString()), stored.comPortPath)) {
            combCommPort_->setCurrentIndex(row);
            return;
        }
    }
    choosePort(QString::fromStdString(stored.comPortPath));
}

// What is stored for the chosen port: its stable name when it has one.
QString MainWindow::portToStore() const {
    const QString path = combCommPort_->currentData().toString();
    return path.isEmpty() ? path : QString::fromStdString(stablePortPath(ss(path)));
}

void MainWindow::startUp(const WindowOptions& options) {
    loading_ = true;
    if (!options.settingsPath.isEmpty())
        core_.settings.open(options.settingsPath.toStdString());
    else
        core_.settings.open(SettingsStore::defaultPath());
    monitorDir_ = options.monitorDir;
    refreshPortList(options.extraPorts);

    std::vector<std::string> rejected;
    stored_ = loadStoredSettings(core_.settings, &rejected);
    restoreGeometry();
    // The first tab's page.
    selectSetupTab(0);
    selectViewTab(0);
    restoreMainKeys(options);
    resetStation();
    // Auto-increment.
    loadSerialSettings(core_.serial, core_.settings);
    core_.serial.enabled = false;
    showSerialBoxes();
    // Maximum baud rate.
    cobBaudMax_->setCurrentIndex(0);
    core_.maxBaud = 115200;
    restorePortPages();
    // The option page again, with the restored RS-485 and watchdog choices.
    options_->buildPage(core_.model ? core_.model->family : 2);
    // The address columns of the debug views.
    fillDebugAddressColumns(debug_);

    if (!core_.settings.warning().empty()) core_.message(core_.settings.warning());
    // A first start: as narrow as the built pages allow; showEvent adds the message lines.
    if (roomForMessages_) resize(minimumSizeHint().expandedTo(minimumSize()));
    loading_ = false;
}

// Size and place (twips); a first start gets room for a dozen message lines.
void MainWindow::restoreGeometry() {
    if (core_.settings.contains(kSettingsSection, setting::kMainWidth) ||
        core_.settings.contains(kSettingsSection, setting::kMainHeight))
        resize(std::max(twips(stored_.mainWidth), twips(1000)),
               std::max(twips(stored_.mainHeight), twips(800)));
    else
        roomForMessages_ = true;  // sized at the end of start-up and when first shown
    if (stored_.mainLeft > 0 || stored_.mainTop > 0)
        move(twips(stored_.mainLeft), twips(stored_.mainTop));
}

// The main keys; a value a control rejects was left at its default by the reader.
void MainWindow::restoreMainKeys(const WindowOptions& options) {
    selectModelRow(stored_.deviceProducts);
    if (!core_.model) selectModelRow(kDefaultModelIndex);
    optFillbyte_[size_t(stored_.fillByteChoice == 0 ? 0 : 1)]->setChecked(true);
    core_.buffer.fillByte = stored_.fillByteChoice == 0 ? 0xFF : 0x00;
    selectStoredPort(stored_);
    if (!options.extraPorts.isEmpty()) choosePort(options.extraPorts.front());
    core_.portPath = combCommPort_->currentData().toString().toStdString();
    (stored_.beep ? options_->beepYes() : options_->beepNo())->setChecked(true);
    setRow(options_->redownloadDelay(), stored_.redownloadDelay);
    txtWrite_OK_Count_->setText(QString::fromStdString(stored_.writeOkCount));
    core_.download.writeOkCount = stored_.writeOkCount;
    applyToOptionChoices(stored_, core_.options);
    // The language: the stored choice, else what the environment asks for.
    languageChosen_ = core_.settings.contains(kSettingsSection, setting::kLanguage);
    const Language language = languageChosen_
                                  ? parseLanguage(stored_.language).value_or(Language::Both)
                                  : languageFromEnvironment();
    options_->language()->setCurrentIndex(
        options_->language()->findData(QString::fromLatin1(languageName(language))));
    ui_->setLanguage(language);
    showHardwareHelp(hardwareHelp_, language);
    production_->show(stored_);
}

// Buffer, session and buttons as at a fresh start.
void MainWindow::resetStation() {
    core_.buffer.reset();
    core_.session.stop_requested = false;
    core_.session.connected = false;
    applyButtonState(kStateIdle);
    // Of the operation buttons only Download and send-user-code are offered at start.
    comDownload_[1]->setEnabled(false);
    setUserEntryButtons(false, false);
    userCode_.comSendUserCode->setEnabled(true);
    labKbyte_->clear();
    view_->refresh();
}

// Port keys of the user-command, demo and debug pages.
void MainWindow::restorePortPages() {
    for (size_t i = 0; i < 4; ++i) {
        setRow(userCode_.port[i], stored_.userCodePort[i]);
        setRow(demo_.download[i], stored_.demoDownloadPort[i]);
        setRow(demo_.userCode[i], stored_.demoUserCodePort[i]);
    }
    for (size_t i = 0; i < 5; ++i)
        setRow(debug_.port[i], stored_.debugPort[i]);
    if (debugPanel_ && !stored_.debugPortPath.empty())
        debugPanel_->choosePort(stored_.debugPortPath);
}

void MainWindow::scheduleSave() {
    if (loading_) return;
    timer3_.start();  // restarts: changes within 500 ms give one save
}

void MainWindow::saveSettings() {
    timer3_.stop();
    // The settings store belongs to the worker while an operation runs (it saves the counter).
    // So do the gang's stations while the gang dialog is open.
    if (operationRunning() || gang_) {
        saveDeferred_ = true;
        return;
    }
    StoredSettings v = stored_;
    v.deviceProducts = combMcuModel_->currentIndex();
    v.fillByteChoice = optFillbyte_[0]->isChecked() ? 0 : 1;
    v.comPort = std::max(0, combCommPort_->currentIndex());
    v.comPortPath = ss(portToStore());
    v.beep = options_->beepYes()->isChecked();
    v.redownloadDelay = options_->redownloadDelay()->currentIndex();
    v.writeOkCount = txtWrite_OK_Count_->text().toStdString();
    captureOptionChoices(v, core_.options);
    for (size_t i = 0; i < 4; ++i) {
        v.userCodePort[i] = userCode_.port[i]->currentIndex();
        v.demoDownloadPort[i] = demo_.download[i]->currentIndex();
        v.demoUserCodePort[i] = demo_.userCode[i]->currentIndex();
    }
    for (size_t i = 0; i < 5; ++i)
        v.debugPort[i] = debug_.port[i]->currentIndex();
    // The debug port by its device (its stable name when it has one), as the download port.
    const QString debugPath = debug_.port[0]->currentData().toString();
    v.debugPortPath = debugPath.startsWith('/') ? stablePortPath(ss(debugPath)) : std::string();
    v.debugAutoOpenPort = debug_.che_AutoOpenPort->isChecked();
    v.language = ss(options_->language()->currentData().toString());
    production_->capture(v);
    storeSettings(core_.settings, v);
    if (languageChosen_) storeLanguage(core_.settings, v.language);
    stored_ = v;
    refreshRangeDisplay();
    const std::string error = core_.settings.saveWarnOnce();
    if (!error.empty()) core_.message(error);
    // The dependent controls follow the saved choices.
    options_->showChoices();
}

}  // namespace qmx::gui
