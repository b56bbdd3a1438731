// The status page: HTML, CSS and script in one text, nothing fetched from
// elsewhere. It reads /status.json every second and the levels of the
// chosen port from the WebSocket /levels.
#pragma once

namespace lxd::bridge {

const char* StatusPage();

}  // namespace lxd::bridge
