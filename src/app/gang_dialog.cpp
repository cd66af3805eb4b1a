#include "app/gang_dialog.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMetaObject>
#include <QVBoxLayout>

#include <algorithm>

#include "app/qt_ui.h"
#include "app/widgets.h"
#include "ops/gang.h"
#include "ops/session_control.h"

namespace qmx::gui {

namespace {

enum Column { kPort, kState, kOk, kFailed, kSerial, kColumns };

}  // namespace

struct GangDialog::Station {
    std::unique_ptr<IspCore> core;
    QtUi* face = nullptr;
    int ok = 0;
    QString lastLine;  // the station's newest message, shown with a failure
};

GangDialog::GangDialog(const IspCore& from, const QStringList& ports, QWidget* parent)
    : QDialog(parent), from_(from) {
    setObjectName("frmGang");
    setWindowTitle(QStringLiteral("Gang: several ports at once / 多路下载"));
    auto* v = new QVBoxLayout(this);
    v->addWidget(makeLabel(this, "LabGangPorts", QStringLiteral("Ports / 串口:")));
    ports_ = new QListWidget(this);
    ports_->setObjectName("lstGangPorts");
    for (const QString& port : ports) {
        auto* item = new QListWidgetItem(port, ports_);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
    }
    v->addWidget(ports_);

    table_ = new QTableWidget(0, kColumns, this);
    table_->setObjectName("tblGang");
    table_->setHorizontalHeaderLabels(
        {QStringLiteral("Port / 串口"), QStringLiteral("State / 状态"), QStringLiteral("OK"),
         QStringLiteral("Failed / 失败"), QStringLiteral("Last serial / 最后序列号")});
    table_->horizontalHeader()->setSectionResizeMode(kState, QHeaderView::Stretch);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    v->addWidget(table_, 1);

    auto* buttons = new QHBoxLayout;
    download_ = makeButton(this, "comGangDownload", QStringLiteral("Download all / 全部下载"));
    reDownload_ =
        makeButton(this, "comGangReDownload", QStringLiteral("Re-Download all / 全部重复下载"));
    stop_ = makeButton(this, "comGangStop", QStringLiteral("Stop/停止"));
    stop_->setEnabled(false);
    buttons->addWidget(download_);
    buttons->addWidget(reDownload_);
    buttons->addWidget(stop_);
    buttons->addStretch(1);
    v->addLayout(buttons);
    summary_ = makeLabel(this, "labGangSummary", QString());
    v->addWidget(summary_);

    connect(download_, &QPushButton::clicked, this, [this] { start(0); });
    connect(reDownload_, &QPushButton::clicked, this, [this] { start(1); });
    connect(stop_, &QPushButton::clicked, this, &GangDialog::stop);
    resize(640, 420);
}

GangDialog::~GangDialog() {
    stop();
    if (runner_.joinable()) runner_.join();
}

void GangDialog::setCell(int row, int column, const QString& text) {
    auto* item = table_->item(row, column);
    if (!item) {
        item = new QTableWidgetItem;
        table_->setItem(row, column, item);
    }
    item->setText(text);
}

// What a station shows arrives on the dialog's thread, in the order the station said it.
void GangDialog::connectStation(Station& s, int row) {
    QtUi* face = s.face;
    connect(face, &QtUi::buttonStateChanged, this, [this, row](int state) {
        if (state == kStateBusy) setCell(row, kState, QStringLiteral("Waiting for power"));
    });
    connect(face, &QtUi::chipAnswerReceived, this,
            [this, row] { setCell(row, kState, QStringLiteral("Connecting")); });
    connect(face, &QtUi::progressChanged, this, [this, row](int value, int mn, int mx, bool on) {
        if (!on) return;
        const int percent = std::clamp((value - mn) * 100 / std::max(1, mx - mn), 0, 100);
        setCell(row, kState, QStringLiteral("Programming %1 %").arg(percent));
    });
    Station* station = &s;
    connect(face, &QtUi::countChanged, this, [this, row, station] {
        ++station->ok;
        setCell(row, kOk, QString::number(station->ok));
        setCell(row, kState, QStringLiteral("OK"));
    });
    connect(face, &QtUi::messageAppended, this,
            [station](const QString& line) { station->lastLine = line.trimmed(); });
    // Nobody answers a station's box: its default button, as unattended production does.
    face->boxHandler = [station](const MessageBoxRequest& box) {
        station->lastLine = QString::fromStdString(box.text).trimmed();
        return box.defaultAnswer;
    };
}

void GangDialog::start(int index) {
    if (running()) return;
    QStringList chosen;
    for (int i = 0; i < ports_->count(); ++i)
        if (ports_->item(i)->checkState() == Qt::Checked) chosen << ports_->item(i)->text();
    if (chosen.isEmpty()) {
        summary_->setText(QStringLiteral("Tick the ports to program. / 请选择串口。"));
        return;
    }
    for (auto& s : stations_)
        delete s->face;  // the last run has ended: nothing of it is still on its way
    stations_.clear();
    table_->setRowCount(int(chosen.size()));
    std::vector<IspCore*> cores;
    for (int row = 0; row < chosen.size(); ++row) {
        auto s = std::make_unique<Station>();
        s->core = std::make_unique<IspCore>();
        s->face = new QtUi(*s->core, this);
        s->core->setUi(s->face);
        copyStationSetup(from_, *s->core, chosen[row].toStdString());
        for (int c = 0; c < kColumns; ++c)
            setCell(row, c, QString());
        setCell(row, kPort, chosen[row]);
        setCell(row, kOk, QStringLiteral("0"));
        setCell(row, kFailed, QStringLiteral("0"));
        connectStation(*s, row);
        cores.push_back(s->core.get());
        stations_.push_back(std::move(s));
    }
    store_.open(from_.settings.path());
    shared_ = std::make_unique<SharedProduction>(store_, from_.download.writeOkCount, from_.serial);
    for (QWidget* w : {static_cast<QWidget*>(ports_), static_cast<QWidget*>(download_),
                       static_cast<QWidget*>(reDownload_)})
        w->setEnabled(false);
    stop_->setEnabled(true);
    summary_->setText(QStringLiteral("Running / 下载中 ..."));
    runner_ = std::thread([this, cores, index] {
        std::vector<OpResult> results = run_gang(cores, index, *shared_);
        QMetaObject::invokeMethod(
            this, [this, results] { finish(results); }, Qt::QueuedConnection);
    });
}

void GangDialog::stop() {
    for (auto& s : stations_)
        s->core->session.stop_requested = true;
}

void GangDialog::finish(const std::vector<OpResult>& results) {
    if (runner_.joinable()) runner_.join();
    int failedPorts = 0;
    for (std::size_t i = 0; i < results.size() && i < stations_.size(); ++i) {
        Station& s = *stations_[i];
        const int row = int(i);
        const OpResult& r = results[i];
        const bool failed = !r.ok() && !r.stopped_by_user();
        failedPorts += failed ? 1 : 0;
        setCell(row, kFailed, failed ? QStringLiteral("1") : QStringLiteral("0"));
        const std::string serial = s.core->session.last_serial_written;
        setCell(row, kSerial,
                serial.empty() ? QStringLiteral("-") : QString::fromStdString(serial));
        if (r.ok())
            setCell(row, kState, QStringLiteral("OK"));
        else if (r.stopped_by_user())
            setCell(row, kState, QStringLiteral("Stopped"));
        else
            setCell(row, kState, QStringLiteral("Failed: ") + s.lastLine);
    }
    const QString count = QString::fromStdString(shared_->okCount());
    summary_->setText(QStringLiteral("%1 of %2 ports failed. Success count / 下载成功计数: %3")
                          .arg(failedPorts)
                          .arg(results.size())
                          .arg(count));
    for (QWidget* w : {static_cast<QWidget*>(ports_), static_cast<QWidget*>(download_),
                       static_cast<QWidget*>(reDownload_)})
        w->setEnabled(true);
    stop_->setEnabled(false);
    emit gangFinished(count);
}

// Closing while the stations run stops them; the dialog closes once they have ended.
void GangDialog::closeEvent(QCloseEvent* event) {
    if (running()) {
        stop();
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void GangDialog::reject() {
    if (running()) {
        stop();
        return;
    }
    QDialog::reject();
}

}  // namespace qmx::gui
