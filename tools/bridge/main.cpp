// lxdravik-bridge: sACN and Art-Net from lighting consoles into the driver.
// On Windows the same program is the lxdravik-bridge service when the
// service controller starts it.
#include <cstdio>
#include <string>

#include "tools/bridge/service/log.h"
#include "tools/bridge/service/options.h"
#include "tools/bridge/service/runner.h"
#include "tools/bridge/service/service.h"

int main(int argc, char** argv) {
    int code = 0;
    if (lxd::bridge::RunAsService(argc, argv, code)) {
        return code;
    }
    lxd::bridge::Options options;
    if (code = lxd::bridge::ParseOptions(argc, argv, options); code >= 0) {
        return code;
    }
    lxd::bridge::Log log;
    lxd::bridge::Runner runner(options, log, true);
    std::string error;
    if (!runner.Open(error)) {
        log.Line(error);
        return 1;
    }
    std::fputs(runner.Run().c_str(), stdout);
    return 0;
}
