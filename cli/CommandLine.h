#pragma once
// A command's options, defined once: the parser (CLI11) and the command's --help are both made
// from the same definition, so that the help cannot name an option the program does not take.
#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace CLI {
class App;
}

// The words after the command name, as the definition read them.
class ParsedWords {
public:
    bool Has(const std::string& name) const { return values.count(name) != 0; }
    bool Flag(const std::string& name) const { return Has(name); }
    // The option's value, or `fallback` when it was not given.
    std::string Value(const std::string& name, const std::string& fallback = "") const;
    const std::vector<std::string>& Positionals() const { return positionals; }

    bool help = false;   // --help (or -h) was among the words: nothing else matters
    std::string error;   // the usage error, when the words do not fit the definition

private:
    friend class CommandLine;
    std::map<std::string, std::string> values;  // a flag given holds ""
    std::vector<std::string> positionals;
};

class CommandLine {
public:
    explicit CommandLine(std::string command);

    // One synopsis line ("velinor set --port PORT ..."); the first gets "usage: " before it.
    CommandLine& Synopsis(std::string line);
    // The text between the synopsis and the options (paragraphs end in "\n").
    CommandLine& About(std::string text);
    // An option that takes a value, shown as "--name VALUE": its value never starts with "--".
    // A group other than "" is listed after the others, under its name as a heading.
    CommandLine& Valued(std::string name, std::string value, std::string description, std::string group = "");
    CommandLine& Flag(std::string name, std::string description, std::string group = "");
    // How many positional words the command takes at most (their meaning is the command's).
    CommandLine& Positionals(size_t most);
    // The text after the options (exit codes and the like).
    CommandLine& Footer(std::string text);

    const std::string& Command() const { return command; }
    const std::vector<std::string>& Synopses() const { return synopses; }
    // Every option's name, "--help" included, in definition order.
    std::vector<std::string> OptionNames() const;
    bool TakesValue(const std::string& name) const;

    // Reads the words: no option twice, no unknown option (a near name is suggested), every
    // value present and not an option.
    ParsedWords Parse(const std::vector<std::string>& words) const;
    std::string Help() const;

private:
    struct Option {
        std::string name;
        std::string value;  // empty for a flag
        std::string description;
        std::string group;
    };
    void Define(CLI::App& app, std::vector<std::string>& positionals) const;
    std::string Suggestion(const std::string& unknown) const;

    std::string command;
    std::vector<std::string> synopses;
    std::string about;
    std::vector<Option> options;
    size_t mostPositionals = 0;
    std::string footer;
};

// A command's parse step: its plain options, or the usage error, or the request for help.
template <class Options>
struct Parsed {
    Options options{};
    bool help = false;
    std::string error;
};

// Prints what a parse that does not run the command has to say: the help on standard output, or
// "velinor COMMAND: error" on standard error. Answers the exit code then, or nothing when the
// command is to run.
std::optional<int> ParseEnding(const CommandLine& line, bool help, const std::string& error);

template <class Options>
std::optional<int> ParseEnding(const CommandLine& line, const Parsed<Options>& parsed) {
    return ParseEnding(line, parsed.help, parsed.error);
}

// Whole decimal number in [min, max]; false for anything else ("12abc", "", overflow).
bool ParseInt(const std::string& text, long long min, long long max, long long& out);

// Option `name`'s whole number in [min, max], into `out` when it was given; false when it was
// given and is no such number.
bool ReadInt(const ParsedWords& words, const std::string& name, long long min, long long max,
             std::optional<long long>& out);
