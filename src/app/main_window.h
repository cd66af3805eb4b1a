// MainWindow (`frmMain`): the one window of qmx-isp-gui. It owns the core object and binds the
// widgets to it: the five step frames on the left, the buffer view and debug tabs above right
// (`TabStrip2`), the setup pages below right (`TabStrip1`). Long operations run on one worker
// thread; the window's thread never waits for them. Every control's objectName is its control
// name; element i of a control array X is named "X_i".
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QStringList>
#include <QTabBar>
#include <QTimer>

#include <array>
#include <functional>
#include <memory>
#include <vector>

#include "app/setup_pages.h"
#include "core/isp_core.h"
#include "link/op_result.h"
#include "ops/download_driver.h"
#include "ops/user_command.h"
#include "settings/settings_keys.h"

namespace qmx::gui {

class BufferView;
class DebugPanel;
class OperationRunner;
class GangDialog;
class OptionControls;
class ProductionControls;
class QtUi;

struct WindowOptions {
    QString settingsPath;    // empty: the default store shared with the command line
    QStringList extraPorts;  // device paths added to the port list (pseudo-terminals ...)
    QString monitorDir;      // looked in first for the monitor files of SoftICE
};

class MainWindow : public QMainWindow {
    Q_OBJECT
  public:
    explicit MainWindow(const WindowOptions& options = {}, QWidget* parent = nullptr);
    ~MainWindow() override;

    IspCore& core() { return core_; }
    QtUi& face() { return *ui_; }
    bool operationRunning() const;
    // The second close request was accepted: the window has unloaded.
    bool unloaded() const { return unloaded_; }

    // Loads a file as the Open File button does after its dialog.
    void loadFile(const QString& path);
    // Adds a device path to the port list (when new) and selects it.
    void choosePort(const QString& path);
    // The page selection of TabStrip1 / TabStrip2 (the "_no_" rule).
    void selectSetupTab(int index);
    void selectViewTab(int index);
    // The folder looked in first for the SoftICE monitor files.
    void setMonitorDir(const QString& dir) { monitorDir_ = dir; }
    // Selects a model row as a click on the model list does.
    void selectModelRow(int row);

    // The message pane's text written to a file (UTF-8, one line per line); false with a
    // message box when the file cannot be written.
    bool saveLog(const QString& path);
    // The whole message pane on the clipboard.
    void copyLog();

    // The settings-save timer (`Timer3`): several changes within 500 ms give one save.
    void scheduleSave();
    // Writes every "every save" key now.
    void saveSettings();

  signals:
    // An operation started on the worker ended (the window is idle again).
    void operationFinished();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    // Writes to the core's setup state go through here: at once while no operation runs,
    // otherwise held back until it ends (the operation owns the core until then).
    void changeCore(std::function<void()> write);
    // --- construction ---
    void buildWindow();
    QWidget* buildLeftColumn(QWidget* parent);
    void buildModelFrame(QWidget* col);
    void buildFileFrame(QWidget* col);
    void buildPortFrame(QWidget* col);
    void buildDownloadFrame(QWidget* col);
    QHBoxLayout* buildCounterLine(QWidget* col);
    QWidget* buildRightSide(QWidget* parent);
    void connectFace();
    void connectControls();
    void connectSetupControls();
    void connectSessionControls();
    void connectOptionPage();
    void connectAutoIncrease();
    void connectBufferStore();
    void startWindowTimers();
    // --- start-up ---
    void startUp(const WindowOptions& options);
    void restoreGeometry();
    void restoreMainKeys(const WindowOptions& options);
    void resetStation();
    void restorePortPages();
    void loadSettings();
    void refreshPortList(const QStringList& extra);
    void selectStoredPort(const StoredSettings& stored);
    QString portToStore() const;
    // --- model and setup ---
    void combMcuModel_Click(int row);
    void setTabCaption(QTabBar* bar, std::string_view key, std::string_view caption);
    void refreshRangeDisplay();
    void lockSetupControls();
    void unlockSetupControls();
    void applyButtonState(int state);
    // --- the user-code and ISP DEMO pages ---
    void connectUserEntryPages();
    UserEntryChoices userEntryChoices() const;
    void setUserEntryButtons(bool startAllowed, bool stopAllowed);
    // --- operations ---
    // An operation on the worker; what it returns sets the state line when it ends.
    using Operation = std::function<OpResult()>;
    void startOperation(Operation operation);
    // A download with the production choices: refused with a message while they are
    // incomplete; the production log is opened first when one is chosen.
    Operation withProduction(Operation operation);
    void connectProduction();
    // What stops a download before it starts (incomplete power switch, no log file named).
    std::string productionProblem() const;
    // The gang dialog over the loaded image and the ports of the port list; the window
    // starts nothing else while it is open.
    void openGang();
    void takeGangResults(const QString& okCount);
    void onOperationFinished();
    // --- the state line: where the station is ---
    enum class Tone { Plain, Good, Bad };
    void showStation(const QString& text, Tone tone = Tone::Plain);
    void showOutcome(const OpResult& result);
    void showProgramming(int value, int minimum, int maximum);
    void chooseAndSaveLog();
    void showPaneMenu(const QPoint& at);
    void syncChoicesToCore();
    void showCoreState();
    void showSerialBoxes();
    // --- event handlers of the controls (named after the control and its event) ---
    void comLoadFile_Click();
    void comStoreFile_Click();
    void cheAuto_Increase_Click(bool ticked);
    void comDownload_Click(int index);
    void comStop_Download_Click();
    void comReadChipLock_Click();
    void comClear_OK_Count_Click();
    void Timer3_Timer();
    void Timer12_Timer();
    void beepTimes(int times);
    // --- message pane ---
    void appendMessage(const QString& line);
    void replaceMessages(const QString& text);
    // --- close ---
    void TimerUnload_Timer();
    void rememberGeometry();

