#include "app/option_controls.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "app/widgets.h"

namespace qmx::gui {
namespace {

QString qs(std::string_view s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

QStringList rowsOf(const std::vector<std::string_view>& list) {
    QStringList rows;
    for (auto s : list)
        rows << qs(s);
    return rows;
}

// Field of OptionChoices held by option row i of the page (rows 0..2 and 8..10).
int OptionChoices::*rowField(int i) {
    switch (i) {
        case 0:
            return &OptionChoices::row0;
        case 1:
            return &OptionChoices::row1;
        case 2:
            return &OptionChoices::row2;
        case 8:
            return &OptionChoices::wdtLock;
        case 9:
            return &OptionChoices::wdtPowerUpStart;
        case 10:
            return &OptionChoices::wdtIdleStop;
        default:
            return nullptr;
    }
}

}  // namespace

// Frame2: the "Step 4" rows, shown per family.
void OptionControls::buildStepFourRows(QWidget* parent) {
    frame2_ = makeGroup(parent, "Frame2", QString());
    auto* f2 = new QVBoxLayout(frame2_);
    f2->setSpacing(2);
    for (int i = 0; i < 8; ++i) {
        rowBox_[i] = new QWidget(frame2_);
        rowBox_[i]->setObjectName(arrayName("Picture2", i));
        auto* h = new QHBoxLayout(rowBox_[i]);
        h->setContentsMargins(0, 0, 0, 0);
        rowLabel_[i] = makeLabel(rowBox_[i], arrayName("LabOption", i), QString());
        rowLabel_[i]->setWordWrap(true);
        h->addWidget(rowLabel_[i], 1);
        row_[i] = makePair(rowBox_[i], QStringLiteral("Option%1").arg(i), QString(), QString(),
                           rowField(i));
        h->addWidget(row_[i].choice[0]);
        h->addWidget(row_[i].choice[1]);
        f2->addWidget(rowBox_[i]);
        rowBox_[i]->hide();
    }
    noteC0_ = makeLabel(frame2_, "LabOptionC_0",
                        QStringLiteral("注:一旦烧录双倍速,由编程器擦除整个芯片才可恢复为单倍速"));
    noteC1_ = makeLabel(frame2_, "LabOptionC_1", QString());
    label7_ = makeLabel(frame2_, "Label7", QString());
    for (QLabel* l : {noteC0_, noteC1_, label7_}) {
        l->setWordWrap(true);
        f2->addWidget(l);
        l->hide();
    }
}

// Family 2: data-flash erase and the external watchdog fed during download.
void OptionControls::buildEraseAndWatchdogFrame() {
    frame15_ = makeGroup(frame12_, "Frame15", QString());
    auto* v = new QGridLayout(frame15_);
    v->addWidget(makeLabel(frame15_, "Label_erase_data",
                           QStringLiteral("下次下载用户应用程序时将数据 Flash 区一并擦除")),
                 0, 0, 1, 3);
    eraseData_ = makePair(frame15_, "opt_erase_data", "YES", "NO", &OptionChoices::eraseData);
    v->addWidget(eraseData_.choice[0], 1, 1);
    v->addWidget(eraseData_.choice[1], 1, 2);
    v->addWidget(makeLabel(frame15_, "Label_ISP_DEMO_WDT", QStringLiteral("外部看门狗:")), 2, 0);
    downloadWdt_ = makePair(frame15_, "opt_ISP_DEMO_WDT", QStringLiteral("无"),
                            QStringLiteral("用1个I/O口喂狗"), &OptionChoices::downloadWdt);
    v->addWidget(downloadWdt_.choice[0], 2, 1);
    v->addWidget(downloadWdt_.choice[1], 2, 2);
    combWdt_ = makeList(frame15_, "comb_WDT", rowsOf(watchdogFeedPinList()));
    v->addWidget(combWdt_, 2, 3);
    auto* note = makeLabel(frame15_, "Label_WDT_note",
                           QStringLiteral("以下功能单片机底层软件固件版本号 2.8x 以上才有效"));
    note->setWordWrap(true);
    v->addWidget(note, 3, 0, 1, 4);
}

// Family 2: AUX-RAM access and the watchdog after reset.
void OptionControls::buildAuxRamFrame() {
    frame14_ = makeGroup(frame12_, "Frame14", QString());
    auto* v = new QGridLayout(frame14_);
    v->addWidget(makeLabel(frame14_, "Label_AUX_RAM", QStringLiteral("内部扩展AUX-RAM:")), 0, 0);
    auto* no = makeRadio(frame14_, "optAUX_RAM_NO", QStringLiteral("禁止访问"));
    auto* yes = makeRadio(frame14_, "optAUX_RAM_YES", QStringLiteral("允许访问(强烈推荐)"));
    auxRam_ = makePair(frame14_, no, yes, &OptionChoices::auxRam, 0);
    v->addWidget(no, 0, 1);
    v->addWidget(yes, 0, 2);
    v->addWidget(
        makeLabel(frame14_, "Label_RST_CLOSE_WDT", QStringLiteral("用户软件启动内部看门狗后")), 1,
        0);
    auto* rYes = makeRadio(frame14_, "optRST_CLOSE_WDT_YES", QStringLiteral("复位关看门狗"));
    auto* rNo = makeRadio(frame14_, "optRST_CLOSE_WDT_NO", QStringLiteral("只有停电关看门狗"));
    resetWdt_ = makePair(frame14_, rYes, rNo, &OptionChoices::resetWdt, 0);
    v->addWidget(rYes, 1, 1);
    v->addWidget(rNo, 1, 2);
    v->addWidget(makeLabel(frame14_, "Label_2005", QStringLiteral("2005年6月以后供货")), 2, 0, 1,
                 3);
}

// Families 3 and 4: RS-485 direction line.
void OptionControls::buildRs485Frame() {
    frame23_ = makeGroup(frame12_, "Frame23", QString());
    auto* v = new QGridLayout(frame23_);
    v->addWidget(makeLabel(frame23_, "Label_485", QStringLiteral("485收发控制:")), 0, 0);
    rs485_ = makePair(frame23_, "opt_485_pin", QStringLiteral("无485"),
                      QStringLiteral("用1个I/O口控制"), &OptionChoices::rs485);
    v->addWidget(rs485_.choice[0], 0, 1);
    v->addWidget(rs485_.choice[1], 0, 2);
    comb485Pin_ = makeList(frame23_, "comb_485_pin", rowsOf(ioPinList()));
    v->addWidget(comb485Pin_, 0, 3);
    logicLabel_ = makeLabel(frame23_, "Label_485_logic", QStringLiteral("控制逻辑:"));
    v->addWidget(logicLabel_, 1, 0);
    rs485Logic_ = makePair(frame23_, "opt_485_logic", QStringLiteral("高电平发送,低接收"),
                           QStringLiteral("高接收,低发送"), &OptionChoices::rs485Logic);
    v->addWidget(rs485Logic_.choice[0], 1, 1);
    v->addWidget(rs485Logic_.choice[1], 1, 2);
}

// Families 3 and 4: external watchdog.
void OptionControls::buildExternalWatchdogFrame() {
    frame20_ = makeGroup(frame12_, "Frame20", QString());
    auto* v = new QGridLayout(frame20_);
    v->addWidget(makeLabel(frame20_, "Label_External_WDT", QStringLiteral("外部看门狗:")), 0, 0);
    externalWdt_ = makePair(frame20_, "opt_External_WDT", QStringLiteral("无"),
                            QStringLiteral("用1个I/O口喂狗"), &OptionChoices::externalWdt);
    v->addWidget(externalWdt_.choice[0], 0, 1);
    v->addWidget(externalWdt_.choice[1], 0, 2);
    combExternalWdtPin_ = makeList(frame20_, "comb_ISP_DEMO_WDT", rowsOf(ioPinList()));
    v->addWidget(combExternalWdtPin_, 0, 3);
}

// Families 3 and 4: internal watchdog rows 8 to 10 and the prescaler.
void OptionControls::buildWatchdogRows() {
    watchdogBox_ = new QWidget(frame12_);
    watchdogBox_->setObjectName("Frame_watchdog_rows");
    auto* v = new QGridLayout(watchdogBox_);
    v->setContentsMargins(0, 0, 0, 0);
    for (int i = 8; i <= 10; ++i) {
        rowBox_[i] = new QWidget(watchdogBox_);
        rowBox_[i]->setObjectName(arrayName("Picture2", i));
        auto* h = new QHBoxLayout(rowBox_[i]);
        h->setContentsMargins(0, 0, 0, 0);
        rowLabel_[i] =
            makeLabel(rowBox_[i], arrayName("LabOption", i), qs(kWatchdogRowLabels[i - 8]));
        h->addWidget(rowLabel_[i], 1);
        row_[i] = makePair(rowBox_[i], QStringLiteral("Option%1").arg(i), "YES", "NO", rowField(i));
        h->addWidget(row_[i].choice[0]);
        h->addWidget(row_[i].choice[1]);
        v->addWidget(rowBox_[i], i - 8, 0, 1, 2);
    }
    label20_ =
        makeLabel(watchdogBox_, "Label20", QStringLiteral("上电自动启动内部看门狗时的预分频数"));
    prescaler_ = makeList(watchdogBox_, "comWDT_Prescalar", rowsOf(prescalerList()));
    v->addWidget(label20_, 3, 0);
    v->addWidget(prescaler_, 3, 1);
}

// All families: success beep and re-download delay.
void OptionControls::buildBeepFrame() {
    frame16_ = makeGroup(frame12_, "Frame16", QString());
    auto* v = new QGridLayout(frame16_);
    v->addWidget(makeLabel(frame16_, "Label_beep", QStringLiteral("下载成功声音提示:")), 0, 0);
    beepYes_ = makeRadio(frame16_, "optBeepYes", "YES");
    beepNo_ = makeRadio(frame16_, "optBeepNo", "NO");
    auto* g = new QButtonGroup(frame16_);
    g->addButton(beepYes_);
    g->addButton(beepNo_);
    beepYes_->setChecked(true);
    v->addWidget(beepYes_, 0, 1);
    v->addWidget(beepNo_, 0, 2);
    v->addWidget(makeLabel(frame16_, "Label_delay", QStringLiteral("重复下载间隔时间(秒)")), 1, 0);
    delay_ = makeList(frame16_, "comDalay_ReDownLoad", {"9", "8", "7", "6", "5", "4", "3", "2"});
    delay_->setCurrentIndex(4);
    v->addWidget(delay_, 1, 1, 1, 2);
    v->addWidget(makeLabel(frame16_, "Label_language", QStringLiteral("Language / 语言:")), 2, 0);
    language_ = new QComboBox(frame16_);
    language_->setObjectName("cobLanguage");
    language_->addItem(QStringLiteral("English / 中文"), QStringLiteral("both"));
    language_->addItem(QStringLiteral("English"), QStringLiteral("en"));
    language_->addItem(QStringLiteral("中文"), QStringLiteral("zh"));
    v->addWidget(language_, 2, 1, 1, 2);
    v->setColumnStretch(3, 1);
}

void OptionControls::addPageGroup(QWidget* group) {
    auto* grid = static_cast<QGridLayout*>(frame12_->layout());
    // The spare height stays below the last group.
    for (int r = 0; r < grid->rowCount(); ++r)
        grid->setRowStretch(r, 0);
    const int row = grid->rowCount();
    grid->addWidget(group, row, 0);
    grid->setRowStretch(row + 1, 1);
}

// The pin lists and the prescaler write their choice; the RS-485 and external-watchdog
// choices are saved as they change.
void OptionControls::connectPinLists() {
    connect(comb485Pin_, &QComboBox::activated, this, [this](int row) {
        OptionChoices next = choices_;  // the check sees the new row even while held back
        next.rs485Pin = row;
        change([this, row] { choices_.rs485Pin = row; });
        checkPinLists(next);
        emit saveRequested();
    });
    connect(combExternalWdtPin_, &QComboBox::activated, this, [this](int row) {
        OptionChoices next = choices_;  // the check sees the new row even while held back
        next.externalWdtPin = row;
        change([this, row] { choices_.externalWdtPin = row; });
        checkPinLists(next);
        emit saveRequested();
    });
    connect(combWdt_, &QComboBox::activated, this,
            [this](int row) { change([this, row] { choices_.downloadWdtPin = row; }); });
    connect(prescaler_, &QComboBox::currentIndexChanged, this, [this](int row) {
        if (row >= 0) change([this, row] { choices_.wdtPrescaler = row; });
    });
    // The RS-485 and external-watchdog choices are kept between runs: every change of them
    // is saved.
    for (QButtonGroup* g : {rs485Logic_.group, rs485_.group, externalWdt_.group})
        connect(g, &QButtonGroup::idClicked, this, [this] { emit saveRequested(); });
}

OptionControls::OptionControls(OptionChoices& choices, QWidget* frame2Parent,
                               QWidget* frame12Parent)
    : QObject(frame2Parent), choices_(choices) {
    buildStepFourRows(frame2Parent);

    // --- Frame12: the tab "选项" ---
    frame12_ = new QWidget(frame12Parent);
    frame12_->setObjectName("Frame12");
    auto* grid = new QGridLayout(frame12_);
    buildEraseAndWatchdogFrame();
    buildAuxRamFrame();
    buildRs485Frame();
    buildExternalWatchdogFrame();
    buildWatchdogRows();
    buildBeepFrame();

    grid->addWidget(frame15_, 0, 0);
    grid->addWidget(frame14_, 1, 0);
    grid->addWidget(frame23_, 2, 0);
    grid->addWidget(frame20_, 3, 0);
    grid->addWidget(watchdogBox_, 4, 0);
    grid->addWidget(frame16_, 5, 0);
    grid->setRowStretch(6, 1);

    connectPinLists();

    for (QWidget* w :
         {static_cast<QWidget*>(frame14_), static_cast<QWidget*>(frame15_),
          static_cast<QWidget*>(frame20_), static_cast<QWidget*>(frame23_), watchdogBox_})
        w->hide();
    showChoices();
}

OptionControls::Pair OptionControls::makePair(QWidget* parent, const QString& name,
                                              const QString& text0, const QString& text1,
                                              int OptionChoices::*field) {
    auto* a = makeRadio(parent, arrayName(name, 0), text0);
    auto* b = makeRadio(parent, arrayName(name, 1), text1);
    return makePair(parent, a, b, field, 0);
}

// `firstValue` is the choice index that the first button stands for (the AUX-RAM pair shows
// "禁止访问" = choice 0 first; all other pairs are in choice order).
OptionControls::Pair OptionControls::makePair(QWidget* parent, QRadioButton* first,
                                              QRadioButton* second, int OptionChoices::*field,
                                              int firstValue) {
    Pair p;
    p.group = new QButtonGroup(parent);
    p.group->addButton(first, firstValue);
    p.group->addButton(second, 1 - firstValue);
    p.choice[firstValue] = first;
    p.choice[1 - firstValue] = second;
    if (field) {
        connect(p.group, &QButtonGroup::idClicked, this, [this, field](int id) {
            change([this, field, id] { choices_.*field = id; });
            applyEnables();
        });
    }
    return p;
}

void OptionControls::setPair(const Pair& pair, int choice) {
    if (!pair.group) return;
    if (choice == 0 || choice == 1) {
        pair.choice[choice]->setChecked(true);
    } else {
        pair.group->setExclusive(false);
        pair.choice[0]->setChecked(false);
        pair.choice[1]->setChecked(false);
        pair.group->setExclusive(true);
    }
}

void OptionControls::buildPage(int family) {
    family_ = family;
    resetOptionPage(choices_, family);
    const OptionPage page = optionPage(family);

    frame2_->setTitle(qs(page.frameCaption));
    for (int i = 0; i < 8; ++i) {
        const bool shown = i < int(page.rows.size());
        rowBox_[i]->setVisible(shown);
        if (!shown) {
            setPair(row_[i], -1);
            continue;
        }
        const OptionRow& r = page.rows[size_t(i)];
        rowLabel_[i]->setText(qs(r.label));
        row_[i].choice[0]->setText(qs(r.choice0));
        row_[i].choice[1]->setText(qs(r.choice1));
        row_[i].choice[0]->setVisible(!r.notice);
        row_[i].choice[1]->setVisible(!r.notice);
    }
    noteC0_->setVisible(!page.noteBelowRows.empty());
    if (!page.noteBelowRows.empty()) noteC0_->setText(qs(page.noteBelowRows));
    noteC1_->hide();
    label7_->setVisible(!page.label7.empty());
    label7_->setText(qs(page.label7));

    frame14_->setVisible(page.showAuxRamGroup);
    frame15_->setVisible(page.showEraseWdtGroup);
    frame23_->setVisible(page.showRs485Group);
    frame20_->setVisible(page.showExternalWdtGroup);
    watchdogBox_->setVisible(page.showWatchdogRows);
    // High on the page without a border for families 0 and 1; low with a border otherwise.
    frame16_->setFlat(page.beepFrameHigh);
    showChoices();
    setLocked(locked_);
}

void OptionControls::showChoices() {
    for (int i : {0, 1, 2})
        setPair(row_[i], rowBox_[i]->isHidden() ? -1 : choices_.*rowField(i));
    for (int i : {8, 9, 10})
        setPair(row_[i], choices_.*rowField(i));
    setPair(eraseData_, choices_.eraseData);
    setPair(downloadWdt_, choices_.downloadWdt);
    setPair(auxRam_, choices_.auxRam);
    setPair(resetWdt_, choices_.resetWdt);
    setPair(rs485_, choices_.rs485);
    setPair(rs485Logic_, choices_.rs485Logic);
    setPair(externalWdt_, choices_.externalWdt);
    combWdt_->setCurrentIndex(choices_.downloadWdtPin);
    if (combWdt_->currentIndex() < 0) combWdt_->setCurrentIndex(0);
    comb485Pin_->setCurrentIndex(choices_.rs485Pin);
    combExternalWdtPin_->setCurrentIndex(choices_.externalWdtPin);
    prescaler_->setCurrentIndex(choices_.wdtPrescaler);
    applyEnables();
}

void OptionControls::applyEnables() {
    const OptionEnables e = optionEnables(choices_);
    label20_->setEnabled(e.prescaler);
    prescaler_->setEnabled(e.prescaler);
    rowLabel_[10]->setEnabled(e.idleRow);
    row_[10].choice[0]->setEnabled(e.idleRow);
    row_[10].choice[1]->setEnabled(e.idleRow);
    comb485Pin_->setEnabled(e.rs485PinAndLogic);
    logicLabel_->setEnabled(e.rs485PinAndLogic);
    rs485Logic_.choice[0]->setEnabled(e.rs485PinAndLogic);
    rs485Logic_.choice[1]->setEnabled(e.rs485PinAndLogic);
    combExternalWdtPin_->setEnabled(e.externalWdtPin);
    combWdt_->setEnabled(e.downloadWdtPin && !locked_);
}

void OptionControls::setLocked(bool locked) {
    locked_ = locked;
    for (int i = 0; i < 8; ++i)
        for (QRadioButton* b : row_[i].choice)
            b->setEnabled(!locked && !rowBox_[i]->isHidden());
    for (const Pair* p : {&eraseData_, &downloadWdt_, &auxRam_, &resetWdt_})
        for (QRadioButton* b : p->choice)
            b->setEnabled(!locked);
    applyEnables();
}

void OptionControls::checkPinLists(const OptionChoices& choices) {
    if (auto conflict = pinListConflict(choices); conflict && showNotice) showNotice(qs(*conflict));
}

}  // namespace qmx::gui
