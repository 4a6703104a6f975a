#pragma once
#include <string>

struct KReceiverFamily;

// What `set` and `time` tell the user about the receiver's periodic output: most families'
// sessions stop it, and it stays off when the program has ended.

// The line said once the receiver was spoken to: the output was stopped and how to turn it on
// again, or that it was left as it was (with `restoreAsked`: so nothing needed putting back).
std::string OutputNote(const KReceiverFamily& family, bool restoreAsked);

// Why --restore-output is refused for `family`: its output cannot be put back exactly as it
// was. Empty when the flag is taken.
std::string RestoreOutputRefusal(const KReceiverFamily& family);

// For `identify` when nothing was heard: which families' receivers `set` and `time` leave
// silent, and how each turns its output on again (lines, each ending in a line break).
std::string SilencedOutputHint(bool listenOnly);
