#include "comm/KPortAdapter.h"

bool KPortAdapter::Empty() const {
    return maker.empty() && model.empty() && serial.empty() && usbId.empty() && driver.empty();
}

std::string KPortAdapter::Describe() const {
    std::string text = maker;
    if (!model.empty()) text += (text.empty() ? "" : " ") + model;
    const auto part = [&text](const char* name, const std::string& value) {
        if (value.empty()) return;
        if (!text.empty()) text += ", ";
        text += name;
        text += value;
    };
    part("serial ", serial);
    part("USB ", usbId);
    part("driver ", driver);
    return text;
}
