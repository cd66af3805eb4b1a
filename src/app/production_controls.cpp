#include "app/production_controls.h"

#include <QGridLayout>
#include <QHBoxLayout>

#include "app/widgets.h"
#include "ops/production_setup.h"

namespace qmx::gui {
namespace {

// The rows of the power-switch list, in the order of kPowerCycleModes.
const char* const kModeRows[] = {
    "None: power the MCU by hand / 无: 手动上电",
    "DTR switches the power / DTR 控制电源",
    "RTS switches the power / RTS 控制电源",
    "DTR inverted (low = on) / DTR 反相 (低电平上电)",
    "RTS inverted (low = on) / RTS 反相 (低电平上电)",
    "Command (run with off / on) / 命令 (参数 off / on)",
};

}  // namespace

ProductionControls::ProductionControls(QWidget* parent) : QObject(parent) {
    frame_ = makeGroup(parent, "FrameProduction", QStringLiteral("Production / 生产"));
    auto* grid = new QGridLayout(frame_);

    grid->addWidget(makeLabel(frame_, "LabPowerCycle", QStringLiteral("Power cycle / 断电上电:")),
                    0, 0);
    QStringList rows;
    for (const char* row : kModeRows)
        rows << QString::fromUtf8(row);
    mode_ = makeList(frame_, "comPowerCycle", rows);
    for (int i = 0; i < mode_->count(); ++i)
        mode_->setItemData(i, QString::fromUtf8(kPowerCycleModes[size_t(i)].data(),
                                                qsizetype(kPowerCycleModes[size_t(i)].size())));
    grid->addWidget(mode_, 0, 1, 1, 2);

    grid->addWidget(makeLabel(frame_, "LabPowerCycleCommand", QStringLiteral("Command / 命令:")), 1,
                    0);
    command_ = makeEdit(frame_, "txtPowerCycleCommand");
    command_->setPlaceholderText(QStringLiteral("relay.sh   (run as: relay.sh off / relay.sh on)"));
    grid->addWidget(command_, 1, 1, 1, 2);

    grid->addWidget(
        makeLabel(frame_, "LabPowerOffMs", QStringLiteral("Power off (ms) / 断电时间:")), 2, 0);
    offMs_ = new QSpinBox(frame_);
    offMs_->setObjectName("txtPowerOffMs");
    offMs_->setRange(0, kMaxPowerOffMs);
    offMs_->setValue(kDefaultPowerOffMs);
    grid->addWidget(offMs_, 2, 1);

    logOn_ = makeCheck(frame_, "cheProductionLog", QStringLiteral("Production log / 生产记录:"));
    grid->addWidget(logOn_, 3, 0);
    logPath_ = makeEdit(frame_, "txtProductionLog");
    logPath_->setPlaceholderText(QStringLiteral("production.jsonl"));
    grid->addWidget(logPath_, 3, 1);
    logPick_ = makeButton(frame_, "comProductionLog", QStringLiteral("..."));
    grid->addWidget(logPick_, 3, 2);
    gang_ = makeButton(frame_, "comGang",
                       QStringLiteral("Gang: several ports at once... / 多路下载..."));
    grid->addWidget(gang_, 4, 0, 1, 3);
    grid->setColumnStretch(1, 1);
    connect(gang_, &QPushButton::clicked, this, &ProductionControls::gangRequested);

    connect(mode_, &QComboBox::activated, this, [this] {
        applyEnables();
        emit changed();
    });
    connect(command_, &QLineEdit::textEdited, this, &ProductionControls::changed);
    connect(offMs_, &QSpinBox::valueChanged, this, &ProductionControls::changed);
    connect(logOn_, &QCheckBox::clicked, this, [this] {
        applyEnables();
        emit changed();
    });
    connect(logPath_, &QLineEdit::textEdited, this, &ProductionControls::changed);
    connect(logPick_, &QPushButton::clicked, this, [this] {
        if (!chooseLogFile) return;
        const QString path = chooseLogFile(logPath_->text());
        if (path.isEmpty()) return;
        logPath_->setText(path);
        logOn_->setChecked(true);
        applyEnables();
        emit changed();
    });
    applyEnables();
}

void ProductionControls::applyEnables() {
    command_->setEnabled(mode_->currentData().toString() == QLatin1String("cmd"));
    offMs_->setEnabled(mode_->currentIndex() > 0);
    logPath_->setEnabled(logOn_->isChecked());
}

void ProductionControls::show(const StoredSettings& stored) {
    const int row = mode_->findData(QString::fromStdString(stored.powerCycle));
    mode_->setCurrentIndex(row < 0 ? 0 : row);
    command_->setText(QString::fromStdString(stored.powerCycleCommand));
    const QSignalBlocker quiet(offMs_);
    offMs_->setValue(stored.powerOffMs);
    logOn_->setChecked(stored.productionLogOn);
    logPath_->setText(QString::fromStdString(stored.productionLog));
    applyEnables();
}

void ProductionControls::capture(StoredSettings& stored) const {
    stored.powerCycle = mode_->currentData().toString().toStdString();
    stored.powerCycleCommand = command_->text().toStdString();
    stored.powerOffMs = offMs_->value();
    stored.productionLogOn = logOn_->isChecked();
    stored.productionLog = logPath_->text().toStdString();
}

std::optional<PowerCycle> ProductionControls::powerCycle(std::string& error) const {
    return powerCycleFromChoice(mode_->currentData().toString().toStdString(),
                                command_->text().toStdString(), offMs_->value(), error);
}

std::string ProductionControls::logPath() const {
    return logOn_->isChecked() ? logPath_->text().trimmed().toStdString() : std::string();
}

bool ProductionControls::logMissingFile() const {
    return logOn_->isChecked() && logPath_->text().trimmed().isEmpty();
}

}  // namespace qmx::gui
