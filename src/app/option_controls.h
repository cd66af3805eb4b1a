// The option controls of the window: the "Step 4" frame `Frame2` in the left column and the
// page `Frame12` of the tab "选项". They show the page of the current family, keep the
// dependent controls enabled or disabled, check pin conflicts, and mirror every choice into
// the core's OptionChoices at once, so that an operation always reads the current choices.
#pragma once

#include <QButtonGroup>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QObject>
#include <QRadioButton>
#include <QWidget>

#include <array>
#include <functional>

#include "catalogue/option_set.h"

namespace qmx::gui {

class OptionControls : public QObject {
    Q_OBJECT
  public:
    // Builds Frame2 and Frame12; `choices` is the core's option state.
    OptionControls(OptionChoices& choices, QWidget* frame2Parent, QWidget* frame12Parent);

    QGroupBox* frame2() const { return frame2_; }
    QWidget* frame12() const { return frame12_; }
    // Adds a group of another owner to the bottom of the page "选项".
    void addPageGroup(QWidget* group);

    // The page build of a family: rows and groups shown, rows 0..2 and 8..10 reset to the
    // family defaults, the tab groups keep their choices.
    void buildPage(int family);
    int family() const { return family_; }

    // Show the choices held in OptionChoices in the controls (after the settings were read)
    // and re-apply the dependent enables.
    void showChoices();

    // Setup lock while an operation runs (rows, erase, AUX-RAM, watchdog-reset, comb_WDT).
    void setLocked(bool locked);

    // Shows a message box; the window installs one (tests may answer it themselves).
    std::function<void(const QString& text)> showNotice;
    // Runs a change of the option choices. The window installs one that holds the change back
    // while an operation runs (the operation reads the choices); unset, it runs at once.
    std::function<void(std::function<void()> change)> changeChoices;

    // The beep and re-download delay controls of `Frame16`.
    QRadioButton* beepYes() const { return beepYes_; }
    QRadioButton* beepNo() const { return beepNo_; }
    QComboBox* redownloadDelay() const { return delay_; }
    // The language of the messages: rows "both", "en", "zh" (the row's data is the name).
    QComboBox* language() const { return language_; }

  signals:
    // A persisted choice changed (RS-485 pin or logic): the window schedules a save.
    void saveRequested();

  private:
    void change(std::function<void()> write) {
        if (changeChoices)
            changeChoices(std::move(write));
        else
            write();
    }
    struct Pair {
        QButtonGroup* group = nullptr;
        std::array<QRadioButton*, 2> choice{};
    };
    Pair makePair(QWidget* parent, const QString& name, const QString& text0, const QString& text1,
                  int OptionChoices::*field);
    Pair makePair(QWidget* parent, QRadioButton* first, QRadioButton* second,
                  int OptionChoices::*field, int firstValue);
    void setPair(const Pair& pair, int choice);
    // The construction steps, one frame each.
    void buildStepFourRows(QWidget* parent);
    void buildEraseAndWatchdogFrame();
    void buildAuxRamFrame();
    void buildRs485Frame();
    void buildExternalWatchdogFrame();
    void buildWatchdogRows();
    void buildBeepFrame();
    void connectPinLists();
    void applyEnables();
    void checkPinLists(const OptionChoices& choices);

    OptionChoices& choices_;
    int family_ = -1;
    bool locked_ = false;

    QGroupBox* frame2_;
    QWidget* frame12_;
    std::array<QWidget*, 11> rowBox_{};   // Picture2(i)
    std::array<QLabel*, 11> rowLabel_{};  // LabOption(i)
    std::array<Pair, 11> row_{};          // Option0 .. Option10
    QLabel* noteC0_;
    QLabel* noteC1_;
    QLabel* label7_;

    QGroupBox* frame14_;
    QGroupBox* frame15_;
    QGroupBox* frame20_;
    QGroupBox* frame23_;
    QGroupBox* frame16_;
    QWidget* watchdogBox_;
    Pair eraseData_, downloadWdt_, auxRam_, resetWdt_, rs485_, rs485Logic_, externalWdt_;
    QComboBox* combWdt_;
    QComboBox* comb485Pin_;
    QComboBox* combExternalWdtPin_;
    QComboBox* prescaler_;
    QLabel* label20_;
    QLabel* logicLabel_;
    QRadioButton* beepYes_;
    QRadioButton* beepNo_;
    QComboBox* delay_;
    QComboBox* language_;
};

}  // namespace qmx::gui
