#include "cli/CommandLine.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include <CLI/CLI.hpp>

#include "cli/Commands.h"
#include "comm/KPrintableText.h"

namespace {

constexpr size_t kHelpWidth = 92;
constexpr size_t kLeastColumn = 22;

size_t EditDistance(const std::string& a, const std::string& b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// `text` broken into lines of at most kHelpWidth columns, the first after `head` (padded to
// `column`), the others indented to `column`.
std::string Wrapped(const std::string& head, size_t column, const std::string& text) {
    std::string out = head;
    std::string line = head.size() + 1 > column ? "\n" + std::string(column, ' ') : std::string(column - head.size(), ' ');
    std::istringstream words(text);
    std::string word;
    bool first = true;
    size_t used = column;
    while (words >> word) {
        if (!first && used + 1 + word.size() > kHelpWidth) {
            out += line + "\n";
            line = std::string(column, ' ');
            used = column;
            first = true;
        }
        line += (first ? "" : " ") + word;
        used += (first ? 0 : 1) + word.size();
        first = false;
    }
    return out + line + "\n";
}

// CLI11's complaint about a value, in this program's words.
std::string ValueError(const CLI::ParseError& error) {
    const std::string what = error.what();
    const size_t colon = what.find(':');
    if (what.find("required") != std::string::npos && what.find("missing") != std::string::npos && colon != std::string::npos)
        return what.substr(0, colon) + " needs a value";
    if (const size_t at = what.find(" was given a disallowed flag override"); at != std::string::npos)
        return (what.compare(0, 1, "-") == 0 ? "" : "--") + what.substr(0, at) + " takes no value";
    return what;
}

} // namespace

std::string ParsedWords::Value(const std::string& name, const std::string& fallback) const {
    const auto it = values.find(name);
    return it == values.end() ? fallback : it->second;
}

CommandLine::CommandLine(std::string name) : command(std::move(name)) {
    Flag("--help", "print this help and exit");
}

CommandLine& CommandLine::Synopsis(std::string line) {
    synopses.push_back(std::move(line));
    return *this;
}

CommandLine& CommandLine::About(std::string text) {
    about += text;
    return *this;
}

CommandLine& CommandLine::Valued(std::string name, std::string value, std::string description, std::string group) {
    options.push_back({std::move(name), std::move(value), std::move(description), std::move(group)});
    return *this;
}

CommandLine& CommandLine::Flag(std::string name, std::string description, std::string group) {
    options.push_back({std::move(name), "", std::move(description), std::move(group)});
    return *this;
}

CommandLine& CommandLine::Positionals(size_t most) {
    mostPositionals = most;
    return *this;
}

CommandLine& CommandLine::Footer(std::string text) {
    footer += text;
    return *this;
}

std::vector<std::string> CommandLine::OptionNames() const {
    std::vector<std::string> names;
    for (const Option& option : options) names.push_back(option.name);
    return names;
}

bool CommandLine::TakesValue(const std::string& name) const {
    return std::any_of(options.begin(), options.end(),
                       [&](const Option& option) { return option.name == name && !option.value.empty(); });
}

void CommandLine::Define(CLI::App& app, std::vector<std::string>& positionals) const {
    app.set_help_flag();
    // Unknown options are left over rather than thrown, so that a near name can be suggested.
    app.allow_extras(true);
    for (const Option& option : options) {
        CLI::Option* defined = option.value.empty()
                                   ? app.add_flag(option.name, option.description)->disable_flag_override()
                                   : app.add_option(option.name, option.description)->type_name(option.value)->allow_extra_args(false);
        // Every occurrence is kept, so that one given twice is refused rather than one of them taken.
        defined->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
        if (!option.group.empty()) defined->group(option.group);
    }
    app.add_option("positionals", positionals);
}

std::string CommandLine::Suggestion(const std::string& unknown) const {
    std::string best;
    size_t bestDistance = 4;
    for (const Option& option : options) {
        const std::string& name = option.name;
        const bool prefix = unknown.size() > 3 && (name.rfind(unknown, 0) == 0 || unknown.rfind(name, 0) == 0);
        const size_t distance = prefix ? 1 : EditDistance(unknown, name);
        if (distance < bestDistance && distance * 3 <= name.size()) {
            best = name;
            bestDistance = distance;
        }
    }
    return best;
}

ParsedWords CommandLine::Parse(const std::vector<std::string>& words) const {
    ParsedWords parsed;
    for (const std::string& word : words) {
        if (word == "--") break;
        if (word == "--help" || word == "-h") {
            parsed.help = true;
            return parsed;
        }
    }
    CLI::App app;
    Define(app, parsed.positionals);
    std::vector<std::string> backwards(words.rbegin(), words.rend());  // CLI11 takes them last first
    try {
        app.parse(backwards);
    } catch (const CLI::ParseError& error) {
        parsed.error = ValueError(error);
        return parsed;
    }
    for (const std::string& extra : app.remaining()) {
        if (extra == "--") continue;  // CLI11 leaves the end of the options behind
        const std::string near = Suggestion(extra);
        parsed.error = "unknown option " + extra + (near.empty() ? "" : "; did you mean " + near + "?");
        return parsed;
    }
    for (const Option& option : options) {
        const CLI::Option* given = app.get_option(option.name);
        if (given->count() == 0) continue;
        if (given->count() > 1) {
            parsed.error = option.name + " is given more than once";
            return parsed;
        }
        const std::string value = option.value.empty() ? "" : given->results().front();
        if (value.rfind("--", 0) == 0) {
            parsed.error = option.name + " needs a value (" + value + " is an option)";
            return parsed;
        }
        parsed.values[option.name] = value;
    }
    if (parsed.positionals.size() > mostPositionals)
        parsed.error = "unexpected argument '" + parsed.positionals[mostPositionals] + "'";
    return parsed;
}

std::string CommandLine::Help() const {
    CLI::App app;
    std::vector<std::string> positionals;
    Define(app, positionals);
    std::string text;
    for (const std::string& line : synopses) text += (text.empty() ? "usage: " : "       ") + line + "\n";
    if (!about.empty()) text += "\n" + about;
    size_t column = kLeastColumn;
    for (const Option& option : options)
        column = std::max(column, 2 + option.name.size() + (option.value.empty() ? 0 : 1 + option.value.size()) + 2);
    std::vector<std::string> groups = {""};
    for (const Option& option : options)
        if (std::find(groups.begin(), groups.end(), option.group) == groups.end()) groups.push_back(option.group);
    for (const std::string& group : groups) {
        text += group.empty() ? "\n" : "\n" + group + ":\n";
        // The option lines come from the parser's own definitions.
        for (const CLI::Option* option : app.get_options()) {
            if (option->get_group() != (group.empty() ? "Options" : group) || !option->nonpositional()) continue;
            const std::string value = option->get_type_size() == 0 ? "" : " " + option->get_type_name();
            text += Wrapped("  " + option->get_name() + value, column, option->get_description());
        }
    }
    if (!footer.empty()) text += "\n" + footer;
    return text;
}

std::optional<int> ParseEnding(const CommandLine& line, bool help, const std::string& error) {
    if (help) {
        std::fputs(line.Help().c_str(), stdout);
        return kExitConfirmed;
    }
    if (error.empty()) return std::nullopt;
    std::fprintf(stderr, "velinor %s: %s\n(see 'velinor %s --help')\n", line.Command().c_str(),
                 PrintableText(error).c_str(), line.Command().c_str());
    return kExitUsage;
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

bool ReadInt(const ParsedWords& words, const std::string& name, long long min, long long max,
             std::optional<long long>& out) {
    if (!words.Has(name)) return true;
    long long value = 0;
    if (!ParseInt(words.Value(name), min, max, value)) return false;
    out = value;
    return true;
}
