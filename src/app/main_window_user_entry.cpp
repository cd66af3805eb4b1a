// The two pages that reach a chip through its running application: "自定义下载" (send the user
// code, then download) and "ISP DEMO" (program through the application's own loader).
#include "app/core_bridge.h"
#include "app/main_window.h"
#include "app/operation_runner.h"
#include "app/widgets.h"
#include "ops/user_command.h"

namespace qmx::gui {
namespace {

std::string settingsOf(const std::array<QComboBox*, 4>& lists) {
    return portSettingsText(
        lists[0]->currentText().toStdString(), lists[1]->currentText().toStdString(),
        lists[2]->currentText().toStdString(), lists[3]->currentText().toStdString());
}

}  // namespace

UserEntryChoices MainWindow::userEntryChoices() const {
    UserEntryChoices c;
    c.userCode = userCode_.txtUserCode->toPlainText().toStdString();
    c.userCodeSettings = settingsOf(userCode_.port);
    c.demoSendUserCode = demo_.che_Demo_DownLoad->isChecked();
    c.demoUserCode = demo_.txt_DEMO_UserCode->text().toStdString();
    c.demoUserCodeSettings = settingsOf(demo_.userCode);
    c.demoSettings = settingsOf(demo_.download);
    return c;
}

// Send user code and the demo's Download and Re-Download follow the Download button; the demo
// Stop follows Stop.
void MainWindow::setUserEntryButtons(bool startAllowed, bool stopAllowed) {
    for (QWidget* w :
         {static_cast<QWidget*>(userCode_.comSendUserCode), static_cast<QWidget*>(demo_.download_),
          static_cast<QWidget*>(demo_.reDownload)})
        w->setEnabled(startAllowed);
    demo_.stop->setEnabled(stopAllowed);
}

void MainWindow::connectUserEntryPages() {
    connect(userCode_.comSendUserCode, &QPushButton::clicked, this, [this] {
        const UserEntryChoices choices = userEntryChoices();
        startOperation(withProduction(
            [this, choices] { return asResult(run_user_code_download(core_, choices)); }));
    });
    connect(demo_.download_, &QPushButton::clicked, this, [this] {
        const UserEntryChoices choices = userEntryChoices();
        startOperation(withProduction(
            [this, choices] { return asResult(run_isp_demo(core_, choices, false)); }));
    });
    connect(demo_.reDownload, &QPushButton::clicked, this, [this] {
        const UserEntryChoices choices = userEntryChoices();
        startOperation(withProduction(
            [this, choices] { return asResult(run_isp_demo(core_, choices, true)); }));
    });
    // Takes effect at the demo's next wait (or at once in the countdown between chips).
    connect(demo_.stop, &QPushButton::clicked, this, [this] { stop_isp_demo(core_); });
    connect(demo_.txt_DEMO_UserCode, &QLineEdit::textChanged, this, [this] {
        if (!loading_) scheduleSave();
    });
}

}  // namespace qmx::gui
