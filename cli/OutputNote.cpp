#include "cli/OutputNote.h"

#include "families/KReceiverFamily.h"

namespace {

// `text` in lines of at most `width` characters, broken at blanks.
std::string Wrapped(const std::string& text, size_t width) {
    std::string out, line;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find(' ', at);
        if (end == std::string::npos) end = text.size();
        const std::string word = text.substr(at, end - at);
        if (!line.empty() && line.size() + 1 + word.size() > width) {
            out += line + "\n";
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
        at = end + 1;
    }
    return out + line + "\n";
}

} // namespace

std::string OutputNote(const KReceiverFamily& family, bool restoreAsked) {
    const std::string name = family.name;
    if (!family.output.stopped)
        return "Output: " + name + " receivers are asked amid their periodic output, so it was left as it was" +
               (restoreAsked ? " (nothing to restore)." : ".");
    return "Output: the receiver's periodic output was stopped and stays off; to turn it on again, " +
           std::string(family.output.turnOnAgain) + ".";
}

std::string RestoreOutputRefusal(const KReceiverFamily& family) {
    if (!family.output.stopped || !*family.output.notRestorable) return "";
    return std::string("--restore-output: the output of ") + family.name +
           " receivers cannot be put back as it was: " + family.output.notRestorable;
}

std::string SilencedOutputHint(bool listenOnly) {
    std::string names;
    std::string ways;
    size_t count = 0, stopped = 0;
    for (const KReceiverFamily& family : ReceiverFamilies())
        if (family.output.stopped) ++stopped;
    for (const KReceiverFamily& family : ReceiverFamilies()) {
        if (!family.output.stopped) continue;
        ++count;
        if (!names.empty()) names += count == stopped ? " and " : ", ";
        names += family.name;
        ways += "  " + std::string(family.name) + ": " + family.output.turnOnAgain + "\n";
    }
    if (names.empty()) return "";
    return Wrapped("'velinor set' and 'velinor time' stop the periodic output of " + names +
                       " receivers, and it stays off: such a receiver is silent until asked" +
                       (listenOnly ? " (run identify without --listen-only to ask it)" : "") +
                       ". To turn its output on again:",
                   95) +
           ways;
}
