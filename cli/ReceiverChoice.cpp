#include "cli/ReceiverChoice.h"

#include <cctype>
#include <vector>

#include "cli/CliArgs.h"
#include "receivers/KReceiverCatalogue.h"

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
    if (ParseInt(text, 1, 99, id) && FindCatalogueRow(static_cast<int32_t>(id))) return static_cast<int32_t>(id);
    const std::string wanted = Fold(text);
    if (wanted.empty()) {
        error = "no receiver type given";
        return 0;
    }
    std::vector<const ReceiverCatalogueRow*> partial;
    for (const ReceiverCatalogueRow& row : ReceiverCatalogue) {
        if (row.displayName[0] == '\0') break;
        const std::string name = Fold(row.displayName);
        if (name == wanted) return row.typeId;
        if (name.find(wanted) != std::string::npos) partial.push_back(&row);
    }
    if (partial.size() == 1) return partial.front()->typeId;
    if (partial.empty()) {
        error = "no receiver type matches '" + text + "' (see 'velinor receivers')";
    } else {
        error = "'" + text + "' could be any of:";
        for (const ReceiverCatalogueRow* row : partial) error += std::string(" \"") + row->displayName + "\"";
    }
    return 0;
}
