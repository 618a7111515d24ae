// The line sink of the running server.
#include "output/writer_sink.h"

#include "output/debug_ui.h"

namespace {

void WriteRecord(void* context, uint16_t attribute, const char* text, size_t, const LineMeta& meta) {
    static_cast<CDebugUI*>(context)->LogLine(attribute, text, meta);
}

void WriteMessage(void* context, const char* text, size_t length) {
    static_cast<CDebugUI*>(context)->ShowMessage(text, length);
}

}  // namespace

LineSink WriterSink(CDebugUI& writer) { return LineSink{WriteRecord, WriteMessage, &writer}; }
