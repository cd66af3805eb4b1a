#include "core/isp_core.h"

namespace qmx {

namespace {
Ui& silentUi() {
    static Ui silent;
    return silent;
}
}  // namespace

IspCore::IspCore(Ui* ui) : ui_(ui ? ui : &silentUi()) {}

void IspCore::setUi(Ui* ui) { ui_ = ui ? ui : &silentUi(); }

void IspCore::message(std::string_view line) {
    pane.append(line);
    ui_->appendMessage(std::string(line));
}

void IspCore::clearMessages() {
    pane.clear();
    ui_->clearMessages();
}

}  // namespace qmx
