#include "comm/KComm.h"

void KComm::SaveSettings(int32_t, KSettingsStore&) {}

void KComm::LoadSettings(int32_t, KSettingsStore&) { isOpen = false; }

bool KComm::Seek(int32_t, int32_t) { return false; }
