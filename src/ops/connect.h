// The connect step every chip operation begins with, the model check, the clock lines and
// the read-options command (firmware version and option bits).
#pragma once

#include <string>
#include <vector>

#include "catalogue/model_catalogue.h"
#include "core/session_state.h"
#include "link/connection_facts.h"
#include "link/op_result.h"

namespace qmx {

class IspCore;

// Handshake, end of the synchronisation phase, status report, clock and baud lines, model
// check. Sets core.session.connected on success; every failure has been reported.
OpResult connect_chip(IspCore& core, bool status_only);

// True when the connected chip fits the selected model; otherwise reports, marks the buffer as
// holding no file and returns false.
bool check_model(IspCore& core);
// The same rule without side effects.
bool chipFitsModel(IspCore& core);
bool chipFitsModel(const ConnectionFacts& facts, const ModelEntry* model);
// The catalogue models the connected chip fits, in list order.
std::vector<std::string> modelsFittingChip(const ConnectionFacts& facts);

// The clock line(s) for the facts' firmware letter, clock and speed mode.
void show_clock(IspCore& core);

// The read-options command (button `comReadChipLock`): connect in status-only mode, show the clock
// and report. Ends with the Stop command (port closed, window idle). Returns how it ended.
OpResult read_chip_options(IspCore& core);

// The Stop command over the core's channel: idle buttons, stop flag set, `connected` cleared,
// the chip told 82, queues emptied, port closed.
void stop_command(IspCore& core);

}  // namespace qmx
