#pragma once
#include "monitors/KStreamMonitor.h"

// A monitor that frames nothing: only the base's message queue, filled by the test or benchmark.
class QueueOnly : public KStreamMonitor {
public:
    ~QueueOnly() override { Stop(); }
    bool ReadStep() override { return false; }
    void ResetFramer() override {}
};
