// The pages of the two tab strips other than the option page and the buffer view: the chip
// status page with the option panel `LabLock`, auto-increment, saving the buffer, the hardware
// notes, and the pages whose operations this version does not offer yet (user command, ISP
// demo, offline board, monitor, debug views). Those show their controls, keep their persisted
// list choices, and say plainly that their actions are not available.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>

#include <array>
#include <vector>

#include "core/language.h"

namespace qmx::gui {

// The note every page without its operation carries.
QString notAvailableText();

struct StatusPage {  // `Frame4`, tab "检查MCU选项"
    QWidget* frame = nullptr;
    QPushButton* comReadChipLock = nullptr;
    std::array<QLabel*, 16> labLock{};
};
StatusPage buildStatusPage(QWidget* parent);

struct AutoIncreasePage {  // `fraAuto_Increase`, tab "自动增量"
    QWidget* frame = nullptr;
    QCheckBox* cheAuto_Increase = nullptr;
    std::array<QLineEdit*, 4> boxes{};       // texAuto_Increase(0..3)
    std::array<QRadioButton*, 3> formats{};  // optAuto_Increase(0..2)
};
AutoIncreasePage buildAutoIncreasePage(QWidget* parent);

struct StorePage {  // `Frame9`, tab "存储文件"
    QWidget* frame = nullptr;
    QLineEdit* start = nullptr;    // txt_Start_Address
    QLineEdit* length = nullptr;   // txt_length
    QPushButton* store = nullptr;  // comStoreFile
};
StorePage buildStorePage(QWidget* parent);

QWidget* buildHardwareHelpPage(QWidget* parent);  // `fraAboutHardWare`
// The hardware help in the language of the messages.
void showHardwareHelp(QWidget* page, Language language);

struct UserCodePage {  // `Frame8`, tab "自定义下载"
    QWidget* frame = nullptr;
    QPlainTextEdit* txtUserCode = nullptr;
    std::array<QComboBox*, 4> port{};  // cobUserCodeBaud, Parity, DataBits, StopBits
    QPushButton* comSendUserCode = nullptr;
};
UserCodePage buildUserCodePage(QWidget* parent);

struct DemoPage {  // `Frame11`, tab "ISP DEMO"
    QWidget* frame = nullptr;
    QLineEdit* txt_DEMO_UserCode = nullptr;
    QCheckBox* che_Demo_DownLoad = nullptr;
    std::array<QComboBox*, 4> download{};  // cob_DEMO_DownLoad_*
    std::array<QComboBox*, 4> userCode{};  // cob_DEMO_UserCode_*
    QPushButton* download_ = nullptr;      // com_Demo_DownLoad
    QPushButton* reDownload = nullptr;     // com_Demo_Re_DownLoad
    QPushButton* stop = nullptr;           // com_Demo_Stop
};
DemoPage buildDemoPage(QWidget* parent);

struct OfflinePage {  // `Frame18`, tab "脱机下载"
    QWidget* frame = nullptr;
    QLineEdit* txt_download_max = nullptr;
    QPushButton* comTJXZ = nullptr;
    QPushButton* help = nullptr;
};
OfflinePage buildOfflinePage(QWidget* parent);

struct MonitorPage {  // `Frame10`, tab "仿真芯片"
    QWidget* frame = nullptr;
    QPushButton* comDownSoft_ICE = nullptr;
};
MonitorPage buildMonitorPage(QWidget* parent);

struct DebugPages {  // `Frame21` and `Frame22` of TabStrip2
    QWidget* frame21 = nullptr;
    QWidget* frame22 = nullptr;
    std::array<QComboBox*, 5> port{};  // com_Debug_COM, _Baud, _DataBits, _ParityCheck, _StopBits
    QCheckBox* che_AutoOpenPort = nullptr;
    QListWidget* lst_debug1 = nullptr;
    QListWidget* lst_debug2 = nullptr;
    QListWidget* lst_debug3 = nullptr;
    QListWidget* lst_debug4 = nullptr;
    QToolButton* imgNotOpen = nullptr;  // the closed-port image: click to open
    QToolButton* imgOpen = nullptr;     // the open-port image: click to close
    QPushButton* Label13 = nullptr;     // "打开串口" / "关闭串口": toggles
    QPushButton* comDebugContinue = nullptr;
};
DebugPages buildDebugPages(QWidget* parent);
// Fills the address columns of the memory lists (blank value fields).
void fillDebugAddressColumns(DebugPages& pages);

}  // namespace qmx::gui
