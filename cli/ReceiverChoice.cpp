#include "cli/ReceiverChoice.h"

#include <cctype>
#include <cstdint>
#include <vector>

#include "cli/CliArgs.h"
#include "families/KReceiverFamily.h"

namespace {
std::string Fold(const std::string& text) {
    std::string out;
    for (char c : text)
        if (std::isalnum(static_cast<unsigned char>(c))) out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}
} // namespace

int32_t ChooseReceiver(const std::string& text, std::string& error) {
    long long id = 0;
    if (ParseInt(text, 1, INT32_MAX, id) && FindCatalogueType(static_cast<int32_t>(id))) return static_cast<int32_t>(id);
    const std::string wanted = Fold(text);
    if (wanted.empty()) {
        error = "no receiver type given";
        return 0;
    }
    std::vector<const KCatalogueType*> partial;
    for (const KCatalogueType* type : CatalogueTypes()) {
        const std::string name = Fold(type->displayName);
        if (name == wanted) return type->typeId;
        if (name.find(wanted) != std::string::npos) partial.push_back(type);
    }
    if (partial.size() == 1) return partial.front()->typeId;
    if (partial.empty()) {
        error = "no receiver type matches '" + text + "' (see 'velinor receivers')";
    } else {
        error = "'" + text + "' could be any of:";
        for (const KCatalogueType* row : partial) error += std::string(" \"") + row->displayName + "\"";
    }
    return 0;
}
