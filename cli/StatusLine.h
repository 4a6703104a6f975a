#pragma once
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>

// Shows the session's progress the way the page does: one status text and an indicator that is
// grey while idle, red while pinging or detecting, green while monitoring at the wanted rate.
// On a terminal it is one live line redrawn in place; otherwise one plain line per change.
class StatusLine {
public:
    enum class Colour { Grey, Red, Green };

    StatusLine(std::FILE* out, bool live, bool colours);

    // A report from the session (kind 0 pinging, 1 monitoring, 2 detecting), any thread.
    void Report(int kind, int baud, int value);
    void Show(const std::string& text, Colour colour);
    // A line that stays in view (what came of a save): the live line is ended by it, and the
    // next Show draws below it.
    void Note(const std::string& text, Colour colour);
    // Ends the live line so that later output starts on a line of its own.
    void Finish();

    // The page's text for a report: "Pinging receiver at %d baud", ...
    static std::string TextFor(int kind, int baud);

private:
    // Writes one line of either form; called with the lock held.
    void Write(const std::string& text, Colour colour, bool stays);

    std::FILE* out;
    bool live;
    bool colours;
    bool lineOpen = false;
    std::string lastText;
    std::mutex lock;
    std::chrono::steady_clock::time_point started;
};
