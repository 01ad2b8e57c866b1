#include "tools/publish/publish.h"

int main(int argc, char** argv) { return tovi::publish::publishMain(std::vector<std::string>(argv, argv + argc)); }
