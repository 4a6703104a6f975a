#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The text of an INI file, read and edited the way the Windows private-profile calls do it:
// section and key names compare without regard to case; a key's value is what follows the first
// "=", without the blanks around it and without one pair of enclosing quotes; lines starting with
// ";" are comments; when a section appears twice, the first one counts. Editing changes only the
// line concerned, so everything else in the file (other sections and keys, their order,
// comments, blank lines, the line ends) stays as it was.
class KIniDocument {
public:
    KIniDocument() = default;
    explicit KIniDocument(std::string_view text);

    std::optional<std::string> Get(std::string_view section, std::string_view key) const;
    // Replaces the key's value, or adds the key at the end of its section, or adds the section
    // at the end of the file.
    void Set(std::string_view section, std::string_view key, std::string_view value);

    std::string Text() const;

    // Whether a section name, key or value can stand in a line of the file as it is: not when it
    // holds a CR, LF or NUL (it would end the line, and what follows would read as lines of
    // its own, another section header among them).
    static bool FitsOnALine(std::string_view text);
    // The same for a section about to be written with these keys and values; false with `error`
    // naming what does not fit and the file it would break.
    static bool SectionFits(std::string_view section, const std::vector<std::pair<std::string, std::string>>& values,
                            std::string_view file, std::string& error);

private:
    struct Line {
        std::string text;  // without its line end
        std::string end;   // "\n", "\r\n", or "" for a last line without one
    };
    // Index of the first line of the first section named `section` (its header), or npos.
    size_t FindSection(std::string_view section) const;
    // Index of the key's line inside the section that starts at `header`, or npos; `last` is
    // set to the last line of that section that is not blank.
    size_t FindKey(size_t header, std::string_view key, size_t& last) const;
    std::string NewLineEnd() const;

    std::vector<Line> lines;
};
