#include "cli/CliArgs.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>

CliArgs::CliArgs(const std::vector<std::string>& words, const std::set<std::string>& valued,
                 const std::set<std::string>& knownFlags) {
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (word == "--") {
            positionals.insert(positionals.end(), words.begin() + static_cast<std::ptrdiff_t>(i) + 1, words.end());
            break;
        }
        if (word.size() < 2 || word.compare(0, 2, "--") != 0) {
            positionals.push_back(word);
            continue;
        }
        std::string name = word;
        std::string value;
        bool inlineValue = false;
        if (const size_t eq = word.find('='); eq != std::string::npos) {
            name = word.substr(0, eq);
            value = word.substr(eq + 1);
            inlineValue = true;
        }
        if (valued.count(name)) {
            if (!inlineValue) {
                if (i + 1 >= words.size()) {
                    error = name + " needs a value";
                    return;
                }
                value = words[++i];
            }
            values[name] = value;
        } else if (knownFlags.count(name) && !inlineValue) {
            flags.insert(name);
        } else {
            error = "unknown option " + name;
            return;
        }
    }
}

std::string CliArgs::Value(const std::string& name, const std::string& fallback) const {
    const auto it = values.find(name);
    return it == values.end() ? fallback : it->second;
}

bool ParseInt(const std::string& text, long long min, long long max, long long& out) {
    // strtoll would also take leading blanks and a plus sign; a whole number here is digits only.
    if (text.empty() || !(std::isdigit(static_cast<unsigned char>(text[0])) || text[0] == '-')) return false;
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || value < min || value > max) return false;
    out = value;
    return true;
}
