// The Windows service around the runner: automatic start, stop, and reload
// on the service's parameter-change control, logging to a file beside the
// configuration. Elsewhere there is no service controller to ask.
#pragma once

namespace lxd::bridge {

// When the service controller started the program, runs it as the service
// to the end, sets `code` and returns true. Returns false at once when the
// program was started otherwise (from a console): then it runs as usual.
bool RunAsService(int argc, char** argv, int& code);

}  // namespace lxd::bridge
