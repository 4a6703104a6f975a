// The commands' help, made in-process from their definitions, and README.md's command-line
// section tell the same story: the same synopses, the same options.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "cli/SimFaultOptions.h"

namespace {

std::string CommandLineSection() {
    std::ifstream in(VELINOR_SOURCE_DIR "/README.md");
    std::stringstream text;
    text << in.rdbuf();
    const std::string readme = text.str();
    const size_t start = readme.find("\n## The command line\n");
    if (start == std::string::npos) return "";
    const size_t end = readme.find("\n## ", start + 1);
    return readme.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::set<std::string> OptionsIn(const std::string& text) {
    static const std::regex option("(^|[^-\\w])(--[a-z][a-z-]*[a-z])");
    std::set<std::string> found;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), option); it != std::sregex_iterator(); ++it)
        found.insert((*it)[2]);
    return found;
}

// The option lines of a help text ("  --name VALUE   what it does").
std::set<std::string> HelpOptions(const std::string& help) {
    static const std::regex line("^  (--[a-z-]+)( |$)");
    std::set<std::string> found;
    for (const std::string& text : Lines(help)) {
        std::smatch match;
        if (std::regex_search(text, match, line)) found.insert(match[1]);
    }
    return found;
}

// The help's synopses, from its "usage:" line and the lines under it.
std::vector<std::string> HelpSynopses(const std::string& help) {
    std::vector<std::string> synopses;
    for (const std::string& line : Lines(help)) {
        if (line.rfind("usage: velinor ", 0) == 0 || line.rfind("       velinor ", 0) == 0)
            synopses.push_back(line.substr(7));
        else if (!synopses.empty())
            break;
    }
    return synopses;
}

// The synopses in the section's code block: its lines that start with "velinor ".
std::set<std::string> ReadmeSynopses(const std::string& section) {
    std::set<std::string> synopses;
    bool inBlock = false;
    for (const std::string& line : Lines(section)) {
        if (line.rfind("```", 0) == 0) inBlock = !inBlock;
        if (inBlock && line.rfind("velinor ", 0) == 0) synopses.insert(line);
    }
    return synopses;
}

class HelpAndReadme : public ::testing::Test {
protected:
    void SetUp() override {
        section = CommandLineSection();
        ASSERT_FALSE(section.empty()) << "README.md has no command-line section";
    }
    std::string section;
};

TEST_F(HelpAndReadme, TheSynopsesAreTheSame) {
    std::set<std::string> helps;
    for (const CommandEntry& command : CommandTable()) {
        const std::vector<std::string> synopses = HelpSynopses(command.line().Help());
        EXPECT_FALSE(synopses.empty()) << command.name;
        for (const std::string& synopsis : synopses) {
            EXPECT_EQ(synopsis.rfind(std::string("velinor ") + command.name + " ", 0), 0u) << synopsis;
            helps.insert(synopsis);
        }
    }
    EXPECT_EQ(ReadmeSynopses(section), helps);
}

// A synopsis names every option of its command, the fault options as "[fault options]".
TEST_F(HelpAndReadme, EachCommandsSynopsesNameAllItsOptions) {
    CommandLine faultLine("faults");
    DefineSimFaults(faultLine);
    std::set<std::string> faults = HelpOptions(faultLine.Help());
    faults.erase("--help");
    for (const CommandEntry& command : CommandTable()) {
        const std::string help = command.line().Help();
        std::string synopses;
        for (const std::string& synopsis : HelpSynopses(help)) synopses += synopsis + "\n";
        std::set<std::string> named = OptionsIn(synopses);
        named.insert("--help");
        if (synopses.find("[fault options]") != std::string::npos) named.insert(faults.begin(), faults.end());
        EXPECT_EQ(named, HelpOptions(help)) << command.name;
    }
}

TEST_F(HelpAndReadme, EveryOptionTakenIsInTheSectionAndNoOther) {
    std::set<std::string> taken;
    for (const CommandEntry& command : CommandTable()) {
        const CommandLine line = command.line();
        const std::set<std::string> shown = HelpOptions(line.Help());
        const std::vector<std::string> defined = line.OptionNames();
        EXPECT_EQ(shown, std::set<std::string>(defined.begin(), defined.end())) << command.name;
        taken.insert(shown.begin(), shown.end());
    }
    EXPECT_EQ(OptionsIn(section), taken);
}

// The sentence that says which commands take --json names each of them.
TEST_F(HelpAndReadme, TheJsonSentenceNamesEveryCommandThatTakesIt) {
    const size_t start = section.find("`--json` makes ");
    ASSERT_NE(start, std::string::npos);
    const std::string sentence = section.substr(start, section.find("print", start) - start);
    for (const CommandEntry& command : CommandTable()) {
        const std::vector<std::string> options = command.line().OptionNames();
        const bool json = std::find(options.begin(), options.end(), "--json") != options.end();
        EXPECT_EQ(json, sentence.find(std::string("`") + command.name + "`") != std::string::npos) << command.name;
    }
}

} // namespace
#endif
