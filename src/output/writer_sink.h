// The line sink of the running server: records and diagnostics go to CDebugUI.
#pragma once

#include "output/line_sink.h"

class CDebugUI;

/// A sink that hands records to writer.LogLine and diagnostics to writer.ShowMessage.
LineSink WriterSink(CDebugUI& writer);
