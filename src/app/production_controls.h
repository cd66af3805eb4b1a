// The production group of the options page: how each chip's power is switched so that its
// boot loader listens without a person at the bench (a modem line of the adapter, either way
// round, or a command for relay boards and switchable hubs), how long the power stays off,
// and the production log file that gets one line per chip.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QObject>
#include <QPushButton>
#include <QSpinBox>

#include <functional>
#include <optional>
#include <string>

#include "link/power_switch.h"
#include "settings/settings_keys.h"

namespace qmx::gui {

class ProductionControls : public QObject {
    Q_OBJECT
  public:
    explicit ProductionControls(QWidget* parent);

    QGroupBox* frame() const { return frame_; }

    // Shows the stored choices; a mode the list does not hold shows "none".
    void show(const StoredSettings& stored);
    // Takes the choices into `stored` for a save.
    void capture(StoredSettings& stored) const;

    // The power switch chosen; nullopt with `error` while the choice is incomplete (the
    // command mode without a command).
    std::optional<PowerCycle> powerCycle(std::string& error) const;
    // The production log file when one is to be written, else empty.
    std::string logPath() const;
    // The log is ticked but no file is named.
    bool logMissingFile() const;

    // Asks for the log file (the window installs a file dialog; tests may answer themselves).
    std::function<QString(const QString& current)> chooseLogFile;

  signals:
    // A persisted choice changed: the window schedules a save.
    void changed();
    // The gang button: program several ports at once.
    void gangRequested();

  private:
    void applyEnables();

    QGroupBox* frame_;
    QComboBox* mode_;       // comPowerCycle: the rows of kPowerCycleModes
    QLineEdit* command_;    // txtPowerCycleCommand
    QSpinBox* offMs_;       // txtPowerOffMs
    QCheckBox* logOn_;      // cheProductionLog
    QLineEdit* logPath_;    // txtProductionLog
    QPushButton* logPick_;  // comProductionLog
    QPushButton* gang_;     // comGang
};

}  // namespace qmx::gui
