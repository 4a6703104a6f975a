#pragma once

// Ctrl-C and termination requests, taken the same way by every command that opens a port. The
// signal handler only notes which signal came; the command's loop asks Requested() and unwinds
// through its normal clean-up, so that the port's lock file goes, its line settings are put back
// and its exclusive claim is dropped, as at any other end.
namespace StopRequest {

// Starts catching SIGINT and SIGTERM (on Windows: Ctrl-C and Ctrl-Break as SIGINT, closing the
// console as SIGTERM), forgetting any request that came before.
void Catch();
// Whether a request came.
bool Requested();
// Whether it was a termination request rather than Ctrl-C.
bool Terminated();
// The shell's code for the request: 130 for Ctrl-C, 143 for a termination request; 0 for none.
int ExitCode();
// "interrupted" or "terminated", for the line a command says as it stops.
const char* Word();

} // namespace StopRequest
