// DebugPanel: the debug port page of the window (`Frame21`, `Frame22`). Opening the port starts
// the debug operation on the window's worker thread, so the window never waits on the port;
// each good report frame comes back to the window's thread and fills the four lists
// (`lst_debug1` registers, `lst_debug2` internal RAM, `lst_debug3` data memory, `lst_debug4`
// the 512-byte window). Another operation takes the port over: the debug operation ends first.
#pragma once

#include <QObject>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <vector>

#include "app/setup_pages.h"
#include "monitor/debug_port.h"
#include "monitor/debug_views.h"

namespace qmx {
class IspCore;
}

namespace qmx::gui {

class OperationRunner;

class DebugPanel : public QObject {
  public:
    DebugPanel(IspCore& core, DebugPages& pages, OperationRunner& runner, QObject* parent);

    // The debug operation runs (the port is open or opening).
    bool running() const { return running_; }
    // `imgNotOpen`: opens the port with the page's settings (nothing while another runs).
    void open();
    // `imgOpen`: ends the debug operation; the port closes.
    void close();
    // `Label13`: one or the other.
    void toggle();
    // `comDebugContinue`: reopen and tell the paused program to go on.
    void continueRun();
    // Another operation wants the port: the debug operation ends, then `then` runs.
    void takeOver(std::function<void()> then);
    // The runner's operation ended; true when it was the debug operation.
    bool operationEnded();
    // A programming operation runs: the port controls are locked meanwhile.
    void setLocked(bool locked);
    // The register list of the selected model's family.
    void setFamily(int family);
    // The port list: the same device paths as the download port list. The chosen port stays
    // chosen by its device, wherever the new list has it (kept in the list when it is gone).
    void syncPorts(const QComboBox* source);
    // Chooses the port of a device path (a stored /dev/serial/by-id link finds its device).
    void choosePort(const std::string& path);

    const DebugViews& views() const { return views_; }

  private:
    void showOpen(bool open);
    void applyFrame(const std::vector<std::uint8_t>& frame);
    void renderAll();
    void render(DebugView view, const std::vector<int>& lines);
    QListWidget* listOf(DebugView view) const;
    void updateEnabled();

    IspCore& core_;
    DebugPages& pages_;
    OperationRunner& runner_;
    DebugViews views_;
    DebugPortControl control_;
    bool running_ = false;
    bool open_ = false;
    bool locked_ = false;
    std::function<void()> then_;
};

}  // namespace qmx::gui