    IspCore core_;
    QtUi* ui_ = nullptr;
    OperationRunner* runner_ = nullptr;
    OptionControls* options_ = nullptr;
    ProductionControls* production_ = nullptr;
    GangDialog* gang_ = nullptr;  // open gang dialog
    BufferView* view_ = nullptr;
    StoredSettings stored_;
    FileWatch fileWatch_;
    bool closing_ = false;
    bool unloaded_ = false;
    bool geometryRemembered_ = false;
    bool saveDeferred_ = false;
    // Setup changes made while an operation runs, applied in order when it has ended.
    std::vector<std::function<void()>> heldChanges_;
    bool loading_ = true;
    int buttonState_ = kStateIdle;
    int setupTab_ = 0;
    int viewTab_ = 0;

    // Left column.
    QGroupBox* frame1_ = nullptr;
    QComboBox* combMcuModel_ = nullptr;
    std::array<QLineEdit*, 4> txtISP_reange_{};
    QGroupBox* frame5_ = nullptr;
    QPushButton* comLoadFile_ = nullptr;
    std::array<QRadioButton*, 2> optFillbyte_{};
    QLineEdit* text4_ = nullptr;
    QCheckBox* check6_ = nullptr;
    QLineEdit* txtFileCheckSum_ = nullptr;
    QGroupBox* frame3_ = nullptr;
    QComboBox* combCommPort_ = nullptr;
    QPushButton* comOtherPort_ = nullptr;
    QComboBox* cobBaudMax_ = nullptr;
    QGroupBox* frame6_ = nullptr;
    std::array<QPushButton*, 2> comDownload_{};
    QPushButton* comStop_ = nullptr;
    QPushButton* comWrite_ = nullptr;
    QPushButton* comLock_ = nullptr;
    QPushButton* comRun_ = nullptr;
    QCheckBox* cekReloadFile_ = nullptr;
    QCheckBox* cekReloadOnChange_ = nullptr;
    QPlainTextEdit* textMsg_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QLabel* labKbyte_ = nullptr;
    QLabel* labState_ = nullptr;  // the state line: waiting, connecting, programming, done ...
    OpResult lastResult_;         // what the last operation returned (set before it ends)
    bool fileLoadedAtStart_ = false;
    bool languageChosen_ = false;   // "Language" is stored: the user has picked one
    bool roomForMessages_ = false;  // first start: grow until the pane shows a dozen lines
    QLineEdit* txtWrite_OK_Count_ = nullptr;
    QPushButton* comClear_OK_Count_ = nullptr;
    QLabel* labUpdataVersion_ = nullptr;

    // Right side.
    QTabBar* tabStrip2_ = nullptr;
    QStackedWidget* tabStrip2Pages_ = nullptr;
    QTabBar* tabStrip1_ = nullptr;
    QStackedWidget* picture1_ = nullptr;
    QWidget* hardwareHelp_ = nullptr;  // `fraAboutHardWare`
    StatusPage status_;
    AutoIncreasePage autoIncrease_;
    StorePage store_;
    UserCodePage userCode_;
    DemoPage demo_;
    OfflinePage offline_;
    MonitorPage monitor_;
    DebugPages debug_;
    DebugPanel* debugPanel_ = nullptr;
    QString monitorDir_;
    bool openDebugAfterDownload_ = false;  // `che_AutoOpenPort` after a single download
    bool monitorCapable_ = false;

    QTimer timer3_;
    QTimer timerUnload_;
    QTimer timer12_;
};

}  // namespace qmx::gui
