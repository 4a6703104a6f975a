#include "comm/KIniDocument.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\x1a'; }

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

// The name of a "[Name]" line (up to its last "]"), or nothing for other lines.
std::optional<std::string_view> SectionName(std::string_view line) {
    line = Trim(line);
    if (line.empty() || line.front() != '[') return std::nullopt;
    const size_t close = line.rfind(']');
    if (close == std::string_view::npos) return std::nullopt;
    return Trim(line.substr(1, close - 1));
}

struct KeyLine {
    std::string_view key;
    std::string_view value;
};

std::optional<KeyLine> ParseKeyLine(std::string_view line) {
    line = Trim(line);
    if (line.empty() || line.front() == ';') return std::nullopt;
    const size_t equals = line.find('=');
    if (equals == std::string_view::npos) return std::nullopt;
    return KeyLine{Trim(line.substr(0, equals)), Trim(line.substr(equals + 1))};
}

} // namespace

KIniDocument::KIniDocument(std::string_view text) {
    size_t start = 0;
    while (start < text.size()) {
        const size_t newline = text.find('\n', start);
        if (newline == std::string_view::npos) {
            lines.push_back({std::string(text.substr(start)), ""});
            break;
        }
        const bool crlf = newline > start && text[newline - 1] == '\r';
        const size_t end = crlf ? newline - 1 : newline;
        lines.push_back({std::string(text.substr(start, end - start)), crlf ? "\r\n" : "\n"});
        start = newline + 1;
    }
}

size_t KIniDocument::FindSection(std::string_view section) const {
    const std::string_view wanted = Trim(section);
    for (size_t i = 0; i < lines.size(); ++i) {
        const auto name = SectionName(lines[i].text);
        if (name && SameName(*name, wanted)) return i;
    }
    return std::string::npos;
}

size_t KIniDocument::FindKey(size_t header, std::string_view key, size_t& last) const {
    const std::string_view wanted = Trim(key);
    last = header;
    size_t found = std::string::npos;
    for (size_t i = header + 1; i < lines.size() && !SectionName(lines[i].text); ++i) {
        if (!Trim(lines[i].text).empty()) last = i;
        if (found != std::string::npos) continue;
        const auto entry = ParseKeyLine(lines[i].text);
        if (entry && SameName(entry->key, wanted)) found = i;
    }
    return found;
}

std::optional<std::string> KIniDocument::Get(std::string_view section, std::string_view key) const {
    const size_t header = FindSection(section);
    if (header == std::string::npos) return std::nullopt;
    size_t last;
    const size_t line = FindKey(header, key, last);
    if (line == std::string::npos) return std::nullopt;
    std::string_view value = ParseKeyLine(lines[line].text)->value;
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    return std::string(value);
}

std::string KIniDocument::NewLineEnd() const {
    for (const Line& line : lines)
        if (!line.end.empty()) return line.end;
    return "\n";
}

void KIniDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
    const std::string entry = std::string(Trim(key)) + "=" + std::string(value);
    const std::string end = NewLineEnd();
    const size_t header = FindSection(section);
    if (header != std::string::npos) {
        size_t last;
        const size_t line = FindKey(header, key, last);
        if (line != std::string::npos) {
            // The key keeps its own spelling; only the value changes.
            const std::string_view oldKey = ParseKeyLine(lines[line].text)->key;
            lines[line].text = std::string(oldKey) + "=" + std::string(value);
            return;
        }
        if (lines[last].end.empty()) lines[last].end = end;
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(last) + 1, Line{entry, end});
        return;
    }
    if (!lines.empty()) {
        if (lines.back().end.empty()) lines.back().end = end;
        if (!Trim(lines.back().text).empty()) lines.push_back({"", end});
    }
    lines.push_back({"[" + std::string(Trim(section)) + "]", end});
    lines.push_back({entry, end});
}

std::string KIniDocument::Text() const {
    std::string text;
    for (const Line& line : lines) text += line.text + line.end;
    return text;
}

bool KIniDocument::FitsOnALine(std::string_view text) { return text.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos; }

bool KIniDocument::SectionFits(std::string_view section, const std::vector<std::pair<std::string, std::string>>& values,
                               std::string_view file, std::string& error) {
    if (!FitsOnALine(section)) {
        error = "the section name holds a line break or NUL";
        return false;
    }
    for (const auto& [key, value] : values) {
        if (FitsOnALine(key) && FitsOnALine(value)) continue;
        error = "the value of " + key + " (" + value + ") holds a line break or NUL, which would break the lines of " +
                std::string(file);
        return false;
    }
    return true;
}
