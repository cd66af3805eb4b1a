// Feeds arbitrary bytes through the Intel-HEX loader as the contents of a HEX file. The first
// byte picks the model (one per family and the special maps), the fill byte and a buffer start
// address; the rest is the file. Checks that the loader never writes the buffer's extra cell and
// always leaves the load end inside the 64 KB range.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "catalogue/model_catalogue.h"
#include "core/ui.h"
#include "image/code_buffer.h"
#include "image/hex_loader.h"

namespace {

const char* const kModels[] = {"M-064", "M-076", "M-091", "M-080",
                               "M-070", "M-074", "M-002", "M-014"};
const char* const kStarts[] = {"0", "100", "FFF0", "7FFF"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    static auto buffer = std::make_unique<qmx::CodeBuffer>();
    static qmx::Ui ui;  // answers every box with its default button
    const std::uint8_t selector = data[0];
    const qmx::ModelEntry* model = qmx::findModel(kModels[selector & 7]);
    if (!model) return 0;

    buffer->reset();
    buffer->fillByte = (selector & 8) ? 0xFF : 0x00;
    buffer->startAddressText = kStarts[(selector >> 4) & 3];
    buffer->bytes[qmx::CodeBuffer::kLastAddress] = 0x5A;
    qmx::fillBuffer(*buffer, buffer->fillByte);

    std::string_view content(reinterpret_cast<const char*>(data + 1), size - 1);
    qmx::LoadResult r = qmx::loadHexText(*buffer, *model, content, "fuzz.hex", ui);
    if (!r.loaded()) std::abort();
    if (buffer->bytes[qmx::CodeBuffer::kLastAddress] != 0x5A) std::abort();
    if (buffer->loadEnd > 0xFFFF) std::abort();
    if (buffer->checksumText.size() != 15) std::abort();

    // The file-kind choice must cope with the same bytes.
    (void)qmx::detectFileKind("fuzz.bin", content);
    return 0;
}
