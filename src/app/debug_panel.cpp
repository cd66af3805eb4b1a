#include "app/debug_panel.h"
#include "app/thread_handoff.h"

#include <QMetaObject>

#include <memory>

#include "app/operation_runner.h"
#include "core/isp_core.h"
#include "link/port_path.h"
#include "monitor/debug_port.h"

namespace qmx::gui {

DebugPanel::DebugPanel(IspCore& core, DebugPages& pages, OperationRunner& runner, QObject* parent)
    : QObject(parent), core_(core), pages_(pages), runner_(runner) {
    connect(pages_.imgNotOpen, &QToolButton::clicked, this, &DebugPanel::open);
    connect(pages_.imgOpen, &QToolButton::clicked, this, &DebugPanel::close);
    connect(pages_.Label13, &QPushButton::clicked, this, &DebugPanel::toggle);
    connect(pages_.comDebugContinue, &QPushButton::clicked, this, &DebugPanel::continueRun);
    renderAll();
}

void DebugPanel::syncPorts(const QComboBox* source) {
    QComboBox* list = pages_.port[0];
    const int row = list->currentIndex();
    const QString chosen = list->currentData().toString();
    {
        const QSignalBlocker block(list);
        list->clear();
        for (int i = 0; i < source->count(); ++i)
            list->addItem(source->itemText(i), source->itemData(i));
        if (list->count() > 0) list->setCurrentIndex(row >= 0 && row < list->count() ? row : 0);
    }
    if (chosen.startsWith('/')) choosePort(chosen.toStdString());
}

void DebugPanel::choosePort(const std::string& path) {
    QComboBox* list = pages_.port[0];
    const QSignalBlocker block(list);
    for (int row = 0; row < list->count(); ++row) {
        if (samePortDevice(list->itemData(row).toString().toStdString(), path)) {
            list->setCurrentIndex(row);
            return;
        }
    }
    const QString text = QString::fromStdString(path);
    list->addItem(text, text);
    list->setCurrentIndex(list->count() - 1);
}

void DebugPanel::setFamily(int family) {
    views_.setSfrRows(sfrRowsFor(family));
    renderAll();
}

void DebugPanel::open() {
    if (running_ || locked_ || runner_.busy()) return;
    DebugPortRequest request;
    request.portPath = pages_.port[0]->currentData().toString().toStdString();
    if (request.portPath.empty()) request.portPath = pages_.port[0]->currentText().toStdString();
    request.settings = debugSettingsText(
        pages_.port[1]->currentText().toStdString(), pages_.port[3]->currentText().toStdString(),
        pages_.port[2]->currentText().toStdString(), pages_.port[4]->currentText().toStdString());
    control_.close = false;
    control_.continueRun = false;
    running_ = true;
    updateEnabled();
    // The operation keeps its own views; the window applies each good frame to its copy.
    runner_.start([this, request] {
        DebugViews workerViews;
        DebugPortEvents events;
        events.opened = [this] { runOnThreadOf(this, [this] { showOpen(true); }); };
        events.frame = [this](const std::vector<std::uint8_t>& frame) {
            runOnThreadOf(this, [this, frame] { applyFrame(frame); });
        };
        runDebugPort(core_, request, workerViews, control_, events);
    });
}

void DebugPanel::close() {
    if (running_) control_.close = true;
}

void DebugPanel::toggle() {
    if (running_)
        close();
    else
        open();
}

void DebugPanel::continueRun() {
    if (running_ && open_) control_.continueRun = true;
}

void DebugPanel::takeOver(std::function<void()> then) {
    then_ = std::move(then);
    close();
}

bool DebugPanel::operationEnded() {
    if (!running_) return false;
    running_ = false;
    showOpen(false);
    if (then_) {
        auto then = std::move(then_);
        then_ = nullptr;
        then();
    }
    return true;
}

void DebugPanel::setLocked(bool locked) {
    locked_ = locked;
    updateEnabled();
}

void DebugPanel::showOpen(bool open) {
    open_ = open && running_;
    pages_.imgOpen->setVisible(open_);
    pages_.imgNotOpen->setVisible(!open_);
    pages_.Label13->setText(open_ ? QStringLiteral("关闭串口") : QStringLiteral("打开串口"));
    updateEnabled();
}

void DebugPanel::updateEnabled() {
    // While a programming operation runs the port belongs to it; while the debug port is open
    // its settings stay as they were opened.
    for (QComboBox* c : pages_.port)
        c->setEnabled(!locked_ && !running_);
    pages_.imgNotOpen->setEnabled(!locked_);
    pages_.imgOpen->setEnabled(!locked_);
    pages_.Label13->setEnabled(!locked_);
    pages_.comDebugContinue->setEnabled(!locked_ && open_);
}

void DebugPanel::applyFrame(const std::vector<std::uint8_t>& frame) {
    const ReportEffect e = views_.apply(frame.data(), frame.size());
    if (e.view == DebugView::None) return;
    if (e.rebuilt)
        render(e.view, {});
    else
        render(e.view, e.changedLines);
}

QListWidget* DebugPanel::listOf(DebugView view) const {
    switch (view) {
        case DebugView::Sfr:
            return pages_.lst_debug1;
        case DebugView::Idata:
            return pages_.lst_debug2;
        case DebugView::Xdata:
            return pages_.lst_debug3;
        default:
            return pages_.lst_debug4;
    }
}

// Rewrites the changed lines of a list, or the whole list when `lines` is empty.
void DebugPanel::render(DebugView view, const std::vector<int>& lines) {
    QListWidget* list = listOf(view);
    const auto& text = views_.lines(view);
    if (lines.empty() || list->count() != static_cast<int>(text.size())) {
        list->clear();
        for (const auto& l : text)
            list->addItem(QString::fromStdString(l));
        return;
    }
    for (int i : lines)
        list->item(i)->setText(QString::fromStdString(text[static_cast<std::size_t>(i)]));
}

void DebugPanel::renderAll() {
    for (DebugView v : {DebugView::Sfr, DebugView::Idata, DebugView::Xdata, DebugView::Window})
        render(v, {});
}

}  // namespace qmx::gui
