#pragma once
#include <mutex>
#include <vector>

#include "comm/KOpenError.h"
#include "comm/KSerialComm.h"

// Stands in for the front end's message box: records every open failure reported, for the
// lifetime of the scope.
class OpenFailureRecorder {
public:
    OpenFailureRecorder();
    ~OpenFailureRecorder();
    OpenFailureRecorder(const OpenFailureRecorder&) = delete;
    OpenFailureRecorder& operator=(const OpenFailureRecorder&) = delete;

    std::vector<KOpenError> Seen() const;
    void Clear();

private:
    static void Record(const KOpenError& error);
};
