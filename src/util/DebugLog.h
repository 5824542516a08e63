// The core's single debug-log entry point; the front end chooses where the lines go.
#pragma once

using DebugLogSink = void (*)(const char* pLine);

// Lines are dropped until a sink is set (the GUI routes them to qDebug, the CLI to stderr).
void SetDebugLogSink(DebugLogSink pSink);
void DebugLog(const char* pFormat, ...) __attribute__((format(printf, 1, 2)));
