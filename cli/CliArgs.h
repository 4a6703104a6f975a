#pragma once
#include <map>
#include <set>
#include <string>
#include <vector>

// The command line's words after the command name: "--name value", "--name=value", "--flag",
// and positional words. Options that take a value and flags are declared up front, so an
// unknown option or a missing value is an error rather than a guess.
class CliArgs {
public:
    CliArgs(const std::vector<std::string>& words, const std::set<std::string>& valued,
            const std::set<std::string>& flags);

    bool Ok() const { return error.empty(); }
    const std::string& Error() const { return error; }

    bool Has(const std::string& name) const { return values.count(name) || flags.count(name); }
    bool Flag(const std::string& name) const { return flags.count(name) != 0; }
    std::string Value(const std::string& name, const std::string& fallback = "") const;
    const std::vector<std::string>& Positionals() const { return positionals; }

private:
    std::map<std::string, std::string> values;
    std::set<std::string> flags;
    std::vector<std::string> positionals;
    std::string error;
};

// Whole decimal number in [min, max]; false for anything else ("12abc", "", overflow).
bool ParseInt(const std::string& text, long long min, long long max, long long& out);
