// The gang dialog (`frmGang`): the loaded image programmed on several ports at once, one
// programming station per port, each with its row of state, chips OK, failures and the last
// serial number written. The stations share the window's success counter, serial-number
// stream and production log.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/isp_core.h"
#include "link/op_result.h"
#include "ops/shared_production.h"

namespace qmx::gui {

class QtUi;

class GangDialog : public QDialog {
    Q_OBJECT
  public:
    // `from` is the window's core, set up for a download; it is copied when the stations
    // start. `ports` are the device paths offered.
    GangDialog(const IspCore& from, const QStringList& ports, QWidget* parent = nullptr);
    ~GangDialog() override;

    bool running() const { return runner_.joinable(); }
    // Stops every station at its next wait.
    void stop();

  signals:
    // The stations have ended; `okCount` is the success counter they left.
    void gangFinished(const QString& okCount);

  protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

  private:
    struct Station;
    void start(int index);
    void finish(const std::vector<OpResult>& results);
    void connectStation(Station& s, int row);
    void setCell(int row, int column, const QString& text);

    const IspCore& from_;
    std::vector<std::unique_ptr<Station>> stations_;
    SettingsStore store_;  // the counter and numbering the stations share
    std::unique_ptr<SharedProduction> shared_;
    std::thread runner_;

    QListWidget* ports_;
    QTableWidget* table_;
    QPushButton* download_;
    QPushButton* reDownload_;
    QPushButton* stop_;
    QLabel* summary_;
};

}  // namespace qmx::gui
