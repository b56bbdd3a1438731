// The status page: page.html with page.css and page.js inlined at build time
// (nothing is fetched from elsewhere). It reads /status.json every second and
// the levels of the chosen port from the WebSocket /levels.
#pragma once

namespace lxd::bridge {

const char* StatusPage();

}  // namespace lxd::bridge
