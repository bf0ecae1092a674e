#pragma once

#include "CCriticalLock.h"

#include <string>

// Levelled log lines on standard output, one flushed line per call, kept whole across threads.
// A message longer than 10239 bytes is cut to its first 10239 bytes.

extern Thread::Lock::CCriticalLock g_logLock;

std::string GetCurrentTimeString();

void LogError(const char* format, ...) __attribute__((format(printf, 1, 2)));
void LogInfo(const char* format, ...) __attribute__((format(printf, 1, 2)));
void LogDebug(const char* format, ...) __attribute__((format(printf, 1, 2)));
