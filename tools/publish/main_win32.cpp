// The arguments as UTF-8, whatever the console's code page.
#include "common/text.h"
#include "tools/publish/publish.h"

int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i) args.push_back(tovi::narrow(argv[i]));
    return tovi::publish::publishMain(args);
}
