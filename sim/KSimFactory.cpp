#include "sim/KSimFactory.h"

#include <array>
#include <cctype>

#include "sim/KLeicaDevice.h"

namespace {

// The receiver catalogue, kept here too: the simulator stands apart from the code it tests.
constexpr std::array<const char*, 14> kNames = {
    "Ashtech Z",     "Ashtech AC12",     "Ashtech G12", "Leica CRS1000",     "Leica GMX900",
    "Leica GPS1200", "Leica System 500", "NavCom",      "Novatel/Sokkia",    "SiRFStar III",
    "Topcon",        "Trimble 4000 SSi", "Trimble 47/48/5700", "Trimble NetR5"};

std::string Lower(const std::string& text) {
    std::string out;
    for (char c : text) out.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    return out;
}

bool LeicaModel(int32_t typeId, KLeicaDevice::Model& model) {
    switch (typeId) {
    case 4: model = KLeicaDevice::Model::CRS1000; return true;
    case 5: model = KLeicaDevice::Model::GMX900; return true;
    case 6: model = KLeicaDevice::Model::GPS1200; return true;
    case 7: model = KLeicaDevice::Model::System500; return true;
    default: return false;
    }
}

} // namespace

namespace KSimFactory {

std::string ReceiverName(int32_t typeId) {
    if (typeId < 1 || typeId > static_cast<int32_t>(kNames.size())) return "";
    return kNames[static_cast<size_t>(typeId - 1)];
}

int32_t TypeIdOf(const std::string& text) {
    if (text.empty()) return 0;
    if (text.size() <= 2 && std::isdigit(static_cast<unsigned char>(text[0])) &&
        (text.size() == 1 || std::isdigit(static_cast<unsigned char>(text[1])))) {
        const int32_t id = std::stoi(text);
        return ReceiverName(id).empty() ? 0 : id;
    }
    const std::string wanted = Lower(text);
    int32_t found = 0;
    for (size_t i = 0; i < kNames.size(); ++i) {
        const std::string name = Lower(kNames[i]);
        if (name == wanted) return static_cast<int32_t>(i + 1);
        if (name.find(wanted) != std::string::npos) {
            if (found != 0) return 0;  // more than one fits
            found = static_cast<int32_t>(i + 1);
        }
    }
    return found;
}

bool IsSimulated(int32_t typeId) {
    KLeicaDevice::Model model;
    return LeicaModel(typeId, model);
}

std::unique_ptr<KSimDevice> CreateDevice(int32_t typeId, int32_t baud, const KSimDeviceOptions& options,
                                         std::string& error) {
    const std::string name = ReceiverName(typeId);
    if (name.empty()) {
        error = "unknown receiver type " + std::to_string(typeId);
        return nullptr;
    }
    KLeicaDevice::Model model;
    if (!LeicaModel(typeId, model)) {
        error = name + " is not simulated yet";
        return nullptr;
    }
    if (baud <= 0 || !KLeicaDevice::SupportsBaud(model, static_cast<uint32_t>(baud))) {
        const bool rs500 = model == KLeicaDevice::Model::GPS1200 || model == KLeicaDevice::Model::System500;
        error = name + " cannot run at " + std::to_string(baud) + " baud (it runs at " +
                (rs500 ? "150, 300, 600, " : "") + "1200, 2400, 4800, 9600, 19200, 38400, 57600 or 115200)";
        return nullptr;
    }
    error.clear();
    return std::make_unique<KLeicaDevice>(model, static_cast<uint32_t>(baud), options);
}

std::unique_ptr<KSimWorld> CreateWorld(int32_t typeId, int32_t baud, const KSimDeviceOptions& options,
                                       const KSimWorldOptions& worldOptions, std::string& error) {
    auto device = CreateDevice(typeId, baud, options, error);
    if (!device) return nullptr;
    return std::make_unique<KSimWorld>(std::move(device), worldOptions);
}

} // namespace KSimFactory
