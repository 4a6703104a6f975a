#include "OpenFailureRecorder.h"

namespace {
std::mutex recordLock;
std::vector<KOpenError> recorded;
} // namespace

OpenFailureRecorder::OpenFailureRecorder() {
    Clear();
    KSerialComm::SetOpenFailureHandler(&OpenFailureRecorder::Record);
}

OpenFailureRecorder::~OpenFailureRecorder() { KSerialComm::SetOpenFailureHandler(nullptr); }

std::vector<KOpenError> OpenFailureRecorder::Seen() const {
    std::lock_guard<std::mutex> guard(recordLock);
    return recorded;
}

void OpenFailureRecorder::Clear() {
    std::lock_guard<std::mutex> guard(recordLock);
    recorded.clear();
}

void OpenFailureRecorder::Record(const KOpenError& error) {
    std::lock_guard<std::mutex> guard(recordLock);
    recorded.push_back(error);
}
