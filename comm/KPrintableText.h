#pragma once
#include <string>
#include <string_view>

// Text that came from outside (process names, device and link names, USB strings from sysfs,
// file names, what a receiver sent) made safe to print on a terminal: a name holding an escape
// sequence must not retitle, clear or reprogram the terminal of whoever reads the output.
// Control characters and DEL become \e, \n, \r, \t or \xNN; so do the bytes of C1 controls
// (U+0080 to U+009F, which some terminals obey as ESC sequences), of the characters that
// reorder or break lines (bidirectional overrides and isolates, U+2028, U+2029) and of anything
// that is not valid UTF-8. Every other character, non-ASCII ones included, stays as it is.
// With `keepLineBreaks`, "\n" passes (multi-line texts such as trace output).
std::string PrintableText(std::string_view text, bool keepLineBreaks = false);
